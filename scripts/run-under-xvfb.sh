#!/usr/bin/env bash
# Runs a program on a virtual X display (Xvfb) twice: without a window
# manager, then with openbox; ends every process it started.
# Usage: scripts/run-under-xvfb.sh PROGRAM [ARGUMENT...]
set -euo pipefail

display=":$((200 + RANDOM % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
export DISPLAY=$display QT_QPA_PLATFORM=xcb

echo "== without a window manager"
"$@"
echo "== with openbox"
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$@"
