#!/usr/bin/env bash
# Installs what is missing, builds everything (Linux, sanitizers, Windows, fuzz targets) and runs
# every test. The README's second command and .ci/run call this and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)

bash tools/install-deps.sh
jobs=$(nproc)

source tools/wine-env.sh
bash tools/xvfb-start.sh
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

status=0
for preset in linux sanitize windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

for preset in linux sanitize windows; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 900 || status=1
done

echo "== fuzzing the compiler for 60 seconds"
bash tools/fuzz.sh 60 || status=1

exit $status
