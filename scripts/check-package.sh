#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch
# root and checks that both programs, the desktop entry, the icons and the
# manual page stand where the desktop expects them.
# Usage: scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

(cd "$build" && rm -f tamrel_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tamrel_*_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

fail() { echo "package check: $*" >&2; exit 1; }
for f in usr/bin/tamrel usr/bin/tamrel-cli; do
  [ -x "$root/$f" ] || fail "$f is missing or not executable"
done
for f in usr/share/applications/tamrel.desktop \
         usr/share/mime/packages/tamrel.xml \
         usr/share/icons/hicolor/scalable/apps/tamrel.svg \
         usr/share/icons/hicolor/16x16/apps/tamrel.png \
         usr/share/icons/hicolor/48x48/apps/tamrel.png \
         usr/share/icons/hicolor/256x256/apps/tamrel.png \
         usr/share/man/man1/tamrel-cli.1; do
  [ -s "$root/$f" ] || fail "$f is missing"
done
desktop="$root/usr/share/applications/tamrel.desktop"
grep -qx 'Exec=tamrel %f' "$desktop" || fail "the desktop entry does not start tamrel with the file"
grep -q '^MimeType=.*application/x-tamrel-stream-archive' "$desktop" ||
  fail "the desktop entry does not open stream archives"
grep -q 'type="application/x-tamrel-stream-archive"' "$root/usr/share/mime/packages/tamrel.xml" ||
  fail "the MIME types of a pair are not described"
grep -qx 'Icon=tamrel' "$desktop" || fail "the desktop entry does not name the icon"
grep -qx 'Type=Application' "$desktop" || fail "the desktop entry is no application"
file "$root/usr/share/icons/hicolor/48x48/apps/tamrel.png" | grep -q '48 x 48' ||
  fail "the 48-pixel icon is not 48 pixels"
groff -man -Tutf8 -ww "$root/usr/share/man/man1/tamrel-cli.1" 2>&1 >/dev/null | grep . &&
  fail "the manual page does not render cleanly"
depends=$(dpkg-deb -f "$deb" Depends)
for d in fonts-wine libsndfile1 libsoxr0 libmpg123-0 libtwolame0 libmp3lame0 libqt6multimedia6; do
  grep -q "$d" <<<"$depends" || fail "the package does not depend on $d"
done
version=$("$root/usr/bin/tamrel-cli" --version)
[ "$version" = "tamrel-cli $(dpkg-deb -f "$deb" Version)" ] || fail "--version says '$version'"
echo "package check: $(basename "$deb") holds both programs, the desktop entry, the icons and the manual page"
