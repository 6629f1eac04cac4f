#!/usr/bin/env bash
# The Linux player on a desktop: the real torvane, driven through its menu, the GTK Open dialog
# and clicks, on an X display of its own (run it through with-xvfb.sh). At every point where the
# script waits for a click the client area must equal, pixel for pixel, the picture torvane-run
# writes for the same point of the same story.
#
# Usage: desktop_gtk.sh SCENARIO TOOLS_DIR E2E_TOOL
#   TOOLS_DIR holds torvane, torvane-run and the demo; E2E_TOOL is e2e_tool.
#   demo      the demo story from File > Open to the end message (the first choice's branch)
#   cancel    an Open dialog over the window, cancelled while a script waits, changes nothing
#   exit      File > Exit while a script runs ends the program with status 0
#   closebox  the close box while a script runs ends the program with status 0
#   reopen    a second Open while a script runs starts the script afresh
#   hidpi     the demo on a desktop scaled by 2 (GDK_SCALE): every picture twice as large
#   fullscreen F11 and back: the picture scaled by 2 and centred, the story's move kept till after
#   installed the player installed with cmake --install: a story in a folder of its own, named on
#             the command line and chosen in the Open dialog, finds its files beside its script;
#             one inside the player's folder finds them in the player's; a missing one is told
set -euo pipefail
scenario=$1
tools=$(cd "$2" && pwd)
e2e_tool=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/desktop_lib.sh"
source "$here/demo_schedule.sh"

player_title="Torvane ver1.03"
story_title="星見の丘　―　Torvaneデモ"

convert -size 640x480 xc:white "$work/white.png"
convert -size 640x480 xc:black "$work/black.png"

# Clicks where no choice is and waits for the picture the click leads to.
click_to() {
  click_client "$neutral_x" "$neutral_y"
  await_picture "$@"
}

if [ "$scenario" = installed ]; then
  prefix="$work/prefix"
  cmake --install "$(dirname "$tools")" --prefix "$prefix" >/dev/null
  player_dir=$(dirname "$(readlink -f "$prefix/bin/torvane")")
  # The story's files live only beside its script: the folder is named pics there, so nothing
  # in the player's folder (which holds the demo's demo folder) can stand in for them.
  other="$work/elsewhere"
  mkdir -p "$other"
  cp -r "$player_dir/demo" "$other/pics"
  LC_ALL=C sed 's/demo\\/pics\\/g' "$player_dir/demo.spt" >"$other/story.spt"
  # A story inside the player's folder tree names its files from the player's folder.
  mkdir -p "$player_dir/stories"
  cp "$player_dir/demo.spt" "$player_dir/stories/inner.spt"
  make_demo_references "$prefix/bin/torvane-run" "$tools" "$work" forest "$other/story.spt"

  # A story that is not there: a message box, and the player waits with no story.
  start_player "$prefix/bin/torvane" "$work/no such story.spt"
  box=$(await_window "エラー")
  xdotool windowfocus --sync "$box"
  xdotool key Return
  focus_player
  poll measure_gtk_client_offsets || fail "no white client area after the message"
  await_picture "$work/white.png"
  # The same story through the Open dialog.
  choose_menu_item 1
  open_in_gtk_dialog "$other/story.spt"
  focus_player
  await_picture "$work/black.png"
  click_to "$work/step1.png"
  click_to "$work/step2.png"
  choose_menu_item 1
  open_in_gtk_dialog "$player_dir/stories/inner.spt"
  focus_player
  await_picture "$work/black.png"
  click_to "$work/step1.png"
  choose_menu_item 2
  await_exit 0

  # Named on the command line, relative to the directory it was started in, through the link.
  cd "$other"
  start_player "$prefix/bin/torvane" story.spt
  cd /
  focus_player
  poll measure_gtk_client_offsets 0 || fail "no black client area under the menu bar"
  click_to "$work/step1.png"
  click_to "$work/step2.png"
  click_to "$work/step3.png" --mask "$stars_rect" --mask "$lantern_rect"
  choose_menu_item 2
  await_exit 0
  echo "PASS: $scenario"
  exit 0
fi

make_demo_references "$tools/torvane-run" "$tools" "$work" forest

# On a desktop scaled by 2 the picture is shown twice as large, pixel for pixel: the references
# scaled so (nearest neighbour), clicks and masks given in the story's pixels.
if [ "$scenario" = hidpi ]; then
  export GDK_SCALE=2
  scale=2
  for picture in "$work"/white.png "$work"/black.png "$work"/step*.png; do
    convert "$picture" -filter point -resize 200% "$picture"
  done
  stars_rect=$(awk -F, '{ print $1*2 "," $2*2 "," $3*2 "," $4*2 }' <<<"$stars_rect")
  lantern_rect=$(awk -F, '{ print $1*2 "," $2*2 "," $3*2 "," $4*2 }' <<<"$lantern_rect")
fi

start_player "$tools/torvane"
focus_player
poll measure_gtk_client_offsets || fail "no white client area under the menu bar at start-up"

open_demo() {
  choose_menu_item 1
  open_in_gtk_dialog "$tools/demo.spt"
  focus_player
  await_picture "$work/black.png"
}

title_is() { [ "$(xdotool getwindowname "$main_window")" = "$1" ]; }
has_icon() { xprop -id "$main_window" _NET_WM_ICON | grep -q "Icon ("; }
icon_now() { xprop -id "$main_window" _NET_WM_ICON | md5sum; }
icon_is() { [ "$(icon_now)" = "$1" ]; }
outer_is() { geometry_of "$main_window" && [ "$geometry_x,$geometry_y,${geometry_w}x$geometry_h" = "$1" ]; }

case "$scenario" in
  demo)
    # Before any script the client area is the class's white background, and the window shows
    # the player's own icon.
    await_picture "$work/white.png"
    poll has_icon || fail "the player's icon was not shown"
    open_demo
    click_to "$work/step1.png"
    poll title_is "$story_title" || fail "the story's caption was not shown"
    poll has_icon || fail "the story's icon was not shown"
    click_to "$work/step2.png"
    # Without a window manager there is no frame: the outer rectangle is the window's own.
    poll outer_is "60,40,680x580" || fail "the window was not moved to 60,40 680x580"
    click_to "$work/step3.png" --mask "$stars_rect" --mask "$lantern_rect"
    click_to "$work/step4.png"
    click_to "$work/step5.png"
    move_to_client "$choice1_x" "$choice1_y"
    await_picture "$work/step6.png"
    # Another program's window comes over the choice and the pointer moves on over it, off the
    # choice: our window sees no motion, yet the cursor is elsewhere and the highlight goes, as
    # on Windows.
    find_client "$main_window"
    xmessage -geometry 50x80+$((client_x + 40))+$((client_y + 320)) cover &
    cover_pid=$!
    await_window xmessage >/dev/null
    xdotool mousemove $((client_x + 60)) $((client_y + 390))
    await_picture "$work/step5.png" --mask 30,310,70,100
    kill "$cover_pid"
    move_to_client "$choice1_x" "$choice1_y"
    await_picture "$work/step6.png"
    click_client "$choice1_x" "$choice1_y"
    await_picture "$work/step7.png"
    click_to "$work/step8.png"
    click_client "$neutral_x" "$neutral_y"
    box=$(await_window "END")
    xdotool windowfocus --sync "$box"
    xdotool key Return
    await_exit 0
    ;;
  hidpi)
    await_picture "$work/white.png"
    open_demo
    click_to "$work/step1.png"
    click_to "$work/step2.png"
    click_to "$work/step3.png" --mask "$stars_rect" --mask "$lantern_rect"
    click_to "$work/step4.png"
    click_to "$work/step5.png"
    move_to_client "$choice1_x" "$choice1_y"
    await_picture "$work/step6.png"
    click_client "$choice1_x" "$choice1_y"
    await_picture "$work/step7.png"
    ;;
  fullscreen)
    open_demo
    click_to "$work/step1.png"
    # F11: the client area (640x456 under the menu bar) twice as large on a 1600x1300 screen,
    # in the middle of the black; clicks in the story's pixels; the move and size the story asks
    # for meanwhile (60,40 680x580) wait until the window leaves fullscreen.
    xdotool key F11
    poll outer_is "0,0,1600x1300" || fail "F11 did not make the window fullscreen"
    windowed_top=$client_top
    scale=2 client_left=160 client_right=160 client_top=194 client_bottom=194
    for picture in step1 step2 step3 step4 step5 step6; do
      convert "$work/$picture.png" -filter point -resize 200% "$work/big-$picture.png"
    done
    await_picture "$work/big-step1.png"
    pixel_at 10 10 | grep -qx "0,0,0" || fail "no black around the fullscreen picture"
    click_to "$work/big-step2.png"
    outer_is "0,0,1600x1300" || fail "the story's move took the window out of fullscreen"
    click_to "$work/big-step3.png" --mask 144,96,96,96 --mask 720,500,64,96
    click_to "$work/big-step4.png"
    click_to "$work/big-step5.png"
    move_to_client "$choice1_x" "$choice1_y"
    await_picture "$work/big-step6.png"
    # Leaving it, the window is where and as large as the story asked.
    xdotool key F11
    poll outer_is "60,40,680x580" || fail "the story's move did not take effect on leaving"
    scale=1 client_left=0 client_right=0 client_top=$windowed_top client_bottom=0
    move_to_client "$choice1_x" "$choice1_y"
    await_picture "$work/step6.png"
    ;;
  cancel)
    open_demo
    click_to "$work/step1.png"
    choose_menu_item 1
    dialog=$(await_window "スクリプトファイル読み込み")
    # The dialog lies over the client area; once it is gone the story, at rest, shows its picture
    # again.
    geometry_of "$dialog"
    dialog_x=$geometry_x dialog_y=$geometry_y dialog_w=$geometry_w dialog_h=$geometry_h
    find_client "$main_window"
    [ "$dialog_x" -lt $((client_x + client_w)) ] && [ $((dialog_x + dialog_w)) -gt "$client_x" ] &&
      [ "$dialog_y" -lt $((client_y + client_h)) ] && [ $((dialog_y + dialog_h)) -gt "$client_y" ] ||
      fail "the Open dialog does not lie over the client area"
    xdotool windowfocus --sync "$dialog"
    xdotool key Escape
    dialog_gone() { ! window_named "スクリプトファイル読み込み" >/dev/null; }
    poll dialog_gone || fail "the Open dialog did not close"
    focus_player
    await_picture "$work/step1.png"
    title_is "$story_title" || fail "the caption changed"
    click_to "$work/step2.png"
    ;;
  exit)
    open_demo
    click_to "$work/step1.png"
    choose_menu_item 2
    await_exit 0
    ;;
  closebox)
    open_demo
    click_to "$work/step1.png"
    python3 "$here/close_window.py" "$main_window"
    await_exit 0
    ;;
  reopen)
    start_icon=$(icon_now)
    open_demo
    click_to "$work/step1.png"
    click_to "$work/step2.png"
    poll has_icon || fail "the story's icon was not shown"
    open_demo
    # A new run: title and small icon back to the start's, the window where the old run put it.
    poll title_is "$player_title" || fail "the title was not reset"
    poll icon_is "$start_icon" || fail "the icon was not reset"
    outer_is "60,40,680x580" || fail "the window did not keep its place and size"
    click_to "$work/step1.png"
    click_to "$work/step2.png"
    ;;
  *)
    fail "unknown scenario $scenario"
    ;;
esac
if [ -n "$player_pid" ]; then
  choose_menu_item 2
  await_exit 0
fi
echo "PASS: $scenario"
