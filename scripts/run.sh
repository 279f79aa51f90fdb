#!/usr/bin/env bash
# Builds the program and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ ! -x build/app/tamrel ]; then
  echo "The core library and its tests are built; the window (build/app/tamrel) does not exist yet, so there is nothing to start." >&2
  exit 1
fi
exec build/app/tamrel "$@"
