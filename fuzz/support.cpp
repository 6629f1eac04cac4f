// What the libFuzzer targets share (support.h). Owns the process's fuzz folder and its window.
// Depends on the player's libraries and the headless backend.
#include "fuzz/support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/linux/headless.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

std::string folder;          // one per process, removed at exit
std::set<std::string> paths;  // the files written into it
std::string lastPath;

void removeFolder() {
  for (const std::string& path : paths) remove(path.c_str());
  rmdir(folder.c_str());
}

LRESULT CALLBACK fuzzWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) return 0;  // the end of a script or a missing argument: the run ends
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

const char* fuzzFolder() {
  if (folder.empty()) {
    folder = "/tmp/torvane-fuzz-" + std::to_string((int)getpid());
    mkdir(folder.c_str(), 0700);
    atexit(removeFolder);
  }
  return folder.c_str();
}

const char* writeFuzzFile(const char* name, const uint8_t* data, size_t size) {
  lastPath = std::string(fuzzFolder()) + "/" + name;
  paths.insert(lastPath);
  FILE* file = fopen(lastPath.c_str(), "wb");
  if (file) {
    if (size) fwrite(data, 1, size, file);
    fclose(file);
  }
  return lastPath.c_str();
}

void openFuzzWindow() {
  if (mainWindow) return;
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = fuzzWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TorvaneFuzz";
  RegisterClassA(&windowClass);
  mainWindow = CreateWindowExA(0, "TorvaneFuzz", "fuzz", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!mainWindow || !createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight)) abort();
}

void endFuzzRun() {
  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  resetImageSlots();
  stopSound(0);
  releaseSoundSlots();
  resetSoundSlots();
  headlessClearMessageBoxes();
}
