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
  sim_out=$(mktemp)
  ./build/tools/sim/dork5-sim --seed 1 --pace >"$sim_out" &
  sim_pid=$!
  sim_port=""
  for _ in $(seq 50); do
    sim_port=$(head -n 1 "$sim_out")
    [ -n "$sim_port" ] && break
    sleep 0.1
  done
  rm -f "$sim_out"
  export ORL_SERIAL_PORTS="$sim_port"
  echo "Simulated instrument on $sim_port"
fi
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT
./build/program/dork5
