// The mask and the masked image the image slots build, for magenta, near-magenta, black, white
// and other colours in every BMP form LoadImageA reads, checked pixel by pixel after the copy to
// the window's 32-bpp format, with the transparent and opaque draws that use them. The BMP
// files are written by the tests (bmp_files.cpp); the same file runs on Wine's GDI.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "bmp_files.h"
#include "pixel_canvas.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF;
constexpr COLORREF nearMagenta = 0xFE00FF;  // blue 0xFE: not the key

// A file's 0x00RRGGBB value of a GDI colour.
uint32_t fileRgb(COLORREF color) {
  return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}

struct FormatCase {
  const char* name;
  BmpFile file;
  std::vector<COLORREF> expected;  // per pixel, rows top-down, after the copy to 32 bpp
};

const std::vector<COLORREF> trueColors = {magenta,  nearMagenta,           0x000000, 0xFFFFFF,
                                          0x563412, RGB(0xFF, 0x01, 0xFF), 0xFF00FE};
const std::vector<COLORREF> paletteColors = {magenta,  nearMagenta, 0x000000, 0xFFFFFF,
                                             0x563412, magenta,     0x00FF00};

// A file of width x 3 pixels; pixel (x, y) is entry (x + 2y) % n of raw and of colors, so that
// every row differs. masks: red, green, blue for bit fields.
FormatCase makeCase(const char* name, int bits, uint32_t compression, int headerSize,
                    bool topDown, int width, const std::vector<uint32_t>& raw,
                    const std::vector<COLORREF>& colors, std::vector<uint32_t> masks = {},
                    const std::vector<COLORREF>& palette = {}) {
  FormatCase c = {name, {}, {}};
  c.file.bitsPerPixel = bits;
  c.file.compression = compression;
  c.file.headerSize = headerSize;
  c.file.topDown = topDown;
  c.file.width = width;
  c.file.height = 3;
  for (size_t i = 0; i < masks.size(); ++i) c.file.masks[i] = masks[i];
  for (COLORREF color : palette) c.file.palette.push_back(fileRgb(color));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < width; ++x) {
      size_t k = (size_t)(x + 2 * y) % raw.size();
      c.file.pixels.push_back(raw[k]);
      c.expected.push_back(colors[k]);
    }
  }
  return c;
}

// Palette files: runs and single pixels, so that RLE data has encoded and absolute runs.
FormatCase paletteCase(const char* name, int bits, uint32_t compression, int headerSize,
                       bool topDown, int width) {
  return makeCase(
      name, bits, compression, headerSize, topDown, width, {0, 0, 0, 1, 2, 3, 4, 5, 5, 6},
      {magenta, magenta, magenta, nearMagenta, 0, 0xFFFFFF, 0x563412, magenta, magenta, 0x00FF00},
      {}, paletteColors);
}

std::vector<FormatCase> formatCases() {
  std::vector<uint32_t> rgb;
  for (COLORREF color : trueColors) rgb.push_back(fileRgb(color));
  const std::vector<uint32_t> fields = {0xFF0000, 0x00FF00, 0x0000FF};
  // 5-bit values widen by repeating their bits: 31 is 0xFF, 30 is 0xF7, 9 is 0x4A.
  const std::vector<uint32_t> raw555 = {0x7C1F, 0x781F, 0x7C1E, 0x0000, 0x7FFF, 0x2529};
  const std::vector<COLORREF> colors555 = {magenta, RGB(0xF7, 0, 0xFF), RGB(0xFF, 0, 0xF7),
                                           0,       0xFFFFFF,           0x4A4A4A};
  return {
      makeCase("24 bpp", 24, BI_RGB, 40, false, 9, rgb, trueColors),
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
      paletteCase("4 bpp", 4, BI_RGB, 40, false, 7),
      paletteCase("RLE4", 4, BI_RLE4, 40, false, 13),
      makeCase("1 bpp", 1, BI_RGB, 40, false, 11, {1, 0, 1, 1, 0},
               {magenta, nearMagenta, magenta, magenta, nearMagenta}, {},
               {nearMagenta, magenta}),
  };
}

#ifdef _WIN32
// Wine 8 loads top-down files blank, and 565 files as 555 sections (green loses its low bit); it
// also turns the FE00FF of an 8-bpp OS/2 core colour table into FF00FF. Windows loads all of
// them as written, so Wine is no oracle there.
bool wineDiffers(const BmpFile& file) {
  return file.topDown || (file.bitsPerPixel == 16 && file.masks[1] == 0x07E0) ||
         (file.headerSize == 12 && file.bitsPerPixel == 8);
}
#endif

// Draws the slot's image as a frame does, (ground AND mask) OR masked image, over a canvas of
// the image's size filled with ground(x, y).
PixelCanvas drawTransparent(const ImageSlot& slot, COLORREF (*ground)(int, int)) {
  PixelCanvas dest = createCanvas(slot.width, slot.height, 32);
  for (int y = 0; y < slot.height; ++y) {
    for (int x = 0; x < slot.width; ++x) setCanvasPixel(dest, x, y, ground(x, y));
  }
  SetBkColor(dest.dc, 0x0000FF);  // the conversions must not depend on these
  SetTextColor(dest.dc, 0x00FF00);
  BitBlt(dest.dc, 0, 0, slot.width, slot.height, slot.maskDC, 0, 0, SRCAND);
  BitBlt(dest.dc, 0, 0, slot.width, slot.height, slot.maskedImageDC, 0, 0, SRCPAINT);
  return dest;
}

class SlotImages : public ::testing::Test {
 protected:
  HWND window = nullptr;

  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_TRUE(window);
    mainWindow = window;
    memset(imageSlots, 0, sizeof imageSlots);
    beginCapturingMessageBoxes();
  }

  void TearDown() override {
    endCapturingMessageBoxes();
    for (ImageSlot& slot : imageSlots) releaseImage(&slot);
    memset(imageSlots, 0, sizeof imageSlots);
    mainWindow = nullptr;
    destroyRecordingWindow(window);
  }
};

COLORREF ground(int x, int y) {
  return RGB(x * 7, y * 5, 0x33);
}

TEST_F(SlotImages, EveryBmpFormGivesTheMaskAndMaskedImageOfItsColours) {
  for (const FormatCase& c : formatCases()) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (wineDiffers(c.file)) continue;
#endif
    std::string path = writeTempFile("format.bmp", encodeBmp(c.file));
    ASSERT_TRUE(loadSlotImage(0, path.c_str()));
    const ImageSlot& slot = imageSlots[0];
    ASSERT_EQ(slot.hasMask, 1);
    int w = c.file.width, h = c.file.height;
    BITMAP info;
    ASSERT_EQ(GetObjectA(slot.bitmap, sizeof info, &info), (int)sizeof info);
    EXPECT_EQ(info.bmWidth, w);
    EXPECT_EQ(info.bmHeight, h);
    EXPECT_EQ(info.bmBitsPixel, c.file.bitsPerPixel);
    EXPECT_EQ(slot.width, w);
    EXPECT_EQ(slot.height, h);

    PixelCanvas transparent = drawTransparent(slot, ground);
    PixelCanvas opaque = createCanvas(w, h, 32);
    BitBlt(opaque.dc, 0, 0, w, h, slot.imageDC, 0, 0, SRCCOPY);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        COLORREF p = c.expected[(size_t)y * w + x];
        bool key = p == magenta;
        ASSERT_EQ(GetPixel(slot.maskDC, x, y), key ? 0xFFFFFFu : 0u) << "mask at " << x << "," << y;
        ASSERT_EQ(GetPixel(slot.maskedImageDC, x, y), key ? 0u : p) << "masked at " << x << "," << y;
        ASSERT_EQ(canvasColor(transparent, x, y), key ? ground(x, y) : p)
            << "drawn at " << x << "," << y;
        ASSERT_EQ(canvasColor(opaque, x, y), p) << "opaque at " << x << "," << y;
      }
    }
    destroyCanvas(&transparent);
    destroyCanvas(&opaque);
  }
  EXPECT_TRUE(capturedMessageBoxes().empty());
}

TEST_F(SlotImages, PixelsAnRleDeltaSkipsTakeTheFirstColourOfTheTable) {
  FormatCase c = paletteCase("RLE8 with a delta", 8, BI_RLE8, 40, false, 10);
  c.file.skipped = {{4, 1}, {0, 2}};
  std::string path = writeTempFile("delta.bmp", encodeBmp(c.file));
  ASSERT_TRUE(loadSlotImage(1, path.c_str()));
  EXPECT_EQ(GetPixel(imageSlots[1].maskedImageDC, 4, 1), 0u);  // entry 0 is magenta: keyed
  EXPECT_EQ(GetPixel(imageSlots[1].maskDC, 4, 1), 0xFFFFFFu);
  EXPECT_EQ(GetPixel(imageSlots[1].maskDC, 0, 2), 0xFFFFFFu);
  EXPECT_EQ(GetPixel(imageSlots[1].maskedImageDC, 7, 1), 0x00FF00u);  // after the skip
}

// Files a careless writer makes, loaded as Windows loads them: a colour count far beyond the
// table, RLE data without its end mark or with a run past the row's end, 32-bit fields that are
// not 8 bits each at the standard places (each gives its top 8 bits; 5 bits widen by repetition).
TEST_F(SlotImages, OddButReadableFilesLoadAsOnWindows) {
  BmpFile palette;
  palette.width = palette.height = 8;
  palette.bitsPerPixel = 8;
  palette.palette.assign(256, 0);
  palette.palette[0] = 0xFF0000;
  palette.pixels.assign(64, 0);
  std::string countAll = encodeBmp(palette);
  memcpy(&countAll[46], "\xFF\xFF\xFF\xFF", 4);
  palette.compression = BI_RLE8;
  palette.palette = {0, 0xFF0000};
  palette.pixels.assign(64, 1);
  std::string rle = encodeBmp(palette);
  std::string overrun = rle.substr(0, rle.size() - 8 * 4 - 2) + std::string("\x14\x01\0\0\0\x01", 6);
  auto fields = [](uint32_t red, uint32_t green, uint32_t blue, uint32_t pixel) {
    BmpFile file;
    file.width = file.height = 2;
    file.bitsPerPixel = 32;
    file.compression = BI_BITFIELDS;
    file.masks[0] = red;
    file.masks[1] = green;
    file.masks[2] = blue;
    file.pixels.assign(4, pixel);
    return encodeBmp(file);
  };
  struct Case {
    const char* name;
    std::string bytes;
    COLORREF bottom, top;  // left pixel of the bottom and the top row
    bool wineDiffers;      // Wine 8 draws it black
  } cases[] = {
      {"colour count 0xFFFFFFFF", countAll, 0x0000FF, 0x0000FF, false},
      {"RLE8 without its end", rle.substr(0, rle.size() - 2), 0x0000FF, 0x0000FF, false},
      {"RLE8 run of 20 in a row of 8", overrun, 0x0000FF, 0, true},
      {"32 bpp RGBX fields", fields(0xFF000000, 0xFF0000, 0xFF00, 0xFF0000), 0x00FF00, 0x00FF00,
       false},
      {"32 bpp 12-10-10 fields", fields(0xFFF00000, 0xFFC00, 0x3FF, 0xFF0000), 0x00F000, 0x00F000,
       false},
      {"32 bpp 555 fields", fields(0x7C00, 0x3E0, 0x1F, 0x781F), 0xFF00F7, 0xFF00F7, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (c.wineDiffers) continue;
#endif
    std::string path = writeTempFile("odd.bmp", c.bytes);
    ASSERT_TRUE(loadSlotImage(3, path.c_str()));
    EXPECT_EQ(GetPixel(imageSlots[3].maskedImageDC, 0, imageSlots[3].height - 1), c.bottom);
    EXPECT_EQ(GetPixel(imageSlots[3].maskedImageDC, 0, 0), c.top);
  }
  EXPECT_TRUE(capturedMessageBoxes().empty());
}

// Larger pictures, whose mask rows need padding: all magenta leaves the ground everywhere, no
// magenta draws as if opaque.
TEST_F(SlotImages, AllAndNoMagentaDrawnThroughTheMask) {
  struct Case {
    const char* name;
    int width, height;
    COLORREF (*picture)(int, int);
  } cases[] = {
      {"all magenta", 24, 20, [](int, int) { return magenta; }},
      {"no magenta", 28, 17, [](int x, int y) { return RGB(x * 9, 255 - y * 3, (x * y) & 0xFE); }},
  };
  for (const Case& c : cases) {
    BmpFile file;
    file.width = c.width;
    file.height = c.height;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) file.pixels.push_back(fileRgb(c.picture(x, y)));
    }
    std::string path = writeTempFile("picture.bmp", encodeBmp(file));
    ASSERT_TRUE(loadSlotImage(2, path.c_str())) << c.name;
    PixelCanvas drawn = drawTransparent(imageSlots[2], ground);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        COLORREF p = c.picture(x, y);
        ASSERT_EQ(canvasColor(drawn, x, y), p == magenta ? ground(x, y) : p)
            << c.name << " at " << x << "," << y;
      }
    }
    destroyCanvas(&drawn);
  }
}

}  // namespace
