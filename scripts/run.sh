#!/usr/bin/env bash
# Installs what is missing, builds and starts the program.  When no USB or
# ACM serial adapter is attached, a simulated instrument is started on a
# pseudo-terminal and offered to the program as its first serial port, so
# "Создать" works without hardware.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
sim_pid=""
if [ -z "${ORL_SERIAL_PORTS:-}" ] && ! ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  ./build/tools/dork5-sim --seed 1 --pace >"$fifo" &
  sim_pid=$!
  read -r sim_port <"$fifo"
  rm -f "$fifo"
  export ORL_SERIAL_PORTS="$sim_port"
  echo "Simulated instrument on $sim_port"
fi
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT
./build/app/dork5
