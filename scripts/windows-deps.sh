#!/usr/bin/env bash
# Cross-builds, statically for 64-bit Windows, the libraries the console
# links: libsndfile with FLAC, Ogg Vorbis, Opus and MP3 (libogg, libvorbis,
# flac, opus, mpg123, lame), libsoxr, and for the streams' MPEG audio
# libmpg123, libtwolame and libmp3lame, from Debian's own source packages
# (fetched with a private apt configuration: the machine's is not changed).
# The result is cached outside the checkout, keyed by the sources' versions
# and the compiler, each library with its own stamp, so a second run on the
# machine reuses it (remove the cache folder to build everything anew).
# Prints the prefix the libraries are installed in.
# Usage: scripts/windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."
tool=windows-deps
source scripts/windows-common.sh
packages=(libogg flac libvorbis opus mpg123 lame twolame libsndfile libsoxr)
private_apt
versions=$(source_versions "${packages[@]}")
key=$( (echo "$versions"; x86_64-w64-mingw32-g++-posix --version | head -n 1) | sha256sum | cut -c1-16)
prefix="$cache/$key/prefix"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/$key/src"
logs="$cache/$key/log"
mkdir -p "$work" "$prefix" "$logs"
cd "$work"
for p in "${packages[@]}"; do
  ls -d "$p"-*/ >/dev/null 2>&1 || fetch_source "$p"
done
cmake_dep() {  # NAME [CMAKE ARGUMENTS...]
  local dir name=$1
  built "$name" && return
  dir=$(ls -d "$name"-*/ 2>/dev/null | head -n 1 || true)
  [ -n "$dir" ] || dir=$name/
  shift
  logged "$name" cmake -S "$dir" -B "$dir/build-win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DTAMREL_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_POLICY_DEFAULT_CMP0074=NEW "$@"
  logged "$name" cmake --build "$dir/build-win" -j "$jobs"
  logged "$name" cmake --install "$dir/build-win"
  stamp "$name"
}
configure_dep() {  # NAME [CONFIGURE ARGUMENTS...]
  local dir name=$1
  built "$name" && return
  dir=$(ls -d "$name"-*/ | head -n 1)
  shift
  (
    cd "$dir"
    logged "$name" ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --enable-static \
      --disable-shared CC=x86_64-w64-mingw32-gcc-posix "$@"
    logged "$name" make -j "$jobs"
    logged "$name" make install
  )
  stamp "$name"
}
cmake_dep libogg -DINSTALL_DOCS=OFF
cmake_dep flac -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
  -DINSTALL_MANPAGES=OFF -DBUILD_CXXLIBS=OFF -DWITH_STACK_PROTECTOR=OFF
cmake_dep libvorbis
configure_dep opus --disable-doc --disable-extra-programs --disable-stack-protector \
  CPPFLAGS=-D_FORTIFY_SOURCE=0  # fortified calls would need libssp
configure_dep mpg123 --with-cpu=generic --disable-modules --disable-components --enable-libmpg123
configure_dep lame --disable-frontend --disable-gtktest --disable-decoder
configure_dep twolame --disable-sndfile
cmake_dep libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
  -DENABLE_CPACK=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DINSTALL_MANPAGES=OFF \
  -DENABLE_PACKAGE_CONFIG=ON -DCMAKE_C_FLAGS="-DFLAC__NO_DLL"
cmake_dep libsoxr -DBUILD_TESTS=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF
# libsoxr describes itself for pkg-config everywhere but on Windows.
cat >"$prefix/lib/pkgconfig/soxr.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: soxr
Description: High quality, one-dimensional sample-rate conversion library
Version: 0.1.3
Libs: -L\${libdir} -lsoxr
Cflags: -I\${includedir}
PC
# GoogleTest for the tests, from the machine's own sources.
if ! built googletest; then
  rm -rf googletest && cp -r /usr/src/googletest googletest
  cmake_dep googletest -Dgtest_disable_pthreads=OFF
fi
touch "$prefix/.complete"
echo "$prefix"
