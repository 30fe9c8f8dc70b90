#!/usr/bin/env bash
# Times a full-capacity download (4,681 operative records; 201 waiting and 201
# observation series with 150,000 points per archive) from dork5-sim paced at
# 115200 baud 8N2 over a pseudo-terminal, once reading on readyRead and once
# polling every 50 ms like the original driver, and prints each time with its
# ratio to the pure line time of all reply bytes.  A full run takes about ten
# minutes; "quick" runs a tenth of the data.
# Usage: scripts/bench_download.sh [full|quick] [build dir=build-bench]
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-full}"
build="${2:-build-bench}"
if [ "$size" = quick ]; then
  set -- --records 468,20,20 --total-points 15000
else
  set -- --records 4681,201,201 --total-points 150000
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target dork5-sim dork5-sim-bench >/dev/null
sim="$build/tools/sim/dork5-sim"
bench="$build/tools/sim/dork5-sim-bench"
export QT_QPA_PLATFORM=offscreen
"$bench" "$sim" "$@" --poll 0
"$bench" "$sim" "$@" --poll 50
