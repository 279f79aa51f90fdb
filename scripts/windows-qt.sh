#!/usr/bin/env bash
# Cross-builds, statically for 64-bit Windows, the part of Qt 6 the window
# needs (Core, Gui, Widgets, the windows and offscreen platform plugins, the
# windowsvista style, and Test for the window's tests) from Debian's own
# source package, fetched with the private apt configuration of
# scripts/windows-common.sh. The host tools are the machine's own
# qt6-base-dev-tools of the same version. The result is cached outside the
# checkout, keyed by the sources' versions, the compiler and the configure
# switches; only the installed prefix is kept, not the 2 GB build tree.
# Prints the prefix Qt is installed in.
# Usage: scripts/windows-qt.sh
set -euo pipefail
cd "$(dirname "$0")/.."
tool=windows-qt
source scripts/windows-common.sh
private_apt
# Qt Svg's source is not to be had from the package mirror here (its
# tarballs answer 404): the Windows window carries its pictures rendered
# beforehand, not as SVG. Sound goes through the system's own waveOut, so
# Qt Multimedia is not needed either.
packages=(qt6-base)
versions=$(source_versions "${packages[@]}")

# No OpenGL, Vulkan or tablets (Debian's source drops wintab), and nothing
# the window does not use; Qt's own copies of its third-party libraries.
switches=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_opengl_dynamic=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF
  -DFEATURE_sql=OFF -DFEATURE_testlib=ON -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF
  -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF
  -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_pkg_config=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
)
patch_file=scripts/windows-qt/directwrite3-needs-direct2d.patch
host=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
key=qt-$( (echo "$versions host=$host ${switches[*]}"; sha256sum <"$patch_file"
  x86_64-w64-mingw32-g++-posix --version | head -n 1) | sha256sum | cut -c1-16)
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
for p in "${packages[@]}"; do fetch_source "$p"; done

if ! built qtbase; then
  src=$(ls -d qt6-base-*/ | head -n 1)
  # Qt 6.4 asks for DirectWrite 3's font database even where Direct2D, which
  # holds it, is left out.
  if ! grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"; then
    logged qtbase patch -d "$src" -p1 -i "$here/$patch_file"
  fi
  logged qtbase cmake -S "$src" -B "$build/qtbase" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${switches[@]}"
  # Everything configured is built: its install rules ask for all of it.
  logged qtbase ninja -C "$build/qtbase" -j "$jobs"
  logged qtbase cmake --install "$build/qtbase"
  rm -rf "$build/qtbase"
  stamp qtbase
fi

touch "$prefix/.complete"
echo "$prefix"
