#!/usr/bin/env bash
# The figures the program is held to, each as a ratio, measured in one run:
#  - Pack against cat of the stream files + sync (20,000 streams in 512 MiB,
#    100,000 in 100 MiB; bench/unpack_pack.sh, which also times Unpack);
#  - the encoders: IMA against FFmpeg's IMA encoder at -trellis 8, and
#    MicroTalk 5:1 against 10:1 (tamrel_encoder_bench);
#  - the Windows console under wine against the Linux one, for list
#    --details and export of a 53 MB stream of 130,000 blocks (when
#    scripts/windows.sh has built it).
# Usage: bench/ratios.sh [WORK_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/tamrel-bench}
runs=${2:-5}

echo "== Pack against cat + sync"
bash bench/unpack_pack.sh "$work" "$runs" s20k s100k 2>/dev/null | grep -E '^s|pack'

echo "== Encoders"
cmake --build build-bench --target tamrel_encoder_bench tamrel_command_bench >/dev/null
build-bench/bench/tamrel_encoder_bench 10

windows_cli=build-windows/cli/tamrel-cli.exe
if [ ! -f "$windows_cli" ]; then
  echo "== wine against Linux: skipped, $windows_cli is not built (bash scripts/windows.sh)"
  exit 0
fi
echo "== wine against Linux (median of $runs, each less the program's start)"
cmake --build build-bench --target tamrel-cli >/dev/null
linux_cli=$PWD/build-bench/cli/tamrel-cli
wine_cli="$PWD/scripts/wine.sh $PWD/$windows_cli"
dir="$work/many-blocks"
rm -rf "$dir" && mkdir -p "$dir"
build-bench/bench/tamrel_command_bench many-block-pair "$dir" long 130000
"$linux_cli" -q unpack "$dir/long.ast"
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN{printf "%.3f\n", b-a}'
}
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
time_of() {  # median seconds of a command, less the median of its --version
  local program=$1; shift
  local base t
  base=$(for _ in $(seq "$runs"); do seconds $program --version; done | median)
  t=$(for _ in $(seq "$runs"); do rm -rf "$dir/out"; seconds $program "$@"; done | median)
  awk -v t="$t" -v b="$base" 'BEGIN{printf "%.3f\n", t-b}'
}
for what in "list --details $dir/long_" "export $dir/long_ --rows 1 -o $dir/out"; do
  # shellcheck disable=SC2086
  l=$(time_of "$linux_cli" $what)
  # shellcheck disable=SC2086
  w=$(time_of "$wine_cli" $(echo "$what" | sed "s|$dir|Z:$dir|g"))
  printf '  %-22s Linux %ss, wine %ss: ratio %s\n' "${what%% $dir*}" "$l" "$w" \
    "$(awk -v a="$w" -v b="$l" 'BEGIN{printf "%.2f", a/(b>0.01?b:0.01)}')"
done
