#!/usr/bin/env bash
# Starts one Xvfb on $DISPLAY (default :99) unless one answers there already, and a warm Wine
# server for the project's prefix. Both are left running for the test run; tools/test-all.sh
# stops them at the end.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
if ! xdpyinfo >/dev/null 2>&1; then
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w
fi
# Xvfb has no window manager; unless Wine manages its windows itself, every message box waits
# about two seconds for one to answer before it closes.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
fi
# A persistent server: without it every program under test pays the server's start-up.
"$WINESERVER" -p >/dev/null 2>&1 || true
"$WINELOADER" cmd /c exit >/dev/null 2>&1 || true
