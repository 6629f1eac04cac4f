// LoadImageA from files: every BMP form it reads (1 to 32 bits per pixel, RLE8 and RLE4, bit
// fields, top-down rows, OS/2 core, info, V4 and V5 headers), written here from the format's
// definition and each read back through a copy to 32 bpp; the files it refuses, names that are no
// file, and icons. State: temporary files only.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

struct BmpFile {
  int width = 0, height = 3, bitsPerPixel = 24;
  uint32_t compression = BI_RGB;
  int headerSize = 40;  // 12 OS/2 core, 40 info, 108 V4, 124 V5
  bool topDown = false;
  uint32_t masks[3] = {};         // red, green, blue: written with BI_BITFIELDS and V4, V5
  std::vector<COLORREF> palette;  // the colour table
  std::vector<uint32_t> pixels;   // raw values, rows top-down: indices, 16-bit words, 0xRRGGBB
  std::vector<std::pair<int, int>> skipped;  // RLE: (x, y) left out with a delta escape
};

std::string packedRow(const BmpFile& f, int y) {
  std::string row;
  const uint32_t* p = &f.pixels[size_t(y) * f.width];
  int bits = f.bitsPerPixel;
  for (int x = 0; x < f.width && bits >= 8; ++x) putLe(row, p[x], bits / 8);
  for (int x = 0; x < f.width && bits < 8; x += 8 / bits) {
    uint32_t byte = 0;
    for (int i = 0; i < 8 / bits && x + i < f.width; ++i) byte |= p[x + i] << (8 - bits * (i + 1));
    row += char(byte);
  }
  row.resize((row.size() + 3) / 4 * 4, '\0');
  return row;
}

// One row of RLE data: two or more equal pixels as an encoded run, three or more that each differ
// from the next as an absolute run, a skipped pixel as a delta of one column.
void encodeRleRow(const BmpFile& f, int y, std::string* out) {
  bool four = f.bitsPerPixel == 4;
  const uint32_t* p = &f.pixels[size_t(y) * f.width];
  auto skip = [&](int x) {
    return std::count(f.skipped.begin(), f.skipped.end(), std::make_pair(x, y)) > 0;
  };
  for (int x = 0; x < f.width;) {
    int run = 1, literal = 0;
    while (x + run < f.width && p[x + run] == p[x] && !skip(x + run)) ++run;
    while (x + literal < f.width && !skip(x + literal) &&
           (x + literal + 1 == f.width || p[x + literal] != p[x + literal + 1])) {
      ++literal;
    }
    if (skip(x)) {
      *out += std::string("\0\x02\x01\0", 4), ++x;
    } else if (run >= 2 || literal < 3) {
      *out += char(run), *out += char(four ? p[x] * 17 : p[x]), x += run;
    } else {
      std::string data;
      for (int i = 0; i < literal; ++i) {
        if (four && i % 2) {
          data.back() = char(data.back() | p[x + i]);
        } else {
          data += char(four ? p[x + i] << 4 : p[x + i]);
        }
      }
      data.resize((data.size() + 1) / 2 * 2, '\0');
      *out += '\0', *out += char(literal), *out += data, x += literal;
    }
  }
  *out += std::string("\0\0", 2);  // end of line
}

std::string encodeBmp(const BmpFile& f) {
  bool rle = f.compression == BI_RLE8 || f.compression == BI_RLE4, core = f.headerSize == 12;
  std::string data, header, table;
  for (int i = 0; i < f.height; ++i) {
    int y = f.topDown ? i : f.height - 1 - i;
    if (rle) encodeRleRow(f, y, &data);
    if (!rle) data += packedRow(f, y);
  }
  if (rle) data += std::string("\0\x01", 2);  // end of bitmap
  int field = core ? 2 : 4;
  putLe(header, f.headerSize, 4);
  putLe(header, f.width, field), putLe(header, f.topDown ? -f.height : f.height, field);
  putLe(header, 1, 2), putLe(header, f.bitsPerPixel, 2);
  if (!core) {
    for (uint32_t v :
         {f.compression, uint32_t(data.size()), 2835u, 2835u, uint32_t(f.palette.size()), 0u}) {
      putLe(header, v, 4);
    }
    if (f.headerSize > 40 || f.compression == BI_BITFIELDS) {
      for (uint32_t mask : f.masks) putLe(header, mask, 4);
    }
    if (f.headerSize > 40) {
      putLe(header, 0, 4), putLe(header, 0x73524742, 4);  // no alpha mask, 'sRGB'
      header.resize(f.headerSize, '\0');
      if (f.headerSize == 124) header[108] = 4;  // LCS_GM_IMAGES
    }
  }
  std::vector<COLORREF> palette = f.palette;
  // An OS/2 core table always has an entry for every pixel value.
  if (core && f.bitsPerPixel <= 8) palette.resize(size_t(1) << f.bitsPerPixel, 0);
  for (COLORREF c : palette) {
    putLe(table, GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16, core ? 3 : 4);
  }
  std::string file = "BM";
  uint32_t offset = uint32_t(14 + header.size() + table.size());
  putLe(file, offset + uint32_t(data.size()), 4), putLe(file, 0, 4), putLe(file, offset, 4);
  return file + header + table + data;
}

constexpr COLORREF magenta = 0xFF00FF, nearMagenta = 0xFE00FF;
constexpr COLORREF any = 0xFFFFFFFF;  // a pixel no row pins

// A file's bytes and what LoadImageA makes of it: its pixels, rows top-down, after the copy to
// 32 bpp, or none when it is refused. wineDiffers: Wine 8 is no oracle for it (it loads cut
// files, cut RLE and fields without masks, ignores a 24-bpp file's compression, limits no size,
// loads top-down files blank, 565 as 555 and turns an 8-bpp OS/2 core table's FE00FF into FF00FF;
// Windows does none of these).
struct FileCase {
  std::string name, bytes;
  int width;
  std::vector<COLORREF> pixels;
  bool wineDiffers;
};

BmpFile form(int bits, int width, uint32_t compression = BI_RGB, int headerSize = 40,
             bool topDown = false, std::vector<uint32_t> masks = {0, 0, 0}) {
  BmpFile f;
  f.bitsPerPixel = bits, f.width = width, f.compression = compression;
  f.headerSize = headerSize, f.topDown = topDown;
  std::copy(masks.begin(), masks.end(), f.masks);
  return f;
}

// Pixel (x, y) is entry (x + 2y) % n of raw and of colors, so that every row differs.
FileCase makeCase(const char* name, BmpFile f, const std::vector<uint32_t>& raw,
                  const std::vector<COLORREF>& colors) {
  bool wineDiffers = f.topDown || (f.bitsPerPixel == 16 && f.masks[1] == 0x07E0) ||
                     (f.headerSize == 12 && f.bitsPerPixel == 8);
  FileCase c = {name, "", f.width, {}, wineDiffers};
  for (int k = 0; k < f.height * f.width; ++k) {
    size_t i = size_t(k % f.width + 2 * (k / f.width)) % raw.size();
    f.pixels.push_back(raw[i]);
    c.pixels.push_back(colors[i]);
  }
  // Pixels an RLE delta skips take the first colour of the table.
  for (auto skip : f.skipped) c.pixels[skip.second * f.width + skip.first] = f.palette[0];
  c.bytes = encodeBmp(f);
  return c;
}

// Palette files: runs and single pixels, so that RLE data has encoded and absolute runs.
FileCase paletteCase(const char* name, BmpFile f) {
  f.palette = {magenta, nearMagenta, 0x000000, 0xFFFFFF, 0x563412, magenta, 0x00FF00};
  return makeCase(
      name, f, {0, 0, 0, 1, 2, 3, 4, 5, 5, 6},
      {magenta, magenta, magenta, nearMagenta, 0, 0xFFFFFF, 0x563412, magenta, magenta, 0x00FF00});
}

std::vector<FileCase> fileCases() {
  const std::vector<COLORREF> colors = {magenta,  nearMagenta,           0x000000, 0xFFFFFF,
                                        0x563412, RGB(0xFF, 0x01, 0xFF), 0xFF00FE};
  std::vector<uint32_t> rgb;  // as the file holds them
  for (COLORREF c : colors) rgb.push_back(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
  const std::vector<uint32_t> fields = {0xFF0000, 0x00FF00, 0x0000FF};
  // 5-bit values widen by repeating their bits: 31 is 0xFF, 30 is 0xF7, 9 is 0x4A.
  const std::vector<uint32_t> raw555 = {0x7C1F, 0x781F, 0x7C1E, 0x0000, 0x7FFF, 0x2529};
  const std::vector<COLORREF> colors555 = {magenta, RGB(0xF7, 0, 0xFF), RGB(0xFF, 0, 0xF7),
                                           0,       0xFFFFFF,           0x4A4A4A};
  BmpFile deltas = form(8, 10, BI_RLE8), mono = form(1, 11);
  deltas.skipped = {{4, 1}, {0, 2}};
  mono.palette = {nearMagenta, magenta};
  auto fields32 = [](const char* name, std::vector<uint32_t> masks, uint32_t raw, COLORREF color) {
    return makeCase(name, form(32, 2, BI_BITFIELDS, 40, false, masks), {raw}, {color});
  };
  std::vector<FileCase> cases = {
      makeCase("24 bpp", form(24, 9), rgb, colors),
      makeCase("24 bpp, 37 wide: padded rows", form(24, 37), rgb, colors),
      makeCase("24 bpp, V5 header", form(24, 9, BI_RGB, 124), rgb, colors),
      makeCase("24 bpp, V4 header", form(24, 9, BI_RGB, 108), rgb, colors),
      makeCase("24 bpp, OS/2 core header", form(24, 9, BI_RGB, 12), rgb, colors),
      makeCase("24 bpp, top-down", form(24, 9, BI_RGB, 40, true), rgb, colors),
      makeCase("32 bpp", form(32, 9), rgb, colors),
      makeCase("32 bpp, bit fields", form(32, 9, BI_BITFIELDS, 40, false, fields), rgb, colors),
      makeCase("32 bpp, V5 fields", form(32, 9, BI_BITFIELDS, 124, false, fields), rgb, colors),
      makeCase("16 bpp 555", form(16, 7), raw555, colors555),
      makeCase("16 bpp 555 fields", form(16, 7, BI_BITFIELDS, 40, false, {0x7C00, 0x3E0, 0x1F}),
               raw555, colors555),
      makeCase("16 bpp 565", form(16, 7, BI_BITFIELDS, 40, false, {0xF800, 0x07E0, 0x001F}),
               {0xF81F, 0xF01F, 0x0000, 0xFFFF, 0x07E0, 0x8410},
               {magenta, RGB(0xF7, 0, 0xFF), 0, 0xFFFFFF, 0x00FF00, RGB(0x84, 0x82, 0x84)}),
      paletteCase("8 bpp", form(8, 10)),
      paletteCase("8 bpp, OS/2 core header", form(8, 10, BI_RGB, 12)),
      paletteCase("8 bpp, top-down", form(8, 10, BI_RGB, 40, true)),
      paletteCase("RLE8", form(8, 10, BI_RLE8)),
      paletteCase("RLE8 with deltas", deltas),
      paletteCase("4 bpp", form(4, 7)),
      paletteCase("RLE4", form(4, 13, BI_RLE4)),
      makeCase("1 bpp", mono, {1, 0, 1, 1, 0},
               {magenta, nearMagenta, magenta, magenta, nearMagenta}),
      // What a careless writer makes, loaded as Windows loads it: 32-bit fields that are not 8
      // bits each at the standard places give their top 8 bits (5 bits widen by repetition).
      fields32("32 bpp RGBX fields", {0xFF000000, 0xFF0000, 0xFF00}, 0xFF0000, 0x00FF00),
      fields32("32 bpp 12-10-10 fields", {0xFFF00000, 0xFFC00, 0x3FF}, 0xFF0000, 0x00F000),
      fields32("32 bpp 555 fields", {0x7C00, 0x3E0, 0x1F}, 0x781F, 0xFF00F7),
      fields32("32 bpp fields without masks: every colour 0, refused", {0, 0, 0}, 0xFF0000, any),
  };
  cases.back().pixels.clear();
  cases.back().wineDiffers = true;

  // An 8 x 8 file of red: plain with a colour count far beyond its table, RLE8 (eight rows of
  // one run and an end of line, the end of the bitmap), and RLE4.
  BmpFile red = form(8, 8);
  red.height = 8;
  red.palette.assign(256, 0);
  red.palette[0] = 0x0000FF;
  red.pixels.assign(64, 0);
  std::string countAll = encodeBmp(red);
  memcpy(&countAll[46], "\xFF\xFF\xFF\xFF", 4);
  red.compression = BI_RLE8;
  red.palette = {0, 0x0000FF};
  red.pixels.assign(64, 1);
  std::string rle8 = encodeBmp(red);
  size_t rleData = rle8.size() - 8 * 4 - 2;
  std::string overrun = rle8.substr(0, rleData) + std::string("\x14\x01\0\0\0\x01", 6);
  std::vector<COLORREF> red8x8(64, 0x0000FF), overrunPixels(64, any);
  overrunPixels[0] = 0, overrunPixels[56] = 0x0000FF;
  red.bitsPerPixel = 4;
  red.compression = BI_RLE4;
  std::string rle4 = encodeBmp(red);
  std::string tinyHuge = rle8 + std::string(1024, '\0');  // 2048 x 2048 from 1 KB of RLE8
  memcpy(&tinyHuge[18], "\0\x08\0\0\0\x08\0\0", 8);
  BmpFile huge1 = form(1, 4096);  // 4096 x 4096 from 2 MB of 1 bit per pixel
  huge1.height = 4096;
  huge1.palette = {0, 0xFFFFFF};
  huge1.pixels.assign(size_t(4096) * 4096, 1);
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
      {"huge 1 bpp", encodeBmp(huge1), 0, {}, true},
      {"empty", "", 0, {}, false},
  };
  cases.insert(cases.end(), std::begin(more), std::end(more));
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
  EXPECT_EQ(
      LoadImageA(GetModuleHandleA(nullptr), path.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION),
      nullptr);
  EXPECT_EQ(loadBitmap("no such file.bmp"), nullptr);
}

TEST(BitmapFiles, IconsComeFromIcoFilesAndTheSystem) {
  int before = gdiObjectCount();
  std::string path = writeTempFile("test.ico", icoFile());
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
