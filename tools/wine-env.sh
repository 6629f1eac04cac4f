# Sourced by the scripts that run Wine: the prefix, the locale and a display, for 64-bit Wine or,
# with TORVANE_WINE_BITS=32, for 32-bit Wine (the shipped torvane.exe and the 32-bit test build).
# Each has a prefix of its own: a 32-bit prefix must be made by the 32-bit loader, and the 64-bit
# one must keep working where the kernel refuses 32-bit programs.
# The loaders are called directly: Debian's wine wrapper prefers the 32-bit loader when it is
# installed, and that cannot start where the kernel has 32-bit emulation switched off.
torvane_wine_cache="${XDG_CACHE_HOME:-$HOME/.cache}/torvane"
if [ "${TORVANE_WINE_BITS:-64}" = 32 ]; then
  export WINEPREFIX="${TORVANE_WINEPREFIX32:-$torvane_wine_cache/wine32}"
  export WINEARCH=win32
  export WINELOADER=/usr/lib/wine/wine
  export WINESERVER=/usr/lib/wine/wineserver32
else
  export WINEPREFIX="${TORVANE_WINEPREFIX:-$torvane_wine_cache/wine}"
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
fi
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY="${DISPLAY:-:99}"
torvane_wine() { "$WINELOADER" "$@"; }
# Whether 32-bit Windows programs can run here: Wine's 32-bit loader is installed and the kernel
# starts it (tools/install-deps.sh installs it only where the kernel does).
torvane_wine32_runs() { [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; }
# Makes the prefix on first use, once however many programs ask at the same time, and has Wine
# draw frames and captions itself: Xvfb has no window manager, and without this every message box
# waits about two seconds for one to answer before it closes.
torvane_wine_prefix() {
  [ -f "$WINEPREFIX/user.reg" ] && grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    local created=0
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
      created=1
    fi
    if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
      "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >/dev/null 2>&1 || true
    fi
    # A new prefix's server is not persistent: waiting for it to end writes the registry out,
    # and lets a persistent server asked for later (tools/xvfb-start.sh) start at all, as one
    # only starts when none is running.
    if [ "$created" = 1 ]; then "$WINESERVER" -w; fi
  ) 9>"$WINEPREFIX.lock"
}
