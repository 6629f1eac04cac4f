# Sourced by the scripts that run Wine: the prefix, the locale and a display.
# 64-bit Wine is called directly: Debian's wine wrapper prefers the 32-bit loader when it is
# installed, and that cannot start where the kernel has 32-bit emulation switched off.
export WINEPREFIX="${TORVANE_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/torvane/wine}"
export WINEARCH=win64
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY="${DISPLAY:-:99}"
torvane_wine() { "$WINELOADER" "$@"; }
