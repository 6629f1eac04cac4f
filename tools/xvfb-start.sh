#!/usr/bin/env bash
# Starts one Xvfb on $DISPLAY (default :99) unless one answers there already, and a warm Wine
# server for each of the project's prefixes that can run here (64-bit, and 32-bit where the
# kernel starts 32-bit programs). All are left running for the test run; tools/test-all.sh stops
# them at the end.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for bits in 64 32; do
  export TORVANE_WINE_BITS=$bits
  source "$here/wine-env.sh"
  if [ "$bits" = 64 ] && ! xdpyinfo >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
  if [ "$bits" = 32 ] && ! torvane_wine32_runs; then
    continue
  fi
  torvane_wine_prefix
  # A persistent server: without it every program under test pays the server's start-up.
  "$WINESERVER" -p >/dev/null 2>&1 || true
  "$WINELOADER" cmd /c exit >/dev/null 2>&1 || true
done
