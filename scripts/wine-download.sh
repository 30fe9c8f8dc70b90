#!/usr/bin/env bash
# Downloads under Wine, compared with Linux: the simulated instrument on a
# pseudo-terminal is mapped to one of Wine's COM ports, the Windows build's
# dork5-download.exe finds it by the program's own port search («\\.\COM1»…
# «\\.\COM38», then the COM ports above 38 that Wine reports) and writes a
# database; the Linux build downloads the same instrument once; every Windows
# database must equal the Linux one byte for byte.  Needs the Linux build
# (build/) and the Windows one (build-win/, made by scripts/windows.sh).
# scripts/windows.sh test runs it after the tests.
#
#   bash scripts/wine-download.sh [records=40,3,3] [seed=5] [ports=1] [times=1]
#
# ports: the COM numbers to try, e.g. "1 3 41"; each is downloaded `times`
# times, with a fresh instrument and a fresh start of Wine each time.
set -euo pipefail
# Wine reads names and arguments in the Unix locale's encoding: UTF-8 for
# the Cyrillic ones.
export LC_ALL=C.UTF-8
repo=$(cd "$(dirname "$0")/.." && pwd)
records=${1:-40,3,3}
seed=${2:-5}
ports=${3:-1}
times=${4:-1}
linux=${DORK5_LINUX_BUILD:-$repo/build}
win=${DORK5_WIN_BUILD:-$repo/build-win}
export WINEPREFIX=${DORK5_WINEPREFIX:-$HOME/.cache/dork5-wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
qt_bin=$(sed -n 's#^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$#\1/bin#p' "$win/CMakeCache.txt")
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="Z:$qt_bin;Z:$gcc_dir;Z:/usr/x86_64-w64-mingw32/lib"

for f in "$linux/tools/sim/dork5-sim" "$linux/tools/dork5-download" "$win/tools/dork5-download.exe"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f (build Linux with scripts/build.sh, Windows with scripts/windows.sh)" >&2; exit 2; }
done
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
# Wine passes no QT_* variable on: the platform goes into the prefix's user
# environment.
"$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null 2>&1

work=$(mktemp -d)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
cleanup() {
  stop_sim
  bash "$repo/scripts/wine-ports.sh" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh simulated instrument; prints its pseudo-terminal.
start_sim() {
  stop_sim
  "$linux/tools/sim/dork5-sim" --seed "$seed" --records "$records" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
  done
  head -n 1 "$work/sim.out"
}

pty=$(start_sim)
(cd "$work" && QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/cfg" ORL_SERIAL_PORTS="$pty" timeout 300 \
   "$linux/tools/dork5-download" linux.db)

# The Windows program writes into a Cyrillic folder, as Russian users' are.
mkdir -p "$work/Измерения"
db="$work/Измерения/Проба.db"
failed=0
for port in $ports; do
  for run in $(seq 1 "$times"); do
    pty=$(start_sim)
    bash "$repo/scripts/wine-ports.sh" "$port" "$pty"
    rm -f "$db"
    started=$(date +%s)
    (cd "$work/Измерения" && timeout 300 "$wine" "$win/tools/dork5-download.exe" 'Проба.db') >"$work/run.log" 2>&1 || true
    took=$(( $(date +%s) - started ))
    if [ -f "$db" ] && cmp -s "$db" "$work/linux.db"; then
      echo "PASS: COM$port, run $run: the same database as the Linux program's ($(stat -c %s "$work/linux.db") bytes, $took s)"
    else
      echo "FAIL: COM$port, run $run: $(tr '\n' ' ' <"$work/run.log" | cut -c1-300)" >&2
      failed=$((failed + 1))
    fi
  done
done
stop_sim
if [ "$failed" -ne 0 ]; then
  echo "$failed download(s) under Wine failed" >&2
  exit 1
fi
