// The frame tick's drawing, read back from the virtual screen: opaque and transparent cells, the
// order of the slots, clipping, the frame-strip cells of both axes, what stays on the screen,
// the message above every slot, which frames draw at all, and the frames that end early. The
// slots' images are made here as DIB sections with their masks, so that only the composition is
// under test.
#include <functional>
#include <vector>

#include "pixel_canvas.h"
#include "presentation_fixture.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF, red = 0x0000FF, green = 0x00FF00, blue = 0xFF0000,
                   white = 0xFFFFFF, gray = 0x808080;
using Picture = std::function<COLORREF(int, int)>;

// Cell k of a strip is filled with the colour cellColor(k); strips have cells of 4 x 4.
COLORREF cellColor(int k) {
  return RGB(10 + 40 * k, 200 - 30 * k, 5 * k);
}

class Composition : public PresentationTest {
 protected:
  void SetUp() override {
    PresentationTest::SetUp();
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  }

  // Gives the slot an image with its colour-key mask, built as the image slots build theirs:
  // mask white where the image is magenta, masked image black there.
  void giveImage(int index, int w, int h, const Picture& pixel) {
    auto surface = [&](const Picture& color, HDC* dc, HBITMAP* bitmap, HGDIOBJ* old) {
      PixelCanvas canvas = createCanvas(w, h, 32);
      for (int k = 0; k < w * h; ++k) setCanvasPixel(canvas, k % w, k / w, color(k % w, k / w));
      *dc = canvas.dc;
      *bitmap = canvas.bitmap;
      *old = canvas.oldBitmap;
    };
    ImageSlot& slot = imageSlots[index];
    releaseImage(&slot);
    surface(pixel, &slot.imageDC, &slot.bitmap, &slot.oldBitmap);
    surface([&](int x, int y) { return pixel(x, y) == magenta ? white : 0; }, &slot.maskDC,
            &slot.maskBitmap, &slot.oldMaskBitmap);
    surface([&](int x, int y) { return pixel(x, y) == magenta ? 0 : pixel(x, y); },
            &slot.maskedImageDC, &slot.maskedImageBitmap, &slot.oldMaskedImageBitmap);
    slot.width = w;
    slot.height = h;
    slot.loaded = 1;
    slot.hasMask = 1;
    markPictureChanged();  // as the step does for the executor that would have loaded it
  }

  // Shows the slot at (x, y) with a w x h cell taken from (srcX, srcY).
  void show(int index, int x, int y, int w, int h, int srcX = 0, int srcY = 0,
            bool transparent = false) {
    ImageSlot& slot = imageSlots[index];
    slot.destX = x;
    slot.destY = y;
    slot.cellWidth = w;
    slot.cellHeight = h;
    slot.srcX = srcX;
    slot.srcY = srcY;
    slot.transparent = transparent ? 1 : 0;
    slot.visible = 1;
    markPictureChanged();
  }

  void play(int index, int axis, int count, int first) {
    imageSlots[index].stripAxis = (uint8_t)axis;
    imageSlots[index].frameCount = (uint8_t)count;
    imageSlots[index].currentFrame = (uint8_t)first;
    imageSlots[index].animState = 1;
    markPictureChanged();
  }

  // Fills the whole screen with one colour, through slot 0, which is then hidden again.
  void paintScreen(COLORREF color) {
    giveImage(0, virtualScreenWidth, virtualScreenHeight, [color](int, int) { return color; });
    show(0, 0, 0, virtualScreenWidth, virtualScreenHeight);
    composeFrame();
    imageSlots[0].visible = 0;
  }

  COLORREF pixel(int x, int y) { return GetPixel(virtualScreen.imageDC, x, y) & 0xFFFFFF; }
  // Which of the cells 0 to 7 shows at (x, y); -1 for none.
  int cellAt(int x, int y) {
    for (int k = 0; k < 8; ++k) {
      if (pixel(x, y) == cellColor(k)) return k;
    }
    return -1;
  }
};

TEST_F(Composition, OpaqueAndTransparentCellsOrderedBySlotNumber) {
  paintScreen(gray);
  giveImage(1, 10, 10, [](int x, int y) { return x == 3 && y == 3 ? magenta : RGB(x, y, 1); });
  show(1, 100, 50, 6, 5, 2, 1);
  // Slot 2 shows through slot 5's magenta half; slot 7 covers slot 3 where they overlap.
  giveImage(2, 8, 8, [](int x, int) { return RGB(x * 16, 0, 0x40); });
  show(2, 0, 0, 8, 8);
  giveImage(5, 8, 8, [](int x, int) { return x < 4 ? magenta : green; });
  show(5, 0, 0, 8, 8, 0, 0, true);
  giveImage(7, 10, 10, [](int, int) { return red; });
  show(7, 200, 0, 10, 10);
  giveImage(3, 10, 10, [](int, int) { return blue; });
  show(3, 205, 5, 10, 10);
  composeFrame();
  const struct {
    int x, y;
    COLORREF expected;
  } probes[] = {
      {100, 50, RGB(2, 1, 1)}, {105, 54, RGB(7, 5, 1)},
      {101, 52, magenta},  // opaque: magenta is drawn like any colour
      {99, 50, gray},          {106, 50, gray},          {100, 49, gray}, {100, 55, gray},
      {1, 3, RGB(16, 0, 0x40)}, {3, 7, RGB(48, 0, 0x40)}, {4, 0, green}, {7, 7, green},
      {206, 6, red},           {212, 12, blue},          {202, 2, red},
  };
  for (const auto& p : probes) EXPECT_EQ(pixel(p.x, p.y), p.expected) << p.x << "," << p.y;
}

TEST_F(Composition, CellsAreClippedAtEveryEdgeOfTheScreen) {
  auto ramp = [](int x, int y) { return RGB(x, y, 9); };
  giveImage(0, 20, 20, ramp);
  show(0, -3, -2, 8, 8);
  giveImage(1, 20, 20, ramp);
  show(1, 636, 476, 8, 8, 0, 0, true);
  composeFrame();
  EXPECT_EQ(pixel(0, 0), RGB(3, 2, 9));
  EXPECT_EQ(pixel(4, 5), RGB(7, 7, 9));
  EXPECT_EQ(pixel(5, 5), 0u);
  EXPECT_EQ(pixel(636, 476), RGB(0, 0, 9));
  EXPECT_EQ(pixel(639, 479), RGB(3, 3, 9));
  EXPECT_EQ(pixel(635, 479), 0u);
  // Entirely outside: nothing changes, nothing breaks.
  show(0, -100, 10, 50, 50);
  show(1, 700, 500, 50, 50, 0, 0, true);
  composeFrame();
  EXPECT_EQ(pixel(0, 0), RGB(3, 2, 9));
  EXPECT_EQ(pixel(639, 479), RGB(3, 3, 9));
}

TEST_F(Composition, FrameStripsShowTheirCellsInTurn) {
  const struct {
    const char* name;
    int state, axis, count, first, stop;
    std::vector<int> cells;  // shown by successive frames
    int currentAfter;
  } cases[] = {
      {"three cells side by side", 1, 1, 3, 0, 0, {0, 1, 2, 0, 1, 2}, 0},
      {"three cells one below the other", 1, 2, 3, 0, 0, {0, 1, 2, 0, 1, 2}, 0},
      {"a cell beyond a shrunken strip, drawn once", 1, 0, 3, 5, 0, {5, 0, 1, 2}, 0},
      {"no cells: the current one once, then cell 0", 1, 0, 0, 2, 0, {2, 0, 0, 0}, 0},
      {"one cell: the current one once, then cell 0", 1, 0, 1, 3, 0, {3, 0, 0, 0}, 0},
      {"stopped: the stop cell, standing still", 0, 1, 4, 1, 3, {3, 3}, 1},
  };
  for (const auto& c : cases) {
    if (c.axis == 1) {
      giveImage(4, 32, 4, [](int x, int) { return cellColor(x / 4); });
    } else {
      giveImage(4, 4, 32, [](int, int y) { return cellColor(y / 4); });
    }
    show(4, 100, 100, 4, 4);
    play(4, c.axis, c.count, c.first);
    imageSlots[4].animState = (uint8_t)c.state;
    imageSlots[4].stopFrame = (uint8_t)c.stop;
    std::vector<int> cells;
    for (size_t i = 0; i < c.cells.size(); ++i) {
      composeFrame();
      cells.push_back(cellAt(100, 100));
    }
    EXPECT_EQ(cells, c.cells) << c.name;
    EXPECT_EQ(imageSlots[4].currentFrame, c.currentAfter) << c.name;
  }
}

TEST_F(Composition, AHiddenOrInvisibleSlotLeavesItsLastPictureAndStandsStill) {
  giveImage(0, 4, 16, [](int, int y) { return cellColor(y / 4); });
  giveImage(1, 4, 4, [](int, int) { return red; });
  show(0, 0, 0, 4, 4);
  play(0, 0, 4, 1);
  show(1, 10, 0, 4, 4);
  composeFrame();
  ASSERT_EQ(cellAt(0, 0), 1);
  ASSERT_EQ(pixel(10, 0), red);
  imageSlots[0].animState = 2;
  // Images changed behind the slots' backs are not drawn either.
  giveImage(1, 4, 4, [](int, int) { return blue; });
  imageSlots[1].visible = 0;
  for (int i = 0; i < 3; ++i) composeFrame();
  EXPECT_EQ(cellAt(0, 0), 1);
  EXPECT_EQ(pixel(10, 0), red);
  EXPECT_EQ(imageSlots[0].currentFrame, 2);
}

TEST_F(Composition, AVisibleSlotWithoutAnImageDrawsNothing) {
  paintScreen(gray);
  show(3, 0, 0, 50, 50);  // never loaded
  show(4, 60, 0, 50, 50, 0, 0, true);
  play(4, 1, 3, 0);
  // Released and reset as when a new script is opened: its old handles must not be used.
  giveImage(5, 8, 8, [](int, int) { return red; });
  ImageSlot stale = imageSlots[5];
  releaseImage(&imageSlots[5]);
  imageSlots[5] = stale;
  imageSlots[5].loaded = 0;
  show(5, 120, 0, 8, 8);
  // Loaded, but a transparent draw without its mask.
  giveImage(6, 8, 8, [](int, int) { return red; });
  show(6, 180, 0, 8, 8, 0, 0, true);
  imageSlots[6].hasMask = 0;
  composeFrame();
  for (int x : {0, 60, 120, 180}) EXPECT_EQ(pixel(x, 0), gray) << x;
  EXPECT_EQ(imageSlots[4].currentFrame, 1);  // the strip still advances
  memset(&imageSlots[5], 0, sizeof imageSlots[5]);
  imageSlots[6].hasMask = 1;
}

TEST_F(Composition, TheMessageIsDrawnAboveEverySlotInEveryFrame) {
  giveImage(9, 200, 60, [](int, int) { return white; });
  show(9, 0, 0, 200, 60);
  SetRect(&messageRect, 0, 0, 200, 60);
  static const char text[] = "WWWW MMMM";
  textLine1 = text;
  textVisible = 1;
  SetTextColor(virtualScreen.imageDC, 0);
  auto darkPixels = [&] {
    composeFrame();
    int dark = 0;
    for (int k = 0; k < 200 * 60; ++k) dark += pixel(k % 200, k / 200) != white;
    return dark;
  };
  int dark = darkPixels();
  EXPECT_GT(dark, 20);
  EXPECT_EQ(darkPixels(), dark);
}

TEST_F(Composition, AFrameDrawsOnlyWhenWhatItWouldDrawChanged) {
  auto menu = [] {
    static const char first[] = "Yes", second[] = "No";
    textPos1 = {100, 100, 200, 20};
    textPos2 = {100, 140};
    textLine1 = first;
    textLine2 = second;
    textVisible = 1;
    menuVisible = 1;
  };
  struct Step {
    std::function<void()> before;  // what happens before the frame; null for nothing
    bool drawn;
  };
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::vector<Step> frames;
  } cases[] = {
      {"a still slot: once", [&] { show(1, 0, 0, 4, 4); }, {{nullptr, true}, {nullptr, false}}},
      {"a change marked: once more",
       [&] { show(1, 0, 0, 4, 4); },
       {{nullptr, true}, {nullptr, false}, {markPictureChanged, true}, {nullptr, false}}},
      {"a strip of three cells: every frame",
       [&] { play(4, 1, 3, 0), show(4, 0, 0, 4, 4); },
       {{nullptr, true}, {nullptr, true}, {nullptr, true}, {nullptr, true}}},
      {"one cell from cell 2: until cell 0 is drawn",
       [&] { play(4, 1, 1, 2), show(4, 0, 0, 4, 4); },
       {{nullptr, true}, {nullptr, true}, {nullptr, false}}},
      {"the menu: when the choice under the cursor changes",
       [&] { menu(), placeCursor(window, 300, 300); },
       {{nullptr, true},
        {nullptr, false},
        {[&] { placeCursor(window, 110, 105); }, true},
        {nullptr, false},
        {[&] { placeCursor(window, 110, 145); }, true},
        {[&] { placeCursor(window, 500, 105); }, true},
        {nullptr, false}}},
      {"a new virtual screen",
       [&] { show(1, 0, 0, 4, 4); },
       {{nullptr, true},
        {[] { createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight); }, true}}},
  };
  for (const Case& c : cases) {
    giveImage(1, 4, 4, [](int, int) { return red; });
    giveImage(4, 32, 4, [](int x, int) { return cellColor(x / 4); });
    c.setUp();
    for (size_t i = 0; i < c.frames.size(); ++i) {
      if (c.frames[i].before) c.frames[i].before();
      EXPECT_EQ(composeFrame(), c.frames[i].drawn) << c.name << ", frame " << i;
    }
    for (int k : {1, 4}) {
      imageSlots[k].loaded = 1;  // releaseImage frees what a loaded record holds
      releaseImage(&imageSlots[k]);
      memset(&imageSlots[k], 0, sizeof imageSlots[k]);
    }
    resetTextState();
  }
}

// A stop requested ends the frame before the step; a script that has ended closes the window
// and the frame draws nothing more.
TEST_F(Composition, AFrameAfterTheScriptEndedOrAStopClosesOrDoesNothing) {
  giveImage(2, 4, 4, [](int, int) { return red; });
  show(2, 0, 0, 4, 4);
  play(2, 1, 3, 0);
  scriptFinished = 1;
  for (bool stop : {true, false}) {
    frameStopRequested = stop;
    clearRecordedMessages();
    composeFrame();
    std::vector<RecordedMessage> sent = recordedMessages();
    ASSERT_EQ(sent.size(), stop ? 0u : 1u);
    if (!stop) {
      EXPECT_TRUE(sent[0].window == window && sent[0].message == WM_CLOSE && sent[0].wParam == 0 &&
                  sent[0].lParam == 0);
    }
    EXPECT_EQ(pixel(0, 0), 0u) << stop;
    EXPECT_EQ(imageSlots[2].currentFrame, 0) << stop;
  }
}

}  // namespace
