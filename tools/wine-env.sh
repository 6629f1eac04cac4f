# Sourced by the scripts that run Wine: the prefix, the locale and a display.
export WINEPREFIX="${TORVANE_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/torvane/wine}"
export WINEARCH=win64
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY="${DISPLAY:-:99}"
