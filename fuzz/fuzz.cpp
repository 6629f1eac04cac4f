// The libFuzzer targets, one per definition, fed through files to the player's code on the
// headless backend, in a window that WM_CLOSE leaves open:
//   FUZZ_BITMAP    an image slot's picture and LoadImageA's bitmap: both load, in allowed sizes;
//                  change_window_icon's icon, its pixels read as the desktop backend reads them
//   FUZZ_WAV       a sound slot played once and looping, the device's output pulled at once
//   FUZZ_STORY     a script and files f1 to f4, each after a line "====", run with a click
//                  before every frame, for at most 64 frames
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/linux/sound_control.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

std::string folder;  // of this process, removed at exit

const char* writeFile(const char* name, const uint8_t* data, size_t size) {  // its path, for now
  static std::string path;
  if (folder.empty()) {
    folder = "/tmp/torvane-fuzz-" + std::to_string((int)getpid());
    mkdir(folder.c_str(), 0700);
    atexit([] { std::error_code error; std::filesystem::remove_all(folder, error); });
  }
  path = folder + "/" + name;
  if (FILE* file = fopen(path.c_str(), "wb")) fwrite(data, 1, size, file), fclose(file);
  return path.c_str();
}

void openWindow() {  // that WM_CLOSE leaves open
  if (mainWindow) return;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CLOSE ? 0 : DefWindowProcA(window, message, wParam, lParam);
  };
  windowClass.lpszClassName = "TorvaneFuzz", windowClass.hInstance = GetModuleHandleA(nullptr);
  RegisterClassA(&windowClass);
  mainWindow = CreateWindowExA(0, "TorvaneFuzz", "fuzz", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!mainWindow || !createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight))
    abort();
}

void endRun() {
  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  resetImageSlots(), stopSound(0), releaseSoundSlots(), resetSoundSlots();
  freeCommandList(commandList), resetCommandList(commandList);
  currentCommand = nullptr, headlessClearMessageBoxes();
}

#if defined(FUZZ_BITMAP)
void fuzzOne(const uint8_t* data, size_t size) {
  const char* path = writeFile("picture", data, size);
  if (HICON icon = (HICON)LoadImageA(nullptr, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE)) {
    IconPixels pixels;
    if (!iconPixels(icon, &pixels) || pixels.width < 1 || pixels.height < 1) abort();
    volatile uint32_t sum = 0;  // every pixel read
    for (int i = 0; i < pixels.width * pixels.height; ++i) sum = sum + pixels.pixels[i];
    DestroyIcon(icon);
  }
  if (!loadSlotImage(0, path)) return;
  const ImageSlot& slot = imageSlots[0];
  if (slot.width < 1 || slot.height < 1 || int64_t(slot.width) * slot.height > (8 << 20)) abort();
  HBITMAP device = (HBITMAP)LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
  if (!device) abort();
  DeleteObject(device);
}
#elif defined(FUZZ_WAV)
void pullOutput() {  // enough for a stream to take in, resample and give out several chunks
  static char buffer[4 * soundDeviceBufferFrames * soundDeviceFrameBytes];
  for (int i = 0; i < 4; ++i) pullSoundOutput(buffer, (int)sizeof buffer / 4);
}
void fuzzOne(const uint8_t* data, size_t size) {
  loadSound(writeFile("s.wav", data, size), 0);
  playSound(0, 0), pullOutput(), playSound(0, 1), pullOutput(), stopSound(0), deleteSound(0);
}
#elif defined(FUZZ_STORY)
void fuzzOne(const uint8_t* data, size_t size) {
  const std::string input((const char*)data, size), separator = "\n====\n";
  for (size_t i = 0, start = 0; i <= 4; ++i) {
    size_t end = std::min(input.find(separator, start), size);
    std::string name = i ? "f" + std::to_string(i) : "s.spt";
    const char* path = writeFile(name.c_str(), data + start, end - start);
    if (i == 0) snprintf(scriptPath, sizeof scriptPath, "%s", path);
    start = std::min(end + separator.size(), size);
  }
  // Relative names are resolved against the current directory, as the player's are.
  char previous[4096];
  if (!getcwd(previous, sizeof previous) || chdir(folder.c_str()) != 0) return;
  frameStopRequested = false;
  startScriptRun(), resetSoundSlots();
  for (int frame = 0; frame < 64 && !scriptFinished; ++frame) runEnabled = 1, composeFrame();
  if (chdir(previous) != 0) abort();
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  openWindow(), fuzzOne(data, size), endRun();
  return 0;
}
