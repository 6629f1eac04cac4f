#!/usr/bin/env bash
# Installs what is missing, builds everything (Linux, sanitizers, 32-bit and 64-bit Windows, the
# fuzz targets) and runs every test. The README's second command and .ci/run call this alone.
# The Windows suites and the desktop test run once under Wine: as the shipped 32-bit build where
# the kernel starts 32-bit programs, else as the 64-bit build of the same sources. Running both
# would double the Wine time for what the 32-bit run already shows.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
jobs=$(nproc)

source tools/wine-env.sh
if torvane_wine32_runs; then
  windows_tests=windows
  echo "== Windows suites and desktop test: 32-bit (the shipped build) under 32-bit Wine"
else
  windows_tests=win64
  echo "== Windows suites and desktop test: 64-bit build, as this machine cannot start 32-bit programs (no 32-bit Wine, or the kernel's 32-bit emulation is off)"
fi
bash tools/xvfb-start.sh
cleanup() {
  local bits
  for bits in 64 32; do
    (export TORVANE_WINE_BITS=$bits; source tools/wine-env.sh; "$WINESERVER" -k >/dev/null 2>&1) || true
  done
}
trap cleanup EXIT

for preset in linux sanitize windows win64 fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  if [ "$preset" = win64 ] && [ "$windows_tests" = windows ]; then
    # Its suites repeat the 32-bit ones: only the player is built, so that the 64-bit build
    # that stands in on other machines keeps compiling.
    cmake --build --preset "$preset" -j "$jobs" --target torvane
  else
    cmake --build --preset "$preset" -j "$jobs"
  fi
done

status=0
for preset in linux sanitize "$windows_tests"; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" || status=1
done

echo "== fuzzing every target for 30 seconds each"
bash tools/fuzz.sh 30 || status=1

exit $status
