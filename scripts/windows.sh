#!/usr/bin/env bash
# The programs for Windows: cross-builds their libraries and Qt (once per
# machine, cached), the core, tamrel-cli.exe, tamrel.exe and their tests
# into build-windows/, runs the tests under wine on a display of their own,
# compares the Windows programs' outputs and window with the Linux build's,
# and leaves build-windows/tamrel-VERSION-win64.zip. Exits non-zero on any
# failure.
# Usage: scripts/windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh windows
jobs=$(nproc)
started=$SECONDS
took() { echo "   ($(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s so far)"; }

echo "== Windows libraries"
prefix=$(bash scripts/windows-deps.sh | tail -n 1)
echo "$prefix"
took
echo "== Qt for Windows (the first time on a machine: about half an hour)"
qt=$(bash scripts/windows-qt.sh | tail -n 1)
echo "$qt"
took

echo "== The Linux build (the outputs to compare with, the pictures' renderer)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target tamrel_windows_compare tamrel-render-icon

echo "== Windows build"
wine_run="$PWD/scripts/wine.sh"
# A wine prefix made once; later runs start in a second.
"$wine_run" wineboot -i >/dev/null 2>&1 || true
# Windows brings Tahoma and MS Sans Serif, the window's fonts; wine has its
# own of them, but a program finds them only in the prefix's Fonts folder.
# Not wine's Tahoma Bold: it draws one-pixel stems at the window's sizes,
# unlike Windows' own; without it the regular face is emboldened, as bold
# text looks on Windows.
fonts=$(dirname "$("$wine_run" winepath -u 'C:\windows\Fonts\x' 2>/dev/null)")
rm -f "$fonts/tahomabd.ttf"
for font in tahoma.ttf sserife.fon; do
  [ -f "$fonts/$font" ] || cp "/usr/share/wine/fonts/$font" "$fonts/"
done
# The JSON library is headers only: a private copy of the host's, so that
# the cross-compiler is never pointed at /usr/include.
json="$PWD/build-windows/json-headers"
rm -rf "$json" && mkdir -p "$json" && cp -r /usr/include/nlohmann "$json/"
PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR="" \
  cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DTAMREL_WINDOWS_PREFIX="$prefix;$qt" \
  -DCMAKE_PREFIX_PATH="$prefix;$qt" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DTAMREL_PICTURE_RENDERER="$PWD/build/app/tamrel-render-icon" \
  -DTAMREL_GUI=ON -DTAMREL_BENCH=OFF -DTAMREL_WERROR=ON -DTAMREL_JSON_INCLUDE_DIR="$json" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_run" >/dev/null
cmake --build build-windows -j "$jobs"
took

echo "== Windows tests under wine"
# On a display of their own with an audio server that plays into a null
# output, where the window's sound must play to its end.
TAMREL_EXPECT_AUDIO=1 bash scripts/run-under-xvfb.sh --once \
  ctest --test-dir build-windows --output-on-failure --timeout 300 -j "$jobs"
took

echo "== The Windows programs against the Linux build's"
cmake --build build -j "$jobs" --target tamrel
TAMREL_WINDOWS_CLI="$PWD/build-windows/cli/tamrel-cli.exe" \
  TAMREL_WINDOWS_WINDOW="$PWD/build-windows/app/tamrel.exe" TAMREL_WINE="$wine_run" \
  bash scripts/run-under-xvfb.sh --once build/tests/tamrel_windows_compare --gtest_brief=1
took

echo "== Windows ZIP"
version=$(sed -n 's/^project(tamrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip="build-windows/tamrel-$version-win64.zip"
rm -f build-windows/tamrel*-win64.zip
(cd build-windows && cpack -G ZIP >/dev/null)
# The two programs and their README, nothing else.
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listing" = "README.txt tamrel-cli.exe tamrel.exe " ] || {
  echo "$zip holds: $listing" >&2
  exit 1
}
# Neither needs a DLL but those every Windows (10 and later) brings; the
# window's list is Qt's.
console_dlls="ADVAPI32 KERNEL32 MSVCRT SHELL32 SHLWAPI USER32"
window_dlls="$console_dlls AUTHZ COMDLG32 D3D11 D3D9 DWMAPI DXGI GDI32 IMM32 NETAPI32 OLE32
  OLEAUT32 SHCORE USERENV UXTHEME VERSION WINMM WS2_32 WTSAPI32 API-MS-WIN-CORE-SYNCH-L1-2-0
  API-MS-WIN-CORE-WINRT-L1-1-0 API-MS-WIN-CORE-WINRT-STRING-L1-1-0"
check_imports() {  # PROGRAM ALLOWED...
  local program=$1 imports dll
  shift
  unzip -p "$zip" "$program" >build-windows/zip-check.exe
  imports=$(x86_64-w64-mingw32-objdump -p build-windows/zip-check.exe |
    sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sed 's/\.DLL$//' | sort -u)
  rm -f build-windows/zip-check.exe
  for dll in $imports; do
    case " $* " in
    *" $dll "*) ;;
    *)
      echo "$program needs $dll.DLL, which Windows does not bring" >&2
      exit 1
      ;;
    esac
  done
  echo "$program imports:" $imports
}
check_imports tamrel-cli.exe $console_dlls
check_imports tamrel.exe $window_dlls
ls -l "$zip"
took
echo "$zip"
