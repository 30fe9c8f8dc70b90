#!/usr/bin/env bash
# The Linux package made from this build folder: it installs the program on
# the PATH with its help file, desktop entry and icon, and depends on run-time
# packages only, never on the tools the tests use.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=("$work"/dork5_"$version"_*.deb)
[ -f "${deb[0]}" ] || fail "no dork5_${version}_<arch>.deb in: $(ls "$work")"

contents=$(dpkg-deb -c "${deb[0]}" | awk '{print $NF}')
for f in ./usr/bin/dork5 ./usr/share/dork5/orl.hlp ./usr/share/applications/dork5.desktop \
         ./usr/share/icons/hicolor/scalable/apps/dork5.svg; do
  grep -qxF "$f" <<<"$contents" || fail "package lacks $f"
done
# Nothing of the build or the tests goes into the package.
extra=$(grep -E '/(test_|bench_|fuzz_|dork5-sim|mkverinfo)' <<<"$contents" || true)
[ -z "$extra" ] || fail "package carries $extra"

depends=$(dpkg-deb -f "${deb[0]}" Depends)
for d in libqt6widgets6 libqt6printsupport6 libqt6serialport6 libqt6svg6 qcustomplot \
         qt6-translations-l10n fonts-liberation2; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
if grep -qE 'python|libreoffice|xvfb|xdotool|strace|shapelib|imagemagick|-dev\b|clang' <<<"$depends"; then
  fail "Depends names a test tool: $depends"
fi

# The desktop entry starts the command the package puts on the PATH.
dpkg-deb -x "${deb[0]}" "$work/root"
grep -qx 'Exec=dork5' "$work/root/usr/share/applications/dork5.desktop" || fail "desktop entry command"
grep -qx 'Icon=dork5' "$work/root/usr/share/applications/dork5.desktop" || fail "desktop entry icon"
[ -x "$work/root/usr/bin/dork5" ] || fail "dork5 is not executable"
cmp -s "$work/root/usr/share/dork5/orl.hlp" "$DORK5_SOURCE_DIR/program/orl.hlp" || fail "help file differs"
echo "package ${deb[0]##*/}: $(wc -l <<<"$contents") entries; Depends: $depends"
