// How fast the software GDI moves a frame's pixels, against the floor of the memory itself:
// each 640x480 block transfer of a frame is timed beside a memcpy of the same number of
// destination bytes in the same run, and the medians and their ratio are printed.
//   transparent  SRCAND of the mask then SRCPAINT of the masked image (a slot drawn through its
//                mask; floor: two copies)
//   opaque 32    SRCCOPY from a 32-bpp image (floor: one copy)
//   opaque 24    SRCCOPY from a 24-bpp image, the form most bitmap files have (floor: one copy)
//   present      presentToWindow: the virtual screen into the window's surface (floor: one copy)
// Run: bench_gdi [iterations]. The images are loaded the way scripts load them, from a BMP file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

namespace {

constexpr int width = virtualScreenWidth;
constexpr int height = virtualScreenHeight;
constexpr size_t frameBytes = size_t(width) * height * 4;

double nowMicroseconds() {
  using namespace std::chrono;
  return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A 640x480 BMP of the given depth, a quarter of it magenta in stripes, written to path.
bool writeImage(const char* path, int bitsPerPixel) {
  int pixelBytes = bitsPerPixel / 8;
  int rowBytes = ((width * pixelBytes) + 3) & ~3;
  std::vector<unsigned char> data(size_t(rowBytes) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &data[size_t(y) * rowBytes + size_t(x) * pixelBytes];
      bool key = (x / 16 + y / 16) % 4 == 0;
      p[0] = key ? 0xFF : (unsigned char)x;        // blue
      p[1] = key ? 0x00 : (unsigned char)y;        // green
      p[2] = key ? 0xFF : (unsigned char)(x ^ y);  // red
      if (pixelBytes == 4) p[3] = 0;
    }
  }
  unsigned char header[54] = {'B', 'M'};
  auto put32 = [&](int at, unsigned value) {
    for (int i = 0; i < 4; ++i) header[at + i] = (unsigned char)(value >> (8 * i));
  };
  put32(2, unsigned(54 + data.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  header[26] = 1;
  header[28] = (unsigned char)bitsPerPixel;
  put32(34, unsigned(data.size()));
  FILE* file = fopen(path, "wb");
  if (!file) return false;
  fwrite(header, 1, sizeof header, file);
  fwrite(data.data(), 1, data.size(), file);
  fclose(file);
  return true;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

struct Case {
  const char* name;
  int floorCopies;  // how many frame-sized memcpys the same bytes take
  double goal;      // the ratio to the floor it should stay within
  std::function<void()> run;
};

}  // namespace

int main(int argc, char** argv) {
  int iterations = argc > 1 ? atoi(argv[1]) : 300;
  if (iterations < 10) iterations = 10;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TorvaneBench";
  RegisterClassA(&windowClass);
  // Large enough that the whole 640x480 picture lands in the client area.
  mainWindow = CreateWindowExA(0, "TorvaneBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 640,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!mainWindow || !createSurface(&virtualScreen, width, height)) {
    fprintf(stderr, "bench_gdi: no window or virtual screen\n");
    return 1;
  }
  const char* image32 = "bench_gdi_32.bmp";
  const char* image24 = "bench_gdi_24.bmp";
  if (!writeImage(image32, 32) || !writeImage(image24, 24) || !loadSlotImage(0, image32) ||
      !loadSlotImage(1, image24)) {
    fprintf(stderr, "bench_gdi: the test images could not be made or loaded\n");
    return 1;
  }
  remove(image32);
  remove(image24);

  HDC screen = virtualScreen.imageDC;
  const ImageSlot& slot32 = imageSlots[0];
  const ImageSlot& slot24 = imageSlots[1];
  std::vector<unsigned char> from(frameBytes, 0x5A), to(frameBytes);

  const Case cases[] = {
      {"transparent (SRCAND + SRCPAINT)", 2, 1.3,
       [&] {
         BitBlt(screen, 0, 0, width, height, slot32.maskDC, 0, 0, SRCAND);
         BitBlt(screen, 0, 0, width, height, slot32.maskedImageDC, 0, 0, SRCPAINT);
       }},
      {"opaque from 32 bpp (SRCCOPY)", 1, 1.3,
       [&] { BitBlt(screen, 0, 0, width, height, slot32.imageDC, 0, 0, SRCCOPY); }},
      // Each pixel is widened from three bytes to four on the way.
      {"opaque from 24 bpp (SRCCOPY)", 1, 1.5,
       [&] { BitBlt(screen, 0, 0, width, height, slot24.imageDC, 0, 0, SRCCOPY); }},
      {"presentToWindow", 1, 1.3, [&] { presentToWindow(); }},
  };

  printf("%-34s %12s %12s %8s %6s\n", "640x480, median of runs", "time (us)", "floor (us)", "ratio",
         "goal");
  bool allWithin = true;
  for (const Case& each : cases) {
    std::vector<double> times, floors;
    for (int i = 0; i < iterations; ++i) {
      // Interleaved, so that both see the same state of caches and clock.
      double start = nowMicroseconds();
      each.run();
      double middle = nowMicroseconds();
      for (int copy = 0; copy < each.floorCopies; ++copy) {
        memcpy(to.data(), from.data(), frameBytes);
        from[size_t(i) % frameBytes] ^= 1;  // keeps the copies from being merged away
      }
      double end = nowMicroseconds();
      times.push_back(middle - start);
      floors.push_back(end - middle);
    }
    double time = median(times), floor = median(floors);
    double ratio = time / floor;
    allWithin = allWithin && ratio <= each.goal;
    printf("%-34s %12.1f %12.1f %8.2f %6.1f\n", each.name, time, floor, ratio, each.goal);
  }
  printf("goal: every transfer within its ratio to the floor: %s\n", allWithin ? "met" : "not met");
  if (to[0] == 0x42) printf(" ");  // the copies are used
  return 0;
}
