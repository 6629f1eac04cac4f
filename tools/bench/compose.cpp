// Times the frame tick, composeFrame, on two scenes and compares each with the time memcpy needs
// to move the same bytes in the same run, the floor set by memory bandwidth:
//   typical: an opaque 640x480 background, two 200x300 transparent sprites, a wrapped message;
//   worst:   ten visible 640x480 transparent slots and a message.
// Prints the medians of many frames and the ratios. Goals: typical under 1 ms, worst case within
// 1.5 times its floor. The images are BMP files written to a temporary directory and loaded as a
// script would load them.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

namespace {

constexpr int warmupFrames = 20;
constexpr int measuredFrames = 301;
constexpr size_t pixelBytes = 4;  // the virtual screen and the masks are 32 bits per pixel

// A 24-bit BMP file; pixel(x, y) gives a GDI colour value.
template <typename Pixel>
void writeBmp(const std::string& path, int w, int h, Pixel pixel) {
  int rowBytes = (w * 3 + 3) & ~3;
  std::vector<uint8_t> file(54 + (size_t)rowBytes * h, 0);
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = (uint8_t)(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, (uint32_t)file.size());
  put32(10, 54);
  put32(14, 40);
  put32(18, (uint32_t)w);
  put32(22, (uint32_t)h);
  file[26] = 1;
  file[28] = 24;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = &file[54 + (size_t)(h - 1 - y) * rowBytes];
    for (int x = 0; x < w; ++x) {
      uint32_t c = pixel(x, y);
      row[x * 3] = (uint8_t)(c >> 16);
      row[x * 3 + 1] = (uint8_t)(c >> 8);
      row[x * 3 + 2] = (uint8_t)c;
    }
  }
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return;
  fwrite(file.data(), 1, file.size(), out);
  fclose(out);
}

double medianOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

template <typename Work>
double microseconds(Work work) {
  auto start = std::chrono::steady_clock::now();
  work();
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(end - start).count();
}

// The floor: one memcpy per block transfer of the scene, each from a source of its own (as the
// images, masks and masked images are) into one 640x480 destination (as the virtual screen is).
struct CopyFloor {
  std::vector<std::vector<uint8_t>> sources;
  std::vector<uint8_t> destination;

  explicit CopyFloor(const std::vector<size_t>& blockBytes)
      : destination((size_t)virtualScreenWidth * virtualScreenHeight * pixelBytes) {
    for (size_t bytes : blockBytes) sources.emplace_back(bytes, (uint8_t)sources.size());
  }
  void run() {
    for (const std::vector<uint8_t>& source : sources) {
      memcpy(destination.data(), source.data(), source.size());
      asm volatile("" : : "r"(destination.data()) : "memory");
    }
  }
};

struct Figures {
  double compose;  // median of composeFrame, microseconds
  double floor;    // median of the copies, microseconds
  double ratio;    // median of the ratios of frames and copies timed side by side
};

// A frame whose scene changed, so that it draws: a frame of an unchanged scene draws nothing.
void composeChangedFrame() {
  markPictureChanged();
  composeFrame();
}

// Frames and copies alternate, so that both see the same load on a shared machine.
Figures measure(CopyFloor& copies) {
  for (int i = 0; i < warmupFrames; ++i) {
    composeChangedFrame();
    copies.run();
  }
  std::vector<double> compose, floor, ratio;
  for (int i = 0; i < measuredFrames; ++i) {
    compose.push_back(microseconds(composeChangedFrame));
    floor.push_back(microseconds([&] { copies.run(); }));
    ratio.push_back(compose.back() / floor.back());
  }
  return {medianOf(compose), medianOf(floor), medianOf(ratio)};
}

void hideAllSlots() {
  for (ImageSlot& slot : imageSlots) {
    releaseImage(&slot);
    memset(&slot, 0, sizeof slot);
  }
}

void showSlot(int index, int x, int y, int w, int h, bool transparent) {
  ImageSlot& slot = imageSlots[index];
  slot.destX = x;
  slot.destY = y;
  slot.cellWidth = w;
  slot.cellHeight = h;
  slot.transparent = transparent ? 1 : 0;
  slot.visible = 1;
}

const char messageText[] =
    "The lamps along the harbour went out one by one while the last ferry turned towards the "
    "island, and nobody on the pier said a word about the letter.";

void showMessage() {
  SetRect(&messageRect, 20, 360, 620, 470);
  textLine1 = messageText;
  textVisible = 1;
  menuVisible = 0;
  SetTextColor(virtualScreen.imageDC, 0xFFFFFF);
}

void report(const char* scene, const Figures& figures) {
  printf("%-8s composeFrame %8.1f us   memcpy of the same bytes %8.1f us   ratio %5.2f\n", scene,
         figures.compose, figures.floor, figures.ratio);
}

}  // namespace

int main() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TorvaneBench";
  RegisterClassA(&windowClass);
  mainWindow = CreateWindowExA(0, "TorvaneBench", "bench", WS_OVERLAPPED | WS_CAPTION, 0, 0, 640,
                               480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!mainWindow || !createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight)) {
    fprintf(stderr, "no window or no virtual screen\n");
    return 1;
  }

  std::filesystem::path directory =
      std::filesystem::temp_directory_path() /
      ("torvane-bench-" + std::to_string((unsigned long)GetCurrentThreadId()));
  std::filesystem::create_directories(directory);
  std::string background = (directory / "background.bmp").string();
  std::string sprite = (directory / "sprite.bmp").string();
  std::string layer = (directory / "layer.bmp").string();
  writeBmp(background, 640, 480,
           [](int x, int y) { return (uint32_t)((x * 3) ^ (y << 9)) & 0xFFFFFF; });
  // A figure in an ellipse, magenta around it.
  writeBmp(sprite, 200, 300, [](int x, int y) {
    int dx = x - 100, dy = y - 150;
    return dx * dx * 9 + dy * dy * 4 < 90000 ? 0x3060C0u + (uint32_t)y : 0xFF00FFu;
  });
  // Every other band of 32 rows magenta.
  writeBmp(layer, 640, 480, [](int x, int y) {
    return (y / 32) % 2 ? 0xFF00FFu : (uint32_t)(x * 0x010203) & 0xFFFFFF;
  });

  const size_t screenBytes = (size_t)virtualScreenWidth * virtualScreenHeight * pixelBytes;
  const size_t spriteBytes = (size_t)200 * 300 * pixelBytes;

  // Typical: one opaque copy and two transparent sprites of two transfers each.
  loadSlotImage(0, background.c_str());
  loadSlotImage(1, sprite.c_str());
  loadSlotImage(2, sprite.c_str());
  showSlot(0, 0, 0, 640, 480, false);
  showSlot(1, 60, 100, 200, 300, true);
  showSlot(2, 380, 120, 200, 300, true);
  showMessage();
  CopyFloor typicalCopies({screenBytes, spriteBytes, spriteBytes, spriteBytes, spriteBytes});
  Figures typical = measure(typicalCopies);
  hideAllSlots();

  // Worst case: ten full-screen transparent slots, twenty transfers.
  for (int i = 0; i < imageSlotCount; ++i) {
    loadSlotImage(i, layer.c_str());
    showSlot(i, 0, 0, 640, 480, true);
  }
  showMessage();
  CopyFloor worstCopies(std::vector<size_t>(2 * imageSlotCount, screenBytes));
  Figures worst = measure(worstCopies);
  hideAllSlots();

  printf("medians of %d frames after %d to warm up\n", measuredFrames, warmupFrames);
  report("typical", typical);
  report("worst", worst);
  printf("goals: typical under 1000 us (%s); worst within 1.5 x its floor (%s)\n",
         typical.compose < 1000.0 ? "met" : "missed", worst.ratio <= 1.5 ? "met" : "missed");

  std::error_code error;
  std::filesystem::remove_all(directory, error);
  return 0;
}
