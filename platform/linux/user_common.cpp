// The USER calls that need no window: rectangles, icons and cursors. Icons are records
// like the GDI's and are counted among the live GDI objects, so that a leak test sees them.
#include <string.h>

#include <vector>

#include "platform/linux/gdi_objects.h"
#include "platform/linux/layer.h"

namespace {

struct GdiIcon {
  uint32_t kind;  // gdiKindIcon
  bool stock;     // shared (LoadIconA, LoadCursorA): never destroyed
  int width;
  int height;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, rows top-down; empty for the stock icons
};

// The stock application icon and arrow cursor: the desktop backend shows its own for them.
GdiIcon applicationIcon = {gdiKindIcon, true, 0, 0, {}};
GdiIcon arrowCursor = {gdiKindIcon, true, 0, 0, {}};

GdiIcon* iconFromHandle(HICON icon) {
  void* record = icon;
  if (record == &applicationIcon || record == &arrowCursor) return static_cast<GdiIcon*>(record);
  return isLiveGdiObject(record, gdiKindIcon) ? static_cast<GdiIcon*>(record) : nullptr;
}

}  // namespace

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  rect->left = left;
  rect->top = top;
  rect->right = right;
  rect->bottom = bottom;
  return TRUE;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  // Only the system's icons exist here: the module has no icon resources.
  if (instance || name != IDI_APPLICATION) return nullptr;
  return reinterpret_cast<HICON>(&applicationIcon);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance || name != IDC_ARROW) return nullptr;
  return reinterpret_cast<HCURSOR>(&arrowCursor);
}

HANDLE loadIconFile(const char* windowsName) {
  GdiIcon* icon = new GdiIcon();
  icon->kind = gdiKindIcon;
  if (!decodeIconFile(windowsName, &icon->pixels, &icon->width, &icon->height)) {
    delete icon;
    return nullptr;
  }
  registerGdiObject(icon, true);
  return icon;
}

BOOL DestroyIcon(HICON handle) {
  GdiIcon* icon = iconFromHandle(handle);
  if (!icon) return FALSE;
  if (icon->stock) return TRUE;
  unregisterGdiObject(icon, true);
  delete icon;
  return TRUE;
}

bool iconPixels(HICON handle, IconPixels* pixels) {
  GdiIcon* icon = iconFromHandle(handle);
  if (!icon || icon->pixels.empty()) return false;
  pixels->pixels = icon->pixels.data();
  pixels->width = icon->width;
  pixels->height = icon->height;
  return true;
}
