#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
(cd build && ctest --output-on-failure --timeout 600 -j "$(nproc)")

# The Windows program and its tests under Wine, when the Windows toolchain
# has been built (bash scripts/windows.sh); building it takes too long here.
if bash scripts/windows.sh has-toolchain; then
  bash scripts/windows.sh build
  bash scripts/windows.sh test
else
  echo "Windows tests under Wine: skipped, no cached Windows toolchain ($(bash scripts/windows.sh toolchain-dir)); bash scripts/windows.sh builds it"
fi
