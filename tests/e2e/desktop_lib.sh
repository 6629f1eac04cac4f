# What the desktop tests share: starting a player on the test's own X display (with-xvfb.sh,
# no window manager), finding its windows, clicking, typing, and comparing screenshots of its
# client area with the pictures torvane-run wrote for the same moments. Sourced, not run.
#
# Nothing here sleeps for a guessed time: every step waits for what it needs to see (a window,
# a picture, the end of the process) and fails after a timeout.

timeout_seconds=${TORVANE_E2E_TIMEOUT:-20}  # for any single thing awaited
work=$(mktemp -d)
player_pid=""

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

finish() {
  if [ -n "$player_pid" ] && kill -0 "$player_pid" 2>/dev/null; then kill -9 "$player_pid"; fi
  rm -rf "$work"
}
trap finish EXIT

# Runs "$@" until it succeeds, for at most $timeout_seconds; false when it never did.
poll() {
  local deadline=$((SECONDS + timeout_seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# The first visible window named exactly $1, printed; false when there is none yet.
window_named() {
  local found
  found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
  [ -n "$found" ] && echo "$found"
}

await_window() {
  local id
  poll window_named "$1" >/dev/null || fail "no window named '$1' appeared"
  id=$(window_named "$1")
  echo "$id"
}

# Geometry of an X window: sets geometry_x, geometry_y (on the screen), geometry_w, geometry_h.
geometry_of() {
  local info
  info=$(xwininfo -id "$1") || return 1
  geometry_x=$(sed -n 's/.*Absolute upper-left X: *\(-\?[0-9]*\).*/\1/p' <<<"$info")
  geometry_y=$(sed -n 's/.*Absolute upper-left Y: *\(-\?[0-9]*\).*/\1/p' <<<"$info")
  geometry_w=$(sed -n 's/.*Width: *\([0-9]*\).*/\1/p' <<<"$info")
  geometry_h=$(sed -n 's/.*Height: *\([0-9]*\).*/\1/p' <<<"$info")
}

# Where the client area lies inside the player's window: rows of menu bar (and, under Wine,
# frame and caption) above it, columns of frame left of it and right of it, rows below it.
# Measured once by the scenario (measure_client_offsets) on the start-up window, whose client
# area is all white.
client_top=0 client_left=0 client_right=0 client_bottom=0
menu_bar_y=10  # rows from the window's top to the middle of its menu bar

# The client area on the screen: sets client_x, client_y, client_w, client_h.
find_client() {
  geometry_of "$1" || return 1
  client_x=$((geometry_x + client_left)) client_y=$((geometry_y + client_top))
  client_w=$((geometry_w - client_left - client_right))
  client_h=$((geometry_h - client_top - client_bottom))
  [ "$client_w" -gt 0 ] && [ "$client_h" -gt 0 ]
}

# The colour of one pixel of the screen, as "r,g,b".
pixel_at() {
  convert x:root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/^0,0: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# The GTK player's window holds the menu bar over the client area, edge to edge: the client
# area starts at the first row, going down the middle of the window, that is white (the
# start-up background; or the grey level given, 0 for a new story's black) and stays so to the
# bottom.
measure_gtk_client_offsets() {
  geometry_of "$main_window"
  local column="$work/column.txt" row level=${1:-255}
  convert x:root -crop "1x${geometry_h}+$((geometry_x + geometry_w / 2))+$geometry_y" -depth 8 \
    txt:- >"$column"
  row=$(awk -F'[,:()]' -v c="$level" 'NR > 1 { same = ($4 == c && $5 == c && $6 == c);
          if (!same) last = $2 } END { print last + 1 }' "$column")
  [ "$row" -gt 0 ] && [ "$row" -lt 100 ] || return 1
  client_top=$row client_left=0 client_right=0 client_bottom=0
}

# Clicks the left button at client coordinates of the player's window, in the story's pixels:
# on the screen they are $scale times as large (a scaled desktop, a fullscreen window).
scale=1
click_client() {
  find_client "$main_window" || fail "the player's client area is gone"
  xdotool mousemove $((client_x + $1 * scale)) $((client_y + $2 * scale)) click 1
}

move_to_client() {
  find_client "$main_window" || fail "the player's client area is gone"
  xdotool mousemove $((client_x + $1 * scale)) $((client_y + $2 * scale))
}

# Waits until the client area shows a 640x480 picture of the virtual screen: unscaled at its
# top-left corner, the window's white background where the client area is larger. Options after
# the picture: "--mask X,Y,W,H" leaves a rectangle out (it animates), "--fuzzy X,Y,W,H" compares
# there the shape of the text only (Wine draws its own glyphs). "e2e_tool await" does the looking.
await_picture() {
  local picture=$1
  shift
  "$e2e_tool" await "$main_window" "$client_top" "$client_left" "$client_right" "$client_bottom" \
    "$picture" "$timeout_seconds" "$@" || fail "the client area never showed $(basename "$picture")"
}

# Clicks at a client point until the client area shows the picture (options as for
# await_picture): for a wait whose start cannot be seen, so that a click given just before it
# began (and so taken by nobody) is given again. The clicks come seldom enough that none is
# given while the one before is still on its way.
click_until() {
  local x=$1 y=$2 picture=$3 attempt
  shift 3
  for attempt in $(seq 1 8); do
    click_client "$x" "$y"
    if "$e2e_tool" await "$main_window" "$client_top" "$client_left" "$client_right" \
      "$client_bottom" "$picture" 3 "$@" 2>/dev/null; then
      return 0
    fi
  done
  fail "the client area never showed $(basename "$picture")"
}

# The visible windows of the display, one id a line. The display is the test's own: every window
# on it is the player's.
visible_windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }

# A window that is visible now and was not among $1; sets new_window.
window_appeared() {
  new_window=$(comm -13 <(echo "$1") <(visible_windows) | grep -vx "$main_window" | head -n1)
  [ -n "$new_window" ]
}

# Opens the menu "ファイル" and clicks its n-th item (1: 開く, 2: 終了), the first near the top
# of the popup, the last near its bottom. A click that came before the window was ready to
# open its menu is given again.
choose_menu_item() {
  local before attempt popup=""
  before=$(visible_windows)
  for attempt in 1 2 3; do
    geometry_of "$main_window"
    xdotool mousemove $((geometry_x + 20)) $((geometry_y + menu_bar_y)) click 1
    if timeout_seconds=5 poll window_appeared "$before"; then
      popup=$new_window
      break
    fi
  done
  [ -n "$popup" ] || fail "the menu did not open"
  geometry_of "$popup"
  local y=$((geometry_y + 10))
  [ "$1" -eq 1 ] || y=$((geometry_y + geometry_h - 10))
  xdotool mousemove $((geometry_x + geometry_w / 2)) "$y" click 1
}

# Types a path into the GTK Open dialog and confirms it.
open_in_gtk_dialog() {
  local dialog
  dialog=$(await_window "スクリプトファイル読み込み")
  xdotool windowfocus --sync "$dialog"
  xdotool key --clearmodifiers ctrl+l
  xdotool type --delay 5 "$1"
  xdotool key Return
  dialog_gone() { ! window_named "スクリプトファイル読み込み" >/dev/null; }
  poll dialog_gone || fail "the Open dialog did not close"
}

start_player() {
  "$@" &
  player_pid=$!
  main_window=$(await_window "Torvane ver1.03")
}

# Waits for the player to end and checks its exit status.
await_exit() {
  local deadline=$((SECONDS + timeout_seconds))
  while kill -0 "$player_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the player did not end"
    sleep 0.05
  done
  local status=0
  wait "$player_pid" || status=$?
  player_pid=""
  [ "$status" -eq "${1:-0}" ] || fail "the player ended with status $status, not ${1:-0}"
}

# Makes the player's window the focused one: without a window manager nobody else does, and an
# application that is not active runs no frames.
focus_player() {
  xdotool windowfocus --sync "$main_window" 2>/dev/null || xdotool windowfocus "$main_window"
}
