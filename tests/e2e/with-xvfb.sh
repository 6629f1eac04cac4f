#!/usr/bin/env bash
# Runs a command on an X display of its own: a private Xvfb with no window manager, so that
# desktop tests meet neither each other's windows, pointer and focus nor anybody's desktop.
# Usage: with-xvfb.sh command [arguments...]; the command's exit status is returned.
# TORVANE_XVFB_SCREEN gives the screen's size (1024x768 unless told).
set -u
number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${TORVANE_XVFB_SCREEN:-1024x768}x24" -nolisten tcp -noreset \
  3>"$number_file" >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$number_file"; }
trap cleanup EXIT
for _ in $(seq 1 100); do
  [ -s "$number_file" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s "$number_file" ] || { echo "with-xvfb: Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$number_file")"
unset WAYLAND_DISPLAY
"$@"
