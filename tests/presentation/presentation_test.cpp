// The frame tick's drawing, read back from the virtual screen: opaque and transparent cells, the
// order of the slots, clipping, the message above them, the frame-strip cells and which frames
// draw at all; and the image slots: slot numbers, the load-failure message, what a failed reload
// and a reset leave, and the mask of a keyed picture.
#include <functional>
#include <vector>

#include "presentation_fixture.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF, red = 0x0000FF, green = 0x00FF00, blue = 0xFF0000,
                   white = 0xFFFFFF, gray = 0x808080, nearMagenta = 0xFE00FF;  // not the key

class Composition : public PresentationTest {
 protected:
  // Cell k of a strip is filled with the colour cellColor(k); strips have cells of 4 x 4.
  static COLORREF cellColor(int k) { return RGB(10 + 40 * k, 200 - 30 * k, 5 * k); }
  void SetUp() override {
    PresentationTest::SetUp();
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  }

  // Loads a w x h picture into the slot and marks the change as the step would.
  void give(int index, int w, int h, const std::function<COLORREF(int, int)>& pixel) {
    ASSERT_TRUE(loadSlotImage(index, writeTempFile("slot.bmp", bmpFile(w, h, pixel)).c_str()));
    markPictureChanged();
  }
  // Shows the slot at (x, y) with a w x h cell taken from (srcX, srcY).
  void show(int index, int x, int y, int w, int h, int srcX = 0, int srcY = 0,
            int transparent = 0) {
    ImageSlot& slot = imageSlots[index];
    slot.destX = x, slot.destY = y, slot.cellWidth = w, slot.cellHeight = h;
    slot.srcX = srcX, slot.srcY = srcY, slot.transparent = (uint8_t)transparent;
    slot.visible = 1;
    markPictureChanged();
  }
  // A strip of four-pixel cells along the axis, playing from cell first.
  void play(int index, int axis, int count, int first) {
    give(index, axis == 1 ? 32 : 4, axis == 1 ? 4 : 32,
         [axis](int x, int y) { return cellColor((axis == 1 ? x : y) / 4); });
    ImageSlot& slot = imageSlots[index];
    slot.stripAxis = (uint8_t)axis, slot.frameCount = (uint8_t)count;
    slot.currentFrame = (uint8_t)first, slot.animState = 1;
  }
  COLORREF pixel(int x, int y) { return GetPixel(virtualScreen.imageDC, x, y) & 0xFFFFFF; }
  int cellAt(int x, int y) {  // which of the cells 0 to 7 shows at (x, y); -1 for none
    for (int k = 0; k < 8; ++k)
      if (pixel(x, y) == cellColor(k)) return k;
    return -1;
  }
};

TEST_F(Composition, CellsOpaqueAndTransparentInSlotOrderClippedAndTheMessageAbove) {
  auto ramp = [](int x, int y) { return RGB(x, y, 9); };
  give(0, 640, 480, [](int, int) { return gray; });
  show(0, 0, 0, 640, 480);
  give(1, 10, 10, [](int x, int y) { return x == 3 && y == 3 ? magenta : RGB(x, y, 1); });
  show(1, 100, 50, 6, 5, 2, 1);
  // Slot 2 shows through slot 5's magenta half; slot 7 covers slot 3 where they overlap.
  give(2, 8, 8, [](int x, int) { return RGB(x * 16, 0, 0x40); });
  show(2, 300, 300, 8, 8);
  give(5, 8, 8, [](int x, int) { return x < 4 ? magenta : green; });
  show(5, 300, 300, 8, 8, 0, 0, 1);
  give(7, 10, 10, [](int, int) { return red; });
  show(7, 200, 0, 10, 10);
  give(3, 10, 10, [](int, int) { return blue; });
  show(3, 205, 5, 10, 10);
  give(8, 20, 20, ramp);
  show(8, -3, -2, 8, 8);
  give(9, 20, 20, ramp);
  show(9, 636, 476, 8, 8, 0, 0, 1);
  show(6, 400, 0, 50, 50);  // never loaded: draws nothing
  give(4, 200, 60, [](int, int) { return white; });
  show(4, 400, 100, 200, 60);
  SetRect(&messageRect, 400, 100, 600, 160);
  textLine1 = "WWWW MMMM";
  textVisible = 1;
  SetTextColor(virtualScreen.imageDC, 0);
  composeFrame();
  // clang-format off
  const struct {
    int x, y;
    COLORREF expected;
  } probes[] = {
      {100, 50, RGB(2, 1, 1)}, {105, 54, RGB(7, 5, 1)}, {101, 52, magenta},  // opaque: drawn
      {99, 50, gray}, {106, 50, gray}, {100, 49, gray}, {100, 55, gray},
      {301, 303, RGB(16, 0, 0x40)}, {303, 307, RGB(48, 0, 0x40)}, {304, 300, green},
      {307, 307, green}, {206, 6, red}, {212, 12, blue}, {202, 2, red},
      {0, 0, RGB(3, 2, 9)}, {4, 5, RGB(7, 7, 9)}, {5, 5, gray}, {636, 476, RGB(0, 0, 9)},
      {639, 479, RGB(3, 3, 9)}, {635, 479, gray}, {400, 0, gray}};
  // clang-format on
  for (const auto& p : probes) EXPECT_EQ(pixel(p.x, p.y), p.expected) << p.x << "," << p.y;
  int dark = 0;
  for (int k = 0; k < 200 * 60; ++k) dark += pixel(400 + k % 200, 100 + k / 200) != white;
  EXPECT_GT(dark, 20);
}

// Successive frames of a slot at (100, 100): the cells it shows and the cell it is left at.
TEST_F(Composition, FrameStripsShowTheirCellsInTurn) {
  const struct {
    int state, axis, count, first, stop;
    std::vector<int> cells;
    int currentAfter;
  } cases[] = {
      {1, 1, 3, 0, 0, {0, 1, 2, 0, 1, 2}, 0},  // side by side
      {1, 2, 3, 0, 0, {0, 1, 2, 0, 1, 2}, 0},  // one below the other
      {1, 0, 3, 5, 0, {5, 0, 1, 2}, 0},        // a cell beyond a shrunken strip, drawn once
      {1, 0, 0, 2, 0, {2, 0, 0, 0}, 0},        // no cells: the current one once, then cell 0
      {0, 1, 4, 1, 3, {3, 3}, 1},              // stopped: the stop cell, standing still
      {2, 1, 4, 1, 3, {-1, -1}, 1},            // hidden: nothing drawn, standing still
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
    play(4, c.axis, c.count, c.first);
    show(4, 100, 100, 4, 4);
    imageSlots[4].animState = (uint8_t)c.state;
    imageSlots[4].stopFrame = (uint8_t)c.stop;
    std::vector<int> cells;
    for (size_t i = 0; i < c.cells.size(); ++i) {
      composeFrame();
      cells.push_back(cellAt(100, 100));
    }
    EXPECT_EQ(cells, c.cells) << c.axis << c.count << c.first;
    EXPECT_EQ(imageSlots[4].currentFrame, c.currentAfter) << c.axis << c.count << c.first;
  }
}

// Which frames draw ('d') and which draw nothing ('-'): a still picture once, a strip every
// frame, the menu when the choice under the cursor changes.
TEST_F(Composition, AFrameDrawsOnlyWhenWhatItWouldDrawChanged) {
  auto frames = [](int n) {
    std::string drawn;
    while (n-- > 0) drawn += composeFrame() ? 'd' : '-';
    return drawn;
  };
  give(1, 4, 4, [](int, int) { return red; });
  show(1, 0, 0, 4, 4);
  EXPECT_EQ(frames(2), "d-");
  play(4, 1, 3, 0);
  show(4, 8, 0, 4, 4);
  EXPECT_EQ(frames(4), "dddd");
  play(4, 1, 1, 2);
  EXPECT_EQ(frames(3), "dd-");  // one cell from cell 2: until cell 0 is drawn
  textPos1 = {100, 100, 200, 20}, textPos2 = {100, 140};
  textLine1 = "Yes", textLine2 = "No", textVisible = menuVisible = 1;
  markPictureChanged();
  const std::pair<POINT, const char*> cursors[] = {
      {{300, 300}, "d-"}, {{110, 105}, "d-"}, {{110, 145}, "d"}, {{500, 105}, "d-"}};
  for (const auto& c : cursors) {
    placeCursor(window, c.first.x, c.first.y);
    EXPECT_EQ(frames((int)strlen(c.second)), c.second) << c.first.x << "," << c.first.y;
  }
}

class Slots : public PresentationTest {
 protected:
  // The one message box shown since the last check is the load failure for name.
  void expectLoadFailureMessage(const std::string& name) {
    EXPECT_EQ(boxes(), std::vector<std::string>{cp932("エラー:") + name +
                                                cp932("を読み込むことができませんでした")});
    beginCapturingMessageBoxes();
  }
};

TEST_F(Slots, FailuresKeepNoHandleLeakNothingAndSayWhichFileFailed) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("first.bmp", solidBmp(6, 4, magenta));
  // A slot number of 10 or more fails without a message and changes no slot.
  EXPECT_FALSE(loadSlotImage(10, path.c_str()) || loadSlotImage((uint32_t)-1, path.c_str()));
  EXPECT_TRUE(boxes().empty());
  for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.loaded, 0);
  ASSERT_TRUE(loadSlotImage(9, path.c_str()));
  int loaded = gdiObjectCount();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(loadSlotImage(9, path.c_str()));
  EXPECT_EQ(gdiObjectCount(), loaded);
  ImageSlot& slot = imageSlots[9];
  slot.destX = 12;
  slot.frameCount = 3;
  EXPECT_FALSE(loadSlotImage(9, "missing.bmp"));
  expectLoadFailureMessage("missing.bmp");
  EXPECT_EQ(slot.loaded + slot.hasMask, 1);  // the flag keeps its value
  EXPECT_TRUE(!slot.bitmap && !slot.imageDC && !slot.maskBitmap && !slot.maskDC &&
              !slot.maskedImageBitmap && !slot.maskedImageDC);
  releaseImage(&slot);  // frees nothing twice
  EXPECT_EQ(gdiObjectCount(), before);
  ASSERT_TRUE(loadSlotImage(9, path.c_str()));  // placement and strip stay: see the reset
  releaseImage(&slot);
  EXPECT_EQ(slot.hasMask, 0);  // its mask went with it
  // A reset, when a script is opened, clears only loaded and visible.
  slot.visible = slot.animState = slot.currentFrame = 1;
  resetImageSlots();
  EXPECT_EQ(slot.loaded + slot.visible, 0);
  EXPECT_EQ(slot.animState + slot.currentFrame + slot.frameCount + slot.width + slot.destX,
            1 + 1 + 3 + 6 + 12);
  // The message has 255 bytes, 32 of them the suffix: 223 for the name, cut after its last whole
  // character. Half a character at the end is left out: it would take the suffix's first byte.
  std::string wide;
  for (int i = 0; i < 150; ++i) wide += cp932("画");
  const std::pair<std::string, size_t> cases[] = {
      {"xx" + wide, 222}, {"x" + wide, 223}, {"x\x80", 2}, {"x\x81", 1}, {"x\x9F", 1},
      {"x\xA0", 2},       {"x\xDF", 2},      {"x\xE0", 1}, {"x\xFC", 1}, {"x\xFD", 2}};
  for (const auto& c : cases) {
    EXPECT_FALSE(loadSlotImage(0, c.first.c_str()));
    expectLoadFailureMessage(c.first.substr(0, c.second));
  }
}

// A file gives the mask (white where the image is magenta) and the masked image
// (magenta made black); a file that is no bitmap fails with the message and leaks nothing.
TEST_F(Slots, EveryFileGivesTheMaskOfItsColoursOrTheMessage) {
  const COLORREF row[] = {magenta, nearMagenta, 0x000000, 0x563412, magenta};
  ImageSlot& slot = imageSlots[0];
  int before = gdiObjectCount();
  std::string path = writeTempFile("file.bmp", "This is no bitmap at all.");
  EXPECT_FALSE(loadSlotImage(0, path.c_str()));
  expectLoadFailureMessage(path);
  EXPECT_EQ(slot.loaded + (slot.imageDC != nullptr), 0);
  path = writeTempFile("file.bmp", bmpFile(5, 2, [&](int x, int) { return row[x]; }));
  ASSERT_TRUE(loadSlotImage(0, path.c_str()));
  ASSERT_EQ(slot.width * 1000 + slot.height, 5002);
  for (int k = 0; k < 10; ++k) {
    int x = k % 5, y = k / 5;
    bool key = row[x] == magenta;
    EXPECT_EQ(GetPixel(slot.maskDC, x, y), key ? 0xFFFFFFu : 0u) << x;
    EXPECT_EQ(GetPixel(slot.maskedImageDC, x, y), key ? 0u : row[x]) << x;
    EXPECT_EQ(GetPixel(slot.imageDC, x, y), row[x]) << x;
  }
  releaseImage(&slot);
  EXPECT_EQ(gdiObjectCount(), before);
}

}  // namespace
