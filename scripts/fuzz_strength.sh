#!/usr/bin/env bash
# Builds the strength decoders' libFuzzer target (a memory image decoded by
# the 47- or 30-byte decoder into a fresh table, twice) with clang (ASan,
# UBSan) in its own build folder and runs it.
# Usage: scripts/fuzz_strength.sh [seconds=60] [build dir=build-fuzz-strength]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${2:-build-fuzz-strength}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DDORK5_FUZZ=ON -DDORK5_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_strength
corpus="$build/fuzz_strength.corpus"
mkdir -p "$corpus" "$build/findings"
# Seeds: one basic and one individual 47-byte record; two 30-byte records.
python3 - "$corpus" <<'PY'
import struct, sys
d = sys.argv[1]
def rec47(day):
    r = bytearray(47)
    r[0:3] = bytes([5, 30, 10]); r[3:6] = bytes([day, 4, 14])
    return bytes(r)
img = struct.pack('<H', 1) + rec47(3) + struct.pack('<H', 1) + rec47(4)
open(d + '/seed47.bin', 'wb').write(b'\x00' + img)
open(d + '/seed47v.bin', 'wb').write(b'\x02' + img)
r30 = bytearray(30); r30[0:5] = bytes([9, 5, 3, 4, 14])
open(d + '/seed30.bin', 'wb').write(b'\x01' + struct.pack('<I', 2) + bytes(r30) * 2)
PY
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/tools/fuzz_strength" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$build/findings/"
