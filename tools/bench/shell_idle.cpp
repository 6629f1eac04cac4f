// The whole player on the headless backend with the real clock, waiting for a click: first on a
// still scene (an opaque 640x480 background, two transparent sprites, a message), then on the same
// scene with a three-cell strip animation playing. For each: the processor time it takes per
// second, the intervals between frame starts and how many frames reached the window; then the
// peak memory of the run.
// usage: bench_shell_idle [SECONDS]   (default 10, for each scene)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"
#include "resources/menu.h"
#include "shell/shell.h"

namespace {

using Clock = std::chrono::steady_clock;

// The clock readings of every thread and the presentations while recording, in order.
struct Event {
  bool presented;  // a presentation; otherwise a clock reading
  int thread;      // which thread read the clock (numbered as they first read it)
  DWORD reading;   // the reading
  int64_t at;      // nanoseconds of the steady clock; a plain type, so the table costs no memory
};                 // until it is written
constexpr size_t maxEvents = 1000000;
Event events[maxEvents];
std::atomic<size_t> eventCount{0};
std::atomic<bool> recording{false};
std::atomic<int> threadsSeen{0};
thread_local int threadNumber = -1;

void record(bool presented, DWORD reading) {
  if (!recording) return;
  if (threadNumber < 0) threadNumber = threadsSeen.fetch_add(1);
  size_t index = eventCount.fetch_add(1);
  int64_t at =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
  if (index < maxEvents) events[index] = Event{presented, threadNumber, reading, at};
}
void onReading(DWORD reading) {
  record(false, reading);
}
void onPresented(HWND) {
  record(true, 0);
}

// The frame starts among the frame thread's clock readings (the thread that read the clock most).
// A frame reads the clock at its start and then in its wait, whose last reading is the first one
// past start + framePeriod; the next reading starts the next frame. The first start is found
// where a reading is followed at once by another and then by a sleep of 10 ms or more: a frame
// start and the wait's first reading. Presentations cannot mark the starts, as frames that change
// nothing present nothing.
std::vector<Event> frameStarts(size_t count) {
  std::vector<size_t> perThread(64, 0);
  for (size_t i = 0; i < count; ++i) {
    if (!events[i].presented && events[i].thread < 64) ++perThread[events[i].thread];
  }
  int frameThread = int(std::max_element(perThread.begin(), perThread.end()) - perThread.begin());
  std::vector<Event> readings;
  for (size_t i = 0; i < count; ++i) {
    if (!events[i].presented && events[i].thread == frameThread) readings.push_back(events[i]);
  }
  std::vector<Event> starts;
  size_t i = 0;
  for (; i + 2 < readings.size(); ++i) {
    if (readings[i + 1].at - readings[i].at < 1000000 &&
        readings[i + 2].at - readings[i + 1].at >= 10000000) {
      break;
    }
  }
  if (i + 2 >= readings.size()) return starts;
  starts.push_back(readings[i]);
  for (++i; i + 1 < readings.size(); ++i) {
    if (readings[i].reading - starts.back().reading > framePeriod) {
      starts.push_back(readings[i + 1]);
      ++i;
    }
  }
  return starts;
}

void put32(std::string* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = (char)(value >> (8 * i));
}

std::string bmp(int width, int height, uint32_t (*pixel)(int, int)) {
  int rowBytes = (width * 3 + 3) & ~3;
  std::string out(54 + (size_t)rowBytes * height, '\0');
  out[0] = 'B';
  out[1] = 'M';
  put32(&out, 2, (uint32_t)out.size());
  put32(&out, 10, 54);
  put32(&out, 14, 40);
  put32(&out, 18, (uint32_t)width);
  put32(&out, 22, (uint32_t)height);
  out[26] = 1;
  out[28] = 24;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t color = pixel(x, y);
      size_t at = 54 + (size_t)y * rowBytes + (size_t)x * 3;
      out[at] = (char)color;
      out[at + 1] = (char)(color >> 8);
      out[at + 2] = (char)(color >> 16);
    }
  }
  return out;
}

uint32_t background(int x, int y) {
  return (uint32_t)((x * 255 / 640) << 16 | (y * 255 / 480) << 8 | 128);
}
uint32_t sprite(int x, int y) {
  int dx = x - 48, dy = y - 48;
  return dx * dx + dy * dy < 40 * 40 ? 0x3050E0 : 0xFF00FF;
}
// Three 96x96 cells side by side, each a disc of its own colour.
uint32_t strip(int x, int y) {
  static const uint32_t colors[3] = {0xE03030, 0x30E030, 0xE0E030};
  return sprite(x % 96, y) == 0xFF00FF ? 0xFF00FF : colors[x / 96];
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    perror(path.c_str());
    exit(1);
  }
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

DWORD WINAPI runWinMain(LPVOID) {
  static char commandLine[] = "";
  return (DWORD)WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
}

double cpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

struct Scene {
  const char* name;
  const char* script;  // file name in the bench's folder
};
const Scene scenes[] = {
    {"still scene", "still.spt"},
    {"one animation playing", "animation.spt"},
};

// Opens the scene's script, clicks through to its message, and measures the wait for the next
// click.
void measure(const std::string& base, const Scene& scene, double seconds) {
  headlessSetOpenFileResult((base + "/" + scene.script).c_str());
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  usleep(200000);
  PostMessageA(mainWindow, WM_LBUTTONDOWN, 1, 0);  // runs the commands up to the message
  usleep(1000000);

  eventCount = 0;
  threadsSeen = 0;
  recording = true;
  double cpuBefore = cpuSeconds();
  Clock::time_point wallBefore = Clock::now();
  usleep((useconds_t)(seconds * 1e6));
  double cpu = cpuSeconds() - cpuBefore;
  double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  recording = false;
  usleep(100000);  // a thread may still be writing its last event

  size_t count = std::min(eventCount.load(), maxEvents);
  size_t presentations = (size_t)std::count_if(events, events + count,
                                               [](const Event& event) { return event.presented; });
  std::vector<Event> starts = frameStarts(count);
  size_t frames = starts.size();
  std::vector<double> intervals;
  size_t belowPeriodByClock = 0;
  for (size_t i = 1; i < frames; ++i) {
    intervals.push_back((starts[i].at - starts[i - 1].at) / 1e6);
    if (starts[i].reading - starts[i - 1].reading <= framePeriod) ++belowPeriodByClock;
  }
  std::sort(intervals.begin(), intervals.end());

  printf("%s: waiting for a click, real clock, %.1f s\n", scene.name, wall);
  printf("  processor time: %.2f%% of one core\n", 100.0 * cpu / wall);
  printf("  presentations to the window: %zu\n", presentations);
  if (frames > 0) printf("  clock readings per frame: %.1f\n", double(count - presentations) / frames);
  if (!intervals.empty()) {
    auto at = [&](double q) { return intervals[(size_t)(q * (intervals.size() - 1))]; };
    printf("  frames: %zu; frame-to-frame interval ms: min %.3f, median %.3f, p99 %.3f, max %.3f\n",
           frames, intervals.front(), at(0.5), at(0.99), intervals.back());
    size_t below =
        std::count_if(intervals.begin(), intervals.end(), [](double v) { return v < 31.0; });
    printf(
        "  intervals below 31 ms: %zu (a millisecond clock: 31 readings apart can be 30.0x ms)\n",
        below);
    printf("  starts less than 31 clock readings apart: %zu\n", belowPeriodByClock);
    size_t below30 =
        std::count_if(intervals.begin(), intervals.end(), [](double v) { return v < 30.0; });
    printf("  intervals below 30 ms: %zu\n", below30);
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  double seconds = argc > 1 ? atof(argv[1]) : 10.0;
  char directory[] = "/tmp/torvane-bench-XXXXXX";
  if (!mkdtemp(directory)) return 1;
  std::string base = directory;
  writeFile(base + "/back.bmp", bmp(640, 480, background));
  writeFile(base + "/sprite.bmp", bmp(96, 96, sprite));
  writeFile(base + "/strip.bmp", bmp(288, 96, strip));
  const std::string scene =
      "bitmap_load 0 back.bmp\r\n"
      "bitmap_show 0 0 0 640 480 0 0 0\r\n"
      "bitmap_load 1 sprite.bmp\r\n"
      "bitmap_show 1 100 200 96 96 0 0 1\r\n"
      "bitmap_load 2 sprite.bmp\r\n"
      "bitmap_show 2 400 150 96 96 0 0 1\r\n"
      "set_text_pos 1 40 380 560 60\r\n";
  writeFile(base + "/still.spt", scene + "Waiting_for_a_click_on_a_typical_scene.\r\n");
  writeFile(base + "/animation.spt", scene +
                                         "bitmap_load 3 strip.bmp\r\n"
                                         "anim_play 3 250 60 96 96 0 0 1 3 0 0 1\r\n"
                                         "Waiting_for_a_click_while_a_strip_plays.\r\n");

  headlessUseRealClock(true);
  headlessSetModuleFileName((base + "/torvane.exe").c_str());
  headlessSetClockObserver(onReading);
  setWindowSurfaceChangedHandler(onPresented);
  HANDLE winMain = CreateThread(nullptr, 0, runWinMain, nullptr, 0, nullptr);
  while (!mainWindow) usleep(1000);
  for (const Scene& each : scenes) measure(base, each, seconds);
  PostMessageA(mainWindow, WM_CLOSE, 0, 0);
  WaitForSingleObject(winMain, INFINITE);
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("peak memory (max RSS): %ld KiB\n", usage.ru_maxrss);
  std::string cleanup = "rm -rf " + base;
  if (system(cleanup.c_str()) != 0) return 1;
  return 0;
}
