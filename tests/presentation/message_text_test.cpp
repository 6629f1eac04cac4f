// The message and the two-choice menu on the virtual screen: the colours of the choices by the
// selection, the hit boxes' edges, the message wrapped and cut off in messageRect, the text
// colour a selection leaves behind, and absent texts. The cursor is placed for real.
#include <string>

#include <gtest/gtest.h>

#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"
#include "text_canvas.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;

enum class Ink { none, red, black, mixed };

const char* inkName(Ink ink) {
  switch (ink) {
    case Ink::none:
      return "none";
    case Ink::red:
      return "red";
    case Ink::black:
      return "black";
    case Ink::mixed:
      return "mixed";
  }
  return "?";
}

class MessageTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas = createTextCanvas(640, 480, white);
    savedScreen = virtualScreen;
    virtualScreen.imageDC = canvas.dc;
    window = createRecordingWindow();
    ASSERT_NE(window, nullptr);
    savedWindow = mainWindow;
    mainWindow = window;
    resetTextState();
    messageRect = RECT{0, 0, 0, 0};
    menuSelection = 0;
    first = cp932("はい");     // 4 bytes: hit box 28 wide
    second = cp932("いいえ");  // 6 bytes: hit box 42 wide
  }
  void TearDown() override {
    resetTextState();
    virtualScreen = savedScreen;
    mainWindow = savedWindow;
    destroyRecordingWindow(window);
    destroyCanvas(&canvas);
  }

  void showMenu(const char* firstText, int x1, int y1, const char* secondText, int x2, int y2) {
    textLine1 = firstText;
    textLine2 = secondText;
    textPos1.x = x1;
    textPos1.y = y1;
    textPos2.x = x2;
    textPos2.y = y2;
    textVisible = 1;
    menuVisible = 1;
  }
  // One overlay as the frame tick draws it, on a cleared screen, with the cursor at (x, y).
  uint8_t tickWithCursorAt(int x, int y) {
    placeCursor(window, x, y);
    fillTextCanvas(canvas, white);
    drawTextOverlay();
    return menuSelection;
  }
  // The colour of the text in a box: red text on white keeps red at 255 in every pixel, even
  // where Wine blends its edges; black text has dark pixels.
  Ink inkColour(int left, int top, int right, int bottom) {
    InkCount red = countInk(canvas, left, top, right, bottom, 0xFF0000, white);
    if (red.ink == 0) return Ink::none;
    if (red.foreign == 0) return Ink::red;
    InkCount dark = countInk(canvas, left, top, right, bottom, 0x000000, white);
    bool darkPixel = false;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) darkPixel |= (canvasPixel(canvas, x, y) >> 16) < 0x80;
    }
    return dark.foreign == 0 && darkPixel ? Ink::black : Ink::mixed;
  }
  // The cells of the two choices of the standard menu below.
  Ink firstInk() { return inkColour(100, 100, 132, 118); }
  Ink secondInk() { return inkColour(100, 140, 148, 158); }

  PixelCanvas canvas;
  ImageSlot savedScreen;
  HWND window = nullptr;
  HWND savedWindow = nullptr;
  std::string first, second;
};

TEST_F(MessageTextTest, TheChoiceUnderTheCursorIsRedTheOtherBlack) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);

  EXPECT_EQ(tickWithCursorAt(110, 105), 1);
  EXPECT_STREQ(inkName(firstInk()), "red");
  EXPECT_STREQ(inkName(secondInk()), "black");
  EXPECT_EQ(GetTextColor(canvas.dc), 0u);

  EXPECT_EQ(tickWithCursorAt(110, 145), 2);
  EXPECT_STREQ(inkName(firstInk()), "black");
  EXPECT_STREQ(inkName(secondInk()), "red");
  EXPECT_EQ(GetTextColor(canvas.dc), RGB(255, 0, 0));  // left red after the second choice

  EXPECT_EQ(tickWithCursorAt(300, 300), 0);
  EXPECT_STREQ(inkName(firstInk()), "black");
  EXPECT_STREQ(inkName(secondInk()), "black");
  EXPECT_EQ(GetTextColor(canvas.dc), 0u);
  // Nothing but the two choices was drawn.
  EXPECT_EQ(countInk(canvas, 0, 0, 640, 480, 0, white).ink,
            countInk(canvas, 100, 100, 132, 118, 0, white).ink +
                countInk(canvas, 100, 140, 148, 158, 0, white).ink);
}

TEST_F(MessageTextTest, HitBoxesIncludeTheirLastColumnAndRow) {
  // "ab": 2 bytes x 7 = 14, so columns 100 to 114 and rows 100 to 115.
  showMenu("ab", 100, 100, "cd", 300, 300);
  EXPECT_EQ(tickWithCursorAt(100, 100), 1);
  EXPECT_EQ(tickWithCursorAt(114, 115), 1);
  EXPECT_EQ(tickWithCursorAt(99, 100), 0);
  EXPECT_EQ(tickWithCursorAt(100, 99), 0);
  EXPECT_EQ(tickWithCursorAt(115, 100), 0);
  EXPECT_EQ(tickWithCursorAt(100, 116), 0);
  EXPECT_EQ(tickWithCursorAt(314, 315), 2);
  EXPECT_EQ(tickWithCursorAt(315, 315), 0);

  // A double-byte character counts as two bytes.
  std::string a = cp932("あ");
  showMenu(a.c_str(), 100, 100, "cd", 300, 300);
  EXPECT_EQ(tickWithCursorAt(114, 100), 1);
  EXPECT_EQ(tickWithCursorAt(115, 100), 0);

  // Where the boxes overlap the first choice wins.
  showMenu("abcd", 100, 100, "abcd", 110, 105);
  EXPECT_EQ(tickWithCursorAt(120, 110), 1);
  EXPECT_EQ(tickWithCursorAt(128, 115), 1);
  EXPECT_EQ(tickWithCursorAt(129, 110), 2);
  EXPECT_EQ(tickWithCursorAt(120, 116), 2);

  // An empty choice has a box one column wide and sixteen rows high.
  showMenu("", 200, 200, "cd", 300, 300);
  EXPECT_EQ(tickWithCursorAt(200, 200), 1);
  EXPECT_EQ(tickWithCursorAt(200, 215), 1);
  EXPECT_EQ(tickWithCursorAt(201, 200), 0);
  EXPECT_EQ(tickWithCursorAt(199, 200), 0);
  EXPECT_EQ(tickWithCursorAt(200, 216), 0);
}

TEST_F(MessageTextTest, TheMessageIsWrappedAndCutOffInMessageRect) {
  std::string message;
  for (int i = 0; i < 30; ++i) message += cp932("あ");
  textLine1 = message.c_str();
  textVisible = 1;
  messageRect = RECT{50, 60, 250, 96};  // 200 wide, two lines high
  menuSelection = 2;

  EXPECT_EQ(tickWithCursorAt(60, 65), 2);  // the message leaves the selection alone
  InkBox all = inkAnywhere(canvas, white);
  ASSERT_FALSE(all.empty());
  EXPECT_GE(all.left, 50);
  EXPECT_GE(all.top, 60);
  EXPECT_LT(all.right, 250);
  EXPECT_LT(all.bottom, 96);
  std::vector<InkBox> lines = lineInk(canvas, 50, 60, 2, white);
  EXPECT_EQ(cellsReached(lines[0], wideCell), 12);
  EXPECT_EQ(cellsReached(lines[1], wideCell), 12);
  EXPECT_STREQ(inkName(inkColour(50, 60, 250, 96)), "black");
  EXPECT_EQ(messageRect.right, 250);
  EXPECT_EQ(messageRect.bottom, 96);

  // Until a text position is set the rectangle is empty and the message is clipped away.
  messageRect = RECT{0, 0, 0, 0};
  tickWithCursorAt(60, 65);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
}

TEST_F(MessageTextTest, AMessageAfterTheSecondChoiceIsRed) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);
  ASSERT_EQ(tickWithCursorAt(110, 145), 2);
  // The interpreter resolves the choice and hides the menu; the text stays visible, and the
  // first choice is drawn as the message in the colour the last menu tick left.
  menuVisible = 0;
  messageRect = RECT{300, 300, 500, 500};
  EXPECT_EQ(tickWithCursorAt(0, 0), 2);
  EXPECT_TRUE(inkIn(canvas, 0, 0, 640, 300, white).empty());
  EXPECT_STREQ(inkName(inkColour(300, 300, 332, 318)), "red");
}

TEST_F(MessageTextTest, HiddenTextIsNeitherDrawnNorHitTested) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);
  textVisible = 0;
  menuSelection = 2;
  EXPECT_EQ(tickWithCursorAt(110, 105), 2);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
}

TEST_F(MessageTextTest, AbsentChoicesAreNeitherDrawnNorHitTested) {
  // An `if` with no `menu` before it: the second text is absent.
  showMenu(first.c_str(), 100, 100, nullptr, 0, 0);
  EXPECT_EQ(tickWithCursorAt(0, 0), 0);
  EXPECT_EQ(tickWithCursorAt(110, 105), 1);
  EXPECT_STREQ(inkName(firstInk()), "red");
  EXPECT_TRUE(inkIn(canvas, 0, 0, 640, 100, white).empty());
  EXPECT_TRUE(inkIn(canvas, 0, 118, 640, 480, white).empty());

  // Nothing shown since the script started: no message, no choices.
  showMenu(nullptr, 0, 0, nullptr, 0, 0);
  EXPECT_EQ(tickWithCursorAt(0, 0), 0);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
  menuVisible = 0;
  messageRect = RECT{0, 0, 200, 200};
  tickWithCursorAt(0, 0);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
}

TEST_F(MessageTextTest, ResetHidesTheTextAndKeepsMessageRectAndSelection) {
  showMenu(first.c_str(), 5, 6, second.c_str(), 7, 8);
  messageRect = RECT{100, 100, 300, 300};
  menuSelection = 2;
  resetTextState();
  EXPECT_EQ(textLine1, nullptr);  // the old script's nodes are gone
  EXPECT_EQ(textLine2, nullptr);
  EXPECT_EQ(textPos1.width, 200);
  EXPECT_EQ(menuSelection, 2);
  // Shown again without a text position, the message uses the rectangle kept from before.
  textLine1 = first.c_str();
  textVisible = 1;
  EXPECT_EQ(tickWithCursorAt(0, 0), 2);
  EXPECT_STREQ(inkName(inkColour(100, 100, 132, 118)), "black");
}

}  // namespace
