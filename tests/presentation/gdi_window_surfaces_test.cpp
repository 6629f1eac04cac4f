// The Linux layer's window surfaces: what a window DC draws lands in the window's surface, the
// virtual screen reaches it through presentToWindow, the backend hears of each change, and a
// surface resized on one thread while another draws into it stays whole. Linux only: Windows
// has no such surfaces.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>

#include "pixel_canvas.h"
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
  PixelView pixels;
  if (!lockWindowSurface(window, &pixels)) return 0xDEADBEEF;
  uint32_t value = reinterpret_cast<const uint32_t*>(pixels.top + y * pixels.rowStep)[x];
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
  PixelView pixels;
  ASSERT_TRUE(lockWindowSurface(window, &pixels));
  EXPECT_EQ(pixels.width, 250);
  EXPECT_EQ(pixels.height, 180);
  EXPECT_EQ(reinterpret_cast<const uint32_t*>(pixels.top + 179 * pixels.rowStep)[249],
            0x112233u);  // clipped to the new size
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
  destroyCanvas(&picture);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(GetDC((HWND)&changes), nullptr);  // no window of the layer
}

}  // namespace
#endif
