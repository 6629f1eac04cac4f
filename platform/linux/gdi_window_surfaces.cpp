// The 32-bpp surfaces that stand for windows' client areas: the GDI draws into them through
// window DCs and the USER backends show them. Owns the surface table.
//
// The frame thread draws into a window's surface while the main thread may resize or read it, so
// each surface has its own lock, held from lockWindowSurface to unlockWindowSurface. The lock is
// recursive because one BitBlt may lock the same window as source and destination. A surface
// destroyed while locked stays alive until the last unlock (shared ownership).
#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/linux/layer.h"

namespace {

struct Surface {
  std::recursive_mutex lock;     // held while somebody reads or draws
  std::vector<uint32_t> pixels;  // width * height, rows top-down, 0x00RRGGBB
  int width = 0;
  int height = 0;
};

// A lock this thread holds: the surface itself (it may have left the table meanwhile), how deep,
// and whether any of the nested holders drew.
struct HeldSurface {
  HWND window;
  std::shared_ptr<Surface> surface;
  int depth;
  bool changed;
};

std::mutex tableLock;
std::unordered_map<HWND, std::shared_ptr<Surface>> surfaces;
std::atomic<void (*)(HWND)> changedHandler{nullptr};
thread_local std::vector<HeldSurface> heldSurfaces;

std::shared_ptr<Surface> find(HWND window) {
  std::lock_guard<std::mutex> guard(tableLock);
  auto found = surfaces.find(window);
  return found == surfaces.end() ? nullptr : found->second;
}

void fillWhite(std::vector<uint32_t>* pixels, size_t count) {
  pixels->assign(count, 0xFFFFFF);
}

int clampSize(int size) {
  return std::max(0, std::min(size, 16384));
}

}  // namespace

void createWindowSurface(HWND window, int width, int height) {
  auto surface = std::make_shared<Surface>();
  surface->width = clampSize(width);
  surface->height = clampSize(height);
  fillWhite(&surface->pixels, size_t(surface->width) * size_t(surface->height));
  std::lock_guard<std::mutex> guard(tableLock);
  surfaces[window] = surface;
}

void resizeWindowSurface(HWND window, int width, int height) {
  std::shared_ptr<Surface> surface = find(window);
  if (!surface) return;
  width = clampSize(width);
  height = clampSize(height);
  std::lock_guard<std::recursive_mutex> guard(surface->lock);
  if (width == surface->width && height == surface->height) return;
  std::vector<uint32_t> resized;
  fillWhite(&resized, size_t(width) * size_t(height));
  int keepWidth = std::min(width, surface->width);
  int keepHeight = std::min(height, surface->height);
  for (int y = 0; y < keepHeight; ++y) {
    std::copy_n(surface->pixels.data() + size_t(y) * size_t(surface->width), keepWidth,
                resized.data() + size_t(y) * size_t(width));
  }
  surface->pixels.swap(resized);
  surface->width = width;
  surface->height = height;
}

void destroyWindowSurface(HWND window) {
  std::lock_guard<std::mutex> guard(tableLock);
  surfaces.erase(window);
}

namespace {

PixelView viewOf(Surface* surface) {
  PixelView view;
  view.top = reinterpret_cast<uint8_t*>(surface->pixels.data());
  view.rowStep = ptrdiff_t(surface->width) * 4;
  view.width = surface->width;
  view.height = surface->height;
  view.format = pixelFormat32();
  return view;
}

}  // namespace

bool lockWindowSurface(HWND window, PixelView* pixels) {
  for (HeldSurface& held : heldSurfaces) {
    if (held.window == window) {
      ++held.depth;
      *pixels = viewOf(held.surface.get());
      return true;
    }
  }
  std::shared_ptr<Surface> surface = find(window);
  if (!surface) return false;
  surface->lock.lock();
  heldSurfaces.push_back({window, surface, 1, false});
  *pixels = viewOf(surface.get());
  return true;
}

void unlockWindowSurface(HWND window, bool changed) {
  for (size_t i = 0; i < heldSurfaces.size(); ++i) {
    HeldSurface& held = heldSurfaces[i];
    if (held.window != window) continue;
    held.changed = held.changed || changed;
    if (--held.depth > 0) return;
    bool drawn = held.changed;
    std::shared_ptr<Surface> surface = std::move(held.surface);
    heldSurfaces.erase(heldSurfaces.begin() + ptrdiff_t(i));
    surface->lock.unlock();
    // Told after the lock is gone, so the handler may lock the surface to show it.
    void (*handler)(HWND) = changedHandler.load();
    if (drawn && handler) handler(window);
    return;
  }
}

void setWindowSurfaceChangedHandler(void (*handler)(HWND window)) {
  changedHandler.store(handler);
}
