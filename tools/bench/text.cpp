// Times DrawTextA with word breaks on a wrapped message of mixed Japanese and ASCII, as the
// overlay draws it every frame: in a 200x200 rectangle (the default text box) and in a 600x100
// one (a message window across the screen), and the two menu choices drawn with TextOutA.
// Reports the median time per call over repetitions. The first call, which renders the
// glyphs into the cache, is timed once on its own and printed before the runs.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <chrono>
#include <string>

#include "platform/windows_api.h"

namespace {

// 吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。 in CP932, then ASCII, then
// Japanese with an ASCII word and half-width kana: about 190 bytes, a long message line.
const char message[] =
    "\x8C\xE1\x94\x79\x82\xCD\x94\x4C\x82\xC5\x82\xA0\x82\xE9\x81\x42\x96\xBC\x91\x4F\x82\xCD"
    "\x82\xDC\x82\xBE\x96\xB3\x82\xA2\x81\x42\x82\xC7\x82\xB1\x82\xC5\x90\xB6\x82\xEA\x82\xBD"
    "\x82\xA9\x82\xC6\x82\xF1\x82\xC6\x8C\xA9\x93\x96\x82\xAA\x82\xC2\x82\xA9\x82\xCA\x81\x42"
    " The quick brown fox jumps over the lazy dog. "
    "\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67 Torvane \xB1\xB2\xB3\xB4\xB5 "
    "\x81\x75\x83\x65\x83\x58\x83\x67\x81\x76\x82\xC5\x82\xB7\x81\x42";
const char firstChoice[] = "\x82\xCD\x82\xA2";           // はい
const char secondChoice[] = "\x82\xA2\x82\xA2\x82\xA6";  // いいえ

struct Screen {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap;
};

// A 640x480 screen like the virtual screen: a compatible bitmap in a memory DC, transparent.
Screen makeScreen() {
  Screen screen;
  HDC desktop = GetDC(nullptr);
  screen.dc = CreateCompatibleDC(desktop);
  screen.bitmap = CreateCompatibleBitmap(desktop, 640, 480);
  ReleaseDC(nullptr, desktop);
  screen.oldBitmap = SelectObject(screen.dc, screen.bitmap);
  SetBkMode(screen.dc, TRANSPARENT);
  SetTextColor(screen.dc, 0);
  return screen;
}

void freeScreen(const Screen& screen) {
  SelectObject(screen.dc, screen.oldBitmap);
  DeleteDC(screen.dc);
  DeleteObject(screen.bitmap);
}

void drawMessage(benchmark::State& state, RECT rect) {
  Screen screen = makeScreen();
  int height = 0;
  for (auto _ : state) {
    height = DrawTextA(screen.dc, message, int(sizeof message - 1), &rect, DT_WORDBREAK);
    benchmark::DoNotOptimize(height);
  }
  state.counters["height"] = height;
  freeScreen(screen);
}

void BM_DrawText200x200(benchmark::State& state) {
  drawMessage(state, RECT{16, 16, 216, 216});
}
void BM_DrawText600x100(benchmark::State& state) {
  drawMessage(state, RECT{20, 360, 620, 460});
}

void BM_MenuChoices(benchmark::State& state) {
  Screen screen = makeScreen();
  for (auto _ : state) {
    SetTextColor(screen.dc, 0x0000FF);
    TextOutA(screen.dc, 100, 100, firstChoice, int(sizeof firstChoice - 1));
    SetTextColor(screen.dc, 0);
    TextOutA(screen.dc, 100, 140, secondChoice, int(sizeof secondChoice - 1));
  }
  freeScreen(screen);
}

constexpr int repetitions = 15;
BENCHMARK(BM_DrawText200x200)->Repetitions(repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_DrawText600x100)->Repetitions(repetitions)->ReportAggregatesOnly(true);
BENCHMARK(BM_MenuChoices)->Repetitions(repetitions)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  {
    Screen screen = makeScreen();
    RECT rect = {16, 16, 216, 216};
    auto start = std::chrono::steady_clock::now();
    DrawTextA(screen.dc, message, int(sizeof message - 1), &rect, DT_WORDBREAK);
    auto elapsed = std::chrono::steady_clock::now() - start;
    printf("first DrawTextA (font opened, glyphs rendered): %.3f ms\n",
           std::chrono::duration<double, std::milli>(elapsed).count());
    freeScreen(screen);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
