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
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target tamrel_windows_compare
TAMREL_WINDOWS_CLI="$PWD/build-windows/cli/tamrel-cli.exe" TAMREL_WINE="$wine_run" \
  build/tests/tamrel_windows_compare --gtest_brief=1

echo "== Windows ZIP"
version=$(sed -n 's/^project(tamrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip="build-windows/tamrel-cli-$version-win64.zip"
rm -f "$zip"
(cd build-windows && cpack -G ZIP >/dev/null)
# One program and its README, nothing else; the program needs no DLL but
# Windows' own.
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listing" = "README.txt tamrel-cli.exe " ] || {
  echo "$zip holds: $listing" >&2
  exit 1
}
unzip -p "$zip" tamrel-cli.exe >build-windows/zip-check.exe
imports=$(x86_64-w64-mingw32-objdump -p build-windows/zip-check.exe |
  sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
rm -f build-windows/zip-check.exe
for dll in $imports; do
  case "$dll" in
  KERNEL32.DLL | MSVCRT.DLL | SHELL32.DLL | SHLWAPI.DLL | USER32.DLL | ADVAPI32.DLL) ;;
  *)
    echo "tamrel-cli.exe needs $dll, which Windows does not bring" >&2
    exit 1
    ;;
  esac
done
echo "tamrel-cli.exe imports: $imports"
echo "$zip"
