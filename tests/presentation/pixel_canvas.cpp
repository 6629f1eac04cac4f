// DIB-section canvases for the GDI tests.
#include "pixel_canvas.h"

#include <stdlib.h>
#include <string.h>

PixelCanvas createCanvas(int width, int height, int bitsPerPixel,
                         const std::vector<COLORREF>& palette) {
  PixelCanvas canvas = {};
  size_t size = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
  BITMAPINFO* info = (BITMAPINFO*)calloc(1, size);
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = -height;  // top-down
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = (WORD)bitsPerPixel;
  info->bmiHeader.biCompression = BI_RGB;
  info->bmiHeader.biClrUsed = (DWORD)palette.size();
  RGBQUAD* colors = info->bmiColors;
  for (size_t i = 0; i < palette.size(); ++i) {
    colors[i].rgbRed = GetRValue(palette[i]);
    colors[i].rgbGreen = GetGValue(palette[i]);
    colors[i].rgbBlue = GetBValue(palette[i]);
  }
  void* bits = nullptr;
  canvas.bitmap = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0);
  free(info);
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
  for (int y = 0; y < canvas.height; ++y) {
    for (int x = 0; x < canvas.width; ++x) setCanvasPixel(canvas, x, y, color);
  }
}

void destroyCompatibleCanvas(CompatibleCanvas* canvas) {
  SelectObject(canvas->dc, canvas->oldBitmap);
  DeleteDC(canvas->dc);
  DeleteObject(canvas->bitmap);
}
