#!/usr/bin/env bash
# Runs a program on a virtual X display (Xvfb) twice: without a window
# manager, then with openbox, with an audio server of its own that plays
# into a null output; ends every process it started. With --once, runs it
# once, without a window manager (as the Windows tests do: wine manages its
# own windows).
# Usage: scripts/run-under-xvfb.sh [--once] PROGRAM [ARGUMENT...]
set -euo pipefail
once=false
if [ "${1:-}" = --once ]; then
  once=true
  shift
fi

display=":$((200 + RANDOM % 500))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=""
pulse=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  [ -n "$pulse" ] && kill "$pulse" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${PULSE_RUNTIME_PATH:-}" ] && rm -rf "$PULSE_RUNTIME_PATH"
}
trap cleanup EXIT
# An audio server of the run's own whose only output is a null sink, so
# that playing is tested with no sound card; a private runtime folder keeps
# it apart from any server of the user's.
if command -v pulseaudio >/dev/null 2>&1; then
  export PULSE_RUNTIME_PATH
  PULSE_RUNTIME_PATH=$(mktemp -d)
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    -L module-native-protocol-unix -L "module-null-sink sink_name=null" >/dev/null 2>&1 &
  pulse=$!
  for _ in $(seq 50); do
    [ -S "$PULSE_RUNTIME_PATH/native" ] && break
    sleep 0.1
  done
fi
for _ in $(seq 100); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
export DISPLAY=$display
if $once; then
  # No platform named: a Windows program under wine must not be told xcb.
  "$@"
  exit
fi
export QT_QPA_PLATFORM=xcb
echo "== without a window manager"
"$@"
echo "== with openbox"
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
"$@"
