// Text in the default font of a memory DC, as Japanese Windows draws it: metrics and advances,
// where DrawTextA breaks lines, clipping, colours and background modes, broken CP932 and several
// threads. Layout and ink positions only, never glyph shapes, so the same tests hold on every
// GDI. State: one canvas per test.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "presentation/text_canvas.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;
constexpr int left = 10;  // where the tests' rectangles start on the canvas
constexpr int top = 10;

std::string repeat(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override { canvas = createTextCanvas(640, 480, white); }
  void TearDown() override { destroyCanvas(&canvas); }

  // DrawTextA into a rectangle width x height at (left, top) on a cleared canvas.
  int draw(const std::string& text, int width, int height, UINT format = DT_WORDBREAK) {
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + width, top + height};
    return DrawTextA(canvas.dc, text.data(), int(text.size()), &rect, format);
  }
  // How many cells of the given width each of the first count lines reaches into.
  std::vector<int> cells(int count, int cellWidth) {
    std::vector<int> reached;
    for (const InkBox& box : lineInk(canvas, left, top, count, white)) {
      reached.push_back(cellsReached(box, cellWidth));
    }
    return reached;
  }
  PixelCanvas canvas;
};

TEST_F(Text, DefaultFontIsTheFixedPitchSystemFont) {
  TEXTMETRICA metrics;
  ASSERT_TRUE(GetTextMetricsA(canvas.dc, &metrics));
  EXPECT_EQ(metrics.tmHeight * 10000 + metrics.tmAscent * 100 + metrics.tmDescent, 181503);
  const struct {
    const char* utf8;
    int width;
  } cases[] = {{"A", 8},  {"i", 8},  {"ｱ", 8},         {"あ", 16},         {"表", 16},
               {"ソ", 16}, {"漢", 16}, {"Aあｱ表ソ", 64}, {"abc def", 56}};
  for (const auto& c : cases) {
    std::string text = cp932(c.utf8);
    SIZE size = {};
    ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc, text.data(), int(text.size()), &size));
    EXPECT_EQ(size.cx * 100 + size.cy, c.width * 100 + 18) << c.utf8;
  }
  SIZE empty = {5, 5};
  EXPECT_TRUE(GetTextExtentPoint32A(canvas.dc, "", 0, &empty));
  EXPECT_EQ(empty.cx, 0);
}

// Where lines break, as the ink of each line shows it: how many character cells it reaches.
TEST_F(Text, LinesBreakWhereWindowsBreaksThem) {
  std::string a = cp932("あ"), hyo = cp932("表"), so = cp932("ソ");
  const struct {
    std::string text;
    UINT format;
    int cellWidth;
    std::vector<int> cells;  // per line, one more line than drawn (empty)
  } cases[] = {
      {repeat(a, 30), DT_WORDBREAK, wideCell, {12, 12, 6, 0}},
      // Japanese with spaces still breaks between characters and may end at the edge exactly.
      {repeat(a, 2) + " " + repeat(a, 2) + " " + repeat(a, 4) + " " + repeat(a, 4) + " " +
           repeat(a, 2),
       DT_WORDBREAK, narrowCell, {25, 7, 0}},
      // Characters that may not start a line take the one before along; 「 may not end one.
      {repeat(a, 11) + cp932("「") + repeat(a, 2), DT_WORDBREAK, wideCell, {11, 3, 0}},
      {repeat(a, 12) + cp932("。") + a, DT_WORDBREAK, wideCell, {11, 3, 0}},
      {repeat(a, 12) + cp932("ゃ") + a, DT_WORDBREAK, wideCell, {11, 3, 0}},
      {repeat(a, 12) + cp932("ー") + a, DT_WORDBREAK, wideCell, {11, 3, 0}},
      {"hello world this is a test of wrapping words", DT_WORDBREAK, narrowCell, {21, 22, 0}},
      // A word wider than the rectangle stays whole and is clipped at its edge.
      {std::string(36, 'a') + " bb cc", DT_WORDBREAK, narrowCell, {25, 5, 0}},
      {"abcdefghijklmnopqrstu" + repeat(a, 3), DT_WORDBREAK, wideCell, {13, 1, 0}},  // 200 px
      // CR LF, LF and a lone CR each end a line; an empty line stays empty.
      {"ab\r\ncd\nef\rgh\n\nij", DT_WORDBREAK, narrowCell, {2, 2, 2, 2, 0, 2, 0}},
      {"   ab cd", DT_WORDBREAK, narrowCell, {8, 0}},  // leading spaces are kept
      {"ab\n  cd", DT_WORDBREAK, narrowCell, {2, 4, 0}},
      // A trail byte 0x5C is never split from its lead byte nor taken for a backslash.
      {"ab" + repeat(hyo, 11) + hyo, DT_WORDBREAK, narrowCell, {24, 2, 0}},
      {"ab" + repeat(hyo, 11) + so, DT_WORDBREAK, narrowCell, {24, 2, 0}},
      {repeat(hyo, 12) + so + so + "n", DT_WORDBREAK, narrowCell, {24, 5, 0}},
      // "&b" shows b underlined, "&&" one '&'; DT_NOPREFIX shows them as they are.
      {"a&bc&&d", DT_WORDBREAK, narrowCell, {5, 0}},
      {"a&bc&&d", DT_WORDBREAK | DT_NOPREFIX, narrowCell, {7, 0}},
  };
  for (const auto& c : cases) {
    int lines = int(c.cells.size()) - 1;
    EXPECT_EQ(draw(c.text, 200, 200, c.format), lines * lineHeight) << c.text;
    EXPECT_EQ(cells(lines + 1, c.cellWidth), c.cells) << c.text;
  }
  EXPECT_TRUE(inkIn(canvas, left + 200, 0, 640, 480, white).empty());
  EXPECT_EQ(draw("ab\ncd", 200, 200, DT_SINGLELINE), lineHeight);
}

TEST_F(Text, DrawTextClipsToTheRectangleAndMeasuresWithoutDrawing) {
  std::string text = repeat(cp932("あ"), 30);
  // Two characters per 40-pixel line: the third line is cut off below and ends the drawing.
  EXPECT_EQ(draw(text, 40, 40), 3 * lineHeight);
  InkBox all = inkAnywhere(canvas, white);
  EXPECT_EQ(std::vector<bool>({all.left >= left, all.top >= top, all.right < left + 40,
                               all.bottom < top + 40}),
            std::vector<bool>(4, true));
  EXPECT_FALSE(inkIn(canvas, 0, top + 36, 640, top + 40, white).empty());
  EXPECT_EQ(draw(text, 40, 40, DT_WORDBREAK | DT_NOCLIP), 15 * lineHeight);
  EXPECT_FALSE(inkIn(canvas, 0, top + 14 * lineHeight, 640, 480, white).empty());
  EXPECT_EQ(draw("hello", 0, 0), lineHeight);  // an empty rectangle shows nothing
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
  EXPECT_EQ(draw("", 200, 200), 0);

  const struct {
    std::string text;
    int width, height;
    RECT result;  // relative to (left, top)
  } measures[] = {{text, 200, 20, {0, 0, 192, 3 * lineHeight}},
                  {std::string(36, 'a') + " bb", 200, 200, {0, 0, 36 * narrowCell, 2 * lineHeight}},
                  {"", 50, 50, {0, 0, 50, 50}}};
  for (const auto& m : measures) {
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + m.width, top + m.height};
    DrawTextA(canvas.dc, m.text.data(), int(m.text.size()), &rect, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
              std::vector<LONG>({left, top, left + m.result.right, top + m.result.bottom}));
    EXPECT_TRUE(inkAnywhere(canvas, white).empty());
  }
}

TEST_F(Text, GlyphsAreTheTextColourAndOpaqueModeFillsTheCells) {
  const uint32_t blue = 0x2040C0;
  fillTextCanvas(canvas, blue);
  SetTextColor(canvas.dc, RGB(255, 0, 0));
  std::string text = cp932("赤いAｱ");
  ASSERT_TRUE(TextOutA(canvas.dc, 100, 50, text.data(), int(text.size())));
  InkCount inside = countInk(canvas, 100, 50, 148, 68, 0xFF0000, blue);  // 48 x 18 cells
  EXPECT_GT(inside.ink, 40);
  EXPECT_EQ(inside.foreign, 0);
  EXPECT_EQ(countInk(canvas, 0, 0, 640, 480, 0xFF0000, blue).ink, inside.ink);

  // In every depth, OPAQUE fills the cells with the background colour and nothing beyond.
  const struct {
    int bits;
    std::vector<COLORREF> palette;
    COLORREF text, background;  // grey, so that GDI and rgb order read alike
  } depths[] = {{32, {}, 0, RGB(0, 255, 0)},
                {24, {}, RGB(0, 0, 0), RGB(255, 255, 255)},
                {16, {}, RGB(255, 255, 255), RGB(0, 0, 0)},
                {1, {0x000000, 0xFFFFFF}, RGB(255, 255, 255), RGB(0, 0, 0)}};
  for (const auto& each : depths) {
    PixelCanvas bitmap = createCanvas(32, 28, each.bits, each.palette);  // zeroed: black
    SetBkMode(bitmap.dc, OPAQUE);
    SetBkColor(bitmap.dc, each.background);
    SetTextColor(bitmap.dc, each.text);
    ASSERT_TRUE(TextOutA(bitmap.dc, 4, 5, cp932("Aあ").c_str(), 3));
    int ink = 0;
    for (int y = 0; y < bitmap.height; ++y) {
      for (int x = 0; x < bitmap.width; ++x) {
        COLORREF pixel = GetPixel(bitmap.dc, x, y);
        if (x < 4 || x >= 4 + narrowCell + wideCell || y < 5 || y >= 5 + lineHeight) {
          ASSERT_EQ(pixel, 0u) << each.bits << " bpp at " << x << "," << y;
        } else if (pixel != each.background) {
          ++ink;
          ASSERT_TRUE(isTextShade(pixel, each.text, each.background)) << each.bits << " bpp";
        }
      }
    }
    EXPECT_GT(ink, 10) << each.bits << " bpp";
    EXPECT_EQ(GetPixel(bitmap.dc, 4 + narrowCell + wideCell - 1, 5), each.background);
    destroyCanvas(&bitmap);
  }
}

// Each text is copied into a buffer of exactly its length, so that a read past it is caught;
// drawn at the edges of a small bitmap, and inside its rectangle.
TEST_F(Text, BrokenCp932AndEdgesStayInsideTheirBounds) {
  const std::string texts[] = {"ab\x82", "\x81\nab", "\x81 \x82\x20x", "\x85\x40\xFD\x80\xA0",
                               "\x82", cp932("あいうえお")};
  const POINT origins[] = {{-20, -10}, {25, -17}, {-1000, 0}, {1000, 1000}};
  PixelCanvas small = createTextCanvas(30, 20, white);
  for (const std::string& text : texts) {
    std::unique_ptr<char[]> exact(new char[text.size()]);
    memcpy(exact.get(), text.data(), text.size());
    int length = int(text.size());
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + 40, top + 40};
    int height = DrawTextA(canvas.dc, exact.get(), length, &rect, DT_WORDBREAK);
    EXPECT_GE(height, lineHeight);
    EXPECT_EQ(height % lineHeight, 0);
    InkBox box = inkAnywhere(canvas, white);
    EXPECT_TRUE(box.empty() || (box.left >= left && box.right < left + 40 && box.bottom < top + 40));
    SIZE size = {};
    EXPECT_TRUE(GetTextExtentPoint32A(canvas.dc, exact.get(), length, &size));
    EXPECT_GE(size.cx, narrowCell);
    for (POINT origin : origins) {
      EXPECT_TRUE(TextOutA(small.dc, origin.x, origin.y, exact.get(), length));
      rect = {origin.x, origin.y, origin.x + 100, origin.y + 100};
      DrawTextA(small.dc, exact.get(), length, &rect, DT_WORDBREAK | DT_NOCLIP);
    }
  }
  EXPECT_FALSE(inkAnywhere(small, white).empty());
  destroyCanvas(&small);
}

TEST_F(Text, ThreadsDrawTheSameAsOneThread) {
  // Characters no other test draws, so that the threads render them while they race.
  std::string text = cp932("薔薇色の鬱蒼たる森羅万象、驚愕の麒麟が躍る。") + "Quartz 42";
  std::vector<PixelCanvas> canvases;
  for (int i = 0; i < 5; ++i) canvases.push_back(createTextCanvas(200, 100, white));
  std::vector<std::thread> threads;
  for (int i = 1; i < 5; ++i) {
    threads.emplace_back([&, i] {
      RECT rect = {0, 0, 200, 100};
      DrawTextA(canvases[i].dc, text.data(), int(text.size()), &rect, DT_WORDBREAK);
    });
  }
  for (std::thread& thread : threads) thread.join();
  RECT rect = {0, 0, 200, 100};
  DrawTextA(canvases[0].dc, text.data(), int(text.size()), &rect, DT_WORDBREAK);
  ASSERT_FALSE(inkAnywhere(canvases[0], white).empty());
  for (int i = 4; i >= 0; --i) {
    EXPECT_EQ(memcmp(canvases[i].bits, canvases[0].bits, 200 * 100 * 4), 0) << i;
    destroyCanvas(&canvases[i]);
  }
}

}  // namespace
