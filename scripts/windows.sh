#!/usr/bin/env bash
# The Windows program, cross-built on Linux with MinGW-w64 and tested under
# Wine.
#
#   bash scripts/windows.sh            toolchain (when missing), program, tests, zip
#   bash scripts/windows.sh toolchain  only the toolchain
#   bash scripts/windows.sh build      toolchain (when missing) and the build
#   bash scripts/windows.sh test       the tests under Wine (needs the build)
#   bash scripts/windows.sh zip        dist/dork5-<version>-windows-x64.zip (needs the build)
#   bash scripts/windows.sh msi        dist/dork5-<version>-windows-x64.msi, the installer (needs the
#                                      build; not yet usable: wixl 0.101 writes its Cyrillic names empty)
#   bash scripts/windows.sh has-toolchain   exit 0 when the toolchain is cached
#
# The toolchain is Qt (Core, Gui, Widgets, PrintSupport, Test, Svg,
# SerialPort) and QCustomPlot for MinGW, built once from Debian's source
# packages (qtbase, qcustomplot) and the Qt module sources in
# DORK5_QT_MODULES (default ../shared/third_party/qt-6.4.2 beside the
# project), and cached in ~/.cache/dork5-wintoolchain/qt-<ver>-mingw-<ver>-posix.
#
# Environment: DORK5_WIN_CACHE (the cache folder), DORK5_QT_MODULES,
# DORK5_WIN_BUILD (default build-win), DORK5_WINEPREFIX (default
# ~/.cache/dork5-wine), JOBS (default: the number of cores).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
step=${1:-all}
jobs=${JOBS:-$(nproc)}
qt_version=6.4.2
modules_src=${DORK5_QT_MODULES:-$repo/../shared/third_party/qt-$qt_version}
build_dir=${DORK5_WIN_BUILD:-$repo/build-win}
export WINEPREFIX=${DORK5_WINEPREFIX:-$HOME/.cache/dork5-wine}
export WINEDEBUG=${WINEDEBUG:--all}
triple=x86_64-w64-mingw32
# Debian's 64-bit loader itself: the "wine" wrapper asks for wine32 on every run.
wine_exe() { if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else command -v wine; fi; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

log() { printf '== %s\n' "$*"; }

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build
                  dpkg-dev qt6-base-dev qt6-base-dev-tools qt6-translations-l10n wine wine64 fonts-wine
                  xvfb openbox xdotool zip unzip wixl msitools)
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

gcc_version() { $triple-g++-posix -dumpfullversion | sed "s/[^0-9].*//"; }
cache_dir() { echo "${DORK5_WIN_CACHE:-$HOME/.cache/dork5-wintoolchain/qt-$qt_version-mingw-$(gcc_version)-posix}"; }
qt_prefix() { echo "$(cache_dir)/qt"; }

# apt-get source needs deb-src lines; a fresh machine has only deb lines.
# They are derived from the machine's own sources, whatever mirror it uses.
ensure_deb_src() {
  if apt-get source --print-uris qtbase-opensource-src >/dev/null 2>&1 ||
     apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    return 0
  fi
  log "adding deb-src entries derived from the apt sources"
  local tmp
  tmp=$(mktemp)
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    for f in /etc/apt/sources.list.d/*.sources; do
      case $f in *dork5-src*) continue ;; esac
      sed -n 's/^Types:.*\bdeb\b.*/Types: deb-src/;p' "$f" >>"$tmp"
      echo >>"$tmp"
    done
    $SUDO cp "$tmp" /etc/apt/sources.list.d/dork5-src.sources
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$tmp"
    [ -s "$tmp" ] && $SUDO cp "$tmp" /etc/apt/sources.list.d/dork5-src.list
  fi
  rm -f "$tmp"
  $SUDO apt-get update -qq
}

write_mingw_toolchain() {
  cat >"$1" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
EOF
}

build_qtbase() {
  local src=$1 prefix=$2 toolchain=$3
  cmake -S "$src" -B "$src/build-mingw" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DBUILD_SHARED_LIBS=ON \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_xml=ON -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_opengl=ON -DINPUT_opengl=dynamic \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_textmarkdownreader=OFF
  cmake --build "$src/build-mingw" --parallel "$jobs"
  cmake --install "$src/build-mingw"
}

build_module() {
  local src=$1 prefix=$2 name
  name=$(basename "$src")
  rm -rf "$src/../build-$name"
  cmake -S "$src" -B "$src/../build-$name" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  cmake --build "$src/../build-$name" --parallel "$jobs"
  cmake --install "$src/../build-$name"
}

# QCustomPlot from Debian's source (with Debian's patches applied by
# apt-get source), built as the shared library the program links, with the
# same CMake package name as Debian's libqcustomplot-dev.
build_qcustomplot() {
  local src=$1 prefix=$2 dir
  dir=$(dirname "$src")/qcp-cmake
  rm -rf "$dir" && mkdir -p "$dir"
  cat >"$dir/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(QCustomPlotQt6 VERSION 2.1.0 LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)
add_library(QCustomPlotQt6 SHARED "$src/qcustomplot.cpp" "$src/qcustomplot.h")
target_compile_definitions(QCustomPlotQt6 PRIVATE QCUSTOMPLOT_COMPILE_LIBRARY
                           INTERFACE QCUSTOMPLOT_USE_LIBRARY)
target_include_directories(QCustomPlotQt6 INTERFACE \$<INSTALL_INTERFACE:include>)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets Qt6::PrintSupport)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets
        RUNTIME DESTINATION bin LIBRARY DESTINATION lib ARCHIVE DESTINATION lib)
install(FILES "$src/qcustomplot.h" DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6)
file(WRITE "\${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake"
  "include(CMakeFindDependencyMacro)\nfind_dependency(Qt6 COMPONENTS Core Gui Widgets PrintSupport)\ninclude(\\"\\\${CMAKE_CURRENT_LIST_DIR}/QCustomPlotQt6Targets.cmake\\")\n")
install(FILES "\${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake" DESTINATION lib/cmake/QCustomPlotQt6)
EOF
  cmake -S "$dir" -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build "$dir/build" --parallel "$jobs"
  cmake --install "$dir/build"
}

# Qt's own Russian translations, from Debian's package (the .qm files do not
# depend on the platform).
add_translations() {
  local prefix=$1
  mkdir -p "$prefix/translations"
  cp /usr/share/qt6/translations/qtbase_ru.qm /usr/share/qt6/translations/qt_ru.qm \
     "$prefix/translations/" 2>/dev/null || true
  cp /usr/share/qt6/translations/qtserialport_ru.qm "$prefix/translations/" 2>/dev/null || true
}

build_toolchain() {
  local cache prefix work started
  cache=$(cache_dir)
  prefix=$(qt_prefix)
  if toolchain_ready; then
    log "toolchain present: $prefix"
    return 0
  fi
  for m in qtserialport qtsvg; do
    [ -f "$modules_src/$m/CMakeLists.txt" ] || {
      echo "the Qt module source $modules_src/$m is missing; set DORK5_QT_MODULES to a folder holding qtserialport and qtsvg $qt_version" >&2
      exit 2
    }
  done
  started=$(date +%s)
  work="$cache/work"
  mkdir -p "$work"
  write_mingw_toolchain "$cache/mingw-toolchain.cmake"
  ensure_deb_src
  if [ ! -f "$prefix/lib/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake" ]; then
    log "qtbase $qt_version for MinGW (the long step: about 35 minutes on 2 cores)"
    (cd "$work" && { ls -d qt6-base-*/ >/dev/null 2>&1 || apt-get source -qq qt6-base; })
    local src
    src=$(ls -d "$work"/qt6-base-*/ | head -n 1)
    build_qtbase "${src%/}" "$prefix" "$cache/mingw-toolchain.cmake"
  fi
  local m name
  for m in qtserialport:SerialPort qtsvg:Svg; do
    name=${m#*:}
    m=${m%%:*}
    if [ ! -f "$prefix/lib/cmake/Qt6$name/Qt6${name}Config.cmake" ]; then
      log "$m for MinGW"
      rm -rf "$work/$m" && cp -r "$modules_src/$m" "$work/$m"
      build_module "$work/$m" "$prefix"
    fi
  done
  log "QCustomPlot for MinGW"
  (cd "$work" && { ls -d qcustomplot-*/ >/dev/null 2>&1 || apt-get source -qq qcustomplot; })
  local qcp
  qcp=$(ls -d "$work"/qcustomplot-*/ | head -n 1)
  build_qcustomplot "${qcp%/}" "$prefix"
  add_translations "$prefix"
  rm -rf "$work"
  local took=$(( $(date +%s) - started ))
  log "toolchain built in $(( took / 60 )) min $(( took % 60 )) s: $prefix ($(du -sh "$prefix" | cut -f1))"
}

version() { sed -n 's/^project(dork5 VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt"; }
gcc_runtime_dir() { dirname "$($triple-g++-posix -print-libgcc-file-name)"; }

# The folders where Wine finds the DLLs of the build: Qt's, QCustomPlot's
# and the compiler's run time.
wine_path() {
  echo "Z:$(qt_prefix)/bin;Z:$(gcc_runtime_dir);Z:/usr/$triple/lib"
}

build_program() {
  local prefix
  prefix=$(qt_prefix)
  log "dork5 for Windows into $build_dir"
  cmake -S "$repo" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR="$(wine_exe)" >/dev/null
  cmake --build "$build_dir" --parallel "$jobs"
}

# The tests' Wine prefix, made once (wineboot), without the .NET and HTML
# engines that it would offer to download.
wine_ready() {
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "a Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$(wine_exe)" wineboot -i >/dev/null 2>&1 || true
  fi
  # Wine passes no QT_* variable of the Unix environment to its programs, so
  # the tests' platform and log rules go into the prefix's user environment.
  "$(wine_exe)" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null 2>&1
  "$(wine_exe)" reg add 'HKCU\Environment' /v QT_LOGGING_RULES /t REG_SZ /d 'qt.qpa.*=false' /f >/dev/null 2>&1
  # Russian users' folders are Cyrillic: every test's temporary folder (the
  # databases, workbooks, bitmaps and memory images the tests write and read)
  # lies in one.
  local temp='C:\users\Public\Временные файлы'
  mkdir -p "$WINEPREFIX/drive_c/users/Public/Временные файлы"
  "$(wine_exe)" reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d "$temp" /f >/dev/null 2>&1
  "$(wine_exe)" reg add 'HKCU\Environment' /v TMP /t REG_SZ /d "$temp" /f >/dev/null 2>&1
  # No serial ports, as the Linux tests have none: Wine would map the
  # machine's /dev/ttyS* (a console, here) to COM ports the download
  # window then searches.
  if ! "$(wine_exe)" reg query 'HKLM\Software\Wine\Ports' /v COM256 >/dev/null 2>&1; then
    bash "$repo/scripts/wine-ports.sh"
  fi
}

run_tests() {
  [ -f "$build_dir/CTestTestfile.cmake" ] || { echo "no Windows build in $build_dir (bash scripts/windows.sh build)" >&2; exit 2; }
  wine_ready
  export WINEPATH
  WINEPATH=$(wine_path)
  export QT_QPA_PLATFORM=offscreen
  log "the Windows tests under Wine"
  (cd "$build_dir" && ctest --output-on-failure --timeout 600 -j "$jobs" "$@")
  [ $# -eq 0 ] || return 0
  # Downloads through Wine's COM1, COM3 and COM41 from the simulator, each
  # compared byte for byte with the Linux program's.
  if [ -x "$repo/build/tools/dork5-download" ] && [ -x "$repo/build/tools/sim/dork5-sim" ]; then
    log "downloads under Wine through COM1, COM3 and COM41, compared with the Linux program's"
    DORK5_WIN_BUILD="$build_dir" bash "$repo/scripts/wine-download.sh" 40,3,3 5 "1 3 41" "${DORK5_WINE_RUNS:-10}"
  else
    log "the download under Wine: skipped, no Linux build in build/ (bash scripts/build.sh)"
  fi

}

# The DLLs a Windows binary imports, as objdump names them.
imports() { $triple-objdump -p "$1" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p'; }

# Copies into `dest` every DLL that `file` needs, found in the Qt prefix or
# the compiler's run time, and theirs in turn; system DLLs are not shipped.
copy_dlls() {
  local file=$1 dest=$2 dll lower found dir
  for dll in $(imports "$file"); do
    lower=${dll,,}
    [ -f "$dest/$dll" ] && continue
    found=""
    for dir in "$(qt_prefix)/bin" "$(gcc_runtime_dir)" "/usr/$triple/lib"; do
      if [ -f "$dir/$dll" ]; then found="$dir/$dll"; break; fi
    done
    [ -n "$found" ] || continue  # a system DLL (kernel32, user32 ...)
    case $lower in api-ms-*|ext-ms-*) continue ;; esac
    cp "$found" "$dest/"
    copy_dlls "$found" "$dest"
  done
}

make_zip() {
  local prefix ver name stage plugin
  prefix=$(qt_prefix)
  ver=$(version)
  name="dork5-$ver-windows-x64"
  stage="$repo/dist/$name"
  [ -f "$build_dir/program/dork5.exe" ] || { echo "no $build_dir/program/dork5.exe (bash scripts/windows.sh build)" >&2; exit 2; }
  log "dist/$name.zip"
  rm -rf "$stage" "$repo/dist/$name.zip"
  mkdir -p "$stage"
  cp "$build_dir/program/dork5.exe" "$repo/program/orl.hlp" "$stage/"
  $triple-strip "$stage/dork5.exe"
  copy_dlls "$stage/dork5.exe" "$stage"
  for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qsvg.dll \
                imageformats/qico.dll imageformats/qjpeg.dll imageformats/qgif.dll iconengines/qsvgicon.dll; do
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$prefix/plugins/$plugin" "$stage/$plugin"
    copy_dlls "$stage/$plugin" "$stage"
  done
  mkdir -p "$stage/translations"
  cp "$prefix"/translations/*_ru.qm "$stage/translations/"
  printf '[Paths]\r\nPrefix=.\r\nPlugins=.\r\nTranslations=translations\r\n' >"$stage/qt.conf"
  sed 's/$/\r/' "$repo/program/windows-readme.txt" | sed "s/@VERSION@/$ver/" >"$stage/README.txt"
  (cd "$repo/dist" && zip -qr "$name.zip" "$name")
  log "dist/$name.zip: $(du -h "$repo/dist/$name.zip" | cut -f1), $(find "$stage" -type f | wc -l) files"
}

# dist/dork5-<version>-windows-x64.msi from the zip's folder: a per-user
# installer (program/dork5.wxs) with every file of the zip, listed by
# wixl-heat.  DORK5_MSI_VERSION builds the same files under another version
# (the upgrade test uses an older one).
make_msi() {
  local ver name stage out files
  ver=${DORK5_MSI_VERSION:-$(version)}
  name="dork5-$(version)-windows-x64"
  stage="$repo/dist/$name"
  out=${DORK5_MSI_OUT:-$repo/dist/dork5-$ver-windows-x64.msi}
  [ -f "$stage/dork5.exe" ] || make_zip
  log "$(basename "$out")"
  files=$(mktemp --suffix=.wxs)
  (cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
     wixl-heat --prefix "" --component-group ProgramFiles --var var.SourceDir --directory-ref INSTALLDIR) >"$files"
  rm -f "$out"
  # wixl takes the files' paths relative to the folder it runs in.
  (cd "$repo" && wixl -a x64 -D SourceDir="dist/$name" -D Version="$ver" -D IconFile="program/dork5.ico" \
       -o "$out" "program/dork5.wxs" "$files")
  rm -f "$files"
  log "$(basename "$out"): $(du -h "$out" | cut -f1)"
}

toolchain_ready() {
  [ -f "$(qt_prefix)/lib/cmake/QCustomPlotQt6/QCustomPlotQt6Config.cmake" ] &&
    [ -f "$(qt_prefix)/lib/cmake/Qt6SerialPort/Qt6SerialPortConfig.cmake" ] &&
    [ -f "$(qt_prefix)/lib/cmake/Qt6Svg/Qt6SvgConfig.cmake" ]
}

case $step in
  has-toolchain) command -v $triple-g++-posix >/dev/null && toolchain_ready ;;
  toolchain-dir) if command -v $triple-g++-posix >/dev/null; then cache_dir; else echo "no MinGW-w64 compiler"; fi ;;
  toolchain) install_packages; build_toolchain ;;
  build) install_packages; build_toolchain; build_program ;;
  test) shift; run_tests "$@" ;;
  zip) make_zip ;;
  msi) make_msi ;;
  all) install_packages; build_toolchain; build_program; make_zip; run_tests ;;
  *) echo "unknown step $step (toolchain, build, test, zip)" >&2; exit 2 ;;
esac
