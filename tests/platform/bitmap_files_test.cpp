// LoadImageA from files: every BMP form it reads, each read back through a copy to 32 bpp, the
// files it refuses, names that are no file, and icons. State: temporary files only.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "bmp_files.h"
#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

constexpr COLORREF magenta = 0xFF00FF;
constexpr COLORREF nearMagenta = 0xFE00FF;
constexpr COLORREF any = 0xFFFFFFFF;  // a pixel no row pins

// A file's 0x00RRGGBB value of a GDI colour.
uint32_t fileRgb(COLORREF color) {
  return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}

// A file's bytes and what LoadImageA makes of it: its pixels, rows top-down, after the copy to
// 32 bpp, or none when it is refused. wineDiffers: Wine 8 is no oracle
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

HBITMAP loadBitmap(const std::string& path) {
  return (HBITMAP)LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                             LR_LOADFROMFILE | LR_CREATEDIBSECTION);
}

TEST(BitmapFiles, EveryFormGivesItsPixelsAtItsOwnDepthOrIsRefused) {
  int before = gdiObjectCount();
  for (const FileCase& c : fileCases()) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (c.wineDiffers) continue;
#endif
    HBITMAP bitmap = loadBitmap(writeTempFile("file.bmp", c.bytes));
    if (c.pixels.empty()) {
      EXPECT_EQ(bitmap, nullptr);
      continue;
    }
    ASSERT_TRUE(bitmap);
    int w = c.width, h = int(c.pixels.size()) / w;
    BITMAP info;
    ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), (int)sizeof info);
    EXPECT_EQ(info.bmBitsPixel, c.bytes[c.bytes[14] == 12 ? 24 : 28]);  // the file's own depth
    ASSERT_EQ(info.bmWidth * 1000 + info.bmHeight, w * 1000 + h);
    ASSERT_TRUE(info.bmBits);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    PixelCanvas copy = createCanvas(w, h, 32);
    SetBkColor(copy.dc, 0x0000FF);  // the conversion must not depend on these
    SetTextColor(copy.dc, 0x00FF00);
    BitBlt(copy.dc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    for (int k = 0; k < w * h; ++k) {
      if (c.pixels[k] == any) continue;
      ASSERT_EQ(canvasColor(copy, k % w, k / w), c.pixels[k]) << k;
    }
    destroyCanvas(&copy);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  EXPECT_EQ(gdiObjectCount(), before);
  // Not from a file, the name would be a bitmap resource of the module, and there is none.
  std::string path = writeTempFile("good.bmp", solidBmp(2, 2, 0x123456));
  EXPECT_EQ(LoadImageA(GetModuleHandleA(nullptr), path.c_str(), IMAGE_BITMAP, 0, 0,
                       LR_CREATEDIBSECTION),
            nullptr);
  EXPECT_EQ(loadBitmap("no such file.bmp"), nullptr);
}

// A 16x16 32-bpp icon of colours (x * 15, y * 15, 0x40): directory, one entry, its image (height
// doubled for the AND mask) with the colour rows bottom-up, then an all-zero AND mask.
std::string iconFile() {
  std::string image;
  for (uint32_t value : {40, 16, 32}) put32(&image, value);
  put16(&image, 1);
  put16(&image, 32);
  image.append(24, '\0');
  for (int y = 15; y >= 0; --y) {
    for (int x = 0; x < 16; ++x) put32(&image, 0xFF000040u | (x * 15) << 16 | (y * 15) << 8);
  }
  image.append(16 * 4, '\0');
  std::string file;
  for (uint32_t value : {0, 1, 1}) put16(&file, value);  // an icon, one image
  file += std::string("\x10\x10\0\0", 4);                 // 16 x 16, no palette, reserved
  put16(&file, 1);
  put16(&file, 32);
  put32(&file, (uint32_t)image.size());
  put32(&file, 22);
  return file + image;
}

TEST(BitmapFiles, IconsComeFromIcoFilesAndTheSystem) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("test.ico", iconFile());
  HICON icon = (HICON)LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  ASSERT_TRUE(icon);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_EQ(gdiObjectCount(), before);
  std::string notAnIcon = writeTempFile("text.ico", "no icon here");
  EXPECT_EQ(LoadImageA(nullptr, notAnIcon.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
  EXPECT_EQ(LoadImageA(nullptr, "missing.ico", IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
  EXPECT_TRUE(LoadIconA(nullptr, IDI_APPLICATION));
}

}  // namespace
