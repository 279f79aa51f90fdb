#!/usr/bin/env bash
# Starts the program under a virtual display, waits until its window shows,
# saves a screenshot and ends every process it started.
# Usage: scripts/screenshot.sh [--wm] [--help-dialog | --unpack FILE] OUT.png
#   --wm           runs the openbox window manager, which draws frames and title bars
#   --help-dialog  presses "Help / Support" first, as a user would, and shows its dialog
#   --unpack FILE  unpacks FILE through the window first (its work folder is written)
set -euo pipefail
cd "$(dirname "$0")/.."

help_dialog=0
unpack=""
wm=0
if [ "${1:-}" = "--wm" ]; then
  wm=1
  shift
fi
if [ "${1:-}" = "--help-dialog" ]; then
  help_dialog=1
  shift
elif [ "${1:-}" = "--unpack" ] && [ $# -ge 2 ]; then
  unpack=$(realpath -m "$2")
  shift 2
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 [--wm] [--help-dialog | --unpack FILE] OUT.png" >&2
  exit 2
fi
out=$(realpath -m "$1")

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tamrel >/dev/null

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
wm_pid=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 50); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

if [ "$wm" = 1 ]; then
  DISPLAY=$display openbox >/dev/null 2>&1 &
  wm_pid=$!
  sleep 1
fi

DISPLAY=$display QT_QPA_PLATFORM=xcb build/app/tamrel &
app=$!

# Wait for the main window to be mapped, then give it a moment to paint.
for _ in $(seq 100); do
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q 'Tamrel Ast-Abk Packer/Unpacker'; then
    break
  fi
  sleep 0.1
done
sleep "${SCREENSHOT_DELAY:-1}"
# Clicks go to the main window's own coordinates, wherever a window manager put it.
window=$(DISPLAY=$display xdotool search --name 'Tamrel Ast-Abk Packer/Unpacker' | head -n 1)
if [ -n "$unpack" ]; then
  # "Unpack" is the first button; the file dialog takes the typed path, and
  # Return closes the box that reports the result (set SCREENSHOT_BOX=1 to
  # take the picture with the box open).
  DISPLAY=$display xdotool mousemove --window "$window" $((8 + 11)) 13 click 1
  sleep 1
  DISPLAY=$display xdotool type --delay 10 "$unpack"
  DISPLAY=$display xdotool key Return
  sleep 2
  if [ "${SCREENSHOT_BOX:-0}" != 1 ]; then
    DISPLAY=$display xdotool key Return
    sleep 1
  fi
fi
if [ "$help_dialog" = 1 ]; then
  # "Help / Support" is the third button.
  DISPLAY=$display xdotool mousemove --window "$window" $((8 + 2 * 31 + 11)) 13 click 1
  sleep 1
fi
DISPLAY=$display import -window root "$out"
echo "$out"
