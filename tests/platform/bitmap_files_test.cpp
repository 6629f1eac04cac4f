// LoadImageA from files: every BMP form it reads (1 to 32 bits per pixel, RLE8 and RLE4, bit
// fields, top-down rows, OS/2 core, info and V5 headers), written here from the format's
// definition and read back through a copy to 32 bpp; the files it refuses.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

template <size_t n>
std::string bytes(const char (&literal)[n]) {
  return std::string(literal, n - 1);
}

uint32_t rgb(COLORREF color) {  // as files hold colours: 0x00RRGGBB
  return GetRValue(color) << 16 | GetGValue(color) << 8 | GetBValue(color);
}

struct Form {
  int bits;
  uint32_t compression = BI_RGB;
  int headerSize = 40;        // 12 OS/2 core, 40 info, 124 V5
  int height = 2, width = 3;  // a negative height: rows top-down
};

// A BMP file: the form's header, the bit field masks (after an info header, inside a V5 one),
// the colour table of 0x00RRGGBB entries (all of them in a core header) and the data as given.
std::string bmp(Form f, const std::vector<uint32_t>& masks, const std::vector<uint32_t>& table,
                const std::string& data) {
  bool core = f.headerSize == 12;
  std::string h, t;
  putLe(h, f.headerSize, 4);
  putLe(h, f.width, core ? 2 : 4), putLe(h, f.height, core ? 2 : 4);
  putLe(h, 1, 2), putLe(h, f.bits, 2);
  if (!core) {
    uint32_t size = uint32_t(data.size()), colours = uint32_t(table.size());
    for (uint32_t v : {f.compression, size, 2835u, 2835u, colours, 0u}) putLe(h, v, 4);
    for (uint32_t mask : masks) putLe(h, mask, 4);
  }
  if (f.headerSize == 124) {
    h.resize(56, '\0');       // the masks or zeros, no alpha mask
    putLe(h, 0x73524742, 4);  // 'sRGB'
    h.resize(124, '\0');
    h[108] = 4;  // the intent LCS_GM_IMAGES
  }
  for (uint32_t entry : table) putLe(t, entry, core ? 3 : 4);
  if (core && f.bits <= 8) t.resize(size_t(3) << f.bits, '\0');
  std::string file = "BM";
  uint32_t offset = uint32_t(14 + h.size() + t.size());
  putLe(file, offset + uint32_t(data.size()), 4), putLe(file, 0, 4), putLe(file, offset, 4);
  return file + h + t + data;
}

// Pixels of three columns as rows of `size` bytes each, padded to 32 bits, bottom-up by default.
std::string rows(const std::vector<uint32_t>& pixels, int size, bool topDown = false) {
  std::string data;
  for (size_t i = 0; i < pixels.size() / 3; ++i) {
    size_t y = topDown ? i : pixels.size() / 3 - 1 - i;
    std::string row;
    for (size_t x = 0; x < 3; ++x) putLe(row, pixels[y * 3 + x], size);
    row.resize((row.size() + 3) / 4 * 4, '\0');
    data += row;
  }
  return data;
}

constexpr COLORREF magenta = 0xFF00FF, nearMagenta = 0xFE00FF, brown = 0x563412;
constexpr COLORREF any = 0xFFFFFFFF;  // a pixel no row pins

// A file and its 3 x 2 pixels after a copy to 32 bpp, or none when it is refused. wineDiffers:
// Wine 8 is no oracle (it loads cut files and fields without masks, limits no size, loads
// top-down files blank, 565 as 555 and an OS/2 core table's FE00FF as FF00FF; Windows does not).
struct FileCase {
  std::string name, bytes;
  std::vector<COLORREF> pixels;
  bool wineDiffers = false;
};

std::vector<FileCase> fileCases() {
  const std::vector<COLORREF> colors = {magenta,  nearMagenta, brown,
                                        0x000000, 0xFFFFFF,    RGB(0xFF, 0x01, 0xFF)};
  std::vector<uint32_t> raw;
  for (COLORREF c : colors) raw.push_back(rgb(c));
  const std::string d24 = rows(raw, 3), d32 = rows(raw, 4);
  const std::vector<uint32_t> fields = {0xFF0000, 0x00FF00, 0x0000FF};
  // 5-bit values widen by repeating their bits: 31 is 0xFF, 30 is 0xF7, 9 is 0x4A.
  const std::string d555 = rows({0x7C1F, 0x781F, 0x7C1E, 0x0000, 0x7FFF, 0x2529}, 2);
  const std::vector<COLORREF> colors555 = {magenta, RGB(0xF7, 0, 0xFF), RGB(0xFF, 0, 0xF7),
                                           0,       0xFFFFFF,           0x4A4A4A};
  const std::string d565 = rows({0xF81F, 0xF01F, 0x0000, 0xFFFF, 0x07E0, 0x8410}, 2);
  const std::vector<COLORREF> colors565 = {magenta,  RGB(0xF7, 0, 0xFF), 0,
                                           0xFFFFFF, 0x00FF00,           RGB(0x84, 0x82, 0x84)};
  // Palette files: indices 0 0 1 over 2 3 4. RLE: the bottom row as an absolute run (padded to
  // 16 bits), the top one as encoded runs of two and one, or a delta over its first pixel.
  std::vector<uint32_t> table = {rgb(magenta), rgb(nearMagenta), rgb(brown), 0, 0xFFFFFF};
  const std::string d8 = rows({0, 0, 1, 2, 3, 4}, 1);
  const std::vector<COLORREF> palette = {magenta, magenta, nearMagenta, brown, 0, 0xFFFFFF};
  const std::string bottom8 = bytes("\0\x03\x02\x03\x04\0\0\0"), end = bytes("\0\0\0\x01");
  const std::string delta = bytes("\0\x02\x01\0\x01\0\x01\x01");  // over (0, 0), then 0, 1
  std::string rle8 = bmp({8, BI_RLE8}, {}, table, bottom8 + bytes("\x02\0\x01\x01") + end);
  std::string rle4 = bmp({4, BI_RLE4}, {}, table, bytes("\0\x03\x23\x40\0\0\x02\0\x01\x11") + end);
  auto fields32 = [&](const char* name, std::vector<uint32_t> masks, uint32_t pixel,
                      COLORREF color) {
    return FileCase{name,
                    bmp({32, BI_BITFIELDS}, masks, {}, rows(std::vector<uint32_t>(6, pixel), 4)),
                    std::vector<COLORREF>(6, color)};
  };
  std::vector<uint32_t> table256 = table;
  table256.resize(256, 0);
  auto patched = [](std::string file, size_t at, const std::string& with) {
    return file.replace(at, with.size(), with);
  };
  std::string good = solidBmp(6, 4, 0x00FF00);
  return {
      {"24 bpp", bmp({24}, {}, {}, d24), colors},
      {"24 bpp, V5 header", bmp({24, BI_RGB, 124}, {}, {}, d24), colors},
      {"24 bpp, OS/2 core", bmp({24, BI_RGB, 12}, {}, {}, d24), colors},
      {"24 bpp, top-down", bmp({24, BI_RGB, 40, -2}, {}, {}, rows(raw, 3, true)), colors, true},
      {"32 bpp", bmp({32}, {}, {}, d32), colors},
      {"32 bpp fields", bmp({32, BI_BITFIELDS}, fields, {}, d32), colors},
      {"32 bpp V5 fields", bmp({32, BI_BITFIELDS, 124}, fields, {}, d32), colors},
      {"16 bpp 555", bmp({16}, {}, {}, d555), colors555},
      {"16 bpp 555 fields", bmp({16, BI_BITFIELDS}, {0x7C00, 0x3E0, 0x1F}, {}, d555), colors555},
      {"16 bpp 565", bmp({16, BI_BITFIELDS}, {0xF800, 0x7E0, 0x1F}, {}, d565), colors565, true},
      {"8 bpp", bmp({8}, {}, table, d8), palette},
      {"8 bpp, OS/2 core", bmp({8, BI_RGB, 12}, {}, table, d8), palette, true},
      {"RLE8", rle8, palette},
      {"RLE8 with a delta", bmp({8, BI_RLE8}, {}, table, bottom8 + delta + end), palette},
      {"4 bpp", bmp({4}, {}, table, bytes("\x23\x40\0\0\x00\x10\0\0")), palette},
      {"RLE4", rle4, palette},
      {"1 bpp",
       bmp({1}, {}, {rgb(nearMagenta), rgb(magenta)}, bytes("\x60\0\0\0\xA0\0\0\0")),
       {magenta, nearMagenta, magenta, nearMagenta, magenta, magenta}},
      // What a careless writer makes, loaded as Windows loads it: 32-bit fields that are not 8
      // bits each at the standard places give their top 8 bits (5 bits widen by repetition).
      fields32("32 bpp RGBX fields", {0xFF000000, 0xFF0000, 0xFF00}, 0xFF0000, 0x00FF00),
      fields32("32 bpp 12-10-10 fields", {0xFFF00000, 0xFFC00, 0x3FF}, 0xFF0000, 0x00F000),
      fields32("32 bpp 555 fields", {0x7C00, 0x3E0, 0x1F}, 0x781E, 0xF700F7),
      {"32 bpp fields without masks", bmp({32, BI_BITFIELDS}, {0, 0, 0}, {}, d32), {}, true},
      {"colour count 0xFFFFFFFF", patched(bmp({8}, {}, table256, d8), 46, "\xFF\xFF\xFF\xFF"),
       palette},
      {"RLE8 without its end", rle8.substr(0, rle8.size() - 2), palette},
      {"RLE8 run of 20 in a row of 3",
       bmp({8, BI_RLE8}, {}, table, bytes("\x14\x01\0\0\0\x01")),
       {magenta, any, any, nearMagenta, any, any},
       true},
      {"text", "This is no bitmap at all, just some text.\r\n", {}},
      {"cut header", good.substr(0, 30), {}, true},
      {"cut rows", good.substr(0, good.size() - 20), {}, true},
      {"100000 x 100000", patched(good, 18, bytes("\xA0\x86\x01\0\xA0\x86\x01\0")), {}},
      {"no width", patched(good, 18, bytes("\0\0\0\0")), {}},
      {"seven bits", patched(good, 28, "\x07"), {}},
      {"jpeg", patched(good, 30, "\x04"), {}, true},
      {"cut rle8", rle8.substr(0, rle8.size() - bottom8.size() - 7), {}, true},
      {"cut rle4", rle4.substr(0, rle4.size() - 13), {}, true},
      {"2048 x 2048 from 1 KB of RLE8",
       patched(rle8 + std::string(1024, '\0'), 18, bytes("\0\x08\0\0\0\x08\0\0")),
       {},
       true},
      {"huge 1 bpp",
       bmp({1, BI_RGB, 40, 4096, 4096}, {}, {0, 0xFFFFFF}, std::string(1 << 21, '\xFF')),
       {},
       true},
      {"empty", "", {}},
  };
}

TEST(BitmapFiles, EveryFormGivesItsPixelsAtItsOwnDepthOrIsRefused) {
  int before = gdiObjectCount();
  for (const FileCase& c : fileCases()) {
#ifdef _WIN32
    if (c.wineDiffers) continue;
#endif
    std::string path = writeTempFile("file.bmp", c.bytes);
    HBITMAP bitmap = (HBITMAP)LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                         LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    EXPECT_EQ(bitmap != nullptr, !c.pixels.empty()) << c.name;
    if (!bitmap || c.pixels.empty()) continue;
    BITMAP info;  // read left to right: GetObjectA first
    std::vector<int> shape = {GetObjectA(bitmap, sizeof info, &info), info.bmWidth, info.bmHeight,
                              info.bmBitsPixel, info.bmBits != nullptr};
    int depth = c.bytes[c.bytes[14] == 12 ? 24 : 28];  // the file's own
    EXPECT_EQ(shape, std::vector<int>({sizeof info, 3, 2, depth, 1})) << c.name;
    CompatibleCanvas loaded = {CreateCompatibleDC(nullptr), bitmap, nullptr};
    loaded.oldBitmap = SelectObject(loaded.dc, bitmap);
    PixelCanvas copy = createCanvas(3, 2, 32);
    SetBkColor(copy.dc, 0x0000FF);  // the conversion must not depend on these
    SetTextColor(copy.dc, 0x00FF00);
    BitBlt(copy.dc, 0, 0, 3, 2, loaded.dc, 0, 0, SRCCOPY);
    std::vector<COLORREF> pixels;
    for (int k = 0; k < 6; ++k) {
      pixels.push_back(c.pixels[k] == any ? any : canvasColor(copy, k % 3, k / 3));
    }
    EXPECT_EQ(pixels, c.pixels) << c.name;
    destroyCanvas(&copy);
    destroyCompatibleCanvas(&loaded);
  }
  EXPECT_EQ(gdiObjectCount(), before);
  // Not from a file, the name would be a bitmap resource of the module, and there is none.
  std::string path = writeTempFile("good.bmp", solidBmp(2, 2, 0x123456));
  EXPECT_EQ(LoadImageA(GetModuleHandleA(nullptr), path.c_str(), IMAGE_BITMAP, 0, 0, 0), nullptr);
  EXPECT_EQ(LoadImageA(nullptr, "no such file.bmp", IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE), nullptr);
  // The story's icons come from .ico files; a file that is none, or one cut short of what its
  // directory promises, gives no icon.
  std::string ico = icoFile();
  for (const std::string& bad :
       {std::string("This is no icon, just some text."), ico.substr(0, ico.size() - 8)}) {
    path = writeTempFile("bad.ico", bad);
    EXPECT_EQ(LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE), nullptr);
  }
}

}  // namespace
