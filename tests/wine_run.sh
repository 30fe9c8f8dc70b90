#!/bin/sh
# Runs a Windows test program under Wine with its output going through a
# file: a console host that Wine leaves behind for a killed child process
# keeps the program's output handles open, and a pipe to ctest would then
# never reach its end.
emulator=$1
shift
out=$(mktemp)
"$emulator" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
