// Memory DCs holding DIB sections whose pixels the GDI tests read through the bits pointer.
#ifndef TORVANE_TESTS_PRESENTATION_PIXEL_CANVAS_H
#define TORVANE_TESTS_PRESENTATION_PIXEL_CANVAS_H

#include <stdint.h>

#include <vector>

#include "platform/windows_api.h"

struct PixelCanvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap;
  uint8_t* bits;  // rows top-down
  int width, height, rowBytes, bitsPerPixel;
};

// A top-down DIB section of the given depth in a new memory DC. palette: the colour table of
// 1-, 4- and 8-bpp sections, as GDI colours (0x00BBGGRR).
PixelCanvas createCanvas(int width, int height, int bitsPerPixel,
                         const std::vector<COLORREF>& palette = {});
void destroyCanvas(PixelCanvas* canvas);

// 32-bpp canvases: pixels as GDI colours.
void fillCanvas(const PixelCanvas& canvas, COLORREF color);
void setCanvasPixel(const PixelCanvas& canvas, int x, int y, COLORREF color);
COLORREF canvasColor(const PixelCanvas& canvas, int x, int y);

// A bitmap in its own memory DC, its earlier object kept.
struct CompatibleCanvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap;
};
void destroyCompatibleCanvas(CompatibleCanvas* canvas);

#endif
