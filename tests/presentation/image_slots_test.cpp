// The image slots and the virtual screen: slot numbers, the load-failure message (bad, cut and
// oversized files, long names), what a failed reload and a reset leave, GDI objects kept, the
// surface made per opened script and presenting it; and the mask and masked image built for
// keyed and unkeyed pictures, checked pixel by pixel after the copy to 32 bpp. Both builds.
#include <string>
#include <utility>
#include <vector>

#include "pixel_canvas.h"
#include "presentation_fixture.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF;
constexpr COLORREF nearMagenta = 0xFE00FF;  // blue 0xFE: not the key

class Slots : public PresentationTest {
 protected:
  // The one message box shown since the last check is the load failure for name.
  void expectLoadFailureMessage(const std::string& name) {
    std::vector<CapturedMessageBox> boxes = capturedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, name + cp932("を読み込むことができませんでした"));
    EXPECT_EQ(boxes[0].caption, cp932("エラー"));
    EXPECT_EQ(boxes[0].type, (UINT)MB_OK);
    EXPECT_EQ(boxes[0].owner, mainWindow);
    beginCapturingMessageBoxes();
  }
};

TEST_F(Slots, ASlotNumberOfTenOrMoreFailsWithoutAMessageAndChangesNoSlot) {
  std::string path = writeTempFile("small.bmp", solidBmp(6, 4, 0x123456));
  ImageSlot before[imageSlotCount];
  memcpy(before, imageSlots, sizeof before);
  EXPECT_FALSE(loadSlotImage(10, path.c_str()));
  EXPECT_FALSE(loadSlotImage((uint32_t)-1, path.c_str()));
  EXPECT_EQ(memcmp(before, imageSlots, sizeof before), 0);
  EXPECT_TRUE(capturedMessageBoxes().empty());
  EXPECT_TRUE(loadSlotImage(9, path.c_str()));
  EXPECT_EQ(imageSlots[9].loaded, 1);
}

TEST_F(Slots, AFailedReloadKeepsNoHandleAndLoadsLeakNothing) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("first.bmp", solidBmp(6, 4, magenta));
  ASSERT_TRUE(loadSlotImage(5, path.c_str()));
  int loaded = gdiObjectCount();
  for (int i = 0; i < 999; ++i) ASSERT_TRUE(loadSlotImage(5, path.c_str()));
  EXPECT_EQ(gdiObjectCount(), loaded);
  ImageSlot& slot = imageSlots[5];
  slot.destX = 12;
  slot.frameCount = 3;
  EXPECT_FALSE(loadSlotImage(5, "missing.bmp"));
  expectLoadFailureMessage("missing.bmp");
  EXPECT_EQ(slot.loaded, 1);  // the flag keeps its value
  EXPECT_EQ(slot.hasMask, 0);
  const void* handles[] = {slot.bitmap,        slot.imageDC,           slot.maskBitmap,
                           slot.maskDC,        slot.maskedImageBitmap, slot.maskedImageDC,
                           slot.oldBitmap,     slot.oldMaskBitmap,     slot.oldMaskedImageBitmap};
  for (const void* handle : handles) EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(gdiObjectCount(), before);
  releaseImage(&slot);  // frees nothing twice
  EXPECT_EQ(gdiObjectCount(), before);
  ASSERT_TRUE(loadSlotImage(5, path.c_str()));
  EXPECT_EQ(slot.hasMask, 1);
  EXPECT_EQ(slot.destX, 12);  // placement and strip stay
  EXPECT_EQ(slot.frameCount, 3);
  releaseImage(&slot);
  EXPECT_EQ(slot.hasMask, 0);  // its mask went with it

  // A reset, when a script is opened, clears only loaded and visible.
  slot.visible = slot.animState = slot.currentFrame = 1;
  resetImageSlots();
  EXPECT_EQ(slot.loaded + slot.visible, 0);
  EXPECT_EQ(slot.animState + slot.currentFrame + slot.width + slot.destX, 1 + 1 + 6 + 12);
}

TEST_F(Slots, ANameTooLongForTheMessageIsCutAtACharacterBoundary) {
  // 255 bytes of room, 32 of them the suffix: 223 for the name. After "xx", 150 double-byte
  // characters end their last whole one that fits at byte 222; after "x", at 223.
  std::string wide;
  for (int i = 0; i < 150; ++i) wide += cp932("画");
  const struct {
    std::string name;
    size_t kept;
  } cases[] = {
      {"xx" + wide, 222}, {"x" + wide, 223},
      // Half a character at the end is left out: it would take the suffix's first byte. The
      // lead bytes are 81-9F and E0-FC.
      {"x\x80", 2}, {"x\x81", 1}, {"x\x9F", 1}, {"x\xA0", 2}, {"x\xDF", 2}, {"x\xE0", 1},
      {"x\xFC", 1}, {"x\xFD", 2},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(loadSlotImage(0, c.name.c_str()));
    expectLoadFailureMessage(c.name.substr(0, c.kept));
  }
}

TEST_F(Slots, EachOpenedScriptGetsANewBlackScreenWhichIsPresented) {
  PixelCanvas target = createCanvas(700, 500, 32);
  fillCanvas(target, 0x2080C0);
  presentToDC(target.dc);  // no script opened yet: nothing drawn
  EXPECT_EQ(canvasColor(target, 0, 0), 0x2080C0u);

  ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  int made = gdiObjectCount();
  BITMAP info;
  ASSERT_EQ(GetObjectA(virtualScreen.bitmap, sizeof info, &info), (int)sizeof info);
  EXPECT_EQ(info.bmWidth * 1000 + info.bmHeight, 640480);
  EXPECT_EQ(info.bmBitsPixel, 32);
  EXPECT_EQ(virtualScreen.hasMask, 0);  // a surface has no mask to free
  EXPECT_EQ(GetBkMode(virtualScreen.imageDC), TRANSPARENT);
  EXPECT_EQ(GetTextColor(virtualScreen.imageDC), 0xFFFFFFu);
  SetPixel(virtualScreen.imageDC, 10, 10, 0x00FF00);
  for (int i = 0; i < 99; ++i) {
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  }
  // A surface whose bitmap cannot be made is a failure, and the one before stays.
  EXPECT_FALSE(createSurface(&virtualScreen, 1 << 20, 1 << 20));
  EXPECT_EQ(gdiObjectCount(), made);
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 10, 10), 0u);  // a new, black surface
  releaseImage(&virtualScreen);  // never loaded: left alone
  EXPECT_EQ(gdiObjectCount(), made);

  SetPixel(virtualScreen.imageDC, 639, 479, 0x0000FF);
  SetPixel(virtualScreen.imageDC, 5, 6, 0x563412);
  presentToDC(target.dc);
  const struct {
    int x, y;
    COLORREF color;
  } probes[] = {{0, 0, 0},           {5, 6, 0x563412},     {639, 479, 0x0000FF},
                {640, 479, 0x2080C0}, {639, 480, 0x2080C0}};  // 640 x 480 and no more
  for (const auto& p : probes) EXPECT_EQ(canvasColor(target, p.x, p.y), p.color) << p.x;
  destroyCanvas(&target);
}

// A file's bytes and its pixels, rows top-down; none when it is no bitmap. Every form LoadImageA
// reads is checked with the platform; the slots add the mask of the key colour.
struct FileCase {
  std::string name;
  std::string bytes;
  int width;
  std::vector<COLORREF> pixels;
};

std::vector<FileCase> fileCases() {
  const COLORREF row[] = {magenta, nearMagenta, 0x000000, 0x563412, magenta};
  std::string keyed = bmpFile(5, 2, [&](int x, int) { return row[x]; });
  std::vector<COLORREF> pixels(row, row + 5);
  pixels.insert(pixels.end(), row, row + 5);
  return {{"keyed", keyed, 5, pixels},
          {"not keyed", solidBmp(3, 2, nearMagenta), 3, std::vector<COLORREF>(6, nearMagenta)},
          {"text", "This is no bitmap at all.", 0, {}}};
}

COLORREF ground(int x, int y) {
  return RGB(x * 7, y * 5, 0x33);
}

// Every file gives the mask (white where the image is magenta) and the masked image (magenta
// made black) of its pixels, so that a transparent draw leaves the ground under magenta only;
// or, when it is no loadable bitmap, fails with the message, keeps nothing and leaks nothing.
TEST_F(Slots, EveryFileGivesTheMaskOfItsColoursOrTheMessage) {
  ImageSlot& slot = imageSlots[0];
  int before = gdiObjectCount();
  for (const FileCase& c : fileCases()) {
    SCOPED_TRACE(c.name);
    releaseImage(&slot);
    memset(&slot, 0, sizeof slot);
    std::string path = writeTempFile("file.bmp", c.bytes);
    if (c.pixels.empty()) {
      EXPECT_FALSE(loadSlotImage(0, path.c_str()));
      expectLoadFailureMessage(path);
      EXPECT_EQ(slot.loaded, 0);
      EXPECT_EQ(slot.imageDC, nullptr);
      continue;
    }
    ASSERT_TRUE(loadSlotImage(0, path.c_str()));
    int w = c.width, h = int(c.pixels.size()) / w;
    BITMAP info;
    ASSERT_EQ(GetObjectA(slot.bitmap, sizeof info, &info), (int)sizeof info);
    EXPECT_EQ(info.bmBitsPixel, c.bytes[c.bytes[14] == 12 ? 24 : 28]);  // the file's own depth
    ASSERT_EQ(slot.width * 1000 + slot.height, w * 1000 + h);
    // Drawn as a frame draws it, (ground AND mask) OR masked image, and opaque.
    PixelCanvas transparent = createCanvas(w, h, 32);
    PixelCanvas opaque = createCanvas(w, h, 32);
    for (int k = 0; k < w * h; ++k) setCanvasPixel(transparent, k % w, k / w, ground(k % w, k / w));
    SetBkColor(transparent.dc, 0x0000FF);  // the conversions must not depend on these
    SetTextColor(transparent.dc, 0x00FF00);
    BitBlt(transparent.dc, 0, 0, w, h, slot.maskDC, 0, 0, SRCAND);
    BitBlt(transparent.dc, 0, 0, w, h, slot.maskedImageDC, 0, 0, SRCPAINT);
    BitBlt(opaque.dc, 0, 0, w, h, slot.imageDC, 0, 0, SRCCOPY);
    for (int k = 0; k < w * h; ++k) {
      int x = k % w, y = k / w;
      COLORREF p = c.pixels[k];
      bool key = p == magenta;
      ASSERT_EQ(GetPixel(slot.maskDC, x, y), key ? 0xFFFFFFu : 0u) << "mask at " << x << "," << y;
      ASSERT_EQ(GetPixel(slot.maskedImageDC, x, y), key ? 0u : p) << "masked at " << x << "," << y;
      ASSERT_EQ(canvasColor(transparent, x, y), key ? ground(x, y) : p) << "at " << x << "," << y;
      ASSERT_EQ(canvasColor(opaque, x, y), p) << "opaque at " << x << "," << y;
    }
    destroyCanvas(&transparent);
    destroyCanvas(&opaque);
  }
  releaseImage(&slot);
  EXPECT_EQ(gdiObjectCount(), before);
  EXPECT_TRUE(capturedMessageBoxes().empty());
  EXPECT_FALSE(loadSlotImage(0, "no such picture.bmp"));
  expectLoadFailureMessage("no such picture.bmp");
}

}  // namespace
