// The message and the two-choice menu on the virtual screen: the choices' colours and hit boxes,
// the message in messageRect, absent texts and the reset. The cursor is placed for real.
#include <string>
#include <utility>
#include <vector>

#include "presentation_fixture.h"
#include "text_canvas.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;

class MessageTextTest : public PresentationTest {
 protected:
  void SetUp() override {
    PresentationTest::SetUp();
    canvas = createTextCanvas(640, 480, white);
    virtualScreen.imageDC = canvas.dc;  // not loaded: the fixture leaves it to destroyCanvas
  }
  void TearDown() override {
    memset(&virtualScreen, 0, sizeof virtualScreen);
    destroyCanvas(&canvas);
    PresentationTest::TearDown();
  }

  void showMenu(const char* firstText, int x1, int y1, const char* secondText, int x2, int y2) {
    textLine1 = firstText, textPos1.x = x1, textPos1.y = y1;
    textLine2 = secondText, textPos2.x = x2, textPos2.y = y2;
    textVisible = menuVisible = 1;
  }
  // One overlay as the frame tick draws it, on a cleared screen, with the cursor at (x, y).
  uint8_t tickWithCursorAt(int x, int y) {
    placeCursor(window, x, y);
    fillTextCanvas(canvas, white);
    drawTextOverlay();
    return menuSelection;
  }
  // The colour of the text in a box: "none", "red", "black" or "mixed". Red text on white keeps
  // red at 255 in every pixel, even where Wine blends its edges.
  std::string inkColour(int left, int top, int right, int bottom) {
    InkCount red = countInk(canvas, left, top, right, bottom, 0xFF0000, white);
    InkCount black = countInk(canvas, left, top, right, bottom, 0, white);
    return red.ink == 0 ? "none" : !red.foreign ? "red" : !black.foreign ? "black" : "mixed";
  }

  PixelCanvas canvas;
  const std::string first = cp932("はい"), second = cp932("いいえ");  // boxes 28 and 42 wide
};

// The choices' colours; the text colour of the last choice drawn stays for the message after it.
TEST_F(MessageTextTest, TheChoiceUnderTheCursorIsRedTheOtherBlack) {
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);
  const struct {
    int x, y, selection;
    const char *firstColour, *secondColour;
    COLORREF left;
  } ticks[] = {{110, 105, 1, "red", "black", 0},
               {300, 300, 0, "black", "black", 0},
               {110, 145, 2, "black", "red", RGB(255, 0, 0)}};
  for (const auto& t : ticks) {
    EXPECT_EQ(tickWithCursorAt(t.x, t.y), t.selection);
    EXPECT_EQ(inkColour(100, 100, 132, 118), t.firstColour);
    EXPECT_EQ(inkColour(100, 140, 148, 158), t.secondColour);
    EXPECT_EQ(GetTextColor(canvas.dc), t.left);
  }
  // The interpreter resolves choice 2 and hides the menu; the first choice is drawn as the
  // message in the colour the last menu tick left.
  menuVisible = 0;
  messageRect = RECT{300, 300, 500, 500};
  EXPECT_EQ(tickWithCursorAt(0, 0), 2);
  EXPECT_TRUE(inkIn(canvas, 0, 0, 640, 300, white).empty());
  EXPECT_EQ(inkColour(300, 300, 332, 318), "red");
}

// Each choice's box is 7 pixels a byte by 16, its last column and row included.
TEST_F(MessageTextTest, HitBoxesIncludeTheirLastColumnAndRow) {
  std::string a = cp932("あ");
  const struct {
    const char *first, *second;
    POINT at1, at2;
    std::vector<std::pair<POINT, int>> cursors;  // where the cursor is, the selection it gives
  } cases[] = {
      // clang-format off
      {"ab", "cd", {100, 100}, {300, 300},
       {{{100, 100}, 1}, {{114, 115}, 1}, {{99, 100}, 0}, {{100, 99}, 0}, {{115, 100}, 0},
        {{100, 116}, 0}, {{314, 315}, 2}, {{315, 315}, 0}}},
      {a.c_str(), "cd", {100, 100}, {300, 300}, {{{114, 100}, 1}, {{115, 100}, 0}}},
      // Where the boxes overlap the first wins.
      {"abcd", "abcd", {100, 100}, {110, 105}, {{{128, 115}, 1}, {{129, 110}, 2}, {{120, 116}, 2}}},
      // An empty choice is one column wide; absent texts (an if without a menu) have no box.
      {"", "cd", {200, 200}, {300, 300}, {{{200, 215}, 1}, {{201, 200}, 0}, {{200, 216}, 0}}},
      {"ab", nullptr, {100, 100}, {0, 0}, {{{0, 0}, 0}, {{100, 100}, 1}}},
      {nullptr, nullptr, {0, 0}, {0, 0}, {{{0, 0}, 0}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    showMenu(c.first, c.at1.x, c.at1.y, c.second, c.at2.x, c.at2.y);
    for (const auto& cursor : c.cursors)
      EXPECT_EQ(tickWithCursorAt(cursor.first.x, cursor.first.y), cursor.second) << c.at1.x;
  }
  EXPECT_TRUE(inkIn(canvas, 0, 0, 640, 480, white).empty());  // nothing drawn of no choices
}

// The message is wrapped and cut off in messageRect, and nothing is drawn while that is empty
// (no text position set yet). A reset forgets the old script's texts and places but keeps the
// message rectangle, where the next message goes, and the selection.
TEST_F(MessageTextTest, TheMessageIsWrappedAndCutOffInMessageRectWhichAResetKeeps) {
  std::string message;
  for (int i = 0; i < 30; ++i) message += cp932("あ");
  textLine1 = message.c_str();
  textVisible = 1;
  tickWithCursorAt(60, 65);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
  messageRect = RECT{50, 60, 250, 96};  // 200 wide, two lines high
  menuSelection = 2;
  EXPECT_EQ(tickWithCursorAt(60, 65), 2);  // the message leaves the selection alone
  InkBox all = inkAnywhere(canvas, white);
  EXPECT_TRUE(all.left >= 50 && all.top >= 60 && all.right < 250 && all.bottom < 96);
  std::vector<InkBox> lines = lineInk(canvas, 50, 60, 2, white);
  EXPECT_EQ(cellsReached(lines[0], wideCell) * 100 + cellsReached(lines[1], wideCell), 1212);
  EXPECT_EQ(inkColour(50, 60, 250, 96), "black");
  showMenu(first.c_str(), 100, 100, second.c_str(), 100, 140);
  textVisible = 0;
  EXPECT_EQ(tickWithCursorAt(110, 105), 2);  // hidden: the menu is neither drawn nor hit-tested
  resetTextState();
  EXPECT_TRUE(textLine1 == nullptr && textLine2 == nullptr && textVisible + menuVisible == 0);
  EXPECT_EQ(textPos1.x + textPos1.y + textPos2.x + textPos2.y, 0);
  textVisible = 1;
  textLine1 = first.c_str();
  EXPECT_EQ(tickWithCursorAt(0, 0), 2);
  EXPECT_EQ(inkColour(50, 60, 82, 78), "black");
}

}  // namespace
