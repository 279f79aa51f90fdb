#!/usr/bin/env bash
# Cross-builds, statically for 64-bit Windows, the part of Qt 6 the window
# needs (Core, Gui, Widgets, the windows platform plugin, the windowsvista
# style) from Debian's own source package, fetched with the private apt configuration scripts/windows-deps.sh
# sets up (the machine's is not changed). The host tools are the machine's
# own qt6-base-dev-tools of the same version. The result is cached outside
# the checkout, keyed by the sources' versions and the compiler, each part
# with its own stamp; only the installed prefix is kept, not the 2 GB build
# tree. Prints the prefix Qt is installed in.
# Usage: scripts/windows-qt.sh
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
cache=${TAMREL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tamrel-windows}
bash scripts/windows-deps.sh >/dev/null  # the private apt configuration, and the libraries
export APT_CONFIG="$cache/apt/apt.conf"
# Qt Svg's source is not to be had from the package mirror here (its
# tarballs answer 404): the Windows window is to carry its pictures
# rendered beforehand, not as SVG.
packages=(qt6-base)

versions=""
for p in "${packages[@]}"; do
  v=$(apt-cache showsrc "$p" 2>/dev/null | awk '/^Version:/ {print $2; exit}')
  [ -n "$v" ] || { echo "windows-qt: no source package $p" >&2; exit 1; }
  versions+="$p=$v "
done
host=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
key=qt-$( (echo "$versions host=$host"; x86_64-w64-mingw32-g++-posix --version | head -n 1) |
  sha256sum | cut -c1-16)
prefix="$cache/$key/prefix"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/$key/src"
build="$cache/$key/build"
logs="$cache/$key/log"
mkdir -p "$work" "$prefix" "$build" "$logs"
cd "$work"
for p in "${packages[@]}"; do
  [ -f ".extracted-$p" ] && continue
  apt-get source -qq --download-only "$p" >/dev/null 2>&1 || true
  dsc=$(ls "${p}"_*.dsc | head -n 1)
  dpkg-source --no-check -x "$dsc" >/dev/null 2>>"$logs/sources.log"
  touch ".extracted-$p"
done
logged() {  # NAME COMMAND...
  local name=$1
  shift
  if ! "$@" >>"$logs/$name.log" 2>&1; then
    echo "windows-qt: building $name failed; the end of $logs/$name.log:" >&2
    tail -n 40 "$logs/$name.log" >&2
    exit 1
  fi
}
built() { [ -f "$prefix/.built-$1" ]; }
stamp() { touch "$prefix/.built-$1"; }
jobs=$(nproc)

if ! built qtbase; then
  src=$(ls -d qt6-base-*/ | head -n 1)
  # Qt 6.4 asks for DirectWrite 3's font database even where Direct2D, which
  # holds it, is left out.
  if ! grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"; then
    logged qtbase patch -d "$src" -p1 -i "$here/scripts/windows-qt/directwrite3-needs-direct2d.patch"
  fi
  # No OpenGL, Vulkan or tablets (Debian's source drops wintab), and nothing
  # the window does not use; Qt's own copies of its third-party libraries.
  logged qtbase cmake -S "$src" -B "$build/qtbase" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_opengl_dynamic=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_sql=OFF -DFEATURE_testlib=OFF -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF
  # Everything configured is built: its install rules ask for all of it.
  logged qtbase ninja -C "$build/qtbase" -j "$jobs"
  logged qtbase cmake --install "$build/qtbase"
  rm -rf "$build/qtbase"
  stamp qtbase
fi

touch "$prefix/.complete"
echo "$prefix"
