// The ink of text on a 32-bpp canvas: where it lies and what colour it has, never its shape, so
// that the same assertions hold for our solid glyphs and for Wine's antialiased System font.
#ifndef TORVANE_TESTS_PRESENTATION_TEXT_CANVAS_H
#define TORVANE_TESTS_PRESENTATION_TEXT_CANVAS_H

#include <stdint.h>

#include <vector>

#include "pixel_canvas.h"

// The System font's cell: DrawTextA's line pitch and the advances of one and two bytes.
constexpr int lineHeight = 18, narrowCell = 8, wideCell = 16;

// A canvas filled with background (0x00RRGGBB), TRANSPARENT, text black; freed by destroyCanvas.
PixelCanvas createTextCanvas(int width, int height, uint32_t background);
void fillTextCanvas(const PixelCanvas& canvas, uint32_t rgb);
inline uint32_t canvasPixel(const PixelCanvas& canvas, int x, int y) {
  return reinterpret_cast<const uint32_t*>(canvas.bits + y * canvas.rowBytes)[x] & 0xFFFFFF;
}

// The smallest box (right and bottom included) holding every pixel that is not background.
struct InkBox {
  int left, top, right, bottom;
  bool empty() const { return right < left; }
};
InkBox inkIn(const PixelCanvas& canvas, int left, int top, int right, int bottom,
             uint32_t background);
inline InkBox inkAnywhere(const PixelCanvas& canvas, uint32_t background) {
  return inkIn(canvas, 0, 0, canvas.width, canvas.height, background);
}
// The ink of each line of text drawn from (left, top), line n in rows top + 18n on, relative.
std::vector<InkBox> lineInk(const PixelCanvas& canvas, int left, int top, int lines,
                            uint32_t background);
// The character cells of the given width a line's ink reaches into, counted from 1.
inline int cellsReached(const InkBox& box, int cellWidth) {
  return box.empty() ? 0 : box.right / cellWidth + 1;
}

// Can text leave this pixel on background? Ours: exactly text; Wine: each channel between them.
bool isTextShade(uint32_t pixel, uint32_t text, uint32_t background);
// In a box, the pixels that are not background, and of those the ones that are no shade of text.
struct InkCount {
  int ink, foreign;
};
InkCount countInk(const PixelCanvas& canvas, int left, int top, int right, int bottom,
                  uint32_t text, uint32_t background);

#endif
