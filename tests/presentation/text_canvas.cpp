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

InkBox inkIn(const PixelCanvas& canvas, int left, int top, int right, int bottom,
             uint32_t background) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, canvas.width);
  bottom = std::min(bottom, canvas.height);
  InkBox box = {right, bottom, left - 1, top - 1};
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      if (canvasPixel(canvas, x, y) == background) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

std::vector<InkBox> lineInk(const PixelCanvas& canvas, int left, int top, int lines,
                            uint32_t background) {
  std::vector<InkBox> boxes;
  for (int line = 0; line < lines; ++line) {
    int bandTop = top + line * lineHeight;
    InkBox box = inkIn(canvas, 0, bandTop, canvas.width, bandTop + lineHeight, background);
    if (!box.empty()) {
      box.left -= left;
      box.right -= left;
      box.top -= top;
      box.bottom -= top;
    }
    boxes.push_back(box);
  }
  return boxes;
}

namespace {

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

}  // namespace

InkCount countInk(const PixelCanvas& canvas, int left, int top, int right, int bottom,
                  uint32_t text, uint32_t background) {
  InkCount count = {0, 0};
  for (int y = std::max(top, 0); y < std::min(bottom, canvas.height); ++y) {
    for (int x = std::max(left, 0); x < std::min(right, canvas.width); ++x) {
      uint32_t pixel = canvasPixel(canvas, x, y);
      if (pixel == background) continue;
      ++count.ink;
      if (!isTextShade(pixel, text, background)) ++count.foreign;
    }
  }
  return count;
}
