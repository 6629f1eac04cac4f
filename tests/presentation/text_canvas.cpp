// The ink that text leaves on a canvas of the text tests.
#include "text_canvas.h"

#include <algorithm>

PixelCanvas createTextCanvas(int width, int height, uint32_t background) {
  PixelCanvas canvas = createCanvas(width, height, 32);
  SetBkMode(canvas.dc, TRANSPARENT);
  SetTextColor(canvas.dc, 0);
  if (canvas.bits) fillTextCanvas(canvas, background);
  return canvas;
}

void fillTextCanvas(const PixelCanvas& canvas, uint32_t rgb) {
  for (int y = 0; y < canvas.height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(canvas.bits + y * canvas.rowBytes);
    std::fill(row, row + canvas.width, rgb);
  }
}

// Calls visit(x, y, pixel) for each pixel of the box, clipped to the canvas, not background.
template <typename Visit>
void visitInk(const PixelCanvas& canvas, int left, int top, int right, int bottom,
              uint32_t background, Visit visit) {
  for (int y = std::max(top, 0); y < std::min(bottom, canvas.height); ++y) {
    for (int x = std::max(left, 0); x < std::min(right, canvas.width); ++x) {
      if (canvasPixel(canvas, x, y) != background) visit(x, y, canvasPixel(canvas, x, y));
    }
  }
}

InkBox inkIn(const PixelCanvas& canvas, int left, int top, int right, int bottom,
             uint32_t background) {
  InkBox box = {right, bottom, left - 1, top - 1};
  visitInk(canvas, left, top, right, bottom, background, [&](int x, int y, uint32_t) {
    box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
           std::max(box.bottom, y)};
  });
  return box;
}

std::vector<InkBox> lineInk(const PixelCanvas& canvas, int left, int top, int lines,
                            uint32_t background) {
  std::vector<InkBox> boxes;
  for (int line = 0; line < lines; ++line) {
    int bandTop = top + line * lineHeight;
    InkBox box = inkIn(canvas, 0, bandTop, canvas.width, bandTop + lineHeight, background);
    if (!box.empty()) box = {box.left - left, box.top - top, box.right - left, box.bottom - top};
    boxes.push_back(box);
  }
  return boxes;
}

bool isTextShade(uint32_t pixel, uint32_t text, uint32_t background) {
#ifdef _WIN32
  // Wine antialiases the System font: accept any blend of text and background.
  for (int shift = 0; shift <= 16; shift += 8) {
    int p = (pixel >> shift) & 0xFF, t = (text >> shift) & 0xFF, b = (background >> shift) & 0xFF;
    if (p < std::min(t, b) || p > std::max(t, b)) return false;
  }
  return true;
#else
  (void)background;
  return pixel == text;
#endif
}

InkCount countInk(const PixelCanvas& canvas, int left, int top, int right, int bottom,
                  uint32_t text, uint32_t background) {
  InkCount count = {0, 0};
  visitInk(canvas, left, top, right, bottom, background, [&](int, int, uint32_t pixel) {
    ++count.ink;
    count.foreign += !isTextShade(pixel, text, background);
  });
  return count;
}
