// The GDI's block transfers and objects, read back through DIB sections: the raster operations
// as bitwise functions on every pixel format, the colour/monochrome conversions, clipping at
// every edge, overlapping copies, the shapes of bitmaps, selection and the object count.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

// Source bytes 0xCC and destination bytes 0xAA: after the transfer every byte of every pixel is
// the operation's index byte. Palette formats combine the indices, so the same holds there.
TEST(GdiRaster, EachOperationIsItsTruthTableOnEveryByteOfEveryFormat) {
  const struct {
    DWORD rop;
    uint8_t index;
  } operations[] = {{SRCCOPY, 0xCC},   {SRCAND, 0x88},    {SRCPAINT, 0xEE}, {NOTSRCCOPY, 0x33},
                    {SRCINVERT, 0x66}, {BLACKNESS, 0x00}, {WHITENESS, 0xFF}};
  std::vector<COLORREF> gray;
  for (int i = 0; i < 256; ++i) gray.push_back(RGB(i, i, i));
  const struct {
    int bits;
    std::vector<COLORREF> palette;
  } formats[] = {{32, {}}, {24, {}}, {8, gray}, {1, {0x000000, 0xFFFFFF}}};
  for (const auto& format : formats) {
    PixelCanvas source = createCanvas(16, 4, format.bits, format.palette);
    PixelCanvas dest = createCanvas(16, 4, format.bits, format.palette);
    for (const auto& operation : operations) {
      memset(source.bits, 0xCC, size_t(source.rowBytes) * 4);
      memset(dest.bits, 0xAA, size_t(dest.rowBytes) * 4);
      EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 16, 4, source.dc, 0, 0, operation.rop));
      for (int y = 0; y < 4; ++y) {
        for (int i = 0; i < 16 * format.bits / 8; ++i) {
          if (format.bits == 32 && i % 4 == 3) continue;  // the unused fourth byte
          ASSERT_EQ(dest.bits[y * dest.rowBytes + i], operation.index)
              << std::hex << operation.rop << " at " << std::dec << format.bits << " bpp";
        }
      }
    }
    destroyCanvas(&source);
    destroyCanvas(&dest);
  }
}

// A monochrome bitmap in its own memory DC.
CompatibleCanvas createMono(int width, int height, const void* bits) {
  CompatibleCanvas canvas;
  canvas.bitmap = CreateBitmap(width, height, 1, 1, bits);
  canvas.dc = CreateCompatibleDC(nullptr);
  canvas.oldBitmap = SelectObject(canvas.dc, canvas.bitmap);
  return canvas;
}

std::vector<COLORREF> row(const PixelCanvas& canvas, int width, int y = 0) {
  std::vector<COLORREF> pixels;
  for (int x = 0; x < width; ++x) pixels.push_back(canvasColor(canvas, x, y));
  return pixels;
}

// Colour to monochrome marks exactly the source's background colour white; monochrome to colour
// takes the destination's text (0) and background (1) colours, before the operation. The colours
// of the other DC play no part.
TEST(GdiRaster, ColourAndMonochromeConvertThroughTheDcColours) {
  const COLORREF pixels[] = {0xFF00FF, 0xFE00FF, 0xFF00FE, 0xFF01FF, 0x000000, 0xFFFFFF, 0xFF00FF};
  PixelCanvas colour = createCanvas(7, 1, 32);
  for (int x = 0; x < 7; ++x) setCanvasPixel(colour, x, 0, pixels[x]);
  CompatibleCanvas mono = createMono(7, 1, nullptr);
  SetBkColor(mono.dc, 0x00FF00);
  SetTextColor(mono.dc, 0x0000FF);
  for (COLORREF key : {0xFF00FF, 0x000000}) {
    SetBkColor(colour.dc, key);
    ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 7, 1, colour.dc, 0, 0, SRCCOPY));
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(GetPixel(mono.dc, x, 0), pixels[x] == key ? 0xFFFFFFu : 0u) << key << " " << x;
    }
  }
  destroyCompatibleCanvas(&mono);
  destroyCanvas(&colour);

  const uint8_t bits[] = {0xB0, 0x00};  // 1 0 1 1 0 0 0 0, rows padded to 16 bits
  mono = createMono(8, 1, bits);
  SetBkColor(mono.dc, 0x00FF00);
  SetTextColor(mono.dc, 0x0000FF);
  PixelCanvas dest = createCanvas(8, 2, 32);
  SetBkColor(dest.dc, 0x123456);
  SetTextColor(dest.dc, 0x654321);
  const struct {
    DWORD rop;
    COLORREF set, clear;
  } cases[] = {{SRCCOPY, 0x123456, 0x654321},  // AND with white keeps the converted colours
               {SRCAND, 0x123456, 0x654321},
               {NOTSRCCOPY, 0xEDCBA9, 0x9ABCDE}};
  for (const auto& c : cases) {
    fillCanvas(dest, 0xFFFFFF);
    ASSERT_TRUE(BitBlt(dest.dc, 0, 0, 8, 1, mono.dc, 0, 0, c.rop));
    const COLORREF s = c.set, o = c.clear;
    EXPECT_EQ(row(dest, 8), std::vector<COLORREF>({s, o, s, s, o, o, o, o})) << c.rop;
  }
  // A memory DC without a bitmap of its own holds the default 1 x 1 monochrome one: black.
  HDC empty = CreateCompatibleDC(nullptr);
  const COLORREF g = 0x2080C0;
  fillCanvas(dest, g);
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 2, empty, 0, 0, SRCCOPY));
  EXPECT_EQ(row(dest, 4), std::vector<COLORREF>({0x654321, g, g, g}));
  EXPECT_EQ(row(dest, 4, 1), std::vector<COLORREF>(4, g));
  DeleteDC(empty);
  destroyCanvas(&dest);
  destroyCompatibleCanvas(&mono);
}

COLORREF pattern(int x, int y) {
  return RGB(x * 16, y * 16, 1);
}
void fillPattern(const PixelCanvas& canvas) {
  for (int k = 0; k < 64; ++k) setCanvasPixel(canvas, k % 8, k / 8, pattern(k % 8, k / 8));
}

// Every placement of a rectangle around both 8 x 8 bitmaps, from another bitmap and from the
// destination itself (an overlapping copy reads the source before writing it): destination pixels
// take the source pixel at the same offset when both lie inside their bitmaps, and are left as
// they were otherwise.
TEST(GdiRaster, ClippingAtEveryEdgeOfSourceAndDestination) {
  const COLORREF ground = 0x2080C0;
  PixelCanvas source = createCanvas(8, 8, 32), dest = createCanvas(8, 8, 32);
  fillPattern(source);
  auto inside = [](int x, int y, int w, int h) { return x >= 0 && x < w && y >= 0 && y < h; };
  for (bool self : {false, true}) {
    for (int dx : {-9, -3, 0, 2, 7, 8}) {
      for (int dy : {-9, -3, 0, 2, 7, 8}) {
        for (int sx : {-9, -2, 0, 3, 8}) {
          for (int sy : {-9, -2, 0, 3, 8}) {
            for (int w : {3, 8, 12}) {
              int h = w == 3 ? 12 : w;
              self ? fillPattern(dest) : fillCanvas(dest, ground);
              HDC from = self ? dest.dc : source.dc;
              ASSERT_TRUE(BitBlt(dest.dc, dx, dy, w, h, from, sx, sy, SRCCOPY));
              for (int k = 0; k < 64; ++k) {
                int x = k % 8, y = k / 8, u = sx + x - dx, v = sy + y - dy;
                bool copied = inside(x - dx, y - dy, w, h) && inside(u, v, 8, 8);
                COLORREF left = self ? pattern(x, y) : ground;
                ASSERT_EQ(canvasColor(dest, x, y), copied ? pattern(u, v) : left)
                    << x << "," << y << " of " << dx << "," << dy << "," << w << "," << h
                    << " from " << sx << "," << sy << (self ? " itself" : "");
              }
            }
          }
        }
      }
    }
  }
  // Without a source the destination rectangle alone is clipped.
  fillCanvas(dest, 0x2080C0);
  ASSERT_TRUE(BitBlt(dest.dc, -2, 5, 5, 10, nullptr, 0, 0, BLACKNESS));
  for (int k = 0; k < 64; ++k) {
    int x = k % 8, y = k / 8;
    EXPECT_EQ(canvasColor(dest, x, y), x < 3 && y >= 5 ? 0u : 0x2080C0u) << x << "," << y;
  }
  destroyCanvas(&source);
  destroyCanvas(&dest);
}

// Rows of 24-bpp pixels converted to 32 bpp from every start column and for every length up to
// a row: the converter works in blocks of pixels, and each block boundary must land right.
TEST(GdiRaster, TwentyFourBitRowsConvertFromAnyColumnForAnyLength) {
  const int width = 37;
  PixelCanvas source = createCanvas(width, 1, 24), dest = createCanvas(width, 1, 32);
  for (int x = 0; x < width; ++x) {
    const uint8_t bgr[] = {uint8_t(x + 1), uint8_t(x + 0x40), uint8_t(x + 0x80)};
    memcpy(source.bits + x * 3, bgr, 3);
  }
  for (int start = 0; start < width; ++start) {
    for (int length = 1; start + length <= width; ++length) {
      fillCanvas(dest, 0x010101);
      ASSERT_TRUE(BitBlt(dest.dc, 0, 0, length, 1, source.dc, start, 0, SRCCOPY));
      for (int x = 0; x < width; ++x) {
        int u = start + x;
        COLORREF expected = x < length ? RGB(u + 0x80, u + 0x40, u + 1) : 0x010101;
        ASSERT_EQ(canvasColor(dest, x, 0), expected) << start << "+" << length << " at " << x;
      }
    }
  }
  destroyCanvas(&dest);
  destroyCanvas(&source);
}

// Compatible bitmaps take the depth of their reference DC and start black; GetObjectA describes
// each kind; SelectObject hands back the previous bitmap and a bitmap lives in one DC only.
TEST(GdiObjects, ShapesSelectionAndCount) {
  HWND window = createRecordingWindow();
  HDC windowDC = GetDC(window);
  int before = gdiObjectCount();
  HDC first = CreateCompatibleDC(windowDC), second = CreateCompatibleDC(nullptr);
  HBITMAP fromFreshMemory = CreateCompatibleBitmap(first, 5, 3);
  HBITMAP fromWindow = CreateCompatibleBitmap(windowDC, 5, 3);
  HGDIOBJ original = SelectObject(first, fromWindow);
  ASSERT_TRUE(original);
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
      {section.bitmap, {5, 3, 16, 24, 1, 1}},                     // top-down, height positive
      {original, {1, 1, 2, 1, 1, 0}},                             // the default bitmap
  };
  for (const auto& s : shapes) {
    BITMAP i = {};
    EXPECT_EQ(GetObjectA(s.bitmap, sizeof i, &i), (int)sizeof i);
    EXPECT_EQ(std::vector<int>({i.bmWidth, i.bmHeight, i.bmWidthBytes, i.bmBitsPixel, i.bmPlanes,
                                i.bmBits != nullptr}),
              s.shape);
  }
  EXPECT_EQ(GetObjectA(shapes[3].bitmap, 0, nullptr), (int)sizeof(BITMAP));
  HBITMAP b = (HBITMAP)shapes[3].bitmap;
  EXPECT_EQ(SelectObject(first, b), (HGDIOBJ)fromWindow);
  EXPECT_EQ(SelectObject(second, b), nullptr);            // b is in first
  EXPECT_EQ(SelectObject(second, fromWindow), original);  // both began with the same default
  EXPECT_EQ(SelectObject(first, original), (HGDIOBJ)b);
  EXPECT_EQ(SelectObject(second, original), (HGDIOBJ)fromWindow);
  destroyCanvas(&section);
  for (int i = 0; i < 5; ++i) DeleteObject(shapes[i].bitmap);
  DeleteDC(first);
  DeleteDC(second);
  EXPECT_EQ(gdiObjectCount(), before);
  ReleaseDC(window, windowDC);
  destroyRecordingWindow(window);
#ifndef _WIN32
  before = gdiObjectCount();  // each DC and bitmap is one object
  CompatibleCanvas mono = createMono(4, 4, nullptr);
  EXPECT_EQ(gdiObjectCount(), before + 2);
  destroyCompatibleCanvas(&mono);
  EXPECT_EQ(gdiObjectCount(), before);
#endif
}

// White background, black text, opaque: what the mask recipe starts from.
TEST(GdiObjects, ANewDcIsOpaqueBlackOnWhite) {
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(std::vector<COLORREF>({GetBkColor(dc), GetTextColor(dc), (COLORREF)GetBkMode(dc)}),
            std::vector<COLORREF>({0xFFFFFF, 0, OPAQUE}));
  DeleteDC(dc);
}

}  // namespace
