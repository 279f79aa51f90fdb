#!/usr/bin/env bash
# The console program for Windows: cross-builds its libraries (once per
# machine, cached), the core, tamrel-cli.exe and their tests into
# build-windows/, runs the tests under wine, compares the Windows program's
# outputs with the Linux build's, and leaves
# build-windows/tamrel-cli-VERSION-win64.zip. Exits non-zero on any failure.
# Usage: scripts/windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh windows
jobs=$(nproc)

echo "== Windows libraries"
prefix=$(bash scripts/windows-deps.sh | tail -n 1)
echo "$prefix"

echo "== Windows build"
wine_run="$PWD/scripts/wine.sh"
# A wine prefix made once; later runs start in a second.
"$wine_run" wineboot -i >/dev/null 2>&1 || true
PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR="" \
  cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DTAMREL_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_PREFIX_PATH="$prefix" -DTAMREL_GUI=OFF -DTAMREL_BENCH=OFF -DTAMREL_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_run" >/dev/null
cmake --build build-windows -j "$jobs"

echo "== Windows tests under wine"
ctest --test-dir build-windows --output-on-failure --timeout 300 -j "$jobs"

echo "== The Windows program's outputs against the Linux build's"
[ -x build/cli/tamrel-cli ] || {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j "$jobs" --target tamrel-cli
}
bash scripts/compare-windows.sh build/cli/tamrel-cli build-windows/cli/tamrel-cli.exe

echo "== Windows ZIP"
(cd build-windows && cpack -G ZIP >/dev/null)
zip="build-windows/tamrel-cli-$(sed -n 's/^project(tamrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-win64.zip"
bash scripts/check-windows-zip.sh "$zip"
echo "$zip"
