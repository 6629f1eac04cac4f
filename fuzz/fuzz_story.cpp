// libFuzzer target: a whole story. The input is a script and up to four files, separated by
// lines "====" (LF before and after); the files are written as f1 to f4 beside the script, which
// names them as a story names its pictures, sounds and icons. The script is compiled and run as
// the frame thread runs it, with a click before every frame, for at most storyFrames frames or
// until it ends; every message box is answered at once.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "compiler/compiler.h"
#include "fuzz/support.h"
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

constexpr int storyFrames = 64;  // a few screens of a story; short enough to search widely
constexpr int storyFiles = 4;
const char separator[] = "\n====\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  openFuzzWindow();
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t end = input.find(separator);
  const char* script = writeFuzzFile("s.spt", data, end == std::string::npos ? size : end);
  snprintf(scriptPath, sizeof scriptPath, "%s", script);
  for (int i = 1; i <= storyFiles; ++i) {
    size_t start = end == std::string::npos ? size : end + strlen(separator);
    end = input.find(separator, start);
    size_t length = (end == std::string::npos ? size : end) - start;
    std::string name = "f" + std::to_string(i);
    writeFuzzFile(name.c_str(), data + start, length);
  }

  // Relative names are resolved against the current directory, as the player's are.
  char previous[4096];
  if (!getcwd(previous, sizeof previous) || chdir(fuzzFolder()) != 0) return 0;
  frameStopRequested = false;
  startScriptRun();
  resetSoundSlots();
  for (int frame = 0; frame < storyFrames && !scriptFinished; ++frame) {
    runEnabled = 1;
    composeFrame();
  }
  freeCommandList(commandList);
  resetCommandList(commandList);
  currentCommand = nullptr;
  endFuzzRun();
  if (chdir(previous) != 0) abort();
  return 0;
}
