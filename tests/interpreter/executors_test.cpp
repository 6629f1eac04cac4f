// What each command does when its node runs: image slots, text and menu state, sounds and the
// window, read back from the state and from the composed virtual screen.
#include <limits.h>

#include "interpreter/script_run.h"
#include "resources/texts.h"

namespace {

using Executors = ScriptRun;

constexpr COLORREF red = 0x0000FF, blue = 0xFF0000, green = 0x00FF00;

// A 16 x 16 icon, 32 bits per pixel, as an .ico file.
std::string icoFile() {
  const int size = 16, xorBytes = size * size * 4, andBytes = size * 4;
  std::string file;
  for (uint32_t v : {0, 1, 1}) putLe(file, v, 2);  // icon directory, one image
  file += std::string{(char)size, (char)size, 0, 0};
  putLe(file, 1, 2), putLe(file, 32, 2), putLe(file, 40 + xorBytes + andBytes, 4),
      putLe(file, 22, 4);
  putLe(file, 40, 4), putLe(file, size, 4), putLe(file, size * 2, 4), putLe(file, 1, 2);
  putLe(file, 32, 2), putLe(file, 0, 4), putLe(file, xorBytes, 4), file += std::string(16, '\0');
  for (int i = 0; i < size * size; ++i) putLe(file, 0xFF2080C0, 4);
  return file + std::string(andBytes, '\0');
}

// A short 8-bit mono WAV image.
std::string wavFile() {
  std::string file = "RIFF";
  putLe(file, 36 + 800, 4);
  file += "WAVEfmt ";
  putLe(file, 16, 4), putLe(file, 1, 2), putLe(file, 1, 2), putLe(file, 8000, 4);
  putLe(file, 8000, 4), putLe(file, 1, 2), putLe(file, 8, 2);
  file += "data";
  putLe(file, 800, 4);
  return file + std::string(800, '\x80');
}

// What bitmap_show and anim_play set: visible, transparent, destX, destY, cellWidth, cellHeight,
// srcX, srcY.
std::vector<int> placement(const ImageSlot& s) {
  return {s.visible, s.transparent, s.destX, s.destY, s.cellWidth, s.cellHeight, s.srcX, s.srcY};
}

TEST(ScriptNumber, FollowsTheAtoiRuleAndSaturatesBeyond32Bits) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      // clang-format off
      {"12", 12}, {"007", 7}, {" \t-3", -3}, {"+4", 4}, {"12abc", 12}, {"abc", 0}, {"", 0},
      {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483648", INT_MIN},
      {"4294967296", INT_MAX}, {"-99999999999999999999999", INT_MIN},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(scriptNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(Executors, BitmapShowSetsThePlacementAndMaskModeTwoKeepsTheTransparency) {
  writeTempFile("a.bmp", solidBmp(8, 8, red));
  imageSlots[0].stripAxis = 7;
  imageSlots[0].frameCount = 9;
  imageSlots[0].stopFrame = 0;
  startScript({"bitmap_load 0 a.bmp", "bitmap_show 0 5 6 100 50 32 64 1",
               "bitmap_show 0 -5 7 1 2 3 4 2", "bitmap_show 0 5 6 100 50 32 64 0",
               "bitmap_show 0 5 6 100 50 32 64 2"});
  clickFrames();
  EXPECT_EQ(imageSlots[0].loaded, 1);
  EXPECT_EQ(imageSlots[0].visible, 0);
  const ImageSlot& slot = imageSlots[0];
  // Mask mode 2 keeps the transparency; the positions are not checked by the compiler and may
  // be negative.
  const std::vector<int> expected[] = {{1, 1, 5, 6, 100, 50, 32, 64},
                                       {1, 1, -5, 7, 1, 2, 3, 4},
                                       {1, 0, 5, 6, 100, 50, 32, 64},
                                       {1, 0, 5, 6, 100, 50, 32, 64}};
  for (int line = 0; line < 4; ++line) {
    frame();
    EXPECT_EQ(placement(slot), expected[line]) << "bitmap_show " << line + 1;
  }
  EXPECT_EQ(slot.stripAxis, 7);
  EXPECT_EQ(slot.frameCount, 9);
  EXPECT_EQ(slot.animState, 0);
}

TEST_F(Executors, BitmapShowDrawsTheCellFromTheSourceCorner) {
  writeTempFile("ramp.bmp", bmpFile(128, 128, [](int x, int y) { return RGB(x, y, 7); }));
  startScript({"bitmap_load 0 ramp.bmp", "bitmap_show 0 10 20 8 8 32 64 0"});
  clickFrames(2);
  EXPECT_EQ(pixel(10, 20), RGB(32, 64, 7));
  EXPECT_EQ(pixel(17, 27), RGB(39, 71, 7));
  EXPECT_EQ(pixel(18, 27), 0u);  // outside the 8 x 8 cell the screen stays black
  EXPECT_EQ(pixel(17, 28), 0u);
}

TEST_F(Executors, BitmapLoadHidesTheSlotWhileBitmapDeleteChangesNothing) {
  writeTempFile("red.bmp", solidBmp(16, 16, red));
  writeTempFile("blue.bmp", solidBmp(16, 16, blue));
  startScript({"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 16 16 0 0 0", "bitmap_delete 0",
               "bitmap_load 0 blue.bmp", "bitmap_show 0 0 0 16 16 0 0 2",
               "bitmap_load 0 none.bmp"});
  clickFrames(3);
  EXPECT_EQ(imageSlots[0].visible, 1);
  EXPECT_EQ(pixel(5, 5), red);
  frame();  // the reload hides the slot; its last picture stays on the screen
  EXPECT_EQ(imageSlots[0].visible, 0);
  EXPECT_EQ(pixel(5, 5), red);
  frame();
  EXPECT_EQ(pixel(5, 5), blue);
  EXPECT_TRUE(capturedMessageBoxes().empty());

  frame();  // a failed load still hides the slot
  EXPECT_EQ(imageSlots[0].visible, 0);
  std::vector<CapturedMessageBox> boxes = capturedMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "none.bmp" + cp932("を読み込むことができませんでした"));
}

TEST_F(Executors, AnimHideOutlastsBitmapShowAndBitmapHideOutlastsAnimStop) {
  writeTempFile("red.bmp", solidBmp(16, 16, red));
  writeTempFile("green.bmp", solidBmp(16, 16, green));
  startScript({"bitmap_load 0 red.bmp", "anim_hide 0", "bitmap_show 0 0 0 16 16 0 0 0",
               "anim_stop 0 0", "bitmap_load 1 green.bmp", "bitmap_show 1 20 0 16 16 0 0 0",
               "bitmap_hide 1", "anim_stop 1 0", "anim_play 1 40 0 16 16 0 0 1 1 0 0 0"});
  clickFrames(3);
  EXPECT_EQ(imageSlots[0].visible, 1);
  EXPECT_EQ(imageSlots[0].animState, 2);
  EXPECT_EQ(pixel(5, 5), 0u);  // shown, yet hidden by the animation state
  frame();
  EXPECT_EQ(pixel(5, 5), red);

  frames(2);
  EXPECT_EQ(pixel(25, 5), green);
  frames(2);  // bitmap_hide, then anim_stop: still not drawn anew
  EXPECT_EQ(imageSlots[1].visible, 0);
  EXPECT_EQ(pixel(45, 5), 0u);
  frame();  // anim_play shows it again, at its new place
  EXPECT_EQ(imageSlots[1].visible, 1);
  EXPECT_EQ(pixel(45, 5), green);
}

TEST_F(Executors, AnimNumbersKeepTheirLowByteAndAnimPlayGoesOnFromTheCurrentCell) {
  imageSlots[2].currentFrame = 5;
  startScript({"anim_stop 2 300", "anim_play 2 1 2 3 4 5 6 257 256 0 0 7",
               "anim_play 2 1 2 3 4 5 6 2 10 0 0 0"});
  clickFrames();
  EXPECT_EQ(imageSlots[2].stopFrame, 44);
  EXPECT_EQ(imageSlots[2].animState, 0);
  EXPECT_EQ(imageSlots[2].visible, 0);  // anim_stop does not show a slot
  frame();
  EXPECT_EQ(placement(imageSlots[2]), (std::vector<int>{1, 1, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(imageSlots[2].stripAxis, 1);
  EXPECT_EQ(imageSlots[2].frameCount, 0);
  EXPECT_EQ(imageSlots[2].animState, 1);
  EXPECT_EQ(imageSlots[2].currentFrame, 0);  // cell 5 drawn, then back to 0 with no cells
  imageSlots[2].currentFrame = 5;
  frame();
  EXPECT_EQ(imageSlots[2].frameCount, 10);
  EXPECT_EQ(imageSlots[2].transparent, 0);
  EXPECT_EQ(imageSlots[2].currentFrame, 6);  // not restarted at 0
}

TEST_F(Executors, AnimCommandsNamingNoSlotTouchNothing) {
  startScript({"anim_play 10 1 2 3 4 5 6 1 3 0 0 1", "anim_stop 12 3", "anim_hide 4294967296",
               "anim_hide 99999999999999999999", "anim_stop 2147483648 1", "done"});
  ImageSlot before[imageSlotCount];
  memcpy(before, imageSlots, sizeof before);
  clickFrames(6);
  ASSERT_EQ(message(), "done");
  EXPECT_EQ(memcmp(before, imageSlots, sizeof before), 0);
}

TEST_F(Executors, SetTextPosSetsABoxAndTheMessageRectangleFollowsBoxOne) {
  startScript({"set_text_pos 2 30 40 999 999", "set_text_pos 1 5 6 100 50",
               "set_text_pos 3 1 2 3 4", "set_text_pos 2 7 8 0 0"});
  // After each line: box 1's x, y, width, height; box 2's x, y; the message rectangle. Box 3
  // changes nothing.
  const std::vector<int> expected[] = {{0, 0, 200, 200, 30, 40, 0, 0, 200, 200},
                                       {5, 6, 100, 50, 30, 40, 5, 6, 105, 56},
                                       {5, 6, 100, 50, 30, 40, 5, 6, 105, 56},
                                       {5, 6, 100, 50, 7, 8, 5, 6, 105, 56}};
  click();
  for (int line = 0; line < 4; ++line) {
    frame();
    EXPECT_EQ((std::vector<int>{textPos1.x, textPos1.y, textPos1.width, textPos1.height, textPos2.x,
                                textPos2.y, messageRect.left, messageRect.top, messageRect.right,
                                messageRect.bottom}),
              expected[line])
        << "after line " << line + 1;
  }
}

TEST_F(Executors, TextLinesAndTheMenuPointIntoTheNodesAndATextShowLineOnlyWaits) {
  startScript({"hello", "text_show", "text_clear", "menu AA BB", "if a b 1 $x"});
  SetTextColor(virtualScreen.imageDC, red);
  clickFrames();
  EXPECT_EQ(textLine1, commandList->args[0]);
  EXPECT_EQ(textVisible, 1);
  EXPECT_EQ(GetTextColor(virtualScreen.imageDC), 0u);

  clickFrames();  // text_show: a stop, with the message as it was, never the command's name
  EXPECT_EQ(runEnabled, 0);
  EXPECT_EQ(textVisible, 1);
  EXPECT_EQ(textLine1, commandList->args[0]);

  clickFrames();
  EXPECT_EQ(textVisible, 0);
  frame();
  CommandNode* menuNode = commandList->next->next->next;
  EXPECT_EQ(textLine1, menuNode->args[1]);
  EXPECT_EQ(textLine2, menuNode->args[2]);
  EXPECT_EQ(menuVisible, 0);
  frame();
  EXPECT_EQ(menuVisible, 1);
  EXPECT_EQ(current(), "if");
}

TEST_F(Executors, WindowCommandsActOnTheWindow) {
  writeTempFile("icon.ico", icoFile());
  std::string caption = cp932("第一章");
  startScript({"change_window_caption " + caption, "change_window_size 50 60 300 200",
               "change_window_icon icon.ico", "change_window_icon missing.ico"});
  clickFrames();
  EXPECT_EQ(title(), caption);
  EXPECT_EQ(countRecorded(WM_SETTEXT), 1);
  frame();
  RECT outer = {};
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, 50);
  EXPECT_EQ(outer.top, 60);
  EXPECT_EQ(outer.right, 350);
  EXPECT_EQ(outer.bottom, 260);
  frames(2);
  std::vector<LPARAM> icons;
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message != WM_SETICON) continue;
    EXPECT_EQ(m.window, window);
    EXPECT_EQ(m.wParam, (WPARAM)ICON_SMALL);
    icons.push_back(m.lParam);
  }
  ASSERT_EQ(icons.size(), 2u);
  EXPECT_NE(icons[0], 0);
  EXPECT_EQ(icons[1], 0);  // a missing file clears the small icon
  EXPECT_TRUE(capturedMessageBoxes().empty());
}

TEST_F(Executors, ChangingTheIconAgainAndAgainKeepsTheObjectCount) {
  writeTempFile("icon.ico", icoFile());
  std::vector<std::string> lines(40, "change_window_icon icon.ico");
  startScript(lines);
  clickFrames(2);
  int afterTwo = gdiObjectCount();
  frames(38);
  EXPECT_EQ(gdiObjectCount(), afterTwo);
  EXPECT_EQ(countRecorded(WM_SETICON), 40);
}

TEST_F(Executors, SoundCommandsReachTheSoundSlots) {
  writeTempFile("tone.wav", wavFile());
  startScript({"se_load 3 tone.wav", "se_play 3 1", "se_stop 5", "se_delete 3", "se_play 4 2"});
  clickFrames();
  ASSERT_NE(soundSlots[3].image, nullptr);
  EXPECT_EQ(memcmp(soundSlots[3].image, "RIFF", 4), 0);
  frame();
  EXPECT_EQ(soundSlots[3].played, 1);
  frame();
  EXPECT_NE(soundSlots[3].image, nullptr);
  frame();
  EXPECT_EQ(soundSlots[3].image, nullptr);
  frame();
  EXPECT_EQ(soundSlots[4].played, 1);
}

}  // namespace
