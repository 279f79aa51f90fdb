#!/usr/bin/env bash
# Times Unpack and Pack (the real command code, with a window that does
# nothing) against the same I/O done the plainest way, and Unpack through the
# main window offscreen; runs alternate, and each ratio is one of medians.
# Also prints the commands' peak memory.
# Usage: bench/unpack_pack.sh [WORK_DIR] [RUNS] [SCENARIO...]
# (scenarios: s20k s20k-small s100k; all when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/tamrel-bench}
runs=${2:-5}
shift $(( $# < 2 ? $# : 2 ))
wanted=("$@")

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMREL_GUI=ON -DTAMREL_TESTS=OFF >/dev/null
cmake --build build-bench --target tamrel_command_bench tamrel_window_bench >/dev/null
bench=$PWD/build-bench/bench/tamrel_command_bench
window_bench=$PWD/build-bench/bench/tamrel_window_bench
export QT_QPA_PLATFORM=offscreen

mkdir -p "$work"
# Creating files soon after deleting many is slow on these file systems, so
# old outputs are moved aside and removed only at the very end.
aside="$work/aside.$$"
mkdir -p "$aside"
trap 'rm -rf "$aside"' EXIT
n=0
move_aside() {
  for p in "$@"; do
    if [ -e "$p" ]; then mv "$p" "$aside/$n"; n=$((n + 1)); fi
  done
}

# "seconds peak-KiB" of one command. Each run starts once the previous run's
# writes have reached the disk, so that no run pays for another's.
measure() {
  sync
  /usr/bin/time -f "%e %M" -o "$work/time.one" "$@" >/dev/null
  cat "$work/time.one"
}
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }

scenario() {
  local label=$1 streams=$2 mib=$3 bank_kib=$4
  if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $label "* ]]; then return; fi
  local dir="$work/$label"
  move_aside "$dir"
  mkdir -p "$dir"
  "$bench" make-pair "$dir" pair "$streams" "$mib" "$bank_kib" >/dev/null
  local t m peak_unpack=0 peak_pack=0
  for run in $(seq "$runs"); do
    move_aside "$dir/plain" "$dir/pair_"
    mkdir "$dir/plain"
    read -r t m < <(measure "$bench" plain-unpack "$dir/pair.ast" "$dir/pair.offsets" "$dir/plain")
    echo "$t" >>"$dir/plain.times"

    move_aside "$dir/pair_"
    read -r t m < <(measure "$window_bench" unpack "$dir/pair.ast")
    echo "$t" >>"$dir/window.times"

    move_aside "$dir/pair_"
    read -r t m < <(measure "$bench" unpack "$dir/pair.ast")
    echo "$t" >>"$dir/unpack.times"
    peak_unpack=$m

    # Pack against cat of the stream files in table order, then sync of that file.
    find "$dir/pair_" -name '*.asf' | sort >"$dir/list"
    move_aside "$dir/cat.out"
    read -r t m < <(measure sh -c "xargs cat <'$dir/list' >'$dir/cat.out' && sync '$dir/cat.out'")
    echo "$t" >>"$dir/cat.times"
    move_aside "$dir/pair_.ast" "$dir/pair_.abk"
    read -r t m < <(measure "$bench" pack "$dir/pair_")
    echo "$t" >>"$dir/pack.times"
    peak_pack=$m
  done
  cmp -s "$dir/pair.ast" "$dir/pair_.ast" || { echo "$label: the packed archive differs from the original" >&2; exit 1; }
  cmp -s "$dir/pair.abk" "$dir/pair_.abk" || { echo "$label: the packed bank differs from the original" >&2; exit 1; }

  # Every stream grown by one byte: each Pack starts from the same table file
  # and bank image, so that every run moves every stream.
  "$bench" grow-all "$dir/pair_"
  cp "$dir/pair_/pair_.tba" "$dir/grown.tba"
  cp "$dir/pair_/pair_.ida" "$dir/grown.ida"
  local peak_grown=0
  for run in $(seq "$runs"); do
    move_aside "$dir/cat.out"
    read -r t m < <(measure sh -c "xargs cat <'$dir/list' >'$dir/cat.out' && sync '$dir/cat.out'")
    echo "$t" >>"$dir/grown-cat.times"
    cp "$dir/grown.tba" "$dir/pair_/pair_.tba"
    cp "$dir/grown.ida" "$dir/pair_/pair_.ida"
    move_aside "$dir/pair_.ast" "$dir/pair_.abk"
    read -r t m < <(measure "$bench" pack "$dir/pair_")
    echo "$t" >>"$dir/grown-pack.times"
    peak_grown=$m
  done
  local u p w k c
  u=$(median <"$dir/unpack.times"); p=$(median <"$dir/plain.times"); w=$(median <"$dir/window.times")
  k=$(median <"$dir/pack.times"); c=$(median <"$dir/cat.times")
  printf '%s: %s streams, %s MiB archive, %s KiB bank, median of %s runs\n' "$label" "$streams" "$mib" "$bank_kib" "$runs"
  printf "  unpack %ss, plain read + write + sync %ss: ratio %s\n" "$u" "$p" "$(ratio "$u" "$p")"
  printf '  unpack through the window %ss: ratio to the console %s\n' "$w" "$(ratio "$w" "$u")"
  printf '  pack %ss, cat + sync %ss: ratio %s\n' "$k" "$c" "$(ratio "$k" "$c")"
  local g gc
  g=$(median <"$dir/grown-pack.times"); gc=$(median <"$dir/grown-cat.times")
  printf '  pack with every stream grown %ss, cat + sync %ss: ratio %s\n' "$g" "$gc" "$(ratio "$g" "$gc")"
  printf '  peak memory: unpack %s MiB, pack %s MiB, pack with every stream grown %s MiB\n' \
    "$((peak_unpack / 1024))" "$((peak_pack / 1024))" "$((peak_grown / 1024))"
}

scenario s20k 20000 512 2048
scenario s20k-small 20000 40 2048
scenario s100k 100000 100 2048
