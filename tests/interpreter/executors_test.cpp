// What each command does when its node runs: image slots, message boxes, text boxes, sounds,
// the window and the text colour.
#include <limits.h>

#include "interpreter/script_run.h"

namespace {

using Executors = ScriptRun;

TEST(ScriptNumber, FollowsTheAtoiRuleAndSaturatesBeyond32Bits) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"12", 12}, {"007", 7}, {" \t-3", -3}, {"\v\f\r\n8", 8}, {"+4", 4}, {"12abc", 12}, {"abc", 0},
      {"", 0}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483648", INT_MIN},
      {"4294967296", INT_MAX}, {"-99999999999999999999999", INT_MIN}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(scriptNumber(c.first), c.second) << '"' << c.first << '"';
}

// The lines of one script, each run in a frame of its own, and what it leaves: an image slot's
// fields ('i': loaded visible transparent | destX destY cellWidth cellHeight srcX srcY |
// stripAxis frameCount animState stopFrame), the text boxes ('t': box 1 | box 2's place | the
// message rectangle), a sound slot ('s': holds a file, played), or no image slot changed ('-').
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
      {"set_text_pos 2 7 8 0 0",                't', 0, "5 6 100 50 | 7 8 | 5 6 105 56"},
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

// The caption in CP932, the window's outer rectangle, the small icon (each replaced one released,
// a missing file clearing it), and a text line, which sets the text colour black.
TEST_F(Executors, WindowCommandsAndATextLineAct) {
  writeTempFile("icon.ico", icoFile());
  startScript({"change_window_caption " + cp932("第一章"), "change_window_size 50 60 300 200",
               "change_window_icon icon.ico", "change_window_icon icon.ico",
               "change_window_icon missing.ico", "hello"});
  SetTextColor(virtualScreen.imageDC, 0x0000FF);
  int objects = gdiObjectCount();
  play("cfffff");
  EXPECT_EQ(state(), cp932("第一章") + "|hello|(end)");
  EXPECT_EQ(GetTextColor(virtualScreen.imageDC), 0u);
  EXPECT_EQ(gdiObjectCount(), objects);
  RECT outer = {};
  GetWindowRect(window, &outer);
  EXPECT_EQ((std::vector<LONG>{outer.left, outer.top, outer.right, outer.bottom}),
            (std::vector<LONG>{50, 60, 350, 260}));
  std::vector<LPARAM> icons;
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message == WM_SETICON && m.wParam == (WPARAM)ICON_SMALL) icons.push_back(m.lParam);
  }
  ASSERT_EQ(icons.size(), 3u);
  EXPECT_TRUE(icons[0] && icons[1] && !icons[2]);
}

}  // namespace
