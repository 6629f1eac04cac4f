// The frame tick's drawing, read back from the virtual screen: opaque and transparent cells, the
// order of the slots, clipping, the frame-strip cells of both axes, what stays on the screen, and
// the message above every slot. The slots' images are made here as DIB sections with their masks,
// so that only the composition is under test.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <vector>

#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF, red = 0x0000FF, green = 0x00FF00, blue = 0xFF0000,
                   white = 0xFFFFFF, gray = 0x808080;

// A 32-bit DIB section in a memory DC, filled from a function of (x, y) giving GDI colours.
void makeSurface(HDC reference, int w, int h, const std::function<COLORREF(int, int)>& pixel,
                 HDC* dc, HBITMAP* bitmap, HGDIOBJ* old) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  *bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_TRUE(*bitmap && bits);
  uint32_t* rows = (uint32_t*)bits;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      COLORREF c = pixel(x, y);
      rows[(h - 1 - y) * w + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  }
  *dc = CreateCompatibleDC(reference);
  *old = SelectObject(*dc, *bitmap);
}

class Composition : public ::testing::Test {
 protected:
  HWND window = nullptr;

  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_TRUE(window);
    mainWindow = window;
    frameStopRequested = false;
    memset(imageSlots, 0, sizeof imageSlots);
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
    resetTextState();
    currentCommand = nullptr;
    runEnabled = 0;
    scriptFinished = 0;
    lastCommandIndex = 0;
  }

  void TearDown() override {
    for (ImageSlot& slot : imageSlots) freeImage(&slot);
    SelectObject(virtualScreen.imageDC, virtualScreen.oldBitmap);
    DeleteDC(virtualScreen.imageDC);
    DeleteObject(virtualScreen.bitmap);
    memset(&virtualScreen, 0, sizeof virtualScreen);
    resetTextState();
    mainWindow = nullptr;
    destroyRecordingWindow(window);
  }

  // Gives the slot an image with its colour-key mask, built as the image slots build theirs:
  // mask white where the image is magenta, masked image black there.
  void giveImage(int index, int w, int h, const std::function<COLORREF(int, int)>& pixel) {
    ImageSlot& slot = imageSlots[index];
    HDC reference = GetDC(mainWindow);
    makeSurface(reference, w, h, pixel, &slot.imageDC, &slot.bitmap, &slot.oldBitmap);
    makeSurface(
        reference, w, h, [&](int x, int y) { return pixel(x, y) == magenta ? white : 0; },
        &slot.maskDC, &slot.maskBitmap, &slot.oldMaskBitmap);
    makeSurface(
        reference, w, h, [&](int x, int y) { return pixel(x, y) == magenta ? 0 : pixel(x, y); },
        &slot.maskedImageDC, &slot.maskedImageBitmap, &slot.oldMaskedImageBitmap);
    ReleaseDC(mainWindow, reference);
    slot.width = w;
    slot.height = h;
    slot.loaded = 1;
    slot.hasMask = 1;
  }

  static void freeImage(ImageSlot* slot) {
    if (slot->imageDC) {
      SelectObject(slot->imageDC, slot->oldBitmap);
      DeleteDC(slot->imageDC);
      DeleteObject(slot->bitmap);
    }
    if (slot->maskDC) {
      SelectObject(slot->maskDC, slot->oldMaskBitmap);
      DeleteDC(slot->maskDC);
      DeleteObject(slot->maskBitmap);
      SelectObject(slot->maskedImageDC, slot->oldMaskedImageBitmap);
      DeleteDC(slot->maskedImageDC);
      DeleteObject(slot->maskedImageBitmap);
    }
    memset(slot, 0, sizeof *slot);
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
  }

  void play(int index, int axis, int count, int first) {
    imageSlots[index].stripAxis = (uint8_t)axis;
    imageSlots[index].frameCount = (uint8_t)count;
    imageSlots[index].currentFrame = (uint8_t)first;
    imageSlots[index].animState = 1;
  }

  // Fills the whole screen with one colour, through slot 0, which is then hidden again.
  void paintScreen(COLORREF color) {
    giveImage(0, virtualScreenWidth, virtualScreenHeight, [color](int, int) { return color; });
    show(0, 0, 0, virtualScreenWidth, virtualScreenHeight);
    composeFrame();
    freeImage(&imageSlots[0]);
  }

  COLORREF pixel(int x, int y) { return GetPixel(virtualScreen.imageDC, x, y) & 0xFFFFFF; }
};

// Cell k of a strip is filled with the colour cellColor(k); the strips here have 4 cells of 4 x 4.
COLORREF cellColor(int k) {
  return RGB(10 + 40 * k, 200 - 30 * k, 5 * k);
}

TEST_F(Composition, AnOpaqueCellReplacesItsRectangleAndNothingElse) {
  paintScreen(gray);
  giveImage(1, 10, 10, [](int x, int y) { return x == 3 && y == 3 ? magenta : RGB(x, y, 1); });
  show(1, 100, 50, 6, 5, 2, 1);
  composeFrame();
  EXPECT_EQ(pixel(100, 50), RGB(2, 1, 1));
  EXPECT_EQ(pixel(105, 54), RGB(7, 5, 1));
  EXPECT_EQ(pixel(101, 52), magenta);  // opaque: magenta is drawn like any colour
  EXPECT_EQ(pixel(99, 50), gray);
  EXPECT_EQ(pixel(106, 50), gray);
  EXPECT_EQ(pixel(100, 49), gray);
  EXPECT_EQ(pixel(100, 55), gray);
}

TEST_F(Composition, ATransparentCellLeavesTheScreenUnderItsMagentaPixels) {
  giveImage(2, 8, 8, [](int x, int) { return RGB(x * 16, 0, 0x40); });
  show(2, 0, 0, 8, 8);
  giveImage(5, 8, 8, [](int x, int) { return x < 4 ? magenta : green; });
  show(5, 0, 0, 8, 8, 0, 0, true);
  composeFrame();
  EXPECT_EQ(pixel(1, 3), RGB(16, 0, 0x40));  // slot 2 shows through slot 5's magenta
  EXPECT_EQ(pixel(3, 7), RGB(48, 0, 0x40));
  EXPECT_EQ(pixel(4, 0), green);
  EXPECT_EQ(pixel(7, 7), green);
}

TEST_F(Composition, AHigherSlotCoversALowerOneAndOrderIsBySlotNumberAlone) {
  giveImage(7, 10, 10, [](int, int) { return red; });
  show(7, 0, 0, 10, 10);
  giveImage(3, 10, 10, [](int, int) { return blue; });
  show(3, 5, 5, 10, 10);
  composeFrame();
  EXPECT_EQ(pixel(6, 6), red);
  EXPECT_EQ(pixel(12, 12), blue);
  EXPECT_EQ(pixel(2, 2), red);
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

TEST_F(Composition, AStripOfThreeShowsCellsZeroOneTwoInTurnOnBothAxes) {
  giveImage(4, 16, 4, [](int x, int) { return cellColor(x / 4); });  // side by side
  giveImage(6, 4, 16, [](int, int y) { return cellColor(y / 4); });  // one below the other
  show(4, 100, 100, 4, 4);
  play(4, 1, 3, 0);
  show(6, 200, 100, 4, 4);
  play(6, 2, 3, 0);
  std::vector<int> expected = {0, 1, 2, 0, 1, 2};
  std::vector<int> horizontal, vertical;
  for (int i = 0; i < 6; ++i) {
    composeFrame();
    for (int j = 0; j < 4; ++j) {
      if (pixel(100, 100) == cellColor(j)) horizontal.push_back(j);
      if (pixel(200, 100) == cellColor(j)) vertical.push_back(j);
    }
  }
  EXPECT_EQ(horizontal, expected);
  EXPECT_EQ(vertical, expected);
}

TEST_F(Composition, ACellBeyondAShrunkenStripIsDrawnOnceThenTheStripStartsAgain) {
  giveImage(0, 4, 32, [](int, int y) { return cellColor(y / 4); });
  show(0, 0, 0, 4, 4);
  play(0, 0, 3, 5);
  std::vector<int> cells;
  for (int i = 0; i < 4; ++i) {
    composeFrame();
    for (int j = 0; j < 8; ++j) {
      if (pixel(0, 0) == cellColor(j)) cells.push_back(j);
    }
  }
  EXPECT_EQ(cells, (std::vector<int>{5, 0, 1, 2}));
}

TEST_F(Composition, WithNoneOrOneCellTheCurrentCellIsDrawnOnceThenCellZero) {
  giveImage(0, 4, 16, [](int, int y) { return cellColor(y / 4); });
  giveImage(1, 4, 16, [](int, int y) { return cellColor(y / 4); });
  show(0, 0, 0, 4, 4);
  play(0, 0, 0, 2);
  show(1, 10, 0, 4, 4);
  play(1, 0, 1, 3);
  composeFrame();
  EXPECT_EQ(pixel(0, 0), cellColor(2));
  EXPECT_EQ(pixel(10, 0), cellColor(3));
  for (int i = 0; i < 3; ++i) {
    composeFrame();
    EXPECT_EQ(pixel(0, 0), cellColor(0));
    EXPECT_EQ(pixel(10, 0), cellColor(0));
    EXPECT_EQ(imageSlots[0].currentFrame, 0);
  }
}

TEST_F(Composition, AStoppedSlotDrawsItsStopCellAndDoesNotAdvance) {
  giveImage(0, 16, 4, [](int x, int) { return cellColor(x / 4); });
  show(0, 0, 0, 4, 4);
  imageSlots[0].stripAxis = 1;
  imageSlots[0].stopFrame = 3;
  imageSlots[0].currentFrame = 1;
  composeFrame();
  composeFrame();
  EXPECT_EQ(pixel(0, 0), cellColor(3));
  EXPECT_EQ(imageSlots[0].currentFrame, 1);
}

TEST_F(Composition, AHiddenOrInvisibleSlotLeavesItsLastPictureAndStandsStill) {
  giveImage(0, 4, 16, [](int, int y) { return cellColor(y / 4); });
  giveImage(1, 4, 4, [](int, int) { return red; });
  show(0, 0, 0, 4, 4);
  play(0, 0, 4, 1);
  show(1, 10, 0, 4, 4);
  composeFrame();
  ASSERT_EQ(pixel(0, 0), cellColor(1));
  ASSERT_EQ(pixel(10, 0), red);
  imageSlots[0].animState = 2;
  imageSlots[1].visible = 0;
  // Images changed behind the slots' backs are not drawn either.
  freeImage(&imageSlots[1]);
  giveImage(1, 4, 4, [](int, int) { return blue; });
  show(1, 10, 0, 4, 4);
  imageSlots[1].visible = 0;
  for (int i = 0; i < 3; ++i) composeFrame();
  EXPECT_EQ(pixel(0, 0), cellColor(1));
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
  freeImage(&imageSlots[5]);
  imageSlots[5] = stale;
  imageSlots[5].loaded = 0;
  show(5, 120, 0, 8, 8);
  composeFrame();
  EXPECT_EQ(pixel(0, 0), gray);
  EXPECT_EQ(pixel(60, 0), gray);
  EXPECT_EQ(pixel(120, 0), gray);
  EXPECT_EQ(imageSlots[4].currentFrame, 1);  // the strip still advances
  memset(&imageSlots[5], 0, sizeof imageSlots[5]);
}

TEST_F(Composition, TheMessageIsDrawnAboveEverySlot) {
  giveImage(9, 200, 60, [](int, int) { return white; });
  show(9, 0, 0, 200, 60);
  SetRect(&messageRect, 0, 0, 200, 60);
  static const char text[] = "WWWW MMMM";
  textLine1 = text;
  textVisible = 1;
  SetTextColor(virtualScreen.imageDC, 0);
  composeFrame();
  int dark = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) dark += pixel(x, y) != white;
  }
  EXPECT_GT(dark, 20);
  // Drawn again in every frame, after the slots.
  composeFrame();
  int again = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) again += pixel(x, y) != white;
  }
  EXPECT_EQ(again, dark);
}

}  // namespace
