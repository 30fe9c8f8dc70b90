#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need, only when some
# are missing.  Runs apt-get as root (directly, or through sudo).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config dpkg-dev
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev libqcustomplot-dev libgl-dev qt6-translations-l10n
  fonts-liberation2
  python3 python3-dbfread python3-xlrd shapelib
  clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
  xvfb openbox xdotool imagemagick poppler-utils strace
  libreoffice-calc-nogui libreoffice-draw-nogui
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
