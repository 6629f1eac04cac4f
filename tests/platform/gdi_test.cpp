// The GDI's block transfers and objects, read back through DIB sections: raster operations on
// every pixel format, colour/monochrome conversions, clipping at every edge, overlapping copies,
// the shapes of bitmaps, selection and the object count.
#include <gtest/gtest.h>
#include <string.h>

#include <tuple>
#include <vector>

#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

// Source bytes 0xCC and destination bytes 0xAA: after the transfer every byte of every pixel is
// the operation's index byte. Palette formats combine the indices, so the same holds there.
TEST(GdiRaster, EachOperationIsItsTruthTableOnEveryByteOfEveryFormat) {
  const std::pair<DWORD, int> operations[] = {
      {SRCCOPY, 0xCC},   {SRCAND, 0x88},    {SRCPAINT, 0xEE}, {NOTSRCCOPY, 0x33},
      {SRCINVERT, 0x66}, {BLACKNESS, 0x00}, {WHITENESS, 0xFF}};
  std::vector<COLORREF> gray;
  for (int i = 0; i < 256; ++i) gray.push_back(RGB(i, i, i));
  const std::pair<int, std::vector<COLORREF>> formats[] = {
      {32, {}}, {24, {}}, {8, gray}, {1, {0x000000, 0xFFFFFF}}};
  for (const auto& [bits, palette] : formats) {
    const int rowLength = 2 * bits;  // the bytes of 16 pixels
    PixelCanvas source = createCanvas(16, 4, bits, palette);
    PixelCanvas dest = createCanvas(16, 4, bits, palette);
    for (const auto& operation : operations) {
      memset(source.bits, 0xCC, size_t(source.rowBytes) * 4);
      memset(dest.bits, 0xAA, size_t(dest.rowBytes) * 4);
      EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 16, 4, source.dc, 0, 0, operation.first));
      for (int i = 0; i < 4 * rowLength; ++i) {
        if (bits == 32 && i % 4 == 3) continue;  // the unused fourth byte
        ASSERT_EQ(dest.bits[i / rowLength * dest.rowBytes + i % rowLength], operation.second)
            << std::hex << operation.first << " at " << std::dec << bits << " bpp";
      }
    }
    destroyCanvas(&source);
    destroyCanvas(&dest);
  }
}

std::vector<COLORREF> row(const PixelCanvas& canvas, int width, int y = 0) {
  std::vector<COLORREF> pixels;
  for (int x = 0; x < width; ++x) pixels.push_back(canvasColor(canvas, x, y));
  return pixels;
}

// Monochrome to colour takes the destination's text (0) and background (1) colours, before the
// operation; colour to monochrome marks exactly the source's background colour white. The
// colours of the other DC play no part.
TEST(GdiRaster, ColourAndMonochromeConvertThroughTheDcColours) {
  const uint8_t bits[] = {0xB0, 0x00};  // 1 0 1 1 0 0 0 0, rows padded to 16 bits
  CompatibleCanvas mono = {CreateCompatibleDC(nullptr), CreateBitmap(8, 1, 1, 1, bits), nullptr};
  mono.oldBitmap = SelectObject(mono.dc, mono.bitmap);
  SetBkColor(mono.dc, 0x00FF00);
  SetTextColor(mono.dc, 0x0000FF);
  PixelCanvas dest = createCanvas(8, 2, 32);
  SetBkColor(dest.dc, 0x123456);
  SetTextColor(dest.dc, 0x654321);
  const std::tuple<DWORD, COLORREF, COLORREF> cases[] = {
      {SRCCOPY, 0x123456, 0x654321},
      {SRCAND, 0x123456, 0x654321},  // AND with white keeps the converted colours
      {NOTSRCCOPY, 0xEDCBA9, 0x9ABCDE}};
  for (const auto& [rop, s, o] : cases) {  // set and clear bits
    fillCanvas(dest, 0xFFFFFF);
    ASSERT_TRUE(BitBlt(dest.dc, 0, 0, 8, 1, mono.dc, 0, 0, rop));
    EXPECT_EQ(row(dest, 8), std::vector<COLORREF>({s, o, s, s, o, o, o, o})) << rop;
  }

  const COLORREF pixels[] = {0xFF00FF, 0xFE00FF, 0xFF00FE, 0xFF01FF, 0x000000, 0xFFFFFF, 0xFF00FF};
  PixelCanvas colour = createCanvas(7, 1, 32);
  for (int x = 0; x < 7; ++x) setCanvasPixel(colour, x, 0, pixels[x]);
  for (COLORREF key : {0xFF00FF, 0x000000}) {
    SetBkColor(colour.dc, key);
    ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 7, 1, colour.dc, 0, 0, SRCCOPY));
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(GetPixel(mono.dc, x, 0), pixels[x] == key ? 0xFFFFFFu : 0u) << key << " " << x;
    }
  }
  // A memory DC without a bitmap of its own holds the default 1 x 1 monochrome one: black.
  HDC empty = CreateCompatibleDC(nullptr);
  const COLORREF g = 0x2080C0;
  fillCanvas(dest, g);
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 2, empty, 0, 0, SRCCOPY));
  EXPECT_EQ(row(dest, 4), std::vector<COLORREF>({0x654321, g, g, g}));
  EXPECT_EQ(row(dest, 4, 1), std::vector<COLORREF>(4, g));
  DeleteDC(empty);
  destroyCanvas(&colour);
  destroyCanvas(&dest);
  destroyCompatibleCanvas(&mono);
}

// Every placement of a rectangle around two 8 x 8 bitmaps: a pixel takes the source pixel at the
// same offset when both lie inside their bitmaps, and is left as it was otherwise.
TEST(GdiRaster, ClippingAtEveryEdgeOfSourceAndDestination) {
  const COLORREF ground = 0x2080C0;
  auto pattern = [](int x, int y) { return RGB(x * 16, y * 16, 1); };
  auto inside = [](int x, int y, int w, int h) { return x >= 0 && x < w && y >= 0 && y < h; };
  PixelCanvas source = createCanvas(8, 8, 32), dest = createCanvas(8, 8, 32);
  for (int k = 0; k < 64; ++k) setCanvasPixel(source, k % 8, k / 8, pattern(k % 8, k / 8));
  const int to[] = {-9, -3, 0, 2, 7, 8}, from[] = {-9, -2, 0, 3, 8}, widths[] = {3, 8, 12};
  for (int i = 0; i < 6 * 6 * 5 * 5 * 3; ++i) {  // every dx, dy, sx, sy and size
    int dx = to[i % 6], dy = to[i / 6 % 6], sx = from[i / 36 % 5], sy = from[i / 180 % 5];
    int w = widths[i / 900], h = w == 3 ? 12 : w;
    fillCanvas(dest, ground);
    ASSERT_TRUE(BitBlt(dest.dc, dx, dy, w, h, source.dc, sx, sy, SRCCOPY));
    for (int k = 0; k < 64; ++k) {
      int x = k % 8, y = k / 8, u = sx + x - dx, v = sy + y - dy;
      bool copied = inside(x - dx, y - dy, w, h) && inside(u, v, 8, 8);
      ASSERT_EQ(canvasColor(dest, x, y), copied ? pattern(u, v) : ground)
          << x << "," << y << " of " << dx << "," << dy << "," << w << " from " << sx << "," << sy;
    }
  }
  destroyCanvas(&source);
  destroyCanvas(&dest);
}

// A new DC is opaque black on white; compatible bitmaps take the depth of their reference DC and
// start black; GetObjectA describes each kind; SelectObject hands back the previous bitmap and a
// bitmap lives in one DC only.
TEST(GdiObjects, ShapesSelectionAndCount) {
  HWND window = createRecordingWindow();
  HDC windowDC = GetDC(window);
  int before = gdiObjectCount();
  HDC first = CreateCompatibleDC(windowDC), second = CreateCompatibleDC(nullptr);
  EXPECT_EQ(
      std::vector<COLORREF>({GetBkColor(first), GetTextColor(first), COLORREF(GetBkMode(first))}),
      std::vector<COLORREF>({0xFFFFFF, 0, OPAQUE}));
  HBITMAP fromFreshMemory = CreateCompatibleBitmap(first, 5, 3);
  HBITMAP fromWindow = CreateCompatibleBitmap(windowDC, 5, 3);
  HGDIOBJ original = SelectObject(first, fromWindow);
  EXPECT_EQ(GetPixel(first, 4, 2), 0u);
  PixelCanvas section = createCanvas(5, 3, 24);
  const struct {
    HGDIOBJ bitmap;
    std::vector<int> shape;  // width, height, width in bytes, bits per pixel, planes, has bits
  } shapes[] = {
      {fromWindow, {5, 3, 20, 32, 1, 0}},
      {CreateCompatibleBitmap(first, 5, 3), {5, 3, 20, 32, 1, 0}},  // holds a colour bitmap
      {fromFreshMemory, {5, 3, 2, 1, 1, 0}},
      {CreateBitmap(17, 2, 1, 1, nullptr), {17, 2, 4, 1, 1, 0}},  // rows padded to 16 bits
      {CreateBitmap(1, 2, 1, 1, nullptr), {1, 2, 2, 1, 1, 0}},
      {section.bitmap, {5, 3, 16, 24, 1, 1}},  // top-down, height positive
      {original, {1, 1, 2, 1, 1, 0}},          // the default bitmap
  };
  for (const auto& s : shapes) {
    BITMAP i = {};
    EXPECT_EQ(GetObjectA(s.bitmap, sizeof i, &i), (int)sizeof i);
    EXPECT_EQ(std::vector<int>({i.bmWidth, i.bmHeight, i.bmWidthBytes, i.bmBitsPixel, i.bmPlanes,
                                i.bmBits != nullptr}),
              s.shape);
  }
  HBITMAP b = (HBITMAP)shapes[3].bitmap;
  EXPECT_EQ(SelectObject(first, b), (HGDIOBJ)fromWindow);
  EXPECT_EQ(SelectObject(second, b), nullptr);  // b is in first
  EXPECT_EQ(SelectObject(first, original), (HGDIOBJ)b);
  destroyCanvas(&section);
  for (int i = 0; i < 5; ++i) DeleteObject(shapes[i].bitmap);
  // Deleting what is gone is no success; deleting a stock object always is.
  EXPECT_EQ(std::vector<BOOL>(
                {DeleteObject(shapes[1].bitmap), DeleteObject(GetStockObject(BLACK_BRUSH))}),
            std::vector<BOOL>({FALSE, TRUE}));
  DeleteDC(first);
  DeleteDC(second);
  EXPECT_EQ(gdiObjectCount(), before);
  ReleaseDC(window, windowDC);
  destroyRecordingWindow(window);
}

}  // namespace
