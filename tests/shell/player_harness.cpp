// Runs the real player on the headless backend for the shell's tests (player_harness.h).
#include "player_harness.h"

#include <limits.h>
#include <stdlib.h>

#include <atomic>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "presentation/presentation.h"
#include "resources/menu.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

HANDLE winMainThread = nullptr;
std::atomic<int> exitCode{-1};  // what WinMain returned
bool firstFrameOfRun = false;   // the next tick is the first of a new frame thread

DWORD WINAPI runWinMain(LPVOID) {
  static char commandLine[] = "";
  exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
  return 0;
}

std::string cp932Name(const std::string& native) {
  char absolute[PATH_MAX];
  std::string name;  // a file that does not exist keeps the name given
  utf8ToCp932(realpath(native.c_str(), absolute) ? absolute : native, &name);
  return name;
}

// Resets the shell's and subsystems' globals to their process start values.
void resetProgramState() {
  mainWindow = nullptr;
  instanceHandle = nullptr;
  appActive = 1;
  cleanupDone = 0;
  workingDirectory[0] = '\0';
  scriptPath[0] = '\0';
  frameThread = nullptr;
  frameThreadStarted = 0;
  frameStopRequested = false;
  commandList = nullptr;
  currentCommand = nullptr;
  runEnabled = 0;
  scriptFinished = 0;
  lastCommandIndex = 0;
  resetImageSlots();
  resetTextState();
}

}  // namespace

bool startPlayer(const std::string& base) {
  headlessReset();
  resetProgramState();
  headlessSetModuleFileName(base.empty() ? nullptr : (cp932Name(base) + "/torvane.exe").c_str());
  headlessDriveClock(true);
  exitCode = -1;
  winMainThread = CreateThread(nullptr, 0, runWinMain, nullptr, 0, nullptr);
  headlessWaitIdle();
  firstFrameOfRun = false;
  return mainWindow != nullptr && !playerEnded();
}

void openThroughMenu(const char* nativePath) {
  headlessSetOpenFileResult(nativePath ? cp932Name(nativePath).c_str() : nullptr);
  HANDLE before = frameThread;
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  headlessWaitIdle();
  if (frameThread != before || (nativePath && frameThread)) firstFrameOfRun = true;
}

void nextFrame() {
  headlessWaitIdle();
  // A new thread's first tick waits only for the clock's first step; later ones 31 ms apart.
  headlessAdvanceClock(firstFrameOfRun ? 0 : framePeriod + 1);
  firstFrameOfRun = false;
}

void runFrames(int count) {
  for (int i = 0; i < count; ++i) nextFrame();
}

void click() {
  PostMessageA(mainWindow, WM_LBUTTONDOWN, 1, (10 << 16) | 10);
  PostMessageA(mainWindow, WM_LBUTTONUP, 0, (10 << 16) | 10);
}

bool playerEnded() {
  return winMainThread && WaitForSingleObject(winMainThread, 0) == WAIT_OBJECT_0;
}

int playerExitCode() {
  return playerEnded() ? exitCode.load() : -1;
}

void stopPlayer() {
  if (winMainThread) {
    if (!playerEnded()) {
      PostMessageA(mainWindow, WM_CLOSE, 0, 0);
      headlessWaitIdle();
    }
    headlessDriveClock(false);
    WaitForSingleObject(winMainThread, INFINITE);
    CloseHandle(winMainThread);
    winMainThread = nullptr;
  }
  headlessReset();
  // Whatever a test left in the slots goes now, so that no test sees another's.
  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  // The virtual screen is never marked loaded and lives until the process ends; the tests run
  // the program many times in one process, so they let it go here.
  if (virtualScreen.imageDC) {
    virtualScreen.loaded = 1;
    releaseImage(&virtualScreen);
    virtualScreen = ImageSlot{};
  }
  releaseSoundSlots();
  freeCommandList(commandList);
  resetProgramState();
}

std::string windowTitleUtf8() {
  char title[256] = {};
  GetWindowTextA(mainWindow, title, sizeof title);
  return cp932ToUtf8(title);
}
