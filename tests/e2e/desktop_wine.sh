#!/usr/bin/env bash
# The Windows player on a desktop: torvane.exe under Wine, driven through its menu, Wine's own
# Open dialog and clicks, on an X display of its own (run it through with-xvfb.sh). Wine draws
# text with other glyphs, so at every wait the client area is compared with torvane-run's picture
# everywhere but the message panel; the choice under the cursor must still turn red. It takes the
# second choice's branch, with text_show and jmp, which the GTK scenario does not.
#
# Usage: desktop_wine.sh PLAYER_EXE TOOLS_DIR AWAIT_TOOL
#   PLAYER_EXE is torvane.exe beside its demo (a Windows build's tools folder), TOOLS_DIR a
#   Linux build's tools folder (torvane-run and the same demo), AWAIT_TOOL e2e_await_picture.
set -euo pipefail
player=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tools=$(cd "$2" && pwd)
await_tool=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/desktop_lib.sh"
source "$here/demo_schedule.sh"
private_display=$DISPLAY
source "$here/../../tools/wine-env.sh"
export DISPLAY=$private_display

if [ ! -f "$player" ]; then
  echo "SKIP: no Windows build of the player at $1"
  exit 77
fi
if ! "$WINELOADER" --version >/dev/null 2>&1; then
  echo "SKIP: Wine cannot run here"
  exit 77
fi
timeout_seconds=${TORVANE_E2E_TIMEOUT:-40}  # Wine starts and draws more slowly
make_demo_references "$tools/torvane-run" "$tools" "$work" town
convert -size 640x480 xc:black "$work/black.png"

# Wine lets the window manager draw the caption and the frame, and there is none here: the X
# window is the menu bar over the client area, and the window's Windows rectangle is larger by
# the frame on each side and the caption on top.
(cd "$(dirname "$player")" && exec "$WINELOADER" "$player" >"$work/wine.log" 2>&1) &
player_pid=$!
main_window=$(await_window "Torvane ver1.03")
geometry_of "$main_window"
frame=$(((640 - geometry_w) / 2))
caption_and_frame=$((480 - geometry_h - frame))

choose_menu_item 1
dialog=$(await_window "スクリプトファイル読み込み")
geometry_of "$dialog"
# Wine's dialog: the file name field and the Open button, from its bottom-right corner.
xdotool mousemove $((geometry_x + 200)) $((geometry_y + geometry_h - 49)) click 1
story="Z:${player%/*}/demo.spt"
xdotool type --delay 5 "${story//\//\\}"
xdotool mousemove $((geometry_x + geometry_w - 50)) $((geometry_y + geometry_h - 51)) click 1
dialog_gone() { ! window_named "スクリプトファイル読み込み" >/dev/null; }
poll dialog_gone || fail "the Open dialog did not close"

# The client area turns black; the rows above its first black row are the menu bar.
measure_wine_client_offsets() {
  geometry_of "$main_window"
  local column="$work/column.txt" row
  convert x:root -crop "1x${geometry_h}+$((geometry_x + geometry_w / 2))+$geometry_y" -depth 8 \
    txt:- >"$column"
  row=$(awk -F'[,:()]' 'NR > 1 && $4 == 0 && $5 == 0 && $6 == 0 { print $2; exit }' "$column")
  [ -n "$row" ] && [ "$row" -gt 0 ] && [ "$row" -lt 60 ] || return 1
  client_top=$row client_left=0 client_right=0 client_bottom=0
}
poll measure_wine_client_offsets || fail "the client area did not turn black"
await_picture "$work/black.png"

text=(--mask "$text_rect")
click_to() {
  click_client "$neutral_x" "$neutral_y"
  await_picture "$@" "${text[@]}"
}
click_to "$work/step1.png"
[ "$(xdotool getwindowname "$main_window")" = "星見の丘　―　Torvaneデモ" ] ||
  fail "the story's caption was not shown"
click_to "$work/step2.png"
moved() {
  geometry_of "$main_window" &&
    [ "$geometry_x,$geometry_y" = "$((60 + frame)),$((40 + caption_and_frame))" ] &&
    [ "${geometry_w}x$geometry_h" = "$((680 - 2 * frame))x$((580 - caption_and_frame - frame))" ]
}
poll moved || fail "the window was not moved to 60,40 680x580"
click_to "$work/step3.png" --mask "$stars_rect" --mask "$lantern_rect"
click_to "$work/step4.png"
click_to "$work/step5.png"
move_to_client "$choice2_x" "$choice2_y"
await_picture "$work/step6.png" "${text[@]}" --red "56,356,71,16"
click_client "$choice2_x" "$choice2_y"
await_picture "$work/step7.png" "${text[@]}"

# text_show and then jmp wait for a click each with the picture unchanged, and the second wait
# begins one frame after the first ends: a click given in that frame is taken by neither. So the
# click is repeated, seldom enough that a click is never given while one is still in flight,
# until the last message shows.
timeout_seconds_before=$timeout_seconds
timeout_seconds=5
for attempt in $(seq 1 8); do
  click_client "$neutral_x" "$neutral_y"
  if "$await_tool" "$main_window" "$client_top" 0 0 0 "$work/step8.png" "$timeout_seconds" \
    "${text[@]}" 2>/dev/null; then
    break
  fi
  [ "$attempt" -lt 8 ] || fail "the last message never showed"
done
timeout_seconds=$timeout_seconds_before

click_client "$neutral_x" "$neutral_y"
box=$(await_window "END")
geometry_of "$box"
# The box's only button, OK, sits in the middle of its bottom.
xdotool mousemove $((geometry_x + geometry_w / 2)) $((geometry_y + geometry_h - 24)) click 1
await_exit 0
echo "PASS: wine"
