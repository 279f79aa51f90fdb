#!/usr/bin/env bash
# Cross-builds, statically for 64-bit Windows, the libraries the console
# links: libsndfile with FLAC, Ogg Vorbis, Opus and MP3 (libogg, libvorbis,
# flac, opus, mpg123, lame) and libsoxr, from Debian's own source packages
# (fetched with a private apt configuration: the machine's is not changed).
# The result is cached outside the checkout, keyed by the sources' versions,
# the compiler and this script, so a second run on the machine reuses it.
# Prints the prefix the libraries are installed in.
# Usage: scripts/windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
cache=${TAMREL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tamrel-windows}
packages=(libogg flac libvorbis opus mpg123 lame libsndfile libsoxr)
mkdir -p "$cache/apt/etc/parts" "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
echo "deb-src http://deb.debian.org/debian bookworm main" >"$cache/apt/etc/sources.list"
cat >"$cache/apt/apt.conf" <<CONF
Dir::Etc::SourceList "$cache/apt/etc/sources.list";
Dir::Etc::SourceParts "$cache/apt/etc/parts";
Dir::State::Lists "$cache/apt/lists";
Dir::Cache "$cache/apt/cache";
CONF
export APT_CONFIG="$cache/apt/apt.conf"
[ -n "$(ls -A "$cache/apt/lists" 2>/dev/null | grep -v partial)" ] || apt-get update -qq >&2

versions=""
for p in "${packages[@]}"; do
  v=$(apt-cache showsrc "$p" 2>/dev/null | awk '/^Version:/ {print $2; exit}')
  [ -n "$v" ] || { echo "windows-deps: no source package $p" >&2; exit 1; }
  versions+="$p=$v "
done
key=$( (echo "$versions"; x86_64-w64-mingw32-g++-posix --version | head -n 1; cat "$0" cmake/mingw-w64.cmake) |
  sha256sum | cut -c1-16)
prefix="$cache/$key/prefix"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/$key/src"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
cd "$work"
for p in "${packages[@]}"; do
  # Only the source; a missing detached signature must not stop it.
  apt-get source -qq --download-only "$p" >/dev/null 2>&1 || true
  dsc=$(ls "${p}"_*.dsc | head -n 1)
  dpkg-source --no-check -x "$dsc" >/dev/null
done
jobs=$(nproc)
cmake_dep() {  # NAME [CMAKE ARGUMENTS...]
  local dir
  dir=$(ls -d "$1"-*/ | head -n 1)
  shift
  cmake -S "$dir" -B "$dir/build-win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DTAMREL_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_POLICY_DEFAULT_CMP0074=NEW "$@" >/dev/null
  cmake --build "$dir/build-win" -j "$jobs" >/dev/null
  cmake --install "$dir/build-win" >/dev/null
}
configure_dep() {  # NAME [CONFIGURE ARGUMENTS...]
  local dir
  dir=$(ls -d "$1"-*/ | head -n 1)
  shift
  (cd "$dir" && ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --enable-static \
    --disable-shared CC=x86_64-w64-mingw32-gcc-posix "$@" >/dev/null && make -j "$jobs" >/dev/null &&
    make install >/dev/null)
}
cmake_dep libogg -DINSTALL_DOCS=OFF
cmake_dep flac -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
  -DINSTALL_MANPAGES=OFF -DBUILD_CXXLIBS=OFF -DWITH_STACK_PROTECTOR=OFF
cmake_dep libvorbis
configure_dep opus --disable-doc --disable-extra-programs --disable-stack-protector
configure_dep mpg123 --with-cpu=generic --disable-modules --disable-components --enable-libmpg123
configure_dep lame --disable-frontend --disable-gtktest --disable-decoder
cmake_dep libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
  -DENABLE_CPACK=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DINSTALL_MANPAGES=OFF \
  -DENABLE_PACKAGE_CONFIG=ON
cmake_dep libsoxr -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF
touch "$prefix/.complete"
echo "$prefix"
