#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for SECONDS seconds each (default 30):
#   tools/fuzz.sh [SECONDS] [TARGET...]
# Builds nothing (cmake --preset fuzz && cmake --build --preset fuzz). A target fuzz_X starts
# from its seed corpus fuzz/corpus/fuzz_X/ (when there is one) and takes its own flags from
# fuzz/fuzz_X.options (one line of flags that override the defaults below, e.g. its memory
# limit or input size). New inputs go to build/fuzz/corpus/fuzz_X, findings to
# build/fuzz/findings/fuzz_X-*; any finding makes the script exit non-zero after the other
# targets ran.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
build=${TORVANE_FUZZ_BUILD:-build/fuzz}  # another build directory of the fuzz preset's kind
# A small quarantine keeps freed memory from counting against the targets' memory limits.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1}
export SDL_AUDIODRIVER=dummy
# What system libraries keep for the life of the process (SDL's D-Bus connection among them) is
# no finding of ours; the test suites leave out the same.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for binary in "$build"/fuzz/fuzz_*; do
    [ -x "$binary" ] && [ -f "$binary" ] && targets+=("$(basename "$binary")")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz.sh: no targets in $build/fuzz; build them with: cmake --preset fuzz && cmake --build --preset fuzz" >&2
  exit 1
fi

findings=$build/findings
mkdir -p "$findings"
status=0
for target in "${targets[@]}"; do
  binary=$build/fuzz/$target
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
  # Defaults: inputs up to 64 KiB, 10 s for one input, 256 MB of memory.
  options=(-max_len=65536 -timeout=10 -rss_limit_mb=256)
  if [ -f "fuzz/$target.options" ]; then
    read -r -a extra < "fuzz/$target.options"
    options+=("${extra[@]}")
  fi
  echo "== fuzzing $target for $seconds s (${options[*]})"
  if ! "$binary" "$corpus" "${seeds[@]}" "${options[@]}" -max_total_time="$seconds" \
      -artifact_prefix="$findings/$target-" -print_final_stats=1 2>&1 | tail -n 60; then
    echo "fuzz.sh: $target found a fault; its input is in $findings/" >&2
    status=1
  fi
done
exit $status
