#!/usr/bin/env bash
# Builds the two Debian packages from a build folder (tamrel-cli: the console
# program alone; tamrel: the window), unpacks them into a scratch root and
# checks that every file stands where the system expects it, that the
# console's package needs no Qt, and that lintian finds no error and no
# warning. Where debootstrap is there, the console's package is also
# installed alone into a clean Debian 12 root, and what it pulled is said.
# Usage: scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

(cd "$build" && rm -f tamrel_*.deb tamrel-cli_*.deb && cpack -G DEB >/dev/null)
cli=$(ls "$build"/tamrel-cli_*_*.deb)
gui=$(ls "$build"/tamrel_*_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$cli" "$root/cli"
dpkg -x "$gui" "$root/gui"

fail() { echo "package check: $*" >&2; exit 1; }
[ -x "$root/cli/usr/bin/tamrel-cli" ] || fail "tamrel-cli is not in $(basename "$cli")"
[ -x "$root/gui/usr/bin/tamrel" ] || fail "tamrel is not in $(basename "$gui")"
[ ! -e "$root/cli/usr/bin/tamrel" ] || fail "the window is in the console's package"
for f in usr/share/man/man1/tamrel-cli.1.gz \
         usr/share/bash-completion/completions/tamrel-cli \
         usr/share/doc/tamrel-cli/copyright usr/share/doc/tamrel-cli/changelog.gz; do
  [ -s "$root/cli/$f" ] || fail "$f is missing from $(basename "$cli")"
done
for f in usr/share/applications/tamrel.desktop \
         usr/share/mime/packages/tamrel.xml \
         usr/share/icons/hicolor/scalable/apps/tamrel.svg \
         usr/share/icons/hicolor/16x16/apps/tamrel.png \
         usr/share/icons/hicolor/48x48/apps/tamrel.png \
         usr/share/icons/hicolor/256x256/apps/tamrel.png \
         usr/share/man/man1/tamrel.1.gz \
         usr/share/doc/tamrel/README.md \
         usr/share/doc/tamrel/copyright usr/share/doc/tamrel/changelog.gz; do
  [ -s "$root/gui/$f" ] || fail "$f is missing from $(basename "$gui")"
done
desktop="$root/gui/usr/share/applications/tamrel.desktop"
grep -qx 'Exec=tamrel %f' "$desktop" || fail "the desktop entry does not start tamrel with the file"
grep -q '^MimeType=.*application/x-tamrel-stream-archive' "$desktop" ||
  fail "the desktop entry does not open stream archives"
grep -q 'type="application/x-tamrel-stream-archive"' "$root/gui/usr/share/mime/packages/tamrel.xml" ||
  fail "the MIME types of a pair are not described"
grep -qx 'Icon=tamrel' "$desktop" || fail "the desktop entry does not name the icon"
grep -qx 'Type=Application' "$desktop" || fail "the desktop entry is no application"
file "$root/gui/usr/share/icons/hicolor/48x48/apps/tamrel.png" | grep -q '48 x 48' ||
  fail "the 48-pixel icon is not 48 pixels"
for page in cli/usr/share/man/man1/tamrel-cli.1.gz gui/usr/share/man/man1/tamrel.1.gz; do
  zcat "$root/$page" | groff -man -Tutf8 -ww 2>&1 >/dev/null | grep . &&
    fail "the manual page $(basename "$page") does not render cleanly"
done

depends=$(dpkg-deb -f "$cli" Depends)
for d in libsndfile1 libsoxr0 libmpg123-0 libtwolame0 libmp3lame0; do
  grep -q "$d" <<<"$depends" || fail "the console's package does not depend on $d"
done
grep -q 'qt' <<<"$depends" && fail "the console's package depends on Qt: $depends"
depends=$(dpkg-deb -f "$gui" Depends)
version=$(dpkg-deb -f "$gui" Version)
for d in "tamrel-cli (= $version)" fonts-wine libqt6multimedia6; do
  grep -qF "$d" <<<"$depends" || fail "the window's package does not depend on $d"
done
said=$("$root/cli/usr/bin/tamrel-cli" --version)
[ "$said" = "tamrel-cli $version" ] || fail "--version says '$said'"

# lintian as a Debian reviewer runs it: every error and warning fails.
if command -v lintian >/dev/null; then
  report=$(lintian -EvIL +pedantic --tag-display-limit 0 "$cli" "$gui" 2>&1 | grep -v '^N:' |
    grep -v 'running with root privileges' || true)
  [ -n "$report" ] && echo "$report"
  grep -q '^[EW]: ' <<<"$report" && fail "lintian finds errors or warnings"
else
  fail "lintian is missing (scripts/install-deps.sh installs it)"
fi
echo "package check: $(basename "$cli") and $(basename "$gui") hold what they should; lintian finds no error or warning"

# The console's package alone on a bare Debian 12: what it pulls.
if command -v debootstrap >/dev/null && [ "$(id -u)" -eq 0 ]; then
  bare="$root/bare"
  debootstrap --variant=minbase bookworm "$bare" http://deb.debian.org/debian >"$root/debootstrap.log" 2>&1 ||
    fail "debootstrap failed: $(tail -3 "$root/debootstrap.log")"
  cp "$cli" "$bare/tmp/"
  before=$(chroot "$bare" dpkg-query -W -f='${Installed-Size}\n' | awk '{s += $1} END {print s}')
  count=$(chroot "$bare" dpkg-query -W | wc -l)
  chroot "$bare" apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$cli")" \
    >"$root/install.log" 2>&1 || fail "the console's package does not install: $(tail -5 "$root/install.log")"
  chroot "$bare" tamrel-cli --version >/dev/null || fail "tamrel-cli does not start on a bare system"
  after=$(chroot "$bare" dpkg-query -W -f='${Installed-Size}\n' | awk '{s += $1} END {print s}')
  pulled=$(( $(chroot "$bare" dpkg-query -W | wc -l) - count ))
  echo "package check: on a bare Debian 12, $(basename "$cli") pulls $pulled packages," \
    "$(( (after - before) / 1024 )) MB installed"
else
  echo "package check: debootstrap (and root) not here; the console's package was not installed on a bare system"
fi
