// Benchmark of the script compiler: compiling scripts of 1,000, 10,000 and 50,000 command lines
// from a file. Reports the time per compilation, the heap the compiled list holds and the
// process's peak resident memory. Linux only (benchmarks are not cross-built).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "compiler/compiler.h"

namespace {

// Lines of a typical story, each of which gives one node; every tenth line of the script is a
// comment or a blank line, which the reader reads and skips.
const char* const storyLines[] = {
    "bitmap_load 0 background.bmp",
    "bitmap_show 0 0 0 640 480 0 0 0",
    "se_load 1 door.wav",
    "se_play 1 0",
    "msg_window_open 16 400",
    "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\x81\x41\x90\xA2\x8A"
    "E",  // こんにちは、世界
    "anim_play 2 0 0 64 64 0 0 4 1 1 2 2",
    "menu yes no",
    "if 1 1 1 $next",
    "$next",
    "set_text_pos 16 400 16 420 0",
    "change_window_caption story",
};
constexpr int storyLineCount = sizeof(storyLines) / sizeof(storyLines[0]);

std::string scriptFile(int commandLines) {
  char path[64];
  snprintf(path, sizeof path, "/tmp/torvane-bench-%d-%d.spt", (int)getpid(), commandLines);
  FILE* file = fopen(path, "wb");
  if (!file) return "";
  for (int i = 0; i < commandLines; ++i) {
    if (i % 9 == 8) fputs(i % 2 ? ";a comment\r\n" : "\r\n", file);
    fprintf(file, "%s\r\n", storyLines[i % storyLineCount]);
  }
  fclose(file);
  return path;
}

long peakResidentKilobytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void compileScriptOfLines(benchmark::State& state) {
  const int commandLines = static_cast<int>(state.range(0));
  std::string path = scriptFile(commandLines);
  if (path.empty()) {
    state.SkipWithError("cannot write the script");
    return;
  }
  size_t listBytes = 0;
  int nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    freeCommandList(commandList);
    resetCommandList(commandList);
    size_t heapBefore = mallinfo2().uordblks;
    state.ResumeTiming();

    compileScript(path.c_str());

    state.PauseTiming();
    listBytes = mallinfo2().uordblks - heapBefore;
    nodes = 0;
    for (CommandNode* node = commandList; node; node = node->next) ++nodes;
    state.ResumeTiming();
  }
  freeCommandList(commandList);
  resetCommandList(commandList);
  remove(path.c_str());
  if (nodes != commandLines) state.SkipWithError("the script did not compile whole");
  state.counters["nodes"] = nodes;
  state.counters["list_bytes"] = static_cast<double>(listBytes);
  state.counters["peak_rss_kb"] = static_cast<double>(peakResidentKilobytes());
  state.SetItemsProcessed(state.iterations() * commandLines);
}

}  // namespace

BENCHMARK(compileScriptOfLines)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
