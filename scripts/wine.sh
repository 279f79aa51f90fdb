#!/usr/bin/env bash
# Runs a Windows program under wine, quietly and in the project's own wine
# prefix (the user's ~/.wine is not touched). Used as CMake's emulator for
# the Windows build's tests.
export WINEDEBUG=-all
export WINEPREFIX=${TAMREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tamrel-windows/wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
