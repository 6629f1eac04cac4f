// The message and the two-choice menu on the virtual screen: the colours of the choices by the
// selection, the hit boxes' edges, the message wrapped and cut off in messageRect, the text
// colour a selection leaves behind, and absent texts. The cursor is placed for real.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"
#include "text_canvas.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;

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
  // The colour of the text in a box: "none", "red", "black" or "mixed". Red text on white keeps
  // red at 255 in every pixel, even where Wine blends its edges; black text has dark pixels.
  std::string inkColour(int left, int top, int right, int bottom) {
    InkCount red = countInk(canvas, left, top, right, bottom, 0xFF0000, white);
    if (red.ink == 0) return "none";
    if (red.foreign == 0) return "red";
    bool darkPixel = false;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) darkPixel |= (canvasPixel(canvas, x, y) >> 16) < 0x80;
    }
    return countInk(canvas, left, top, right, bottom, 0, white).foreign == 0 && darkPixel ? "black"
                                                                                         : "mixed";
  }
  // The cells of the two choices of the standard menu below.
  std::string firstInk() { return inkColour(100, 100, 132, 118); }
  std::string secondInk() { return inkColour(100, 140, 148, 158); }

  PixelCanvas canvas;
  ImageSlot savedScreen;
  HWND window = nullptr;
  HWND savedWindow = nullptr;
  std::string first, second;
};

TEST_F(MessageTextTest, TheChoiceUnderTheCursorIsRedTheOtherBlack) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);

  EXPECT_EQ(tickWithCursorAt(110, 105), 1);
  EXPECT_EQ(firstInk(), "red");
  EXPECT_EQ(secondInk(), "black");
  EXPECT_EQ(GetTextColor(canvas.dc), 0u);

  EXPECT_EQ(tickWithCursorAt(110, 145), 2);
  EXPECT_EQ(firstInk(), "black");
  EXPECT_EQ(secondInk(), "red");
  EXPECT_EQ(GetTextColor(canvas.dc), RGB(255, 0, 0));  // left red after the second choice

  EXPECT_EQ(tickWithCursorAt(300, 300), 0);
  EXPECT_EQ(firstInk(), "black");
  EXPECT_EQ(secondInk(), "black");
  EXPECT_EQ(GetTextColor(canvas.dc), 0u);
  // Nothing but the two choices was drawn.
  EXPECT_EQ(countInk(canvas, 0, 0, 640, 480, 0, white).ink,
            countInk(canvas, 100, 100, 132, 118, 0, white).ink +
                countInk(canvas, 100, 140, 148, 158, 0, white).ink);
}

TEST_F(MessageTextTest, HitBoxesIncludeTheirLastColumnAndRow) {
  std::string a = cp932("あ");
  struct Case {
    const char* what;
    const char *first, *second;
    POINT at1, at2;
    std::vector<std::pair<POINT, int>> cursors;  // where the cursor is, the selection it gives
  } cases[] = {
      // "ab": 2 bytes x 7 = 14, so columns 100 to 114 and rows 100 to 115.
      {"two bytes", "ab", "cd", {100, 100}, {300, 300},
       {{{100, 100}, 1}, {{114, 115}, 1}, {{99, 100}, 0}, {{100, 99}, 0}, {{115, 100}, 0},
        {{100, 116}, 0}, {{314, 315}, 2}, {{315, 315}, 0}}},
      {"a double-byte character counts as two bytes", a.c_str(), "cd", {100, 100}, {300, 300},
       {{{114, 100}, 1}, {{115, 100}, 0}}},
      {"where the boxes overlap the first wins", "abcd", "abcd", {100, 100}, {110, 105},
       {{{120, 110}, 1}, {{128, 115}, 1}, {{129, 110}, 2}, {{120, 116}, 2}}},
      {"an empty choice is one column wide, sixteen rows high", "", "cd", {200, 200}, {300, 300},
       {{{200, 200}, 1}, {{200, 215}, 1}, {{201, 200}, 0}, {{199, 200}, 0}, {{200, 216}, 0}}},
  };
  for (const Case& c : cases) {
    showMenu(c.first, c.at1.x, c.at1.y, c.second, c.at2.x, c.at2.y);
    for (const auto& cursor : c.cursors) {
      EXPECT_EQ(tickWithCursorAt(cursor.first.x, cursor.first.y), cursor.second)
          << c.what << ", cursor at " << cursor.first.x << "," << cursor.first.y;
    }
  }
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
  EXPECT_EQ(inkColour(50, 60, 250, 96), "black");
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
  EXPECT_EQ(inkColour(300, 300, 332, 318), "red");
}

TEST_F(MessageTextTest, HiddenAndAbsentTextsAreNeitherDrawnNorHitTested) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);
  textVisible = 0;
  menuSelection = 2;
  EXPECT_EQ(tickWithCursorAt(110, 105), 2);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());

  // An `if` with no `menu` before it: the second text is absent.
  menuSelection = 0;
  showMenu(first.c_str(), 100, 100, nullptr, 0, 0);
  EXPECT_EQ(tickWithCursorAt(0, 0), 0);
  EXPECT_EQ(tickWithCursorAt(110, 105), 1);
  EXPECT_EQ(firstInk(), "red");
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
  EXPECT_EQ(inkColour(100, 100, 132, 118), "black");
}

}  // namespace
