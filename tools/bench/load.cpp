// The cost of loading one bitmap file into an image slot (the file read, the DIB section and the
// mask built from it), for the largest files the loader accepts and for small files that declare
// huge pictures. For each file: whether it loaded, the wall time of the load and the growth of
// the process's peak resident memory during it (VmHWM, reset before each load). The time is
// given as processor time too: on a shared machine the wall time also counts other programs.
// Run: bench_load. Writes its files into the current directory and removes them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "platform/windows_api.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

namespace {

void put(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(char((value >> (8 * i)) & 0xFF));
}

// A bottom-up BMP with an info header, a table of two colours for palette depths, then data.
std::string bmp(int width, int height, int bits, uint32_t compression, const std::string& data) {
  std::string table = bits <= 8 ? std::string("\xFF\x00\xFF\x00\x10\x20\x30\x00", 8) : "";
  std::string out = "BM";
  put(&out, uint32_t(54 + table.size() + data.size()), 4);
  put(&out, 0, 4);
  put(&out, uint32_t(54 + table.size()), 4);
  put(&out, 40, 4);
  put(&out, uint32_t(width), 4);
  put(&out, uint32_t(height), 4);
  put(&out, 1, 2);
  put(&out, uint32_t(bits), 2);
  put(&out, compression, 4);
  put(&out, uint32_t(data.size()), 4);
  put(&out, 0, 8);
  put(&out, bits <= 8 ? 2 : 0, 4);
  put(&out, 0, 4);
  return out + table + data;
}

std::string rows(int width, int height, int bits) {
  size_t rowBytes = size_t((width * bits + 31) / 32) * 4;
  std::string data(rowBytes * size_t(height), '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + i / rowBytes);
  return data;
}

// RLE8 rows of alternating 255-pixel runs, the densest data there is, then end of bitmap.
std::string rleRows(int width, int height) {
  std::string data;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; x += 255) {
      data.push_back(char(std::min(255, width - x)));
      data.push_back(char((x / 255) & 1));
    }
    data += std::string("\0\0", 2);
  }
  return data + std::string("\0\1", 2);
}

// One field of /proc/self/status in kilobytes ("VmHWM:" the peak, "VmRSS:" the resident set).
long statusKilobytes(const char* field) {
  FILE* status = fopen("/proc/self/status", "r");
  long value = 0;
  char line[256];
  size_t length = strlen(field);
  while (status && fgets(line, sizeof line, status)) {
    if (strncmp(line, field, length) == 0) value = atol(line + length);
  }
  if (status) fclose(status);
  return value;
}

long peakKilobytes() { return statusKilobytes("VmHWM:"); }
long residentKilobytes() { return statusKilobytes("VmRSS:"); }

void measure(const char* name, const std::string& bytes) {
  const char* path = "bench_load.bmp";
  FILE* file = fopen(path, "wb");
  if (!file) return;
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  // Writing 5 resets the peak to the current resident size.
  FILE* reset = fopen("/proc/self/clear_refs", "w");
  if (reset) {
    fputs("5", reset);
    fclose(reset);
  }
  long before = residentKilobytes();
  auto start = std::chrono::steady_clock::now();
  clock_t processorStart = clock();
  bool loaded = loadSlotImage(0, path);
  double processor = double(clock() - processorStart) / CLOCKS_PER_SEC;
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long peak = peakKilobytes() - before;
  printf("%-40s %9zu bytes  %-7s %6.3f s (cpu %6.3f s)  %6.1f MB\n", name, bytes.size(),
         loaded ? "loaded" : "refused", seconds, processor, peak / 1024.0);
  releaseImage(&imageSlots[0]);
  imageSlots[0].loaded = 0;
  remove(path);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TorvaneBench";
  RegisterClassA(&windowClass);
  mainWindow = CreateWindowExA(0, "TorvaneBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!mainWindow) return 1;
  // MessageBoxA of a refused file is answered at once by the headless backend.
  measure("640x480 24 bpp", bmp(640, 480, 24, 0, rows(640, 480, 24)));
  measure("4096x2048 32 bpp (largest accepted)", bmp(4096, 2048, 32, 0, rows(4096, 2048, 32)));
  measure("4096x2048 24 bpp", bmp(4096, 2048, 24, 0, rows(4096, 2048, 24)));
  measure("4096x2048 16 bpp", bmp(4096, 2048, 16, 0, rows(4096, 2048, 16)));
  measure("4096x2048 8 bpp", bmp(4096, 2048, 8, 0, rows(4096, 2048, 8)));
  measure("4096x2048 1 bpp", bmp(4096, 2048, 1, 0, rows(4096, 2048, 1)));
  measure("4096x2048 RLE8, dense runs", bmp(4096, 2048, 8, 1, rleRows(4096, 2048)));
  measure("640x480 RLE8, end of bitmap only", bmp(640, 480, 8, 1, std::string("\0\1", 2)));
  measure("4096x4096 RLE8 in 1,080 bytes", bmp(4096, 4096, 8, 1, std::string(1080 - 62, '\0')));
  measure("2048x2048 RLE8 in 1,080 bytes", bmp(2048, 2048, 8, 1, std::string(1080 - 62, '\0')));
  measure("4096x4096 1 bpp (2 MB)", bmp(4096, 4096, 1, 0, rows(4096, 4096, 1)));
  return 0;
}
