// Text in the default font of a memory DC, as Japanese Windows draws it: metrics and advances,
// where DrawTextA breaks lines, clipping, colours and background modes, broken CP932, and
// drawing from several threads. Layout and ink positions only, never glyph shapes, so the same
// tests hold against Wine's GDI.
#include <string.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "text_canvas.h"

namespace {

constexpr uint32_t white = 0xFFFFFF;
constexpr uint32_t black = 0x000000;
constexpr int left = 10;  // where the tests' rectangles start on the canvas
constexpr int top = 10;

std::string repeat(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { canvas = createTextCanvas(640, 480, white); }
  void TearDown() override { destroyCanvas(&canvas); }

  // DrawTextA into a rectangle width x height at (left, top) on a cleared canvas.
  int draw(const std::string& text, int width, int height, UINT format = DT_WORDBREAK) {
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + width, top + height};
    return DrawTextA(canvas.dc, text.data(), int(text.size()), &rect, format);
  }
  std::vector<InkBox> lines(int count) { return lineInk(canvas, left, top, count, white); }
  // How many cells of the given width each of the first count lines reaches into.
  std::vector<int> cells(int count, int cellWidth) {
    std::vector<int> reached;
    for (const InkBox& box : lines(count)) reached.push_back(cellsReached(box, cellWidth));
    return reached;
  }

  PixelCanvas canvas;
};

TEST_F(TextTest, DefaultFontIsTheFixedPitchSystemFont) {
  TEXTMETRICA metrics;
  ASSERT_TRUE(GetTextMetricsA(canvas.dc, &metrics));
  EXPECT_EQ(metrics.tmHeight, 18);
  EXPECT_EQ(metrics.tmAscent, 15);
  EXPECT_EQ(metrics.tmDescent, 3);

  struct Case {
    const char* utf8;
    int width;
  };
  const Case cases[] = {
      {"A", 8},         {"W", 8},        {"i", 8},   {"ｱ", 8},    // half-width kana too
      {"あ", 16},       {"漢", 16},      {"表", 16}, {"ソ", 16},  // trail byte 0x5C
      {"Aあｱ表ソ", 64}, {"abc def", 56},
  };
  for (const Case& c : cases) {
    std::string text = cp932(c.utf8);
    SIZE size = {};
    ASSERT_TRUE(GetTextExtentPoint32A(canvas.dc, text.data(), int(text.size()), &size)) << c.utf8;
    EXPECT_EQ(size.cx, c.width) << c.utf8;
    EXPECT_EQ(size.cy, 18) << c.utf8;
  }
}

TEST_F(TextTest, JapaneseWithoutSpacesWrapsTwelveCharactersPerLine) {
  EXPECT_EQ(draw(repeat(cp932("あ"), 30), 200, 200), 3 * lineHeight);
  EXPECT_EQ(cells(4, wideCell), (std::vector<int>{12, 12, 6, 0}));
  std::vector<InkBox> ink = lines(3);
  for (int line = 0; line < 3; ++line) EXPECT_LT(ink[line].left, wideCell) << line;

  // With spaces it still breaks between characters: 2+2+3 characters and three spaces fill the
  // first line to exactly 200 pixels (Japanese may end exactly at the edge).
  std::string a = cp932("あ");
  std::string spaced = repeat(a, 2) + " " + repeat(a, 2) + " " + repeat(a, 4) + " " + repeat(a, 4) +
                       " " + repeat(a, 2);
  EXPECT_EQ(draw(spaced, 200, 200), 2 * lineHeight);
  ink = lines(2);
  EXPECT_GE(ink[0].right, 184);
  EXPECT_LT(ink[0].right, 200);
  EXPECT_EQ(cellsReached(ink[1], narrowCell), 7);  // あ, a space, ああ: 56 pixels
}

TEST_F(TextTest, LineStartRulesMoveTheLastCharacterDown) {
  // Twelve あ fill a 200-pixel line; a character that may not start a line takes the twelfth
  // あ with it to the next one, and 「, which may not end one, goes down to the あ after it.
  std::string a = cp932("あ");
  std::vector<std::string> texts = {repeat(a, 11) + cp932("「") + repeat(a, 2)};
  for (const char* closer : {"。", "、", "」", "ゃ", "ッ", "ー"}) {
    texts.push_back(repeat(a, 12) + cp932(closer) + a);
  }
  for (const std::string& text : texts) {
    EXPECT_EQ(draw(text, 200, 200), 2 * lineHeight) << text;
    EXPECT_EQ(cells(2, wideCell), (std::vector<int>{11, 3})) << text;
  }
}

TEST_F(TextTest, AsciiWrapsAtSpacesAndKeepsLongWordsWhole) {
  // "hello world this is a" is 21 cells; " test" would end at 208.
  EXPECT_EQ(draw("hello world this is a test of wrapping words", 200, 200), 2 * lineHeight);
  EXPECT_EQ(cells(3, narrowCell), (std::vector<int>{21, 22, 0}));  // "test of wrapping words"

  // A word wider than the rectangle stays whole on its line and is clipped at the edge.
  EXPECT_EQ(draw(std::string(36, 'a') + " bb cc", 200, 200), 2 * lineHeight);
  std::vector<InkBox> ink = lines(2);
  EXPECT_GE(ink[0].right, 192);
  EXPECT_LT(ink[0].right, 200);
  EXPECT_EQ(cellsReached(ink[1], narrowCell), 5);
  EXPECT_TRUE(inkIn(canvas, left + 200, 0, 640, 480, white).empty());

  // ASCII next to Japanese may break between them.
  EXPECT_EQ(draw("abcdefghijklmnopqrstu" + repeat(cp932("あ"), 3), 200, 200), 2 * lineHeight);
  ink = lines(2);
  EXPECT_GE(ink[0].right, 184);
  EXPECT_EQ(cellsReached(ink[1], wideCell), 1);
}

TEST_F(TextTest, LineEndsAndLeadingSpaces) {
  // CR LF, LF and a lone CR each end a line; an empty line stays empty.
  EXPECT_EQ(draw("ab\r\ncd\nef\rgh\n\nij", 200, 200), 6 * lineHeight);
  EXPECT_EQ(cells(7, narrowCell), (std::vector<int>{2, 2, 2, 2, 0, 2, 0}));
  for (int line : {0, 1, 2, 3, 5}) EXPECT_LT(lines(7)[line].left, narrowCell) << line;

  // Leading spaces of the first line, and of a line after a line end, are kept.
  EXPECT_EQ(draw("   ab cd", 200, 200), lineHeight);
  EXPECT_GE(lines(1)[0].left, 3 * narrowCell);
  EXPECT_EQ(draw("ab\n  cd", 200, 200), 2 * lineHeight);
  EXPECT_GE(lines(2)[1].left, 2 * narrowCell);
  EXPECT_LT(lines(2)[1].left, 3 * narrowCell);
}

TEST_F(TextTest, TrailBytes5CAreNeverSplitNorTakenForBackslashes) {
  std::string hyo = cp932("表"), so = cp932("ソ");
  ASSERT_EQ(hyo, "\x95\x5C");
  ASSERT_EQ(so, "\x83\x5C");
  // "ab" and eleven 表 fill 192 pixels; the next character does not fit whole. Read byte by
  // byte, its lead byte would still fit and the 0x5C would start the next line.
  for (const std::string& last : {hyo, so}) {
    EXPECT_EQ(draw("ab" + repeat(hyo, 11) + last, 200, 200), 2 * lineHeight);
    std::vector<InkBox> ink = lines(2);
    EXPECT_EQ(cellsReached(ink[0], wideCell), 12);  // 2 + 11 x 16 = 192 pixels
    EXPECT_GE(ink[1].right, narrowCell);            // a whole double-byte character
    EXPECT_LT(ink[1].right, wideCell);
  }
  EXPECT_EQ(draw(repeat(hyo, 12) + so + so + "n", 200, 200), 2 * lineHeight);
  EXPECT_EQ(cells(2, narrowCell)[1], 5);  // ソソn: 40 pixels
}

TEST_F(TextTest, DrawTextClipsToTheRectangleAndStopsBelowIt) {
  std::string text = repeat(cp932("あ"), 30);
  // Two characters per 40-pixel line: the third line reaches below the rectangle, is cut off
  // there and ends the drawing.
  EXPECT_EQ(draw(text, 40, 40), 3 * lineHeight);
  InkBox all = inkAnywhere(canvas, white);
  ASSERT_FALSE(all.empty());
  EXPECT_GE(all.left, left);
  EXPECT_GE(all.top, top);
  EXPECT_LT(all.right, left + 40);
  EXPECT_LT(all.bottom, top + 40);
  EXPECT_FALSE(inkIn(canvas, 0, top + 36, 640, top + 40, white).empty());

  // Without clipping every line is drawn.
  EXPECT_EQ(draw(text, 40, 40, DT_WORDBREAK | DT_NOCLIP), 15 * lineHeight);
  EXPECT_FALSE(inkIn(canvas, 0, top + 14 * lineHeight, 640, 480, white).empty());

  // An empty rectangle shows nothing; the line is still counted.
  EXPECT_EQ(draw("hello", 0, 0), lineHeight);
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());
  // An empty text draws nothing and has no height.
  EXPECT_EQ(draw("", 200, 200), 0);
}

TEST_F(TextTest, CalcRectMeasuresWithoutDrawing) {
  std::string text = repeat(cp932("あ"), 30);
  RECT rect = {left, top, left + 200, top + 20};
  EXPECT_EQ(DrawTextA(canvas.dc, text.data(), int(text.size()), &rect, DT_WORDBREAK | DT_CALCRECT),
            3 * lineHeight);
  EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
            std::vector<LONG>({left, top, left + 192, top + 3 * lineHeight}));
  EXPECT_TRUE(inkAnywhere(canvas, white).empty());

  std::string word = std::string(36, 'a') + " bb";
  rect = {left, top, left + 200, top + 200};
  DrawTextA(canvas.dc, word.data(), -1, &rect, DT_WORDBREAK | DT_CALCRECT);
  EXPECT_EQ(rect.right, left + 36 * narrowCell);  // the long word widens the rectangle
  EXPECT_EQ(rect.bottom, top + 2 * lineHeight);

  rect = {left, top, left + 50, top + 50};
  EXPECT_EQ(DrawTextA(canvas.dc, "", 0, &rect, DT_WORDBREAK | DT_CALCRECT), 0);
  EXPECT_EQ(rect.right, left + 50);
  EXPECT_EQ(rect.bottom, top + 50);
}

TEST_F(TextTest, PrefixesUnlessNoPrefix) {
  // "&b" shows b (underlined), "&&" shows one '&'.
  EXPECT_EQ(draw("a&bc&&d", 200, 200), lineHeight);
  EXPECT_EQ(cells(1, narrowCell)[0], 5);
  EXPECT_EQ(draw("a&bc&&d", 200, 200, DT_WORDBREAK | DT_NOPREFIX), lineHeight);
  EXPECT_EQ(cells(1, narrowCell)[0], 7);
  EXPECT_EQ(draw("ab\ncd", 200, 200, DT_SINGLELINE), lineHeight);
}

TEST_F(TextTest, GlyphsAreTheTextColourAndTransparentModeKeepsTheBackground) {
  const uint32_t blue = 0x2040C0;
  fillTextCanvas(canvas, blue);
  SetTextColor(canvas.dc, RGB(255, 0, 0));
  std::string text = cp932("赤いAｱ");
  ASSERT_TRUE(TextOutA(canvas.dc, 100, 50, text.data(), int(text.size())));
  // 16 + 16 + 8 + 8 pixels wide, 18 high, from (100, 50).
  InkCount inside = countInk(canvas, 100, 50, 148, 68, 0xFF0000, blue);
  EXPECT_GT(inside.ink, 40);
  EXPECT_EQ(inside.foreign, 0);
  EXPECT_EQ(countInk(canvas, 0, 0, 640, 480, 0xFF0000, blue).ink, inside.ink);
  EXPECT_EQ(GetTextColor(canvas.dc), RGB(255, 0, 0));

  // OPAQUE fills the cells with the background colour, and nothing beyond them.
  fillTextCanvas(canvas, white);
  SetBkMode(canvas.dc, OPAQUE);
  SetBkColor(canvas.dc, RGB(0, 255, 0));
  SetTextColor(canvas.dc, 0);
  text = cp932("Aあ");
  ASSERT_TRUE(TextOutA(canvas.dc, 20, 30, text.data(), int(text.size())));
  InkBox box = inkAnywhere(canvas, white);
  EXPECT_EQ(std::vector<int>({box.left, box.top, box.right, box.bottom}),
            std::vector<int>({20, 30, 20 + 24 - 1, 30 + 18 - 1}));
  InkCount glyphs = countInk(canvas, 20, 30, 44, 48, black, 0x00FF00);
  EXPECT_GT(glyphs.ink, 20);
  EXPECT_EQ(glyphs.foreign, 0);
  EXPECT_EQ(canvasPixel(canvas, 43, 30), 0x00FF00u);  // a corner of the cells
}

// Text lands in bitmaps of every depth, in its cells and the DC's colours, as it does in 32 bpp.
TEST_F(TextTest, TextDrawsIntoBitmapsOfEveryDepth) {
  struct Case {
    int bits;
    std::vector<COLORREF> palette;
    COLORREF text, background;  // grey, so that GDI and rgb order read alike
  };
  const Case cases[] = {{24, {}, RGB(0, 0, 0), RGB(255, 255, 255)},
                        {16, {}, RGB(255, 255, 255), RGB(0, 0, 0)},
                        {1, {0x000000, 0xFFFFFF}, RGB(255, 255, 255), RGB(0, 0, 0)}};
  for (const Case& each : cases) {
    PixelCanvas bitmap = createCanvas(32, 28, each.bits, each.palette);  // zeroed: black
    ASSERT_TRUE(bitmap.dc);
    SetBkMode(bitmap.dc, OPAQUE);
    SetBkColor(bitmap.dc, each.background);
    SetTextColor(bitmap.dc, each.text);
    ASSERT_TRUE(TextOutA(bitmap.dc, 4, 5, "AB", 2));
    int ink = 0;
    for (int y = 0; y < bitmap.height; ++y) {
      for (int x = 0; x < bitmap.width; ++x) {
        COLORREF pixel = GetPixel(bitmap.dc, x, y);
        bool inCells = x >= 4 && x < 4 + 2 * narrowCell && y >= 5 && y < 5 + lineHeight;
        if (!inCells) {
          ASSERT_EQ(pixel, 0u) << each.bits << " bpp at " << x << "," << y;
        } else if (pixel != each.background) {
          ++ink;
          ASSERT_TRUE(isTextShade(pixel, each.text, each.background)) << each.bits << " bpp";
        }
      }
    }
    EXPECT_GT(ink, 10) << each.bits << " bpp";
    EXPECT_EQ(GetPixel(bitmap.dc, 4, 5), each.background) << each.bits << " bpp";
    destroyCanvas(&bitmap);
  }
}

TEST_F(TextTest, TextOutAtTheEdgesIsClippedToTheBitmap) {
  PixelCanvas small = createTextCanvas(30, 20, white);
  std::string text = cp932("あいうえお");
  const POINT origins[] = {{-20, -10}, {-5, 5}, {20, 10}, {25, -17}, {-1000, 0}, {1000, 1000}};
  for (POINT origin : origins) {
    EXPECT_TRUE(TextOutA(small.dc, origin.x, origin.y, text.data(), int(text.size())));
    RECT rect = {origin.x, origin.y, origin.x + 100, origin.y + 100};
    DrawTextA(small.dc, text.data(), int(text.size()), &rect, DT_WORDBREAK | DT_NOCLIP);
  }
  EXPECT_FALSE(inkAnywhere(small, white).empty());
  destroyCanvas(&small);
}

TEST_F(TextTest, BrokenCp932StaysInsideItsLengthAndItsRectangle) {
  // Each text is copied into a buffer of exactly its length, so a read past it is caught.
  const std::string texts[] = {
      "ab\x82",                // a lead byte at the end
      "\x81\nab",              // a lead byte before a line end
      "\x81 \x82\x20x",        // lead bytes before spaces
      "\x85\x40\xFD\x80\xA0",  // an unassigned pair and bytes that are no character
      "\x82",
  };
  for (const std::string& text : texts) {
    std::unique_ptr<char[]> exact(new char[text.size()]);
    memcpy(exact.get(), text.data(), text.size());
    fillTextCanvas(canvas, white);
    RECT rect = {left, top, left + 40, top + 40};
    int height = DrawTextA(canvas.dc, exact.get(), int(text.size()), &rect, DT_WORDBREAK);
    EXPECT_GE(height, lineHeight);
    EXPECT_EQ(height % lineHeight, 0);
    InkBox box = inkAnywhere(canvas, white);
    if (!box.empty()) {
      EXPECT_GE(box.left, left);
      EXPECT_LT(box.right, left + 40);
      EXPECT_LT(box.bottom, top + 40);
    }
    SIZE size = {};
    EXPECT_TRUE(GetTextExtentPoint32A(canvas.dc, exact.get(), int(text.size()), &size));
    EXPECT_GE(size.cx, narrowCell);
    EXPECT_TRUE(TextOutA(canvas.dc, 100, 100, exact.get(), int(text.size())));
  }
}

TEST_F(TextTest, ThreadsDrawTheSameAsOneThread) {
  // Characters no other test draws, so the threads render them while they race.
  std::string text = cp932("薔薇色の鬱蒼たる森羅万象、驚愕の麒麟が躍る。") + "Quartz 42";
  const int threadCount = 4;
  std::vector<PixelCanvas> canvases;
  for (int i = 0; i < threadCount; ++i) canvases.push_back(createTextCanvas(200, 100, white));
  std::vector<std::thread> threads;
  for (int i = 0; i < threadCount; ++i) {
    threads.emplace_back([&, i] {
      RECT rect = {0, 0, 200, 100};
      DrawTextA(canvases[i].dc, text.data(), int(text.size()), &rect, DT_WORDBREAK);
    });
  }
  for (std::thread& thread : threads) thread.join();
  PixelCanvas reference = createTextCanvas(200, 100, white);
  RECT rect = {0, 0, 200, 100};
  DrawTextA(reference.dc, text.data(), int(text.size()), &rect, DT_WORDBREAK);
  ASSERT_FALSE(inkAnywhere(reference, white).empty());
  for (PixelCanvas& drawn : canvases) {
    EXPECT_EQ(memcmp(drawn.bits, reference.bits, 200 * 100 * 4), 0);
    destroyCanvas(&drawn);
  }
  destroyCanvas(&reference);
}

}  // namespace
