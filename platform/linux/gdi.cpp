// The software GDI's objects: device contexts, bitmaps and DIB sections, their colours and
// pixels, and the registry that turns handles into records and counts the live objects.
// Pixel formats are in gdi_pixel_formats.cpp, block transfers in gdi_blit.cpp, bitmap files in
// gdi_bitmap_files.cpp, text in gdi_text.cpp.
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <unordered_map>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/layer.h"

namespace {

// Bitmaps larger than this are refused as Windows refuses what it cannot allocate; a 32-bit
// process could not hold more anyway.
constexpr int64_t maxBitmapBytes = int64_t(512) << 20;
constexpr int maxBitmapSide = 65535;

std::mutex registryLock;
std::unordered_map<void*, uint32_t> liveObjects;  // record -> kind
int countedObjects = 0;

// The 1x1 monochrome bitmap every new memory DC holds, shared as on Windows.
uint8_t defaultBitmapBits[4] = {};
GdiBitmap defaultBitmap = [] {
  GdiBitmap bitmap = {};
  bitmap.kind = gdiKindBitmap;
  bitmap.width = 1;
  bitmap.height = 1;
  bitmap.stock = true;
  bitmap.bits = defaultBitmapBits;
  bitmap.widthBytes = 4;
  bitmap.format = monochromeFormat();
  return bitmap;
}();

// The stock brushes: tokens for window classes, never drawn with here.
struct GdiBrush {
  uint32_t kind;  // gdiKindBrush
  COLORREF color;
};
GdiBrush stockBrushes[] = {
    {gdiKindBrush, 0xFFFFFF},  // WHITE_BRUSH (0)
    {gdiKindBrush, 0xC0C0C0},  // LTGRAY_BRUSH (1)
    {gdiKindBrush, 0x808080},  // GRAY_BRUSH (2)
    {gdiKindBrush, 0x404040},  // DKGRAY_BRUSH (3)
    {gdiKindBrush, 0x000000},  // BLACK_BRUSH (4)
};

bool isStockBrush(const void* object) {
  for (const GdiBrush& brush : stockBrushes) {
    if (object == &brush) return true;
  }
  return false;
}

}  // namespace

bool isLiveGdiObject(const void* record, uint32_t kind) {
  if (!record) return false;
  if (record == &defaultBitmap) return kind == gdiKindBitmap;
  std::lock_guard<std::mutex> guard(registryLock);
  auto found = liveObjects.find(const_cast<void*>(record));
  return found != liveObjects.end() && found->second == kind;
}

namespace {

void freeBitmap(GdiBitmap* bitmap) {
  if (!bitmap || bitmap->stock) return;
  unregisterGdiObject(bitmap, true);
  free(bitmap->bits);
  delete bitmap;
}

// Takes the bitmap out of its DC, freeing it when DeleteObject was asked for meanwhile.
void deselect(GdiBitmap* bitmap) {
  if (!bitmap) return;
  bitmap->selectedInto = nullptr;
  if (bitmap->deletePending) freeBitmap(bitmap);
}

GdiDC* newDeviceContext() {
  GdiDC* dc = new GdiDC();
  dc->kind = gdiKindDeviceContext;
  dc->bkColor = 0xFFFFFF;
  dc->textColor = 0;
  dc->bkMode = OPAQUE;
  registerGdiObject(dc, true);
  return dc;
}

void freeDeviceContext(GdiDC* dc) {
  if (dc->memory) deselect(dc->bitmap);
  unregisterGdiObject(dc, true);
  delete dc;
}

int storedRowBytes(int width, int bitsPerPixel) {
  return int(((int64_t(width) * bitsPerPixel + 31) / 32) * 4);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registry

void registerGdiObject(void* record, bool counted) {
  std::lock_guard<std::mutex> guard(registryLock);
  liveObjects[record] = *static_cast<uint32_t*>(record);
  if (counted) ++countedObjects;
}

void unregisterGdiObject(void* record, bool counted) {
  std::lock_guard<std::mutex> guard(registryLock);
  if (liveObjects.erase(record) && counted) --countedObjects;
}

int liveGdiObjectCount() {
  std::lock_guard<std::mutex> guard(registryLock);
  return countedObjects;
}

GdiDC* deviceContextFromHandle(HDC dc) {
  return isLiveGdiObject(dc, gdiKindDeviceContext) ? reinterpret_cast<GdiDC*>(dc) : nullptr;
}

GdiBitmap* bitmapFromHandle(HGDIOBJ object) {
  return isLiveGdiObject(object, gdiKindBitmap) ? static_cast<GdiBitmap*>(object) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Formats and bitmap records

GdiBitmap* newBitmap(int width, int height, const PixelFormat& format, bool dibSection,
                     bool bottomUp) {
  if (width < 1 || height < 1 || width > maxBitmapSide || height > maxBitmapSide) return nullptr;
  int64_t rowBytes = storedRowBytes(width, format.bitsPerPixel);
  if (rowBytes * height > maxBitmapBytes) return nullptr;
  uint8_t* bits = static_cast<uint8_t*>(calloc(size_t(rowBytes * height), 1));
  if (!bits) return nullptr;
  GdiBitmap* bitmap = new GdiBitmap();
  bitmap->kind = gdiKindBitmap;
  bitmap->width = width;
  bitmap->height = height;
  bitmap->dibSection = dibSection;
  bitmap->bottomUp = bottomUp;
  bitmap->bits = bits;
  bitmap->widthBytes = int(rowBytes);
  bitmap->format = format;
  int colorCount = format.colors ? format.colorCount : 0;
  if (colorCount > 256) colorCount = 256;
  for (int i = 0; i < colorCount; ++i) bitmap->colorTable[i] = format.colors[i] & 0xFFFFFF;
  bitmap->format.colors = bitmap->colorTable;
  bitmap->format.colorCount = colorCount;
  choosePixelFunctions(&bitmap->format);
  registerGdiObject(bitmap, true);
  return bitmap;
}

// ---------------------------------------------------------------------------------------------
// Pixels of a DC

PixelView bitmapPixels(GdiBitmap* bitmap) {
  PixelView view = {bitmap->bits, bitmap->widthBytes, bitmap->width, bitmap->height,
                    bitmap->format};
  if (bitmap->bottomUp) {
    view.top = bitmap->bits + ptrdiff_t(bitmap->height - 1) * bitmap->widthBytes;
    view.rowStep = -ptrdiff_t(bitmap->widthBytes);
  }
  return view;
}

bool acquirePixels(GdiDC* dc, PixelView* view, bool drawing) {
  if (dc->memory) {
    if (drawing && dc->bitmap->stock) return false;
    *view = bitmapPixels(dc->bitmap);
    return true;
  }
  if (dc->window) {
    return lockWindowSurface(dc->window, view);
  }
  return false;  // the screen DC has nothing to draw into
}

void releasePixels(GdiDC* dc, bool changed) {
  if (dc->window) unlockWindowSurface(dc->window, changed);
}

// ---------------------------------------------------------------------------------------------
// Device contexts

HGDIOBJ GetStockObject(int object) {
  if (object >= WHITE_BRUSH && object <= BLACK_BRUSH) return &stockBrushes[object];
  return nullptr;
}

HDC GetDC(HWND window) {
  if (window) {
    // A window the layer knows has a surface; for any other handle Windows gives null too.
    PixelView pixels;
    if (!lockWindowSurface(window, &pixels)) return nullptr;
    unlockWindowSurface(window, false);
  }
  GdiDC* dc = newDeviceContext();
  dc->window = window;
  dc->screen = window == nullptr;
  return reinterpret_cast<HDC>(dc);
}

int ReleaseDC(HWND window, HDC handle) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc || dc->memory || dc->window != window) return 0;
  freeDeviceContext(dc);
  return 1;
}

HDC CreateCompatibleDC(HDC reference) {
  if (reference && !deviceContextFromHandle(reference)) return nullptr;
  GdiDC* dc = newDeviceContext();
  dc->memory = true;
  dc->bitmap = &defaultBitmap;
  return reinterpret_cast<HDC>(dc);
}

BOOL DeleteDC(HDC handle) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc) return FALSE;
  freeDeviceContext(dc);
  return TRUE;
}

COLORREF SetBkColor(HDC handle, COLORREF color) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc) return CLR_INVALID;
  COLORREF previous = dc->bkColor;
  dc->bkColor = color & 0xFFFFFF;
  return previous;
}

COLORREF GetBkColor(HDC handle) {
  GdiDC* dc = deviceContextFromHandle(handle);
  return dc ? dc->bkColor : CLR_INVALID;
}

int SetBkMode(HDC handle, int mode) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc || (mode != OPAQUE && mode != TRANSPARENT)) return 0;
  int previous = dc->bkMode;
  dc->bkMode = mode;
  return previous;
}

int GetBkMode(HDC handle) {
  GdiDC* dc = deviceContextFromHandle(handle);
  return dc ? dc->bkMode : 0;
}

COLORREF SetTextColor(HDC handle, COLORREF color) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc) return CLR_INVALID;
  COLORREF previous = dc->textColor;
  dc->textColor = color & 0xFFFFFF;
  return previous;
}

COLORREF GetTextColor(HDC handle) {
  GdiDC* dc = deviceContextFromHandle(handle);
  return dc ? dc->textColor : CLR_INVALID;
}

COLORREF GetPixel(HDC handle, int x, int y) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc) return CLR_INVALID;
  PixelView view;
  if (!acquirePixels(dc, &view, false)) return CLR_INVALID;
  COLORREF color = CLR_INVALID;
  if (x >= 0 && y >= 0 && x < view.width && y < view.height) {
    color = colorrefFromRgb(readPixelRgb(view, x, y));
  }
  releasePixels(dc, false);
  return color;
}

COLORREF SetPixel(HDC handle, int x, int y, COLORREF color) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc) return CLR_INVALID;
  PixelView view;
  if (!acquirePixels(dc, &view, true)) return CLR_INVALID;
  COLORREF set = CLR_INVALID;
  if (x >= 0 && y >= 0 && x < view.width && y < view.height) {
    writePixelRaw(view, x, y, rawFromRgb(view.format, rgbFromColorref(color)));
    set = colorrefFromRgb(readPixelRgb(view, x, y));
  }
  releasePixels(dc, set != CLR_INVALID);
  return set;
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

HBITMAP CreateCompatibleBitmap(HDC handle, int width, int height) {
  GdiDC* dc = deviceContextFromHandle(handle);
  if (!dc || width < 0 || height < 0) return nullptr;
  // Windows answers an empty size with the stock 1x1 monochrome bitmap.
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(&defaultBitmap);
  GdiBitmap* bitmap;
  if (!dc->memory) {
    bitmap = newBitmap(width, height, pixelFormat32(), false, false);
  } else if (dc->bitmap->dibSection) {
    // A DC holding a DIB section makes DIB sections of the same format.
    bitmap = newBitmap(width, height, dc->bitmap->format, true, true);
  } else if (dc->bitmap->format.monochrome) {
    bitmap = newBitmap(width, height, monochromeFormat(), false, false);
  } else {
    bitmap = newBitmap(width, height, pixelFormat32(), false, false);
  }
  return reinterpret_cast<HBITMAP>(bitmap);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (planes != 1 || (bitsPerPixel != 1 && bitsPerPixel != 32)) return nullptr;
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(&defaultBitmap);
  if (width < 0 || height < 0) return nullptr;
  PixelFormat format = bitsPerPixel == 1 ? monochromeFormat() : pixelFormat32();
  GdiBitmap* bitmap = newBitmap(width, height, format, false, false);
  if (bitmap && bits) {
    // Device-dependent rows are given padded to 16 bits.
    int givenRowBytes = ((width * int(bitsPerPixel) + 15) / 16) * 2;
    const uint8_t* source = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
      memcpy(bitmap->bits + ptrdiff_t(y) * bitmap->widthBytes,
             source + ptrdiff_t(y) * givenRowBytes, size_t(givenRowBytes));
    }
  }
  return reinterpret_cast<HBITMAP>(bitmap);
}

HBITMAP CreateDIBSection(HDC handle, const BITMAPINFO* info, UINT usage, void** bits,
                         HANDLE section, DWORD offset) {
  (void)offset;
  if (bits) *bits = nullptr;
  if ((handle && !deviceContextFromHandle(handle)) || !info || usage != DIB_RGB_COLORS || section) {
    return nullptr;
  }
  const BITMAPINFOHEADER& header = info->bmiHeader;
  int bitCount = header.biBitCount;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biWidth <= 0 ||
      header.biHeight == 0 || header.biHeight == INT32_MIN) {
    return nullptr;
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return nullptr;
  }
  PixelFormat format = {};
  format.bitsPerPixel = bitCount;
  const uint8_t* afterHeader = reinterpret_cast<const uint8_t*>(info) + header.biSize;
  if (header.biCompression == BI_BITFIELDS) {
    if (bitCount != 16 && bitCount != 32) return nullptr;
    memcpy(format.masks, afterHeader, sizeof format.masks);
    if (!format.masks[0] || !format.masks[1] || !format.masks[2]) return nullptr;
  } else if (header.biCompression != BI_RGB) {
    return nullptr;
  } else if (bitCount == 16) {
    format.masks[0] = 0x7C00;
    format.masks[1] = 0x03E0;
    format.masks[2] = 0x001F;
  } else if (bitCount == 32) {
    format = pixelFormat32();
  }
  uint32_t table[256];
  if (bitCount <= 8) {
    int count = header.biClrUsed ? int(header.biClrUsed) : 1 << bitCount;
    if (count > (1 << bitCount)) count = 1 << bitCount;
    const RGBQUAD* quads = reinterpret_cast<const RGBQUAD*>(afterHeader);
    for (int i = 0; i < count; ++i) {
      table[i] =
          (uint32_t(quads[i].rgbRed) << 16) | (uint32_t(quads[i].rgbGreen) << 8) | quads[i].rgbBlue;
    }
    format.colors = table;
    format.colorCount = count;
  }
  bool bottomUp = header.biHeight > 0;
  int height = bottomUp ? header.biHeight : -header.biHeight;
  GdiBitmap* bitmap = newBitmap(header.biWidth, height, format, true, bottomUp);
  if (bitmap && bits) *bits = bitmap->bits;
  return reinterpret_cast<HBITMAP>(bitmap);
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  GdiDC* dc = deviceContextFromHandle(handle);
  GdiBitmap* bitmap = bitmapFromHandle(object);
  if (!dc || !bitmap || !dc->memory) return nullptr;
  if (bitmap == dc->bitmap) return object;
  // A bitmap lives in one DC at a time; the shared default may be in many.
  if (!bitmap->stock && bitmap->selectedInto) return nullptr;
  GdiBitmap* previous = dc->bitmap;
  dc->bitmap = bitmap;
  if (!bitmap->stock) bitmap->selectedInto = handle;
  HGDIOBJ previousHandle = previous;
  deselect(previous);
  return previousHandle;
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiBitmap* bitmap = bitmapFromHandle(object);
  if (!bitmap) return isStockBrush(object) ? TRUE : FALSE;
  if (bitmap->stock) return TRUE;
  // As on Windows, a bitmap still selected goes when its DC lets it go.
  if (bitmap->selectedInto) {
    bitmap->deletePending = true;
    return TRUE;
  }
  freeBitmap(bitmap);
  return TRUE;
}

int GetObjectA(HANDLE object, int size, LPVOID buffer) {
  GdiBitmap* bitmap = bitmapFromHandle(object);
  if (!bitmap) return 0;
  if (!buffer) return int(sizeof(BITMAP));
  if (size < int(sizeof(BITMAP))) return 0;
  BITMAP info = {};
  info.bmType = 0;
  info.bmWidth = bitmap->width;
  info.bmHeight = bitmap->height;
  int bitsPerPixel = bitmap->format.bitsPerPixel;
  // DIB sections report their 32-bit padded rows, device-dependent bitmaps 16-bit padded ones.
  info.bmWidthBytes = bitmap->dibSection ? storedRowBytes(bitmap->width, bitsPerPixel)
                                         : ((bitmap->width * bitsPerPixel + 15) / 16) * 2;
  info.bmPlanes = 1;
  info.bmBitsPixel = WORD(bitsPerPixel);
  info.bmBits = bitmap->dibSection ? bitmap->bits : nullptr;
  memcpy(buffer, &info, sizeof info);
  return int(sizeof(BITMAP));
}
