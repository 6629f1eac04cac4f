// The Linux layer's window surfaces: what a window DC draws lands in the window's surface, the
// virtual screen reaches it through presentToWindow, the backend hears of each change, and a
// surface resized on one thread while another draws into it stays whole. Also the pixels that
// gdi_text.cpp draws into (beginDrawing) for a bottom-up DIB section. Linux only: Windows has
// no such surfaces.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>

#include "pixel_canvas.h"
#include "platform/linux/gdi_internal.h"
#include "platform/linux/layer.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

std::atomic<int> changes{0};
HWND changedWindow = nullptr;

void countChange(HWND window) {
  changedWindow = window;
  ++changes;
}

uint32_t surfacePixel(HWND window, int x, int y) {
  WindowPixels pixels;
  if (!lockWindowSurface(window, &pixels)) return 0xDEADBEEF;
  uint32_t value = pixels.pixels[y * pixels.stride + x];
  unlockWindowSurface(window, false);
  return value;
}

TEST(WindowSurfaces, PresentToWindowCopiesTheVirtualScreenIntoTheSurface) {
  HWND window = createRecordingWindow();
  ASSERT_TRUE(window);
  mainWindow = window;
  memset(&virtualScreen, 0, sizeof virtualScreen);
  ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  SetPixel(virtualScreen.imageDC, 5, 6, RGB(0x12, 0x34, 0x56));
  EXPECT_EQ(surfacePixel(window, 5, 6), 0xFFFFFFu);  // a new surface is white

  changes = 0;
  setWindowSurfaceChangedHandler(countChange);
  presentToWindow();
  setWindowSurfaceChangedHandler(nullptr);
  EXPECT_EQ(surfacePixel(window, 5, 6), 0x123456u);
  EXPECT_EQ(surfacePixel(window, 0, 0), 0u);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changedWindow, window);

  SelectObject(virtualScreen.imageDC, virtualScreen.oldBitmap);
  DeleteDC(virtualScreen.imageDC);
  DeleteObject(virtualScreen.bitmap);
  memset(&virtualScreen, 0, sizeof virtualScreen);
  mainWindow = nullptr;
  destroyRecordingWindow(window);
}

TEST(WindowSurfaces, DrawingWhileAnotherThreadResizesKeepsTheSurfaceWhole) {
  HWND window = createRecordingWindow();
  ASSERT_TRUE(window);
  PixelCanvas picture = createCanvas(64, 64, 32);
  fillCanvas(picture, RGB(0x11, 0x22, 0x33));
  std::atomic<bool> done{false};
  std::thread drawer([&] {
    for (int i = 0; i < 300; ++i) {
      HDC dc = GetDC(window);
      BitBlt(dc, (i * 7) % 200, (i * 3) % 150, 64, 64, picture.dc, 0, 0, SRCCOPY);
      ReleaseDC(window, dc);
    }
    done = true;
  });
  for (int i = 0; !done || i < 50; ++i) {
    resizeWindowSurface(window, 100 + (i * 37) % 300, 80 + (i * 53) % 200);
  }
  drawer.join();
  resizeWindowSurface(window, 250, 180);
  HDC dc = GetDC(window);
  ASSERT_TRUE(dc);
  EXPECT_TRUE(BitBlt(dc, 200, 150, 64, 64, picture.dc, 0, 0, SRCCOPY));
  ReleaseDC(window, dc);
  WindowPixels pixels;
  ASSERT_TRUE(lockWindowSurface(window, &pixels));
  EXPECT_EQ(pixels.width, 250);
  EXPECT_EQ(pixels.height, 180);
  EXPECT_EQ(pixels.pixels[179 * pixels.stride + 249], 0x112233u);  // clipped to the new size
  unlockWindowSurface(window, false);
  destroyCanvas(&picture);
  destroyRecordingWindow(window);
}

TEST(WindowSurfaces, TheScreenDcHasNothingToDrawInto) {
  HDC screen = GetDC(nullptr);
  ASSERT_TRUE(screen);
  PixelCanvas picture = createCanvas(4, 4, 32);
  EXPECT_TRUE(BitBlt(screen, 0, 0, 4, 4, picture.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(GetPixel(screen, 0, 0), CLR_INVALID);
  DrawTarget target;
  EXPECT_FALSE(beginDrawing(screen, &target));
  destroyCanvas(&picture);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(GetDC((HWND)&changes), nullptr);  // no window of the layer
}

TEST(WindowSurfaces, DrawingTargetsAddressRowsTopDownForBottomUpSections) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 3;
  info.bmiHeader.biHeight = 2;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  DrawTarget target;
  ASSERT_TRUE(beginDrawing(dc, &target));
  target.pixels[0 * target.stride + 2] = 0x0000FF;  // (2, 0): the top row
  target.pixels[1 * target.stride + 0] = 0x00FF00;  // (0, 1)
  endDrawing(dc, true);
  EXPECT_EQ(GetPixel(dc, 2, 0), RGB(0, 0, 0xFF));
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0xFF, 0));
  EXPECT_EQ(((uint32_t*)bits)[3 + 2], 0x0000FFu);  // the top row is stored last
  // A monochrome bitmap is no 32-bpp target.
  HBITMAP mono = CreateBitmap(4, 4, 1, 1, nullptr);
  SelectObject(dc, mono);
  EXPECT_FALSE(beginDrawing(dc, &target));
  SelectObject(dc, old);
  DeleteObject(mono);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

}  // namespace
#endif
