// Text in a memory DC's default font as Japanese Windows draws it: line breaks, prefixes, colours,
// background modes and broken CP932, by ink positions only, never glyph shapes.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "presentation/text_canvas.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;
constexpr int left = 10, top = 10;  // where the tests' rectangles start on the canvas

std::string repeat(const char* utf8, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += cp932(utf8);
  return text;
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override { canvas = createTextCanvas(640, 480, white); }
  void TearDown() override { destroyCanvas(&canvas); }

  // DrawTextA into a rectangle width x height at (left, top) on a cleared canvas.
  int draw(const std::string& text, int width, int height, const PixelCanvas* on = nullptr) {
    on = on ? on : &canvas;
    fillTextCanvas(*on, white);
    RECT rect = {left, top, left + width, top + height};
    return DrawTextA(on->dc, text.data(), int(text.size()), &rect, DT_WORDBREAK);
  }
  PixelCanvas canvas;
};

// Where lines break, as the ink of each line shows it: how many character cells it reaches.
TEST_F(Text, LinesBreakWhereWindowsBreaksThem) {
  const struct {
    std::string text;
    int cellWidth;
    std::vector<int> cells;  // per line, one more line than drawn (empty)
  } cases[] = {
      {repeat("あ", 30), wideCell, {12, 12, 6, 0}},
      // Japanese with spaces still breaks between characters and may end at the edge exactly.
      {cp932("ああ ああ ああああ ああああ ああ"), narrowCell, {25, 7, 0}},
      // Characters that may not start a line take the one before along; 「 may not end one.
      {repeat("あ", 11) + cp932("「") + repeat("あ", 2), wideCell, {11, 3, 0}},
      {repeat("あ", 12) + cp932("。あ"), wideCell, {11, 3, 0}},
      {"hello world this is a test of wrapping words", narrowCell, {21, 22, 0}},
      // A word wider than the rectangle stays whole and is clipped at its edge.
      {std::string(36, 'a') + " bb cc", narrowCell, {25, 5, 0}},
      {"abcdefghijklmnopqrstu" + repeat("あ", 3), wideCell, {13, 1, 0}},  // 200 px
      // CR LF, LF and a lone CR each end a line; an empty line stays empty.
      {"ab\r\ncd\nef\rgh\n\nij", narrowCell, {2, 2, 2, 2, 0, 2, 0}},
      {"   ab\n  cd", narrowCell, {5, 4, 0}},  // leading spaces are kept
      // A trail byte 0x5C is never split from its lead byte nor taken for a backslash.
      {"ab" + repeat("表", 12), narrowCell, {24, 2, 0}},
      {repeat("表", 12) + repeat("ソ", 2) + "n", narrowCell, {24, 5, 0}},
      {"a&bc&&d", narrowCell, {5, 0}},      // "&b" shows b underlined, "&&" one '&'
      {cp932("ｱあｱ"), narrowCell, {4, 0}},  // the fixed-pitch System font: 8 and 16 pixels
  };
  for (const auto& c : cases) {
    int lines = int(c.cells.size()) - 1;
    EXPECT_EQ(draw(c.text, 200, 200), lines * lineHeight) << c.text;
    std::vector<int> reached;
    for (const InkBox& box : lineInk(canvas, left, top, lines + 1, white)) {
      reached.push_back(cellsReached(box, c.cellWidth));
    }
    EXPECT_EQ(reached, c.cells) << c.text;
    EXPECT_TRUE(inkIn(canvas, left + 200, 0, 640, 480, white).empty()) << c.text;
  }
}

// Text from above the bitmap keeps its rows inside, row 0 too; "&&" draws what TextOutA draws
// for '&', a single '&' underlines the letter after it; Greek letters have glyphs of their own.
TEST_F(Text, TopEdgePrefixesAndGreekDrawTheirOwnInk) {
  PixelCanvas other = createTextCanvas(640, 480, white);
  auto same = [&] { return memcmp(canvas.bits, other.bits, 640 * 480 * 4) == 0; };
  fillTextCanvas(canvas, white);
  TextOutA(canvas.dc, left, -lineHeight / 2, cp932("■").c_str(), 2);
  EXPECT_FALSE(inkIn(canvas, 0, 0, 640, 1, white).empty());
  draw("x&&y", 200, 200);
  TextOutA(other.dc, left, top, "x&y", 3);
  EXPECT_TRUE(same());
  draw("y&z", 200, 200);
  draw("y&y", 200, 200, &other);
  EXPECT_FALSE(same());
  fillTextCanvas(canvas, white), fillTextCanvas(other, white);
  TextOutA(canvas.dc, left, top, cp932("α").c_str(), 2);
  TextOutA(other.dc, left, top, cp932("β").c_str(), 2);
  EXPECT_FALSE(same());
  destroyCanvas(&other);
}

// In every depth the glyphs are the text colour inside their cells, which OPAQUE fills with the
// background colour and TRANSPARENT leaves; nothing beyond the cells changes.
TEST_F(Text, GlyphsAreTheTextColourAndOpaqueModeFillsTheCells) {
  const struct {
    int bits, mode;
    COLORREF text, background, cells;  // grey or primaries, so that GDI and rgb order read alike
  } depths[] = {{32, TRANSPARENT, RGB(255, 0, 0), RGB(0, 255, 0), 0},
                {32, OPAQUE, 0, RGB(0, 255, 0), RGB(0, 255, 0)},
                {24, OPAQUE, RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 255, 255)},
                {16, OPAQUE, RGB(255, 255, 255), RGB(0, 0, 0), RGB(0, 0, 0)}};
  for (const auto& each : depths) {
    PixelCanvas bitmap = createCanvas(32, 28, each.bits);  // zeroed: black
    SetBkMode(bitmap.dc, each.mode);
    SetBkColor(bitmap.dc, each.background);
    SetTextColor(bitmap.dc, each.text);
    ASSERT_TRUE(TextOutA(bitmap.dc, 4, 5, cp932("Aあ").c_str(), 3));
    int ink = 0;
    for (int k = 0; k < 32 * 28; ++k) {
      int x = k % 32, y = k / 32;
      COLORREF pixel = GetPixel(bitmap.dc, x, y);
      bool inCells = x >= 4 && x < 4 + narrowCell + wideCell && y >= 5 && y < 5 + lineHeight;
      ink += inCells && pixel != each.cells;
      ASSERT_TRUE(inCells ? pixel == each.cells || isTextShade(pixel, each.text, each.cells)
                          : pixel == 0)
          << each.bits << " bpp at " << x << "," << y;
    }
    EXPECT_GT(ink, 10) << each.bits << " bpp";
    EXPECT_EQ(GetPixel(bitmap.dc, 4 + narrowCell + wideCell - 1, 5), each.cells);
    destroyCanvas(&bitmap);
  }
}

// Each text is copied into a buffer of exactly its length, so that a read past it is caught;
// drawn at the edges of a small bitmap, and inside its rectangle.
TEST_F(Text, BrokenCp932AndEdgesStayInsideTheirBounds) {
  const std::string texts[] = {
      "ab\x82", "\x81\nab", "\x81 \x82\x20x", "\x85\x40\xFD\x80\xA0", "\x82", cp932("あいうえお")};
  PixelCanvas small = createTextCanvas(30, 20, white);
  for (const std::string& text : texts) {
    std::vector<char> exact(text.begin(), text.end());
    int length = int(text.size());
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + 40, top + 40};
    int height = DrawTextA(canvas.dc, exact.data(), length, &rect, DT_WORDBREAK);
    EXPECT_TRUE(height >= lineHeight && height % lineHeight == 0) << height;
    InkBox box = inkAnywhere(canvas, white);
    EXPECT_TRUE(box.empty() ||
                (box.left >= left && box.right < left + 40 && box.bottom < top + 40));
    for (POINT at : {POINT{-20, -10}, POINT{25, -17}, POINT{-1000, 0}, POINT{1000, 1000}}) {
      EXPECT_TRUE(TextOutA(small.dc, at.x, at.y, exact.data(), length));
      rect = {at.x, at.y, at.x + 100, at.y + 100};
      DrawTextA(small.dc, exact.data(), length, &rect, DT_WORDBREAK);
    }
  }
  EXPECT_FALSE(inkAnywhere(small, white).empty());
  destroyCanvas(&small);
}

}  // namespace
