#!/usr/bin/env bash
# Builds everything and runs every test; then the core and its tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer; then a short fuzz run.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Build and test"
# Debian's hardening (fortified functions, read-only relocations bound at
# start): the packages are made from this build.
(
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMREL_WERROR=ON >/dev/null
)
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure --timeout 120 -j "$jobs"

echo "== Debian package"
bash scripts/check-package.sh build

echo "== Core tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMREL_GUI=OFF -DTAMREL_BENCH=OFF \
  -DTAMREL_SANITIZE=ON -DTAMREL_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 300 -j "$jobs"

echo "== Fuzz smoke run"
if command -v clang++ >/dev/null 2>&1; then
  bash scripts/fuzz.sh LoadTableFile 20
  bash scripts/fuzz.sh Stream 20
else
  echo "clang++ is missing: the fuzz smoke run is skipped."
fi

echo "== All tests passed"
