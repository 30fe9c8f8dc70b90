#!/usr/bin/env bash
# Builds the decoder's libFuzzer target (a memory image with its record
# counts, decoded into a fresh table) with clang (ASan, UBSan) in its own
# build folder and runs it.
# Usage: scripts/fuzz_decode.sh [seconds=60] [build dir=build-fuzz-decode]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${2:-build-fuzz-decode}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DDORK5_FUZZ=ON -DDORK5_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_decode
corpus="$build/fuzz_decode.corpus"
mkdir -p "$corpus" "$build/findings"
# Seed: 3 operative records, 2 waiting series of 5 and 3 points, 1
# observation series of 4 points (input layout in tools/fuzz_decode.cpp).
python3 - "$corpus/seed.bin" <<'PY'
import struct, sys
def piece(region, offset, data):
    assert len(data) < 256
    return struct.pack('<BHB', region, offset, len(data)) + data
def when(sec, minute, hour, day, month, year):
    return bytes([sec, minute, hour, day, month, year - 2010])
op = b''.join(when(10 + k, 5, 9, 3, 4, 2015) + struct.pack('<fH', 1.25 * k, k) + b'\x00\x00' for k in range(3))
def series_record(k, start, points):
    body = when(0, 0, 8 + k, 1, 3, 2016) + struct.pack('<HfH', k + 1, 2.0, 24) + b'\x00' * 4
    body = body[:18] + struct.pack('<II', start, points)
    return body.ljust(26, b'\x00')
w = series_record(0, 0, 5) + series_record(1, 5, 3)
o = series_record(0, 0, 4)
wpts = b''.join(when(k, 1, 8, 1, 3, 2016)[:6] + struct.pack('<f', 0.1 * k) for k in range(8))[:80]
opts = b''.join(struct.pack('<f', -0.5 * k) for k in range(4))
out = struct.pack('<HHHB', 3, 2, 1, 0)
out += piece(0, 0, op) + piece(1, 0, w) + piece(2, 0, o)
out += piece(5, 0, struct.pack('<II', 5, 3)) + piece(6, 0, struct.pack('<I', 4))
out += piece(3, 0, wpts) + piece(4, 0, opts)
open(sys.argv[1], 'wb').write(out)
PY
# Scratch files on a memory file system where there is one: a run writes a
# file per input, and a disk would make the disk the bottleneck.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/tools/fuzz_decode" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$build/findings/"
