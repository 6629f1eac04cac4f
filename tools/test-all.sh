#!/usr/bin/env bash
# Installs what is missing, builds everything (Linux, sanitizers, 32-bit and 64-bit Windows, the
# fuzz targets) and runs every test. The README's second command and .ci/run call this alone.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
jobs=$(nproc)

source tools/wine-env.sh
bash tools/xvfb-start.sh
cleanup() { "$WINESERVER" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

for preset in linux sanitize windows win64 fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in linux sanitize win64; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 900 || status=1
done

echo "== fuzzing every target for 30 seconds each"
bash tools/fuzz.sh 30 || status=1

exit $status
