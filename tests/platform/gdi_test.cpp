// The GDI's block transfers and objects, read back through DIB sections: the raster operations
// as bitwise functions on every pixel format, the colour/monochrome conversions, clipping at
// every edge, the shapes of bitmaps, selection and the object count. State: none kept.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "presentation/pixel_canvas.h"
#include "support/test_support.h"

namespace {

struct Operation {
  DWORD rop;
  uint8_t index;  // the operation's index byte: its result for source 0xCC, destination 0xAA
  const char* name;
};

const Operation operations[] = {
    {SRCCOPY, 0xCC, "SRCCOPY"},     {SRCAND, 0x88, "SRCAND"},
    {SRCPAINT, 0xEE, "SRCPAINT"},   {NOTSRCCOPY, 0x33, "NOTSRCCOPY"},
    {SRCINVERT, 0x66, "SRCINVERT"}, {BLACKNESS, 0x00, "BLACKNESS"},
    {WHITENESS, 0xFF, "WHITENESS"},
};

std::vector<COLORREF> grayRamp() {
  std::vector<COLORREF> colors;
  for (int i = 0; i < 256; ++i) colors.push_back(RGB(i, i, i));
  return colors;
}

void fillBytes(const PixelCanvas& canvas, uint8_t value) {
  memset(canvas.bits, value, (size_t)canvas.rowBytes * canvas.height);
}

BITMAP objectOf(HGDIOBJ bitmap) {
  BITMAP info = {};
  EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), (int)sizeof info);
  return info;
}

// Source bytes 0xCC and destination bytes 0xAA: after the transfer every byte of every pixel is
// the operation's index byte. Palette formats combine the indices, so the same holds there.
TEST(GdiRaster, EachOperationIsItsTruthTableOnEveryByteOfEveryFormat) {
  struct Format {
    int bits;
    std::vector<COLORREF> palette;
  };
  const Format formats[] = {{32, {}}, {24, {}}, {8, grayRamp()}, {1, {0x000000, 0xFFFFFF}}};
  for (const Format& format : formats) {
    PixelCanvas source = createCanvas(16, 4, format.bits, format.palette);
    PixelCanvas dest = createCanvas(16, 4, format.bits, format.palette);
    ASSERT_TRUE(source.bits && dest.bits);
    for (const Operation& operation : operations) {
      fillBytes(source, 0xCC);
      fillBytes(dest, 0xAA);
      EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 16, 4, source.dc, 0, 0, operation.rop));
      int pixelBytes = 16 * format.bits / 8;
      for (int y = 0; y < 4; ++y) {
        for (int i = 0; i < pixelBytes; ++i) {
          if (format.bits == 32 && i % 4 == 3) continue;  // the unused fourth byte
          ASSERT_EQ(dest.bits[y * dest.rowBytes + i], operation.index)
              << operation.name << " at " << format.bits << " bpp, row " << y << " byte " << i;
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

TEST(GdiRaster, ColourToMonochromeMarksExactlyTheSourceBackgroundColour) {
  const COLORREF pixels[] = {0xFF00FF, 0xFE00FF, 0xFF00FE, 0xFF01FF, 0x000000, 0xFFFFFF, 0xFF00FF};
  PixelCanvas source = createCanvas(7, 1, 32);
  for (int x = 0; x < 7; ++x) setCanvasPixel(source, x, 0, pixels[x]);
  CompatibleCanvas mono = createMono(7, 1, nullptr);
  // The destination's colours play no part.
  SetBkColor(mono.dc, 0x00FF00);
  SetTextColor(mono.dc, 0x0000FF);

  SetBkColor(source.dc, 0xFF00FF);
  ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 7, 1, source.dc, 0, 0, SRCCOPY));
  const COLORREF keyed[] = {0xFFFFFF, 0, 0, 0, 0, 0, 0xFFFFFF};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(GetPixel(mono.dc, x, 0), keyed[x]) << "pixel " << x;

  SetBkColor(source.dc, 0x000000);
  ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 7, 1, source.dc, 0, 0, SRCCOPY));
  for (int x = 0; x < 7; ++x) {
    EXPECT_EQ(GetPixel(mono.dc, x, 0), x == 4 ? 0xFFFFFFu : 0u) << "pixel " << x;
  }
  destroyCompatibleCanvas(&mono);
  destroyCanvas(&source);
}

TEST(GdiRaster, MonochromeToColourTakesTheDestinationColours) {
  const uint8_t bits[] = {0xB0, 0x00};  // 1 0 1 1 0 0 0 0, rows padded to 16 bits
  CompatibleCanvas mono = createMono(8, 1, bits);
  // The source's colours play no part.
  SetBkColor(mono.dc, 0x00FF00);
  SetTextColor(mono.dc, 0x0000FF);
  PixelCanvas dest = createCanvas(8, 1, 32);
  SetBkColor(dest.dc, 0x123456);
  SetTextColor(dest.dc, 0x654321);
  const bool set[] = {true, false, true, true, false, false, false, false};
  // The conversion comes before the operation: AND with white keeps the converted colours, and
  // NOTSRCCOPY inverts them.
  const struct {
    DWORD rop;
    COLORREF set, clear;
  } cases[] = {{SRCCOPY, 0x123456, 0x654321},
               {SRCAND, 0x123456, 0x654321},
               {NOTSRCCOPY, 0xEDCBA9, 0x9ABCDE}};
  for (const auto& c : cases) {
    fillCanvas(dest, 0xFFFFFF);
    ASSERT_TRUE(BitBlt(dest.dc, 0, 0, 8, 1, mono.dc, 0, 0, c.rop));
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(canvasColor(dest, x, 0), set[x] ? c.set : c.clear) << c.rop << " pixel " << x;
    }
  }
  destroyCanvas(&dest);
  destroyCompatibleCanvas(&mono);
}

TEST(GdiRaster, AOneBitDibSectionUsesItsColourTable) {
  PixelCanvas source = createCanvas(8, 1, 1, {0x204060, 0xFF00FF});
  source.bits[0] = 0x0F;
  SetBkColor(source.dc, 0x00FF00);
  PixelCanvas dest = createCanvas(8, 1, 32);
  SetBkColor(dest.dc, 0x123456);
  SetTextColor(dest.dc, 0x654321);
  ASSERT_TRUE(BitBlt(dest.dc, 0, 0, 8, 1, source.dc, 0, 0, SRCCOPY));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(canvasColor(dest, x, 0), x < 4 ? 0x204060u : 0xFF00FFu);
  destroyCanvas(&dest);
  destroyCanvas(&source);
}

TEST(GdiRaster, AMemoryDcWithoutABitmapGivesOnePixelOfTheDestinationTextColour) {
  HDC empty = CreateCompatibleDC(nullptr);
  PixelCanvas dest = createCanvas(4, 4, 32);
  fillCanvas(dest, 0x2080C0);
  SetTextColor(dest.dc, 0x0000FF);
  SetBkColor(dest.dc, 0x00FF00);
  EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 4, 4, empty, 0, 0, SRCCOPY));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(canvasColor(dest, x, y), x || y ? 0x2080C0u : 0x0000FFu) << x << "," << y;
    }
  }
  DeleteDC(empty);
  destroyCanvas(&dest);
}

COLORREF sourcePattern(int x, int y) {
  return RGB(x * 16 + 1, y * 16 + 1, 0x80);
}

// Every placement of a rectangle around both bitmaps: destination pixels take the source pixel
// at the same offset when both lie inside their bitmaps, and are left as they were otherwise,
// also where the source rectangle runs outside the source.
TEST(GdiRaster, ClippingAtEveryEdgeOfSourceAndDestination) {
  const int size = 8;
  const COLORREF ground = 0x2080C0;
  PixelCanvas source = createCanvas(size, size, 32);
  PixelCanvas dest = createCanvas(size, size, 32);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) setCanvasPixel(source, x, y, sourcePattern(x, y));
  }
  const int places[] = {-9, -3, 0, 2, 7, 8};
  const int sourcePlaces[] = {-9, -2, 0, 3, 8};
  const int extents[] = {3, 8, 12};
  for (int dx : places) {
    for (int dy : places) {
      for (int sx : sourcePlaces) {
        for (int sy : sourcePlaces) {
          for (int w : extents) {
            int h = w == 3 ? 12 : w;
            fillCanvas(dest, ground);
            ASSERT_TRUE(BitBlt(dest.dc, dx, dy, w, h, source.dc, sx, sy, SRCCOPY));
            for (int y = 0; y < size; ++y) {
              for (int x = 0; x < size; ++x) {
                int i = x - dx, j = y - dy;
                int u = sx + i, v = sy + j;
                bool copied =
                    i >= 0 && i < w && j >= 0 && j < h && u >= 0 && u < size && v >= 0 && v < size;
                COLORREF expected = copied ? sourcePattern(u, v) : ground;
                ASSERT_EQ(canvasColor(dest, x, y), expected)
                    << "pixel " << x << "," << y << " of BitBlt(" << dx << "," << dy << "," << w
                    << "," << h << ", src " << sx << "," << sy << ")";
              }
            }
          }
        }
      }
    }
  }
  // Without a source the destination rectangle alone is clipped.
  fillCanvas(dest, ground);
  ASSERT_TRUE(BitBlt(dest.dc, -2, 5, 5, 10, nullptr, 0, 0, BLACKNESS));
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      EXPECT_EQ(canvasColor(dest, x, y), x < 3 && y >= 5 ? 0u : ground) << x << "," << y;
    }
  }
  destroyCanvas(&source);
  destroyCanvas(&dest);
}

TEST(GdiRaster, ABitmapCopiedOntoItselfReadsTheSourceBeforeWritingIt) {
  const int size = 8;
  PixelCanvas canvas = createCanvas(size, size, 32);
  const int moves[][2] = {{2, 1}, {-2, -1}, {3, 0}, {0, -3}};
  for (const auto& move : moves) {
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) setCanvasPixel(canvas, x, y, sourcePattern(x, y));
    }
    int dx = move[0] > 0 ? move[0] : 0, dy = move[1] > 0 ? move[1] : 0;
    int sx = move[0] < 0 ? -move[0] : 0, sy = move[1] < 0 ? -move[1] : 0;
    int w = size - (move[0] > 0 ? move[0] : -move[0]);
    int h = size - (move[1] > 0 ? move[1] : -move[1]);
    ASSERT_TRUE(BitBlt(canvas.dc, dx, dy, w, h, canvas.dc, sx, sy, SRCCOPY));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(canvasColor(canvas, dx + x, dy + y), sourcePattern(sx + x, sy + y))
            << "move " << move[0] << "," << move[1] << " pixel " << x << "," << y;
      }
    }
  }
  destroyCanvas(&canvas);
}

// Rows of 24-bpp pixels converted to 32 bpp from every start column and for every length up to
// a row: the converter works in blocks of pixels, and each block boundary must land right.
TEST(GdiRaster, TwentyFourBitRowsConvertFromAnyColumnForAnyLength) {
  const int width = 37;
  PixelCanvas source = createCanvas(width, 1, 24);
  for (int x = 0; x < width; ++x) {
    source.bits[x * 3 + 0] = (uint8_t)(x + 1);     // blue
    source.bits[x * 3 + 1] = (uint8_t)(x + 0x40);  // green
    source.bits[x * 3 + 2] = (uint8_t)(x + 0x80);  // red
  }
  PixelCanvas dest = createCanvas(width, 1, 32);
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

struct Shape {
  HGDIOBJ bitmap;
  int width, height, widthBytes, bits;
  bool hasBits;
};

// Compatible bitmaps take the depth of their reference DC and start black; GetObjectA describes
// each kind; SelectObject hands back the previous bitmap and a bitmap lives in one DC only.
TEST(GdiObjects, ShapesSelectionAndCount) {
  HWND window = createRecordingWindow();
  HDC windowDC = GetDC(window), screenDC = GetDC(nullptr);
  int before = gdiObjectCount();
  HDC first = CreateCompatibleDC(windowDC), second = CreateCompatibleDC(nullptr);
  HBITMAP fromFreshMemory = CreateCompatibleBitmap(first, 5, 3);
  HBITMAP fromWindow = CreateCompatibleBitmap(windowDC, 5, 3);
  HGDIOBJ original = SelectObject(first, fromWindow);
  ASSERT_TRUE(original);
  EXPECT_EQ(GetPixel(first, 4, 2), 0u);
  PixelCanvas section = createCanvas(5, 3, 24);
  const Shape shapes[] = {
      {fromWindow, 5, 3, 20, 32, false},
      {CreateCompatibleBitmap(screenDC, 5, 3), 5, 3, 20, 32, false},
      {CreateCompatibleBitmap(first, 5, 3), 5, 3, 20, 32, false},  // holds a colour bitmap
      {fromFreshMemory, 5, 3, 2, 1, false},
      {CreateBitmap(17, 2, 1, 1, nullptr), 17, 2, 4, 1, false},  // rows padded to 16 bits
      {section.bitmap, 5, 3, 16, 24, true},                      // top-down, height positive
  };
  for (const Shape& shape : shapes) {
    BITMAP info = objectOf(shape.bitmap);
    EXPECT_EQ(std::vector<int>({info.bmWidth, info.bmHeight, info.bmWidthBytes, info.bmBitsPixel,
                                info.bmPlanes, info.bmBits != nullptr}),
              std::vector<int>({shape.width, shape.height, shape.widthBytes, shape.bits, 1,
                                shape.hasBits}));
  }
  EXPECT_EQ(objectOf(original).bmBitsPixel, 1);  // the default bitmap: 1 x 1 monochrome
  EXPECT_EQ(GetObjectA(shapes[4].bitmap, 0, nullptr), (int)sizeof(BITMAP));
  HBITMAP b = (HBITMAP)shapes[4].bitmap;
  EXPECT_EQ(SelectObject(first, b), (HGDIOBJ)fromWindow);
  EXPECT_EQ(SelectObject(second, b), nullptr);              // b is in first
  EXPECT_EQ(SelectObject(second, fromWindow), original);    // both began with the same default
  EXPECT_EQ(SelectObject(first, original), (HGDIOBJ)b);
  EXPECT_EQ(SelectObject(second, original), (HGDIOBJ)fromWindow);
  destroyCanvas(&section);
  for (int i = 0; i < 5; ++i) DeleteObject(shapes[i].bitmap);
  DeleteDC(first);
  DeleteDC(second);
  EXPECT_EQ(gdiObjectCount(), before);
  ReleaseDC(nullptr, screenDC);
  ReleaseDC(window, windowDC);
  destroyRecordingWindow(window);
#ifndef _WIN32
  before = gdiObjectCount();  // each DC and bitmap is one object
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateBitmap(4, 4, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(gdiObjectCount(), before + 2);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EXPECT_EQ(gdiObjectCount(), before);
#endif
}

TEST(GdiObjects, PixelsOutsideTheBitmapAndTheColoursOfANewDc) {
  PixelCanvas canvas = createCanvas(3, 2, 32);
  EXPECT_EQ(SetPixel(canvas.dc, 2, 1, 0x123456), 0x123456u);
  EXPECT_EQ(canvasColor(canvas, 2, 1), 0x123456u);
  EXPECT_EQ(GetPixel(canvas.dc, 3, 0), CLR_INVALID);
  EXPECT_EQ(GetPixel(canvas.dc, 0, -1), CLR_INVALID);
  // White background, black text, opaque: what the mask recipe starts from.
  EXPECT_EQ(std::vector<COLORREF>({GetBkColor(canvas.dc), GetTextColor(canvas.dc),
                                   (COLORREF)GetBkMode(canvas.dc)}),
            std::vector<COLORREF>({0xFFFFFF, 0, OPAQUE}));
  destroyCanvas(&canvas);
}

}  // namespace
