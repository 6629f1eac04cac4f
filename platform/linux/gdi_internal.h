// What the GDI files share: the pixels a device context draws into. gdi.cpp owns device contexts
// and bitmaps; gdi_text.cpp draws glyphs through these two calls.
#ifndef TORVANE_PLATFORM_LINUX_GDI_INTERNAL_H
#define TORVANE_PLATFORM_LINUX_GDI_INTERNAL_H

#include <stdint.h>

#include "platform/linux/win32_subset.h"

struct DrawTarget {
  uint32_t* pixels;  // 0x00RRGGBB per pixel, rows top-down
  int width;         // pixels
  int height;        // pixels
  int stride;        // pixels per row
};

// The 32-bpp pixels a DC draws into: its selected bitmap, or its window's surface (locked until
// endDrawing). False when the DC has nothing 32-bpp to draw into; endDrawing is then not called.
bool beginDrawing(HDC dc, DrawTarget* target);
void endDrawing(HDC dc, bool changed);

#endif
