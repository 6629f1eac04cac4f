#!/usr/bin/env bash
# Fuzzes the script compiler for SECONDS seconds with the libFuzzer target built by the fuzz
# preset (cmake --preset fuzz && cmake --build --preset fuzz). Builds nothing. The corpus grows
# under build/fuzz/corpus/compiler, seeded with the compiler's test scripts; a finding is written
# to build/fuzz/findings/ and makes the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${TORVANE_FUZZ_BUILD:-build/fuzz}  # another build directory of the fuzz preset's kind
target=$build/fuzz/fuzz_compiler  # the targets are built in the build's fuzz/ folder
[ -x "$target" ] || target=$build/fuzz_compiler
if [ ! -x "$target" ]; then
  echo "fuzz.sh: $target is missing; build it with: cmake --preset fuzz && cmake --build --preset fuzz" >&2
  exit 1
fi

corpus=$build/corpus/compiler
findings=$build/findings
mkdir -p "$corpus" "$findings"

# Lines of a million bytes and 100 MB files are tested by the suite; here inputs stay up to
# 64 KiB so that lines of several 254-byte pieces are searched without slowing every run.
"$target" "$corpus" tests/data/compiler \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$findings/" -print_final_stats=1
