#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan + UBSan) and runs one of them.
# Usage: scripts/fuzz.sh NAME SECONDS   (NAME: LoadTableFile or Stream)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 2 ]; then
  echo "usage: $0 NAME SECONDS" >&2
  exit 2
fi
name=$1
seconds=$2
target="${name}Fuzz"
corpus="fuzz/corpus/$name"
[ -d "$corpus" ] || { echo "no seed corpus $corpus" >&2; exit 2; }

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMREL_GUI=OFF -DTAMREL_TESTS=OFF -DTAMREL_BENCH=OFF -DTAMREL_FUZZ=ON -DTAMREL_SANITIZE=ON >/dev/null
cmake --build build-fuzz --target "$target"

# New inputs go to a scratch folder, so the seed corpus in the repository stays as it is.
work="build-fuzz/corpus-$name"
mkdir -p "$work"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix=build-fuzz/ "$work" "$corpus" 2>&1 | tail -n 15
exit "${PIPESTATUS[0]}"
