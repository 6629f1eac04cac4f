#!/usr/bin/env bash
# The Windows player on a desktop: torvane.exe under Wine, driven through its menu, Wine's own
# Open dialog and clicks, on an X display of its own (run it through with-xvfb.sh). Wine draws
# text with other glyphs, so at every wait the client area is compared with torvane-run's picture
# pixel for pixel everywhere but the message panel, and there by the shape of the text (so that
# one message is not taken for another). It takes the second choice's branch, with text_show and
# jmp, which the GTK scenario does not.
#
# Usage: desktop_wine.sh PLAYER_EXE TOOLS_DIR E2E_TOOL [PLAYER64_EXE]
#   PLAYER_EXE is the shipped 32-bit torvane.exe beside its demo (the windows build's tools
#   folder), TOOLS_DIR a Linux build's tools folder (torvane-run and the same demo), E2E_TOOL
#   e2e_tool. Where this machine cannot start 32-bit programs, PLAYER64_EXE (the win64
#   build's, the same sources) is played under 64-bit Wine instead.
set -euo pipefail
tools=$(cd "$2" && pwd)
e2e_tool=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/desktop_lib.sh"
source "$here/demo_schedule.sh"
private_display=$DISPLAY
source "$here/../../tools/wine-env.sh"
if torvane_wine32_runs; then
  export TORVANE_WINE_BITS=32
  player_arg=$1
  echo "desktop_wine: the 32-bit torvane.exe under 32-bit Wine"
elif [ -n "${4:-}" ]; then
  player_arg=$4
  echo "desktop_wine: the 64-bit torvane.exe under 64-bit Wine (this machine cannot start 32-bit programs)"
else
  echo "SKIP: this machine cannot start 32-bit programs, and no 64-bit build was given"
  exit 77
fi
source "$here/../../tools/wine-env.sh"
export DISPLAY=$private_display

if [ ! -f "$player_arg" ]; then
  echo "SKIP: no Windows build of the player at $player_arg"
  exit 77
fi
player=$(cd "$(dirname "$player_arg")" && pwd)/$(basename "$player_arg")
if ! "$WINELOADER" --version >/dev/null 2>&1; then
  echo "SKIP: Wine cannot run here"
  exit 77
fi
timeout_seconds=${TORVANE_E2E_TIMEOUT:-40}  # Wine starts and draws more slowly
make_demo_references "$tools/torvane-run" "$tools" "$work" town
convert -size 640x480 xc:black "$work/black.png"

# The project's Wine prefix has Wine draw frames and captions itself, as Xvfb has no window
# manager: the X window is then the whole Windows window.
torvane_wine_prefix
(cd "$(dirname "$player")" && exec "$WINELOADER" "$player" >"$work/wine.log" 2>&1) &
player_pid=$!
main_window=$(await_window "Torvane ver1.03")
outer_is() { geometry_of "$main_window" && [ "$geometry_x,$geometry_y,${geometry_w}x$geometry_h" = "$1" ]; }
poll outer_is "0,0,640x480" || fail "the window is not 640x480 at the top-left corner"

# The menu bar begins with the first white rows under the frame and caption (a frame's edge may
# be a single white line); the client area, white too, lies under it.
menu_bar_drawn() {
  local column="$work/column.txt" row
  convert x:root -crop "1x100+320+0" -depth 8 txt:- >"$column"
  row=$(awk -F'[,:()]' 'NR > 1 { if ($4 == 255 && $5 == 255 && $6 == 255) { if (run++ == 0) start = $2;
          if (run == 6) { print start; exit } } else run = 0 }' "$column")
  [ -n "$row" ] && [ "$row" -gt 0 ] || return 1
  menu_bar_y=$((row + 9))
}
poll menu_bar_drawn || fail "no caption drawn"
choose_menu_item 1
dialog=$(await_window "スクリプトファイル読み込み")
geometry_of "$dialog"
# Wine's dialog: the file name field and the Open button, from its bottom-left and bottom-right
# corners.
xdotool mousemove $((geometry_x + 200)) $((geometry_y + geometry_h - 49)) click 1
story="Z:${player%/*}/demo.spt"
xdotool type --delay 5 "${story//\//\\}"
xdotool mousemove $((geometry_x + geometry_w - 50)) $((geometry_y + geometry_h - 51)) click 1
dialog_gone() { ! window_named "スクリプトファイル読み込み" >/dev/null; }
poll dialog_gone || fail "the Open dialog did not close"

# The client area turns black, all of it (the virtual screen is larger): that black rectangle
# tells where the client area lies in the window.
measure_wine_client_offsets() {
  geometry_of "$main_window"
  local column="$work/column.txt" row="$work/row.txt" top bottom left right
  convert x:root -crop "1x${geometry_h}+$((geometry_x + geometry_w / 2))+$geometry_y" -depth 8 \
    txt:- >"$column"
  convert x:root -crop "${geometry_w}x1+$geometry_x+$((geometry_y + geometry_h / 2))" -depth 8 \
    txt:- >"$row"
  read -r top bottom < <(awk -F'[,:()]' 'NR > 1 && $4 == 0 && $5 == 0 && $6 == 0 {
    if (first == "") first = $2; last = $2 } END { print first, last }' "$column")
  read -r left right < <(awk -F'[,:()]' 'NR > 1 && $4 == 0 && $5 == 0 && $6 == 0 {
    if (first == "") first = $1; last = $1 } END { print first, last }' "$row")
  [ -n "$top" ] && [ "$top" -gt 0 ] && [ "$top" -lt 80 ] || return 1
  client_top=$top client_bottom=$((geometry_h - 1 - bottom))
  client_left=$left client_right=$((geometry_w - 1 - right))
}
poll measure_wine_client_offsets || fail "the client area did not turn black"
await_picture "$work/black.png"

text=(--fuzzy "$text_rect")
click_to() {
  click_client "$neutral_x" "$neutral_y"
  await_picture "$@" "${text[@]}"
}
# Windows repaints what the dialog covered, and so shows the black virtual screen, as soon as
# the dialog is gone, maybe before the new script run has reached its start (which forgets
# earlier clicks): the first click is given again if it came too early.
click_until "$neutral_x" "$neutral_y" "$work/step1.png" "${text[@]}"
[ "$(xdotool getwindowname "$main_window")" = "星見の丘　―　Torvaneデモ" ] ||
  fail "the story's caption was not shown"
click_to "$work/step2.png"
moved() { outer_is "60,40,680x580"; }
poll moved ||
  fail "the window was not moved to 60,40 680x580 (it is at $geometry_x,$geometry_y ${geometry_w}x$geometry_h)"
click_to "$work/step3.png" --mask "$stars_rect" --mask "$lantern_rect"
# With the mouse still, the star strip's cells must reach the screen at the frame rate, a new
# one every 31 ms: at least half of them must be seen in two seconds, or a third of the looks
# where a loaded machine reads the screen less often than that. Frames that reached the screen
# only at the next input would be seen a few times at most. The click's own messages have Wine
# show a few frames, so watching starts a second after it.
sleep 1
read -r changes looks < <("$e2e_tool" await "$main_window" "$client_top" "$client_left" \
  "$client_right" "$client_bottom" "$work/step3.png" 2 --changes "$stars_rect")
echo "the star strip changed on screen $changes times in 2 s ($looks looks)"
needed=$((looks / 3 < 32 ? looks / 3 : 32))
[ "$changes" -ge "$needed" ] ||
  fail "with the mouse still the star strip changed on screen only $changes times in 2 s"
click_to "$work/step4.png"
click_to "$work/step5.png"
move_to_client "$choice2_x" "$choice2_y"
await_picture "$work/step6.png" "${text[@]}"
click_client "$choice2_x" "$choice2_y"
await_picture "$work/step7.png" "${text[@]}"

# text_show and then jmp wait for a click each with the picture unchanged, and the second wait
# begins one frame after the first ends: a click given in that frame is taken by neither.
click_until "$neutral_x" "$neutral_y" "$work/step8.png" "${text[@]}"

click_client "$neutral_x" "$neutral_y"
box=$(await_window "END")
geometry_of "$box"
# The box's only button, OK, sits in the middle of its bottom.
xdotool mousemove $((geometry_x + geometry_w / 2)) $((geometry_y + geometry_h - 24)) click 1
await_exit 0
echo "PASS: wine"
