#!/usr/bin/env bash
# Sets the serial ports of a Wine prefix: COM<n> is the given device (a
# pseudo-terminal of the simulated instrument, a /dev/ttyUSB0 ...), every
# other COM1…COM256 is nothing, so that Wine maps no port of this machine
# (its /dev/ttyS* may be a console) to a number the port search tries.
# Without arguments no port at all.  Wine is restarted to take the table and
# the script waits until Wine reports the port.
#
#   WINEPREFIX=... bash scripts/wine-ports.sh [n device]
set -euo pipefail
# Wine reads names and arguments in the Unix locale's encoding: UTF-8 for
# the Cyrillic ones.
export LC_ALL=C.UTF-8
n=${1:-}
device=${2:-}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEDEBUG=-all

reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for i in $(seq 1 256); do
    if [ "$i" = "$n" ]; then
      printf '"COM%s"="%s"\r\n' "$i" "$device"
    else
      printf '"COM%s"=""\r\n' "$i"
    fi
  done
} >"$reg"
"$wine" reg import "$(winepath -w "$reg" 2>/dev/null || echo "Z:${reg//\//\\}")" >/dev/null 2>&1
# Wine takes the table when it starts: its session is ended (the registry
# is written out) and the server waited for.
"$wine" wineboot --shutdown >/dev/null 2>&1 || true
timeout 30 "$wineserver" -w 2>/dev/null || "$wineserver" -k 2>/dev/null || true
rm -f "$WINEPREFIX"/dosdevices/com*

# Wine also gives this machine's own serial devices (/dev/ttyS0 ...) a COM
# number, the last one when the table leaves none free.  Opening a serial
# console with no carrier never returns, so their links go again once Wine
# has made them; the server stays up, so Wine does not make them anew
# before the program under test runs.
drop_host_ports() {
  local link
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    [ -n "$n" ] && [ "$link" = "$WINEPREFIX/dosdevices/com$n" ] && continue
    rm -f "$link"
  done
}

for _ in $(seq 100); do
  # Any program of the prefix starts Wine's services.
  if "$wine" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | grep -qi "COM${n:-256}\b" &&
     { [ -z "$n" ] || [ "$(readlink "$WINEPREFIX/dosdevices/com$n" 2>/dev/null)" = "$device" ]; }; then
    # The host ports come after the table's: wait until they are there too.
    for _ in $(seq 30); do
      [ -n "$(find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' ! -name "com$n" 2>/dev/null)" ] && break
      sleep 0.1
    done
    drop_host_ports
    exit 0
  fi
  sleep 0.1
done
echo "Wine did not set up COM${n:-s} ${device}" >&2
exit 1
