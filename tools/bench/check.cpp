// Benchmark of torvane-check on a story of 50,000 command lines whose files are all there, run
// as a program (the one built beside this benchmark): with its warnings, and with every kind
// turned off, which checks no more than the compiler does. Reports the wall time and, as
// child_cpu_ms, the processor time of one run, which a busy machine does not inflate. Linux only.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

constexpr int commandLines = 50000;

// A story's lines; every label is jumped to and the last line is script_end.
const char* const storyLines[] = {
    "bitmap_load 0 background.bmp",
    "bitmap_show 0 0 0 640 480 0 0 0",
    "se_load 1 door.wav",
    "se_play 1 0",
    "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD",  // こんにちは
    "anim_play 2 0 0 64 64 0 0 4 1 1 2 2",
    "menu yes no",
    "if 1 1 1 $next%d",
    "$next%d",
    "set_text_pos 1 16 400 600 60",
    "change_window_caption story",
};
constexpr int storyLineCount = sizeof(storyLines) / sizeof(storyLines[0]);

void putLe(std::string& out, unsigned value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool writeFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

// The story's folder: the script, a 4x4 24-bit picture and a short 16-bit mono sound.
std::string storyFolder() {
  std::string folder = "/tmp/torvane-bench-check-" + std::to_string(getpid());
  mkdir(folder.c_str(), 0755);
  std::string bmp = "BM";
  for (unsigned field : {54u + 48u, 0u, 54u, 40u, 4u, 4u}) putLe(bmp, field, 4);
  putLe(bmp, 1, 2);
  putLe(bmp, 24, 2);
  for (unsigned field : {0u, 48u, 2835u, 2835u, 0u, 0u}) putLe(bmp, field, 4);
  bmp += std::string(48, '\x40');
  std::string wav = "RIFF";
  putLe(wav, 36 + 800, 4);
  wav += "WAVEfmt ";
  for (unsigned field : {16u}) putLe(wav, field, 4);
  putLe(wav, 1, 2);
  putLe(wav, 1, 2);
  putLe(wav, 22050, 4);
  putLe(wav, 44100, 4);
  putLe(wav, 2, 2);
  putLe(wav, 16, 2);
  wav += "data";
  putLe(wav, 800, 4);
  wav += std::string(800, '\x10');
  std::string script = "script_start\r\n";
  for (int i = 1; i < commandLines - 1; ++i) {
    char line[128];
    snprintf(line, sizeof line, storyLines[i % storyLineCount], i / storyLineCount);
    script += line;
    script += "\r\n";
  }
  script += "script_end\r\n";
  if (!writeFile(folder + "/background.bmp", bmp) || !writeFile(folder + "/door.wav", wav) ||
      !writeFile(folder + "/story.spt", script)) {
    return "";
  }
  return folder;
}

std::string toolPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "";
  std::string path(self, length);
  return path.erase(path.rfind('/')) + "/torvane-check";
}

void checkStory(benchmark::State& state, const char* options) {
  std::string folder = storyFolder();
  if (folder.empty()) {
    state.SkipWithError("cannot write the story");
    return;
  }
  std::string command =
      "'" + toolPath() + "' " + options + " '" + folder + "/story.spt' 2>" + folder + "/err.txt";
  int status = 0;
  struct rusage before, after;
  getrusage(RUSAGE_CHILDREN, &before);
  for (auto _ : state) status = system(command.c_str());
  getrusage(RUSAGE_CHILDREN, &after);
  auto milliseconds = [](const struct rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  };
  state.counters["child_cpu_ms"] =
      (milliseconds(after) - milliseconds(before)) / static_cast<double>(state.iterations());
  // The story is clean: any output would be a warning the measurement should not include.
  struct stat err;
  if (status != 0 || stat((folder + "/err.txt").c_str(), &err) != 0 || err.st_size != 0) {
    state.SkipWithError("torvane-check found something to say about the story");
  }
  system(("rm -rf '" + folder + "'").c_str());
  state.SetItemsProcessed(state.iterations() * commandLines);
}

void withWarnings(benchmark::State& state) {
  checkStory(state, "--werror");
}
void withoutWarnings(benchmark::State& state) {
  checkStory(state, "--no-warn=all");
}

}  // namespace

BENCHMARK(withoutWarnings)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(withWarnings)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_MAIN();
