#!/usr/bin/env bash
# The demo story, headless: it uses every command, compiles without a message, and torvane-run
# plays both branches to the end message with the caption, icon, window move and sounds that the
# story asks for, and no error message on the way.
# Usage: demo_check.sh TOOLS_DIR (holding torvane-run, torvane-check and the demo)
set -euo pipefail
tools=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
source "$here/demo_schedule.sh"

# Shift-JIS with CR LF, as scripts written on Windows are.
iconv -f CP932 -t UTF-8 "$tools/demo.spt" >"$work/demo.txt" || fail "demo.spt is not CP932"
[ "$(grep -c $'\r$' "$work/demo.txt")" -eq "$(wc -l <"$work/demo.txt")" ] ||
  fail "a line of demo.spt does not end in CR LF"
for command in change_window_caption script_start script_end bitmap_load bitmap_delete \
  bitmap_show bitmap_hide se_load se_delete se_play se_stop bgm_load bgm_delete bgm_play \
  bgm_stop text_show text_clear menu msg_window_open msg_window_close if jmp \
  change_window_icon change_text_color set_text_pos anim_play anim_stop change_window_size \
  anim_hide; do
  grep -qE "^$command( |$(printf '\r')\$)" "$work/demo.txt" || fail "the demo does not use $command"
done

(cd "$tools" && ./torvane-check demo.spt) || fail "torvane-check finds fault with the demo"

expect() {
  grep -qF "$2" "$1" || fail "$(basename "$1"): no $2"
}
for branch in forest town; do
  mkdir -p "$work/$branch"
  make_demo_references "$tools/torvane-run" "$tools" "$work/$branch" "$branch"
  log="$work/$branch/reference.log"
  expect "$log" '"event":"title","text":"星見の丘　―　Torvaneデモ"'
  expect "$log" '"event":"icon","set":true'
  expect "$log" '"event":"move","x":60,"y":40,"width":680,"height":580'
  expect "$log" '"event":"sound","action":"loop"'
  expect "$log" '"event":"sound","action":"once"'
  expect "$log" '"event":"sound","action":"stop"'
  expect "$log" '"event":"messagebox","caption":"END"'
  expect "$log" '"event":"close"'
  [ "$(grep -c '"event":"messagebox"' "$log")" -eq 1 ] || fail "$branch: a message box besides the end"
  for step in 1 2 3 4 5 6 7 8; do
    [ -s "$work/$branch/step$step.png" ] || fail "$branch: no picture of step $step"
  done
done
# The branches part at the choice: the same pictures before it, different ones after.
cmp -s "$work/forest/step5.png" "$work/town/step5.png" || fail "the menus differ"
cmp -s "$work/forest/step7.png" "$work/town/step7.png" && fail "both choices lead to one scene"

# Without --frames, torvane-run stops a story that waits for what no scheduled event gives, with
# status 4 and where it waits. Each case: the script's lines (| between them), the clicks given,
# what the message must say.
while IFS=';' read -r lines clicks says; do
  IFS='|' read -ra script <<<"$lines"
  printf '%s\r\n' "${script[@]}" >"$work/stall.spt"
  status=0
  # shellcheck disable=SC2086 # the options are words
  (cd "$work" && "$tools/torvane-run" $clicks stall.spt 2>stall.txt) || status=$?
  [ "$status" -eq 4 ] || fail "$lines: torvane-run ended with $status, not 4"
  grep -qF "$says" "$work/stall.txt" || fail "$lines: '$says' not in: $(cat "$work/stall.txt")"
done <<'CASES'
script_start|Hello|script_end;;waits for its first click
script_start|Hello|script_end;--click 1;frame 2 the story waits for a click at line 2 of
script_start|Hello|script_end;--click 1 --png 9:x.png;frame 9 the story waits for a click at line 2
script_start|menu A B|if 0 0 1 $x|$x|script_end;--click 1;waits for a choice at line 3
script_start|Hello|jmp $x|$x|script_end;--click 1 --click 4;waits for a click at line 3
script_start;--click 1;run past its last line
CASES
echo "PASS: demo"
