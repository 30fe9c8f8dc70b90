#!/usr/bin/env bash
# Builds the receiver's libFuzzer target with clang (ASan, UBSan) in its own
# build folder and runs it.
# Usage: scripts/fuzz_receiver.sh [seconds=60] [build dir=build-fuzz-receiver]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${2:-build-fuzz-receiver}"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DDORK5_FUZZ=ON -DDORK5_TESTS=ON >/dev/null
cmake --build "$build" --target fuzz_receiver
corpus="$build/fuzz_receiver.corpus"
mkdir -p "$corpus" "$build/findings"
# Scratch files on a memory file system where there is one: a run writes a
# file per input, and a disk would make the disk the bottleneck.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
"$build/tests/device/fuzz_receiver" "$corpus" -max_total_time="$seconds" -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="$build/findings/"
