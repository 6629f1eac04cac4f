// DIB-section canvases for the GDI tests.
#include "pixel_canvas.h"

#include <string.h>

PixelCanvas createCanvas(int width, int height, int bitsPerPixel,
                         const std::vector<COLORREF>& palette) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } info = {};
  info.header = {sizeof(BITMAPINFOHEADER), width, -height, 1, (WORD)bitsPerPixel, BI_RGB, 0, 0, 0,
                 (DWORD)palette.size(),    0};
  for (size_t i = 0; i < palette.size(); ++i)
    info.colors[i] = {GetBValue(palette[i]), GetGValue(palette[i]), GetRValue(palette[i]), 0};
  void* bits = nullptr;
  PixelCanvas canvas = {};
  canvas.bitmap = CreateDIBSection(nullptr, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, nullptr, 0);
  canvas.bits = (uint8_t*)bits;
  canvas.width = width;
  canvas.height = height;
  canvas.rowBytes = ((width * bitsPerPixel + 31) / 32) * 4;
  canvas.bitsPerPixel = bitsPerPixel;
  canvas.dc = CreateCompatibleDC(nullptr);
  canvas.oldBitmap = SelectObject(canvas.dc, canvas.bitmap);
  return canvas;
}

void destroyCanvas(PixelCanvas* canvas) {
  SelectObject(canvas->dc, canvas->oldBitmap);
  DeleteDC(canvas->dc);
  DeleteObject(canvas->bitmap);
  memset(canvas, 0, sizeof *canvas);
}

void setCanvasPixel(const PixelCanvas& canvas, int x, int y, COLORREF color) {
  uint32_t value = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
  memcpy(canvas.bits + y * canvas.rowBytes + x * 4, &value, 4);
}

COLORREF canvasColor(const PixelCanvas& canvas, int x, int y) {
  uint32_t value;
  memcpy(&value, canvas.bits + y * canvas.rowBytes + x * 4, 4);
  return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

void fillCanvas(const PixelCanvas& canvas, COLORREF color) {
  for (int k = 0; k < canvas.width * canvas.height; ++k)
    setCanvasPixel(canvas, k % canvas.width, k / canvas.width, color);
}

void destroyCompatibleCanvas(CompatibleCanvas* canvas) {
  SelectObject(canvas->dc, canvas->oldBitmap);
  DeleteDC(canvas->dc);
  DeleteObject(canvas->bitmap);
}
