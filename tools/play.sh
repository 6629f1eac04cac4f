#!/usr/bin/env bash
# Installs what is missing, builds the Linux player with its demo story and starts it with the
# demo (build/linux/tools/demo.spt, beside the player) open.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target torvane demo -j "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "play: built build/linux/tools/torvane; start it on a desktop (no display here)" >&2
  exit 1
fi
echo "play: starting the player with the demo story; click in the window to begin"
exec build/linux/tools/torvane build/linux/tools/demo.spt
