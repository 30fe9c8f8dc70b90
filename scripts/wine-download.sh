#!/usr/bin/env bash
# A download under Wine, compared with Linux: the simulated instrument on a
# pseudo-terminal is mapped to Wine's COM1 (a link in its dosdevices), the
# Windows build's dork5-download.exe finds it by the program's own port
# search over «\\.\COM1»…«\\.\COM38» and writes a database; the Linux build
# downloads the same instrument again; the two files must be equal byte for
# byte.  Needs the Linux build (build/) and the Windows one (build-win/, made
# by scripts/windows.sh).  scripts/windows.sh test runs it after the tests.
#
#   bash scripts/wine-download.sh [records=40,3,3] [seed=5]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
records=${1:-40,3,3}
seed=${2:-5}
linux=${DORK5_LINUX_BUILD:-$repo/build}
win=${DORK5_WIN_BUILD:-$repo/build-win}
export WINEPREFIX=${DORK5_WINEPREFIX:-$HOME/.cache/dork5-wine}
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)
qt_bin=$(sed -n 's#^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$#\1/bin#p' "$win/CMakeCache.txt")
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="Z:$qt_bin;Z:$gcc_dir;Z:/usr/x86_64-w64-mingw32/lib"

for f in "$linux/tools/sim/dork5-sim" "$linux/tools/dork5-download" "$win/tools/dork5-download.exe"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f (build Linux with scripts/build.sh, Windows with scripts/windows.sh)" >&2; exit 2; }
done
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
# Wine passes no QT_* variable on: the platform goes into the prefix's user
# environment.
"$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null 2>&1

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com1"
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A fresh simulated instrument; prints its pseudo-terminal.
start_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  "$linux/tools/sim/dork5-sim" --seed "$seed" --records "$records" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
  done
  head -n 1 "$work/sim.out"
}

pty=$(start_sim)
# COM1 is the instrument, COM2…COM38 are not there: Wine's own port table
# says so (an empty value keeps Wine from mapping a host port to that name),
# and Wine is restarted to take it.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
for n in $(seq 2 38); do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "" /f >/dev/null 2>&1
done
/usr/lib/wine/wineserver -k 2>/dev/null || wineserver -k 2>/dev/null || true
mkdir -p "$WINEPREFIX/dosdevices"
rm -f "$WINEPREFIX"/dosdevices/com*
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com1"
started=$(date +%s)
(cd "$work" && timeout 300 "$wine" "$win/tools/dork5-download.exe" 'windows.db')
echo "Windows download through COM1 ($pty): $(( $(date +%s) - started )) s"

pty=$(start_sim)
(cd "$work" && QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/cfg" ORL_SERIAL_PORTS="$pty" timeout 300 "$linux/tools/dork5-download" linux.db)

if cmp "$work/windows.db" "$work/linux.db"; then
  echo "PASS: the Windows and the Linux program wrote the same database ($(stat -c %s "$work/linux.db") bytes)"
else
  echo "FAIL: the databases differ" >&2
  exit 1
fi
