#!/usr/bin/env bash
# Builds the program in Release and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMREL_TESTS=OFF -DTAMREL_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be shown." >&2
  echo "The program is built: build-release/app/tamrel. Start it on a desktop, or see it with scripts/screenshot.sh OUT.png." >&2
  if [ -x build-release/cli/tamrel-cli ]; then
    echo "Without a display, the command-line program does the same work: build-release/cli/tamrel-cli --help" >&2
  fi
  exit 1
fi
exec build-release/app/tamrel "$@"
