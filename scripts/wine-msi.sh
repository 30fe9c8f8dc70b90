#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix, as a user meets it: an older
# build installed silently, then the current one over it (one entry in the
# list of installed programs, the new files in place), the program started
# from its Start menu shortcut (its main window appears on a virtual
# display), then uninstalled: files, shortcut and entry gone, the settings
# key and the user's own files kept.  Needs dist/*.msi and the zip's folder
# (bash scripts/windows.sh msi).
#
#   bash scripts/wine-msi.sh
set -euo pipefail
# Wine reads names and arguments in the Unix locale's encoding: UTF-8 for
# the Cyrillic ones.
export LC_ALL=C.UTF-8
repo=$(cd "$(dirname "$0")/.." && pwd)
ver=$(sed -n 's/^project(dork5 VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
msi="$repo/dist/dork5-$ver-windows-x64.msi"
stage="$repo/dist/dork5-$ver-windows-x64"
[ -f "$msi" ] && [ -d "$stage" ] || { echo "no $msi (bash scripts/windows.sh msi)" >&2; exit 2; }
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
xvfb_pid=""
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
check() {  # check "what" command...
  local what=$1
  shift
  if "$@"; then echo "PASS: $what"; else echo "FAIL: $what" >&2; failed=$((failed + 1)); fi
}

"$wine" wineboot -i >/dev/null 2>&1
bash "$repo/scripts/wine-ports.sh"
user_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/ | grep -v /Public/ | head -n 1)
installed="${user_dir}AppData/Local/Programs/ДОРК-5"
shortcut="${user_dir}AppData/Roaming/Microsoft/Windows/Start Menu/Programs/ДОРК-5.lnk"
entries() { "$wine" uninstaller --list 2>/dev/null | grep -c 'ДОРК-5' || true; }

# An older build of the same files.
older="$work/dork5-1.0.0.1-windows-x64.msi"
DORK5_MSI_VERSION=1.0.0.1 DORK5_MSI_OUT="$older" bash "$repo/scripts/windows.sh" msi >/dev/null
"$wine" msiexec /i "$(winepath -w "$older")" /qn
check "the older version installs without administrator rights into the user's programs folder" \
  test -f "$installed/dork5.exe"
echo "stale" >"$installed/README.txt"
"$wine" msiexec /i "$(winepath -w "$msi")" /qn
check "the newer version installs over it: one entry in the list of installed programs" test "$(entries)" = 1
check "the new files are in place" cmp -s "$installed/README.txt" "$stage/README.txt"
check "every file of the zip is installed" diff -rq "$stage" "$installed"
check "a Start menu shortcut «ДОРК-5»" test -f "$shortcut"
check "the entry names the version and the publisher" \
  bash -c "'$wine' reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData' /s 2>/dev/null |
           tr -d '\\r' | grep -q 'DisplayVersion.*$ver' &&
           '$wine' reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData' /s 2>/dev/null |
           grep -q 'Publisher.*Morvisk'"

# The shortcut starts the program: its main window appears.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  for d in $(seq 91 99); do [ -e "/tmp/.X11-unix/X$d" ] || break; done
  Xvfb ":$d" -screen 0 1280x900x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  export DISPLAY=":$d"
  (cd "$work" && "$wine" start /unix "$shortcut" >/dev/null 2>&1) || true
  shown=""
  for _ in $(seq 60); do
    if xdotool search --name '^ДОРК-5$' >/dev/null 2>&1 || xdotool search --name 'ДОРК - 5' >/dev/null 2>&1; then
      shown=yes
      break
    fi
    sleep 0.5
  done
  check "the shortcut starts the program and its main window appears" test -n "$shown"
  "$wine" taskkill /f /im dork5.exe >/dev/null 2>&1 || true
  sleep 1
else
  echo "SKIP: the start from the shortcut needs Xvfb and xdotool"
fi
# Started in its Cyrillic folder, the program keeps that folder as its
# default directory in the registry.
check "the program wrote its settings key, with its Cyrillic folder" \
  bash -c "'$wine' reg query 'HKCU\\Software\\Morvisk\\ORL\\1.0' /v Default_dir 2>/dev/null | grep -q 'ДОРК-5'"
mkdir -p "${user_dir}Documents/Измерения" && echo "база" >"${user_dir}Documents/Измерения/Проба.db"

"$wine" msiexec /x "$(winepath -w "$msi")" /qn
check "uninstalling removes the program's files" test ! -e "$installed"
check "uninstalling removes the shortcut" test ! -e "$shortcut"
check "uninstalling removes the entry" test "$(entries)" = 0
check "the settings key stays" "$wine" reg query 'HKCU\Software\Morvisk\ORL\1.0' /v Default_dir
check "the user's databases stay" test -f "${user_dir}Documents/Измерения/Проба.db"

if [ "$failed" -ne 0 ]; then
  echo "$failed installer check(s) failed" >&2
  exit 1
fi
echo "the installer under Wine: all checks passed"
