# The moments of the demo story that the desktop tests stop at, and how torvane-run reaches the
# same moments on its virtual clock. Sourced by desktop_gtk.sh and desktop_wine.sh.
#
# Every click is given where the script waits for one, with room enough for the commands before
# the next wait to run (at most a dozen frames); each picture is taken at such a wait:
#   step1 evening, the traveller (magenta transparent), the first message
#   step2 the window grown to 680x580
#   step3 night: the star strip and the lantern strip animate (their rectangles are left out)
#   step4 the star stopped at cell 3, the lantern hidden
#   step5 the menu, the cursor on neither choice
#   step6 the cursor on the chosen choice, which turns red
#   step7 the chosen branch (forest: the first choice; town: the second)
#   step8 the last message; the next click ends the story

neutral_x=300 neutral_y=200    # client point on no choice
choice1_x=66 choice1_y=339     # inside the first choice's box (56,332 and 70x15)
choice2_x=66 choice2_y=363     # inside the second's (56,356)
stars_rect="72,48,48,48"
lantern_rect="360,250,32,48"
text_rect="42,322,556,84"      # the message panel: where text and choices are drawn

# make_demo_references TORVANE_RUN TOOLS_DIR OUT_DIR forest|town [SCRIPT]: writes
# OUT_DIR/step1..8.png, from TOOLS_DIR/demo.spt or, when given, from SCRIPT with the folder its
# files are found in left to torvane-run.
make_demo_references() {
  local run=$1 tools=$2 out=$3 branch=$4 script=${5:-} choice_x choice_y
  local args=(--cursor "1:$neutral_x,$neutral_y"
    --click 10 --png "40:$out/step1.png" --click 50 --png "80:$out/step2.png"
    --click 90 --png "120:$out/step3.png" --click 130 --png "160:$out/step4.png"
    --click 170 --png "200:$out/step5.png")
  if [ "$branch" = forest ]; then
    choice_x=$choice1_x choice_y=$choice1_y
  else
    choice_x=$choice2_x choice_y=$choice2_y
  fi
  args+=(--cursor "205:$choice_x,$choice_y" --png "215:$out/step6.png"
    --click "220:$choice_x,$choice_y" --png "250:$out/step7.png")
  if [ "$branch" = forest ]; then
    args+=(--click "260:$neutral_x,$neutral_y" --png "290:$out/step8.png" --click 300)
  else
    # text_show and jmp each wait once more with the same picture.
    args+=(--click "260:$neutral_x,$neutral_y" --click 300 --click 340 --png "370:$out/step8.png"
      --click 380)
  fi
  if [ -n "$script" ]; then
    SDL_AUDIODRIVER=dummy "$run" "${args[@]}" --frames 1000 --log "$out/reference.log" "$script"
  else
    (cd "$tools" && SDL_AUDIODRIVER=dummy "$run" --base "$tools" "${args[@]}" --frames 1000 \
      --log "$out/reference.log" demo.spt)
  fi || fail "torvane-run did not play the demo to its end (status $?)"
  grep -q '"event":"messagebox"' "$out/reference.log" || true
}
