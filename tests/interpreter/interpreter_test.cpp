// The interpreter: the numbers of scripts, what each command's node sets, and the pace and
// control flow frame by frame: clicks, text lines, labels, jmp, the two-choice if and the end.
#include <limits.h>

#include "interpreter/script_run.h"

namespace {

using Executors = ScriptRun;
using Step = ScriptRun;

TEST(ScriptNumber, FollowsTheAtoiRuleAndSaturatesBeyond32Bits) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"12", 12}, {"007", 7}, {" \t-3", -3}, {"\v\f\r\n8", 8}, {"+4", 4}, {"12abc", 12}, {"abc", 0},
      {"", 0}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483648", INT_MIN},
      {"4294967296", INT_MAX}, {"-99999999999999999999999", INT_MIN}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(scriptNumber(c.first), c.second) << '"' << c.first << '"';
}

// Each line runs in a frame of its own and leaves: an image slot ('i': loaded visible
// transparent | dest cell src | stripAxis frameCount animState stopFrame), the text boxes ('t':
// box 1 | box 2's place | messageRect), a sound slot ('s': file, played) or no slot changed ('-').
TEST_F(Executors, EachCommandSetsItsState) {
  writeTempFile("red.bmp", solidBmp(8, 8, 0x0000FF));
  writeTempFile("tone.wav", wavFile(800));
  const struct {
    const char* line;
    char kind;
    int index;
    const char* fields;
  } rows[] = {
      // clang-format off
      {"anim_play 10 1 2 3 4 5 6 1 3 0 0 1", '-', 0, ""}, {"anim_stop 12 3", '-', 0, ""},
      {"anim_hide 4294967296", '-', 0, ""}, {"anim_stop 2147483648 1", '-', 0, ""},
      {"bitmap_load 0 red.bmp",                 'i', 0, "1 0 0 | 0 0 0 0 0 0 | 0 0 0 0"},
      // Byte fields keep the low byte: 257 is 1, 259 is 3, 300 is 44.
      {"anim_play 0 1 2 3 4 5 6 257 259 0 0 7", 'i', 0, "1 1 1 | 1 2 3 4 5 6 | 1 3 1 0"},
      // Mask mode 1 and 0 set the transparency, any other keeps it; positions may be negative.
      {"bitmap_show 0 5 6 100 50 32 64 1",      'i', 0, "1 1 1 | 5 6 100 50 32 64 | 1 3 1 0"},
      {"bitmap_show 0 -5 7 1 2 3 4 2",          'i', 0, "1 1 1 | -5 7 1 2 3 4 | 1 3 1 0"},
      {"bitmap_show 0 5 6 100 50 32 64 0",      'i', 0, "1 1 0 | 5 6 100 50 32 64 | 1 3 1 0"},
      {"anim_stop 0 300",                       'i', 0, "1 1 0 | 5 6 100 50 32 64 | 1 3 0 44"},
      // A hidden animation stays hidden through bitmap_show; anim_play shows the slot again.
      {"anim_hide 0",                           'i', 0, "1 1 0 | 5 6 100 50 32 64 | 1 3 2 44"},
      {"bitmap_show 0 0 0 8 8 0 0 0",           'i', 0, "1 1 0 | 0 0 8 8 0 0 | 1 3 2 44"},
      {"bitmap_hide 0",                         'i', 0, "1 0 0 | 0 0 8 8 0 0 | 1 3 2 44"},
      {"anim_play 0 9 8 7 6 5 4 0 0 1 1 0",     'i', 0, "1 1 0 | 9 8 7 6 5 4 | 0 0 1 44"},
      // A load hides the slot, whether or not it succeeds; bitmap_delete changes nothing.
      {"bitmap_load 0 red.bmp",                 'i', 0, "1 0 0 | 9 8 7 6 5 4 | 0 0 1 44"},
      {"bitmap_show 1 0 0 1 1 0 0 0",           'i', 1, "0 1 0 | 0 0 1 1 0 0 | 0 0 0 0"},
      {"bitmap_delete 1",                       'i', 1, "0 1 0 | 0 0 1 1 0 0 | 0 0 0 0"},
      {"bitmap_load 1 none.bmp",                'i', 1, "0 0 0 | 0 0 1 1 0 0 | 0 0 0 0"},
      // Box 2 keeps no size; the message rectangle follows box 1 alone; there is no box 3.
      {"set_text_pos 2 30 40 999 999",          't', 0, "0 0 200 200 | 30 40 | 0 0 200 200"},
      {"set_text_pos 1 5 6 100 50",             't', 0, "5 6 100 50 | 30 40 | 5 6 105 56"},
      {"set_text_pos 3 1 2 3 4",                't', 0, "5 6 100 50 | 30 40 | 5 6 105 56"},
      {"se_load 3 tone.wav",                    's', 3, "1 0"},
      {"se_play 3 1",                           's', 3, "1 1"},
      {"se_delete 3",                           's', 3, "0 1"},
      {"se_play 4 2",                           's', 4, "0 1"},
      // clang-format on
  };
  std::vector<std::string> lines;
  for (const auto& row : rows) lines.push_back(row.line);
  startScript(lines);
  runEnabled = 1;
  for (const auto& row : rows) {
    ImageSlot before[imageSlotCount];
    memcpy(before, imageSlots, sizeof before);
    play("f");
    const ImageSlot& s = imageSlots[row.index];
    char fields[200] = "";
    EXPECT_TRUE(row.kind != '-' || !memcmp(before, imageSlots, sizeof before)) << row.line;
    if (row.kind == 'i')
      snprintf(fields, sizeof fields, "%d %d %d | %d %d %d %d %d %d | %d %d %d %d", s.loaded,
               s.visible, s.transparent, s.destX, s.destY, s.cellWidth, s.cellHeight, s.srcX,
               s.srcY, s.stripAxis, s.frameCount, s.animState, s.stopFrame);
    if (row.kind == 't')
      snprintf(fields, sizeof fields, "%d %d %d %d | %d %d | %d %d %d %d", textPos1.x, textPos1.y,
               textPos1.width, textPos1.height, textPos2.x, textPos2.y, (int)messageRect.left,
               (int)messageRect.top, (int)messageRect.right, (int)messageRect.bottom);
    if (row.kind == 's')
      snprintf(fields, sizeof fields, "%d %d", soundSlots[row.index].image != nullptr,
               soundSlots[row.index].played);
    EXPECT_STREQ(fields, row.fields) << row.line;
  }
  EXPECT_EQ(boxes().size(), 1u);  // the failed load said so
}

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
      {{"jmp hello", "change_window_caption skipped", "hello", "change_window_caption afterText"},
       {{"c", "test||change_window_caption afterText"}}},
      // Past the last node, or with no node at all, the run stays idle and never ends.
      {{"change_window_caption kept", "jmp $last", "$last"},
       {{"cf", "kept||(end)"}, {"ccccc", "kept||(end) run"}}},
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
      {choiceScript(3), {{"1cffcff", "notTaken|AA|stop1 run"}}},  // neither choice is 3
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
