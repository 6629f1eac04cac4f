// The image slots and the virtual screen: slot numbers, the load-failure message (bad, cut and
// oversized files, long names), what a failed reload and a reset leave, GDI objects kept, the
// surface made per opened script and presenting it; and the mask and masked image built for
// every BMP form LoadImageA reads, checked pixel by pixel after the copy to 32 bpp. Both builds.
#include <string>
#include <utility>
#include <vector>

#include "bmp_files.h"
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

constexpr COLORREF any = 0xFFFFFFFF;  // a pixel no row pins

// A file's 0x00RRGGBB value of a GDI colour.
uint32_t fileRgb(COLORREF color) {
  return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}

// A file's bytes and what loading it into a slot gives: its pixels, rows top-down, after the copy
// to 32 bpp, or, when there are none, the load-failure message. wineDiffers: Wine 8 is no oracle
// for it (it loads cut files, cut RLE and fields without masks, ignores a 24-bpp file's
// compression, limits no size, loads top-down files blank, 565 as 555 and turns an 8-bpp OS/2
// core table's FE00FF into FF00FF; Windows does none of these).
struct FileCase {
  std::string name;
  std::string bytes;
  int width;
  std::vector<COLORREF> pixels;
  bool wineDiffers;
};

// A file of width x height pixels; pixel (x, y) is entry (x + 2y) % n of raw and of colors, so
// that every row differs. masks: red, green, blue for bit fields.
FileCase makeCase(const char* name, int bits, uint32_t compression, int headerSize, bool topDown,
                  int width, const std::vector<uint32_t>& raw, const std::vector<COLORREF>& colors,
                  std::vector<uint32_t> masks = {}, const std::vector<COLORREF>& palette = {},
                  std::vector<std::pair<int, int>> skipped = {}, int height = 3) {
  BmpFile file;
  file.bitsPerPixel = bits;
  file.compression = compression;
  file.headerSize = headerSize;
  file.topDown = topDown;
  file.width = width;
  file.height = height;
  file.skipped = skipped;
  for (size_t i = 0; i < masks.size(); ++i) file.masks[i] = masks[i];
  for (COLORREF color : palette) file.palette.push_back(fileRgb(color));
  FileCase c = {name, "", width, {}, topDown || (bits == 16 && file.masks[1] == 0x07E0) ||
                                         (headerSize == 12 && bits == 8)};
  for (int k = 0; k < height * width; ++k) {
    size_t i = size_t(k % width + 2 * (k / width)) % raw.size();
    file.pixels.push_back(raw[i]);
    c.pixels.push_back(colors[i]);
  }
  // Pixels an RLE delta skips take the first colour of the table.
  for (auto skip : skipped) c.pixels[skip.second * width + skip.first] = palette[0];
  c.bytes = encodeBmp(file);
  return c;
}

// Palette files: runs and single pixels, so that RLE data has encoded and absolute runs.
FileCase paletteCase(const char* name, int bits, uint32_t compression, int headerSize,
                     bool topDown, int width, std::vector<std::pair<int, int>> skipped = {}) {
  return makeCase(
      name, bits, compression, headerSize, topDown, width, {0, 0, 0, 1, 2, 3, 4, 5, 5, 6},
      {magenta, magenta, magenta, nearMagenta, 0, 0xFFFFFF, 0x563412, magenta, magenta, 0x00FF00},
      {}, {magenta, nearMagenta, 0x000000, 0xFFFFFF, 0x563412, magenta, 0x00FF00}, skipped);
}

// 2 x 2 pixels of 32 bits under the given fields.
FileCase fieldsCase(const char* name, std::vector<uint32_t> masks, uint32_t pixel, COLORREF color) {
  return makeCase(name, 32, BI_BITFIELDS, 40, false, 2, {pixel}, {color}, masks, {}, {}, 2);
}

std::vector<FileCase> fileCases() {
  const std::vector<COLORREF> trueColors = {magenta,  nearMagenta,           0x000000, 0xFFFFFF,
                                            0x563412, RGB(0xFF, 0x01, 0xFF), 0xFF00FE};
  std::vector<uint32_t> rgb;
  for (COLORREF color : trueColors) rgb.push_back(fileRgb(color));
  const std::vector<uint32_t> fields = {0xFF0000, 0x00FF00, 0x0000FF};
  // 5-bit values widen by repeating their bits: 31 is 0xFF, 30 is 0xF7, 9 is 0x4A.
  const std::vector<uint32_t> raw555 = {0x7C1F, 0x781F, 0x7C1E, 0x0000, 0x7FFF, 0x2529};
  const std::vector<COLORREF> colors555 = {magenta, RGB(0xF7, 0, 0xFF), RGB(0xFF, 0, 0xF7),
                                           0,       0xFFFFFF,           0x4A4A4A};
  const std::vector<COLORREF> red8x8(64, 0x0000FF);
  std::vector<FileCase> cases = {
      makeCase("24 bpp", 24, BI_RGB, 40, false, 9, rgb, trueColors),
      makeCase("24 bpp, 37 wide: padded mask rows", 24, BI_RGB, 40, false, 37, rgb, trueColors),
      makeCase("24 bpp, V5 header", 24, BI_RGB, 124, false, 9, rgb, trueColors),
      makeCase("24 bpp, V4 header", 24, BI_RGB, 108, false, 9, rgb, trueColors),
      makeCase("24 bpp, OS/2 core header", 24, BI_RGB, 12, false, 9, rgb, trueColors),
      makeCase("24 bpp, top-down", 24, BI_RGB, 40, true, 9, rgb, trueColors),
      makeCase("32 bpp", 32, BI_RGB, 40, false, 9, rgb, trueColors),
      makeCase("32 bpp, bit fields", 32, BI_BITFIELDS, 40, false, 9, rgb, trueColors, fields),
      makeCase("32 bpp, V5 bit fields", 32, BI_BITFIELDS, 124, false, 9, rgb, trueColors, fields),
      makeCase("16 bpp 555", 16, BI_RGB, 40, false, 7, raw555, colors555),
      makeCase("16 bpp 555, bit fields", 16, BI_BITFIELDS, 40, false, 7, raw555, colors555,
               {0x7C00, 0x03E0, 0x001F}),
      makeCase("16 bpp 565", 16, BI_BITFIELDS, 40, false, 7,
               {0xF81F, 0xF01F, 0x0000, 0xFFFF, 0x07E0, 0x8410},
               {magenta, RGB(0xF7, 0, 0xFF), 0, 0xFFFFFF, 0x00FF00, RGB(0x84, 0x82, 0x84)},
               {0xF800, 0x07E0, 0x001F}),
      paletteCase("8 bpp", 8, BI_RGB, 40, false, 10),
      paletteCase("8 bpp, OS/2 core header", 8, BI_RGB, 12, false, 10),
      paletteCase("8 bpp, top-down", 8, BI_RGB, 40, true, 10),
      paletteCase("RLE8", 8, BI_RLE8, 40, false, 10),
      paletteCase("RLE8 with deltas", 8, BI_RLE8, 40, false, 10, {{4, 1}, {0, 2}}),
      paletteCase("4 bpp", 4, BI_RGB, 40, false, 7),
      paletteCase("RLE4", 4, BI_RLE4, 40, false, 13),
      makeCase("1 bpp", 1, BI_RGB, 40, false, 11, {1, 0, 1, 1, 0},
               {magenta, nearMagenta, magenta, magenta, nearMagenta}, {}, {nearMagenta, magenta}),
      // What a careless writer makes, loaded as Windows loads it: 32-bit fields that are not 8
      // bits each at the standard places give their top 8 bits (5 bits widen by repetition).
      fieldsCase("32 bpp RGBX fields", {0xFF000000, 0xFF0000, 0xFF00}, 0xFF0000, 0x00FF00),
      fieldsCase("32 bpp 12-10-10 fields", {0xFFF00000, 0xFFC00, 0x3FF}, 0xFF0000, 0x00F000),
      fieldsCase("32 bpp 555 fields", {0x7C00, 0x3E0, 0x1F}, 0x781F, 0xFF00F7),
      fieldsCase("32 bpp fields without masks", {}, 0xFF0000, any),
  };
  cases.back().pixels.clear();  // each colour would be 0: refused
  cases.back().wineDiffers = true;

  // An 8 x 8 palette file of red, plain or RLE8 (eight rows of one run and an end of line, the
  // end of the bitmap), and RLE4.
  BmpFile red;
  red.width = red.height = 8;
  red.bitsPerPixel = 8;
  red.palette.assign(256, 0);
  red.palette[0] = 0xFF0000;
  red.pixels.assign(64, 0);
  std::string countAll = encodeBmp(red);
  memcpy(&countAll[46], "\xFF\xFF\xFF\xFF", 4);  // a colour count far beyond the table
  red.compression = BI_RLE8;
  red.palette = {0, 0xFF0000};
  red.pixels.assign(64, 1);
  std::string rle8 = encodeBmp(red);
  size_t rleData = rle8.size() - 8 * 4 - 2;
  std::string overrun = rle8.substr(0, rleData) + std::string("\x14\x01\0\0\0\x01", 6);
  std::vector<COLORREF> overrunPixels(64, any);
  overrunPixels[0] = 0;
  overrunPixels[56] = 0x0000FF;
  red.bitsPerPixel = 4;
  red.compression = BI_RLE4;
  std::string rle4 = encodeBmp(red);
  std::string tinyHuge = rle8 + std::string(1024, '\0');  // 2048 x 2048 from 1 KB of RLE8
  memcpy(&tinyHuge[18], "\0\x08\0\0\0\x08\0\0", 8);
  BmpFile mono;  // 4096 x 4096 from 2 MB of 1 bit per pixel
  mono.width = mono.height = 4096;
  mono.bitsPerPixel = 1;
  mono.palette = {0, 0xFFFFFF};
  mono.pixels.assign(size_t(4096) * 4096, 1);
  std::string good = solidBmp(6, 4, 0x00FF00);
  std::string huge = good, noWidth = good, sevenBits = good, jpeg = good;
  memcpy(&huge[18], "\xA0\x86\x01\0\xA0\x86\x01\0", 8);  // 100000 x 100000 over a few bytes
  memset(&noWidth[18], 0, 4);
  sevenBits[28] = 7;
  jpeg[30] = 4;  // BI_JPEG
  const FileCase more[] = {
      {"colour count 0xFFFFFFFF", countAll, 8, red8x8, false},
      {"RLE8 without its end", rle8.substr(0, rle8.size() - 2), 8, red8x8, false},
      {"RLE8 run of 20 in a row of 8", overrun, 8, overrunPixels, true},
      {"text", "This is no bitmap at all, just some text.\r\n", 0, {}, false},
      {"png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 0, {}, false},
      {"cut header", good.substr(0, 30), 0, {}, true},
      {"cut rows", good.substr(0, good.size() - 20), 0, {}, true},
      {"huge", huge, 0, {}, false},
      {"no width", noWidth, 0, {}, false},
      {"seven bits", sevenBits, 0, {}, false},
      {"jpeg", jpeg, 0, {}, true},
      {"cut rle8", rle8.substr(0, rleData + 1), 0, {}, true},
      {"cut rle4", rle4.substr(0, rleData + 1), 0, {}, true},
      {"tiny huge rle8", tinyHuge, 0, {}, true},
      {"huge 1 bpp", encodeBmp(mono), 0, {}, true},
      {"empty", "", 0, {}, false},
  };
  cases.insert(cases.end(), more, more + sizeof more / sizeof more[0]);
  return cases;
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
#ifdef _WIN32
    if (c.wineDiffers) continue;
#endif
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
      if (p == any) continue;
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
