#!/usr/bin/env bash
# Installs, only when missing, every Debian package that building, testing and
# running the program need. Quiet when everything is there already.
# With "windows", what cross-building and testing the Windows programs
# needs as well.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  fonts-wine xvfb xauth x11-utils xdotool imagemagick openbox pulseaudio
  clang libclang-rt-14-dev
  ffmpeg espeak-ng libsndfile1-dev libogg-dev libsoxr-dev libmpg123-dev libtwolame-dev libmp3lame-dev qt6-multimedia-dev dpkg-dev file groff-base
  nlohmann-json3-dev lintian
)
if [ "${1:-}" = windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 make dpkg-dev unzip)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
