// The records behind the GDI handles of the Linux layer (the view of a surface's pixels is in
// layer.h),
// shared by gdi.cpp (device contexts, bitmaps, the handle registry), gdi_pixel_formats.cpp (the
// row functions of each format), gdi_blit.cpp (block transfers), gdi_text.cpp and
// gdi_bitmap_files.cpp.
// A handle is the address of its record; every handle passed in is checked against the registry,
// so a stale or foreign handle fails the call as it does on Windows instead of crashing.
#ifndef TORVANE_PLATFORM_LINUX_GDI_OBJECTS_H
#define TORVANE_PLATFORM_LINUX_GDI_OBJECTS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/win32_subset.h"

// Tags at the start of every record, so that a handle of the wrong kind is refused.
enum GdiObjectKind : uint32_t {
  gdiKindDeviceContext = 0x54564443,  // "CDVT"
  gdiKindBitmap = 0x54564D42,         // "BMVT"
  gdiKindIcon = 0x54564349,           // "ICVT"
  gdiKindBrush = 0x54564252,          // "RBVT"
};

struct GdiBitmap {
  uint32_t kind;             // gdiKindBitmap
  int width;                 // pixels, at least 1
  int height;                // pixels, at least 1
  bool dibSection;           // made by CreateDIBSection or LoadImageA; GetObjectA gives its bits
  bool stock;                // the shared 1x1 default of memory DCs: never freed, never drawn into
  bool bottomUp;             // a DIB section with a positive height: the last row comes first
  bool deletePending;        // DeleteObject while selected: freed when it leaves its DC
  uint8_t* bits;             // owned, widthBytes * height bytes
  int widthBytes;            // bytes per stored row, a multiple of 4
  HDC selectedInto;          // the one DC that holds it, or null
  PixelFormat format;        // format.colors points at colorTable
  uint32_t colorTable[256];  // rgb entries of palette formats
};

struct GdiDC {
  uint32_t kind;       // gdiKindDeviceContext
  HWND window;         // the window whose surface a window DC draws into; null otherwise
  bool screen;         // GetDC(NULL): 32 bpp with nothing to draw into
  bool memory;         // CreateCompatibleDC
  GdiBitmap* bitmap;   // what a memory DC holds (the stock 1x1 monochrome bitmap at first)
  COLORREF bkColor;    // starts white
  COLORREF textColor;  // starts black
  int bkMode;          // OPAQUE or TRANSPARENT; starts OPAQUE
};

// Colour conversions between COLORREF (0x00BBGGRR) and the layer's rgb (0x00RRGGBB).
inline uint32_t rgbFromColorref(COLORREF color) {
  return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}
inline COLORREF colorrefFromRgb(uint32_t rgb) {
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// The registry (gdi.cpp). Lookups return null for a handle that is not a live object of the kind.
GdiDC* deviceContextFromHandle(HDC dc);
GdiBitmap* bitmapFromHandle(HGDIOBJ object);
bool isLiveGdiObject(const void* record, uint32_t kind);
void registerGdiObject(void* record, bool counted);
void unregisterGdiObject(void* record, bool counted);

// A new bitmap record with zeroed bits in the given format, or null when the size is out of
// range or memory is short. colors (colorCount entries) is copied into the record.
GdiBitmap* newBitmap(int width, int height, const PixelFormat& format, bool dibSection,
                     bool bottomUp);
PixelView bitmapPixels(GdiBitmap* bitmap);

// The pixels a DC reads and draws (its bitmap, or its window's surface, locked until
// releasePixels). False when there is nothing to read or draw; releasePixels is then not called.
// drawing also refuses the shared default bitmap of memory DCs, which nothing draws into.
bool acquirePixels(GdiDC* dc, PixelView* view, bool drawing);
void releasePixels(GdiDC* dc, bool changed);

// Pixel formats (gdi_pixel_formats.cpp).
void choosePixelFunctions(PixelFormat* format);  // fills fields, colorBits and functions
PixelFormat monochromeFormat();
extern const uint32_t blackAndWhite[2];  // what 0 and 1 of a monochrome bitmap are on their own

inline uint8_t* rowAt(const PixelView& view, int y) {
  return view.top + ptrdiff_t(y) * view.rowStep;
}
inline uint32_t readPixelRgb(const PixelView& view, int x, int y) {
  uint32_t rgb;
  view.format.functions->readRgb(view.format, rowAt(view, y), x, 1, &rgb, blackAndWhite);
  return rgb;
}
inline void writePixelRaw(const PixelView& view, int x, int y, uint32_t raw) {
  view.format.functions->writeRaw(rowAt(view, y), x, 1, &raw);
}
inline uint32_t rawFromRgb(const PixelFormat& format, uint32_t rgb) {
  rgb &= 0xFFFFFF;
  format.functions->rawFromRgb(format, &rgb, 1);
  return rgb;
}

// Image files (gdi_bitmap_files.cpp): an .ico decoded to 0xAARRGGBB pixels, rows top-down, by
// the same checked file reading as bitmaps. user_common.cpp makes icons of it.
bool decodeIconFile(const char* windowsName, std::vector<uint32_t>* argb, int* width, int* height);
HANDLE loadIconFile(const char* windowsName);  // user_common.cpp; null when it cannot be loaded

#endif
