#!/usr/bin/env bash
# Builds the table-file fuzzer with clang (libFuzzer, ASan, UBSan) in its own
# build folder and runs it.   Usage: scripts/fuzz.sh [seconds]   (default 60)
# Findings (crash-*, leak-*, timeout-*) are written to build-fuzz-dbf/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
build="${DORK5_FUZZ_BUILD:-build-fuzz-dbf}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DDORK5_FUZZ=ON -DDORK5_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_dbf
corpus="$build/fuzz-corpus"
mkdir -p "$corpus" "$build/findings"
# Seed: a small valid table with C and N fields (rewritten every run, so an
# old corpus gets the current seed too).
python3 - "$corpus/seed.db" <<'PY'
import struct, sys
fields = [(b'MODE', b'N', 4, 0), (b'NAME', b'C', 6, 0), (b'R', b'N', 10, 3)]
rec = 1 + sum(f[2] for f in fields)
hdr = 32 + 32 * len(fields) + 1
def record(flag, mode, name, r):
    b = flag + mode.rjust(4) + name.ljust(6) + r.rjust(10)
    assert len(b) == rec, (len(b), rec)
    return b
rows = [record(b' ', b'1', b'abc', b'1.500'), record(b'*', b'2', b'\xe0\xe1\xe2', b'-2.000')]
out = bytearray(struct.pack('<BBBBIHH20x', 3, 124, 1, 1, len(rows), hdr, rec))
out[29] = 0xC9
for n, t, w, d in fields:
    out += struct.pack('<11sc4xBB14x', n, t, w, d)
out += b'\r' + b''.join(rows) + b'\x1a'
assert len(out) == hdr + rec * len(rows) + 1
open(sys.argv[1], 'wb').write(out)
PY
# Scratch files on a memory file system where there is one: a run writes a
# file per input, and a disk would make the disk the bottleneck.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/tools/fuzz_dbf" -max_total_time="$secs" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$build/findings/" "$corpus"
