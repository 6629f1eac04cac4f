// The interpreter's pace and control flow, frame by frame: clicks, text lines, labels, jmp, the
// two-choice if and the end of the script.
#include "interpreter/script_run.h"

namespace {

using Step = ScriptRun;

// A question, its two choices at (10, 10) and (10, 50), and an if that takes $taken for value.
std::vector<std::string> choiceScript(int value) {
  // clang-format off
  return {"set_text_pos 1 10 10 300 100", "set_text_pos 2 10 50 0 0", "question", "menu AA BB",
          "if x x " + std::to_string(value) + " $taken", "change_window_caption notTaken", "stop1",
          "$taken", "change_window_caption taken", "stop2"};
  // clang-format on
}

// A script, and steps each with the state the run must be in after them.
TEST_F(Step, ScriptsRunFrameByFrame) {
  const std::string ended = " finished! [END:" + cp932("スクリプト終了") + "]";
  const struct {
    std::vector<std::string> script;
    std::vector<std::pair<const char*, std::string>> steps;
  } runs[] = {
      // clang-format off
      // Nothing runs before the first click; each text line waits for one.
      {{"first", "second"}, {{"fff", "test||first"}, {"c", "test|first|second"},
                             {"fffff", "test|first|second"}, {"c", "test|second|(end)"}}},
      // Commands that do not stop run one a frame; a label costs a frame and shows nothing.
      {{"change_window_caption A", "change_window_caption B", "$between", "change_window_caption C",
        "done"},
       {{"c", "A||change_window_caption B run"}, {"f", "B||$between run"},
        {"f", "B||change_window_caption C run"}, {"f", "C||done run"}, {"f", "C|done|(end)"}}},
      // jmp waits for a click, then runs the node after the first label of its name from the
      // head (a text line's text is a label too), or after itself when there is none.
      {{"jmp $there", "change_window_caption skipped", "$there", "change_window_caption after"},
       {{"cfff", "test||change_window_caption after"}, {"c", "after||(end) run"}}},
      {{"jmp $nowhere", "change_window_caption next"}, {{"c", "test||change_window_caption next"}}},
      {{"$twice", "change_window_caption first", "jmp $twice", "$twice", "text"},
       {{"cff", "first||change_window_caption first"}}},
      {{"jmp hello", "change_window_caption skipped", "hello", "change_window_caption afterText"},
       {{"c", "test||change_window_caption afterText"}}},
      // Past the last node, or with no node at all, the run stays idle and never ends.
      {{"change_window_caption kept", "jmp $last", "$last"},
       {{"cf", "kept||(end)"}, {"ccccc", "kept||(end) run"}}},
      {{"; only a comment"}, {{"ccc", "test||(end) run"}}},
      // script_end says so, then the window is told to close; nothing after it ever runs.
      {{"change_window_caption before", "script_end", "change_window_caption after", "never"},
       {{"c", "before||script_end run"}, {"f", "before||change_window_caption after run" + ended},
        {"ccc", "before||change_window_caption after run" + ended}}},
      // A choice under the resting cursor is taken the frame after the if, without a click, and
      // the node it leads to runs in that same frame.
      {choiceScript(2),
       {{"2cff", "test|question|menu AA BB"}, {"c", "test|AA|if x x 2 $taken run"},
        {"f", "test|AA|if x x 2 $taken run menu2"}, {"f", "taken|AA|stop2 run"},
        {"f", "taken|stop2|(end)"}}},
      // The branch is taken exactly when the choice clicked equals the value. With no choice
      // under the cursor the menu stays and nothing runs; a choice under it waits for a click.
      {choiceScript(1),
       {{"0cffcfffff", "test|AA|if x x 1 $taken menu0"}, {"2f", "test|AA|if x x 1 $taken menu2"},
        {"cf", "notTaken|stop1|$taken"}}},
      {choiceScript(1),
       {{"1cffcf", "test|AA|if x x 1 $taken run menu1"}, {"f", "taken|AA|stop2 run"}}},
      {choiceScript(3), {{"1cffcff", "notTaken|AA|stop1 run"}}},
      // A choice that leads to a label on the last line leaves the run idle.
      {{"set_text_pos 1 10 10 300 100", "t", "menu AA BB", "if x x 1 $end", "$end"},
       {{"1cf", "test|t|menu AA BB"}, {"cff", "test|AA|(end) run"}, {"fff", "test|AA|(end) run"}}},
      // clang-format on
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.script[0]);
    startScript(run.script);
    for (const auto& step : run.steps) {
      play(step.first);
      EXPECT_EQ(state(), step.second) << "after " << step.first;
    }
  }
}

}  // namespace
