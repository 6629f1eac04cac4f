# Headless end-to-end tests, labelled e2e: torvane-run plays the story (story.txt, with pictures,
# icon and sound that e2e_tool makes) and its log and PNGs are compared with tests/e2e/expected.
# After a deliberate change of what the player shows, regenerate them with
#   TORVANE_UPDATE_EXPECTED=1 ctest -L e2e -R story
# and look at the new PNGs before committing them.

if(TARGET e2e_tool)

  # torvane_story_test(name exit-status torvane-run options...)
  function(torvane_story_test name status)
    add_test(NAME e2e_story_${name}
             COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/run_story.sh" $<TARGET_FILE:e2e_tool>
                     $<TARGET_FILE:torvane-run> "${CMAKE_CURRENT_SOURCE_DIR}/story.txt"
                     "${CMAKE_CURRENT_SOURCE_DIR}/expected/${name}"
                     "${CMAKE_CURRENT_BINARY_DIR}/story_${name}" ${status} ${ARGN})
    set_tests_properties(e2e_story_${name} PROPERTIES LABELS "e2e;headless" TIMEOUT 60
                         ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;SDL_AUDIODRIVER=dummy")
  endfunction()

  # The first choice taken with the cursor resting on it, a click every third frame.
  torvane_story_test(choose_first 0 --cursor 30:50,365 --click-every 3 --frames 100
                     --png 20:first_message.png --png 26:window_resized.png
                     --png 30:menu.png --png 31:choice_shown.png --png 43:last.png)
  # The second choice; the same story otherwise.
  torvane_story_test(choose_second 0 --cursor 30:50,425 --click-every 3 --frames 100
                     --png 30:menu.png --png 31:choice_shown.png)
  # Single clicks, a stretch of inactivity in which nothing moves, and the frame limit.
  torvane_story_test(inactive 3 --click 2:10,10 --click 3 --click-every 4 --inactive 9-20
                     --frames 28 --png 8:before.png --png 20:during.png --png 28:after.png)
endif()
