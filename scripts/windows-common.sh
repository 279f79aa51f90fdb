# Sourced by scripts/windows-deps.sh and scripts/windows-qt.sh: the cache
# folder, the private apt configuration (the machine's own is not changed),
# fetching a source package, and building a part with its log and stamp.
# The sourcing script sets `tool` (its name in messages) before sourcing.

here=$PWD
cache=${TAMREL_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tamrel-windows}
jobs=$(nproc)

# One deb-src line in an apt configuration of our own.
private_apt() {
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
}

# "name=version ..." of the source packages given, or exits when one is missing.
source_versions() {  # PACKAGE...
  local p v out=""
  for p in "$@"; do
    v=$(apt-cache showsrc "$p" 2>/dev/null | awk '/^Version:/ {print $2; exit}')
    [ -n "$v" ] || { echo "$tool: no source package $p" >&2; exit 1; }
    out+="$p=$v "
  done
  echo "$out"
}

# Unpacks a source package into the current folder once.
fetch_source() {  # PACKAGE
  local dsc p=$1
  [ -f ".extracted-$p" ] && return
  # Only the source; a missing detached signature must not stop it.
  apt-get source -qq --download-only "$p" >/dev/null 2>&1 || true
  dsc=$(ls "${p}"_*.dsc | head -n 1)
  dpkg-source --no-check -x "$dsc" >/dev/null 2>&1
  touch ".extracted-$p"
}

# Each part's build talks into its own log, shown only when it fails.
logged() {  # NAME COMMAND...
  local name=$1
  shift
  if ! "$@" >>"$logs/$name.log" 2>&1; then
    echo "$tool: building $name failed; the end of $logs/$name.log:" >&2
    tail -n 40 "$logs/$name.log" >&2
    exit 1
  fi
}
# Each part once: a stamp says it is in the prefix.
built() { [ -f "$prefix/.built-$1" ]; }
stamp() { touch "$prefix/.built-$1"; }
