#!/usr/bin/env bash
# Builds the receiver's libFuzzer target with clang and runs it.
# Usage: scripts/fuzz_receiver.sh [seconds=60] [build dir=build-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${2:-build-fuzz}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DDORK5_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_receiver
corpus="$build/fuzz_receiver.corpus"
mkdir -p "$corpus"
"$build/tests/device/fuzz_receiver" "$corpus" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1
