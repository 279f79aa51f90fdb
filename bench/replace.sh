#!/usr/bin/env bash
# Replace's speed and peak memory on long input: a 44.1 kHz stereo WAV file of
# each length (10 and 60 minutes unless named) into an XA ADPCM R2 stereo
# stream at 32000 Hz, through tamrel-cli as a user runs it. Prints the wall
# time, the times real time, the peak memory and the bound it must stay in
# (the new stream's size plus 64 MiB).
# Usage: bench/replace.sh [WORK_DIR] [MINUTES...]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/tamrel-replace-bench}
shift $(( $# < 1 ? $# : 1 ))
lengths=("$@")
[ ${#lengths[@]} -gt 0 ] || lengths=(10 60)

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMREL_GUI=OFF -DTAMREL_TESTS=OFF >/dev/null
cmake --build build-bench --target tamrel-cli tamrel_replace_bench >/dev/null
cli=$PWD/build-bench/cli/tamrel-cli
make=$PWD/build-bench/bench/tamrel_replace_bench

printf '%8s %10s %12s %14s %14s %12s\n' minutes seconds "x real time" "peak MiB" "bound MiB" "stream MiB"
for minutes in "${lengths[@]}"; do
  dir="$work/$minutes"
  rm -rf "$dir"
  mkdir -p "$dir"
  "$make" make "$dir" "$minutes"
  "$cli" -q unpack "$dir/music.ast"
  sync
  /usr/bin/time -f "%e %M" -o "$dir/time" "$cli" -q replace "$dir/music_" 1 "$dir/in.wav"
  read -r seconds peak_kib < "$dir/time"
  stream=$(stat -c %s "$dir/music_/music_00001.asf")
  awk -v m="$minutes" -v s="$seconds" -v k="$peak_kib" -v b="$stream" 'BEGIN {
    printf "%8s %10.2f %12.1f %14.1f %14.1f %12.1f\n", m, s, m * 60 / s, k / 1024,
      b / 1048576 + 64, b / 1048576 }'
  rm -rf "$dir"
done
