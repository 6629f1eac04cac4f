#!/bin/bash
# Plays the end-to-end story with torvane-run twice and checks the outputs: the two runs must be
# byte-identical, the log must equal the expected one byte for byte and every PNG must have the
# expected pixels. TORVANE_UPDATE_EXPECTED=1 writes the outputs as the new expected files.
# usage: run_story.sh TOOL RUNNER STORY EXPECTED_DIR WORK_DIR EXIT_STATUS [torvane-run options]
set -u
tool=$1 runner=$2 story=$3 expected=$4 work=$5 status=$6
shift 6

rm -rf "$work"
mkdir -p "$work/assets" "$work/first" "$work/second"
# The script as the player reads scripts: CP932 with CR LF.
iconv -f UTF-8 -t CP932 "$story" | sed 's/$/\r/' >"$work/assets/story.spt" &&
  "$tool" assets "$work/assets" || exit 1
for run in first second; do
  (cd "$work/$run" && "$runner" --base "$work/assets" --log log.jsonl "$@" "$work/assets/story.spt")
  got=$?
  if [ "$got" -ne "$status" ]; then
    echo "torvane-run ended with $got, expected $status"
    exit 1
  fi
done
if ! diff -r "$work/first" "$work/second" > /dev/null; then
  echo "two runs of the same command line differ:"
  diff -r "$work/first" "$work/second" | head -20
  exit 1
fi

if [ -n "${TORVANE_UPDATE_EXPECTED:-}" ]; then
  rm -rf "$expected"
  mkdir -p "$expected"
  cp "$work/first"/* "$expected"/
  echo "expected files written to $expected"
  exit 0
fi

failed=0
got_names=$(cd "$work/first" && ls | sort)
want_names=$(cd "$expected" && ls | sort)
if [ "$got_names" != "$want_names" ]; then
  echo "outputs differ: got [$got_names], expected [$want_names]"
  failed=1
fi
for file in "$expected"/*; do
  name=$(basename "$file")
  case "$name" in
    *.png) "$tool" compare "$file" "$work/first/$name" || failed=1 ;;
    *)
      if ! cmp -s "$file" "$work/first/$name"; then
        echo "$name differs from the expected one:"
        diff -u "$file" "$work/first/$name"
        failed=1
      fi
      ;;
  esac
done
[ "$failed" -eq 0 ] && echo "outputs as expected"
exit "$failed"
