// The shell as a user meets it: the real WinMain, window procedure and frame thread on the
// headless backend, frame by frame on a driven clock, as torvane-run runs them. Opening,
// re-opening and cancelling, every way of closing, activation, repainting at rest, the frame
// timing at the clock's wrap, the working directory, and the stop of the frame thread inside its
// own WM_CLOSE. Each test gets the process state of a fresh start and a base directory of its own
// as the executable's directory.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "presentation/presentation.h"
#include "resources/menu.h"
#include "resources/texts.h"
#include "shell/shell.h"
#include "sound/sound.h"
#include "support/test_support.h"

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

bool playerEnded();

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


std::string scriptText(const std::vector<const char*>& lines) {
  std::string text;
  for (const char* line : lines) text += cp932(line) + "\r\n";
  return text;
}

// value as count little-endian bytes.
std::string le(uint32_t value, int count = 4) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += (char)(value >> (8 * i));
  return bytes;
}

// A short 8-bit mono PCM WAV at 8000 Hz.
std::string shortWav() {
  std::string samples;
  for (int i = 0; i < 400; ++i) samples += (char)(i % 2 ? 0xA0 : 0x60);
  return "RIFF" + le(36 + samples.size()) + "WAVEfmt " + le(16) + le(1, 2) + le(1, 2) + le(8000) +
         le(8000) + le(1, 2) + le(8, 2) + "data" + le(samples.size()) + samples;
}

std::string currentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? path : "";
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    base = tempDirectory() + "/run" + std::to_string(++serial);
    mkdir(base.c_str(), 0755);
    char resolved[PATH_MAX];
    ASSERT_TRUE(realpath(base.c_str(), resolved));
    base = resolved;
    startDirectory = currentDirectory();
    ASSERT_TRUE(startPlayer(base));
  }
  void TearDown() override {
    stopPlayer();
    chdir(startDirectory.c_str());
  }
  std::string write(const char* name, const std::string& bytes) {
    std::string path = base + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
  }
  HICON smallIcon() {
    HeadlessWindowState state;
    headlessWindowState(mainWindow, &state);
    return state.smallIcon;
  }

  std::string base;
  std::string startDirectory;
};

// A schedule of what the user does, with checks between: "open" (a.spt, or "open:NAME"),
// "cancel" (the Open dialog), "click", "f3" (three frames), "idle", "inactive", "active", "cd/"
// (another current directory), "=TITLE" ("=start" the program's own), "cwd=/" or "cwd=base",
// "running" (the program has not ended).
struct ScheduleCase {
  const char* name;
  std::vector<const char*> script;
  const char* schedule;
};

const ScheduleCase scheduleCases[] = {
    {"start", {}, "=start cwd=base"},
    // A click before the run does not count, one after the Open does; the run a click enabled
    // does not carry over to a new run, and a click between the Open and the first tick counts.
    {"clicks", {"change_window_caption First", "change_window_caption Second"},
     "click idle open f3 =start click f1 =First f1 =Second open f3 =start click f1 =First"},
    // A cancelled Open changes nothing, not even the current directory, and the script goes on.
    {"cancel", {"change_window_caption One", "wait here", "change_window_caption Two"},
     "open click f3 =One cd/ cancel cwd=/ click f2 =Two"},
    // A script that cannot be read (a directory) still starts a run, over an empty list.
    {"unreadable", {"change_window_caption Old"},
     "open click f2 =Old open:folder.spt =start click f5 =start running"},
    // Inactive frames run no work; the script resumes where it stood.
    {"inactive", {"change_window_caption A", "change_window_caption B", "change_window_caption C"},
     "open click f1 =A inactive f6 =A active f1 =B f1 =C"},
};

TEST_F(Shell, FollowsTheUserThroughTheSchedule) {
  mkdir((base + "/folder.spt").c_str(), 0755);
  for (const ScheduleCase& c : scheduleCases) {
    SCOPED_TRACE(c.name);
    stopPlayer();
    ASSERT_TRUE(startPlayer(base));
    std::string script = write("a.spt", scriptText(c.script));
    std::istringstream steps(c.schedule);
    for (std::string step; steps >> step;) {
      SCOPED_TRACE(step);
      if (step == "open") openThroughMenu(script.c_str());
      if (step.rfind("open:", 0) == 0) openThroughMenu((base + "/" + step.substr(5)).c_str());
      if (step == "cancel") openThroughMenu(nullptr);
      if (step == "click") click();
      if (step[0] == 'f') runFrames(atoi(step.c_str() + 1));
      if (step == "idle") headlessWaitIdle();
      if (step == "inactive" || step == "active")
        PostMessageA(mainWindow, WM_ACTIVATEAPP, step == "active", 0);
      if (step == "cd/") SetCurrentDirectoryA("/");
      std::string title = step == "=start" ? "=Torvane ver1.03" : step;
      if (title[0] == '=') {
        EXPECT_EQ("=" + windowTitleUtf8(), title);
      }
      std::string directory = step == "cwd=base" ? "cwd=" + base : step;
      if (step.rfind("cwd=", 0) == 0) {
        EXPECT_EQ("cwd=" + currentDirectory(), directory);
      }
      if (step == "running") {
        EXPECT_FALSE(playerEnded());
      }
    }
  }
}

TEST_F(Shell, ASecondOpenStopsTheRunAndStartsAFreshOne) {
  write("red.bmp", solidBmp(8, 8, RGB(255, 0, 0)));
  write("s.wav", shortWav());
  std::string first = write("first.spt", scriptText({
                                             "bitmap_load 0 red.bmp",
                                             "bitmap_show 0 0 0 8 8 0 0 0",
                                             "se_load 3 s.wav",
                                             "change_window_caption Changed",
                                             "change_window_icon missing.ico",
                                             "change_window_size 5 6 700 500",
                                             "hello",
                                         }));
  std::string second = write("second.spt", "");
  openThroughMenu(first.c_str());
  click();
  runFrames(8);
  ASSERT_EQ(imageSlots[0].loaded, 1);
  ASSERT_NE(soundSlots[3].image, nullptr);
  ASSERT_EQ(textVisible, 1);
  ASSERT_EQ(windowTitleUtf8(), "Changed");
  ASSERT_EQ(smallIcon(), nullptr);  // an icon that cannot be loaded clears it
  ASSERT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(255, 0, 0));

  openThroughMenu(second.c_str());
  for (const ImageSlot& slot : imageSlots) {
    EXPECT_EQ(slot.loaded, 0);
    EXPECT_EQ(slot.visible, 0);
  }
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_EQ(textVisible, 0);
  EXPECT_EQ(menuVisible, 0);
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(runEnabled, 0);
  EXPECT_EQ(windowTitleUtf8(), "Torvane ver1.03");
  EXPECT_EQ(smallIcon(), LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(0, 0, 0));  // a new black screen
  RECT outer;
  GetWindowRect(mainWindow, &outer);  // the size and place the old script gave stay
  EXPECT_EQ(outer.left, 5);
  EXPECT_EQ(outer.right - outer.left, 700);
  EXPECT_EQ(std::string(scriptPath).substr(std::string(scriptPath).size() - 10), "second.spt");
}

TEST_F(Shell, AtRestFramesPresentNothingAndAWindowThatLostItsPictureGetsItBack) {
  write("red.bmp", solidBmp(8, 8, RGB(255, 0, 0)));
  std::string path =
      write("a.spt", scriptText({"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "hello"}));
  openThroughMenu(path.c_str());
  click();
  runFrames(4);
  HDC window = GetDC(mainWindow);
  ASSERT_EQ(GetPixel(window, 0, 0), RGB(255, 0, 0));
  // Another window covered the client area and drew there; the story waits for a click.
  BitBlt(window, 0, 0, 640, 480, nullptr, 0, 0, BLACKNESS);
  runFrames(3);
  EXPECT_EQ(GetPixel(window, 0, 0), RGB(0, 0, 0));
  // Uncovered, the window asks to be painted and shows the picture again.
  InvalidateRect(mainWindow, nullptr, TRUE);
  nextFrame();
  EXPECT_EQ(GetPixel(window, 0, 0), RGB(255, 0, 0));
  ReleaseDC(mainWindow, window);
}

std::vector<DWORD> titleTimes;
void recordTitleTime(HWND, UINT change) {
  if (change == WM_SETTEXT) titleTimes.push_back(headlessClockNow());
}

TEST_F(Shell, FramesStart31MillisecondsApartAcrossTheClocksWrap) {
  std::string path = write(
      "a.spt",
      scriptText({"change_window_caption 1", "change_window_caption 2", "change_window_caption 3",
                  "change_window_caption 4", "change_window_caption 5"}));
  const DWORD start = 0xFFFFFFFFu - 70;
  headlessSetClock(start);
  openThroughMenu(path.c_str());
  titleTimes.clear();
  headlessSetWindowObserver(recordTitleTime);
  click();
  runFrames(5);
  headlessSetWindowObserver(nullptr);
  ASSERT_EQ(titleTimes.size(), 5u);
  EXPECT_EQ(titleTimes[0], start);
  for (size_t i = 1; i < titleTimes.size(); ++i) EXPECT_EQ(titleTimes[i] - titleTimes[i - 1], 31u);
  EXPECT_LT(titleTimes.back(), start);  // the clock went past 0 on the way
}

enum class CloseWay { fileExit, closeBox, scriptEnd, missingArgument, beforeAnyScript };

class ShellClosing : public Shell, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(ShellClosing, CleansUpOnceAndExitsWithZero) {
  write("red.bmp", solidBmp(4, 4, RGB(255, 0, 0)));
  write("s.wav", shortWav());
  std::vector<const char*> lines = {"bitmap_load 1 red.bmp", "bitmap_show 1 0 0 4 4 0 0 0",
                                    "se_load 2 s.wav", "change_window_caption Running"};
  CloseWay way = GetParam();
  if (way == CloseWay::scriptEnd) lines.push_back("script_end");
  if (way == CloseWay::missingArgument) lines.push_back("change_window_size 1 2");
  lines.push_back("waiting");
  std::string path = write("a.spt", scriptText(lines));
  headlessClearMessageBoxes();
  SetCurrentDirectoryA("/");

  if (way != CloseWay::beforeAnyScript) {
    openThroughMenu(path.c_str());
    click();
    runFrames(way == CloseWay::missingArgument ? 0 : 6);
  }
  if (way == CloseWay::fileExit) PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
  if (way == CloseWay::closeBox || way == CloseWay::beforeAnyScript)
    PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
  headlessWaitIdle();

  ASSERT_TRUE(playerEnded());
  EXPECT_EQ(playerExitCode(), 0);
  EXPECT_FALSE(IsWindow(mainWindow));
  EXPECT_EQ(cleanupDone, 1);
  EXPECT_EQ(currentDirectory(), base);  // the executable's directory made current at the end
  // A released slot keeps its loaded flag; its handles are gone.
  for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.imageDC, nullptr);
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_EQ(commandList, nullptr);
  std::vector<HeadlessMessageBox> boxes = headlessMessageBoxes();
  if (way == CloseWay::scriptEnd) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "END");
    EXPECT_EQ(boxes[0].text, textScriptEnded);
  } else if (way == CloseWay::missingArgument) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, captionError);
  } else {
    EXPECT_TRUE(boxes.empty());
  }
  // The clean-up is done once however often it is asked for.
  SetCurrentDirectoryA("/");
  finalCleanup();
  EXPECT_EQ(currentDirectory(), "/");
}

INSTANTIATE_TEST_SUITE_P(EveryWay, ShellClosing,
                         ::testing::Values(CloseWay::fileExit, CloseWay::closeBox,
                                           CloseWay::scriptEnd, CloseWay::missingArgument,
                                           CloseWay::beforeAnyScript));

TEST_F(Shell, StoppingInsideTheFrameThreadsOwnCloseNeitherHangsNorTouchesFreedState) {
  write("red.bmp", solidBmp(4, 4, RGB(0, 0, 255)));
  std::string ending =
      write("end.spt",
            scriptText({"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 4 4 0 0 0", "script_end"}));
  std::string broken =
      write("broken.spt", scriptText({"bitmap_load 0 red.bmp", "change_window_size 1"}));
  stopPlayer();
  for (int round = 0; round < 1000; ++round) {
    ASSERT_TRUE(startPlayer(base));
    openThroughMenu(round % 2 ? broken.c_str() : ending.c_str());
    click();
    runFrames(round % 2 ? 0 : 3);
    headlessWaitIdle();
    ASSERT_TRUE(playerEnded()) << "round " << round;
    ASSERT_EQ(playerExitCode(), 0);
    ASSERT_EQ(imageSlots[0].imageDC, nullptr);
    stopPlayer();
  }
}

// The frame thread runs freely (the clock moves whenever it sleeps) while the main thread opens
// script after script: every Open must stop the running thread before it releases anything.
TEST_F(Shell, OpeningAgainAndAgainWhileFramesRunFreely) {
  write("red.bmp", solidBmp(16, 16, RGB(255, 0, 0)));
  write("s.wav", shortWav());
  std::string looping = write("loop.spt", scriptText({
                                              "bitmap_load 0 red.bmp",
                                              "se_load 0 s.wav",
                                              "$top",
                                              "bitmap_show 0 0 0 16 16 0 0 1",
                                              "anim_play 0 0 0 8 8 0 0 1 2 0 0 1",
                                              "change_window_caption Loop",
                                              "jmp $top",
                                          }));
  // Nothing here waits for idleness: a freely running frame thread is never idle.
  headlessDriveClock(false);
  headlessSetOpenFileResult(looping.c_str());  // base is a real path already
  for (int round = 0; round < 60; ++round) {
    PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
    for (int i = 0; i < 5; ++i) click();
    usleep(300);
  }
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
  for (int i = 0; i < 5000 && !playerEnded(); ++i) usleep(1000);
  ASSERT_TRUE(playerEnded());
  EXPECT_EQ(playerExitCode(), 0);
  for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.imageDC, nullptr);
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
}

// An Open that arrives while the frame thread's WM_CLOSE at the end of the script is being sent:
// the window may close inside the Open's stop, and then nothing may start again.
TEST_F(Shell, AnOpenRacingTheEndOfTheScriptLeavesNothingRunning) {
  std::string ending = write("end.spt", scriptText({"script_end"}));
  stopPlayer();
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(startPlayer(base));
    headlessDriveClock(false);  // frames run freely, beside the main thread
    headlessSetOpenFileResult(ending.c_str());
    PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
    for (int i = 0; i < 3; ++i) {
      click();
      usleep(50 * (round % 7));
      PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
    }
    for (int i = 0; i < 5000 && !playerEnded(); ++i) {
      click();
      usleep(200);
    }
    ASSERT_TRUE(playerEnded()) << "round " << round;
    ASSERT_EQ(playerExitCode(), 0);
    stopPlayer();
  }
}

TEST(WorkingDirectory, EndsAtTheLastSeparatorCountingWholeCharacters) {
  struct Case {
    const char* module;
    const char* expected;
  } cases[] = {
      {"D:\\stories\\player.exe", "D:\\stories\\"},
      {"C:\\player.exe", "C:\\"},
      {"C:\\dir\\\x95\x5C.exe", "C:\\dir\\"},                  // 表.exe: its trail byte is 0x5C
      {"C:\\\x83\x5C\\x\\\x83\x5C.exe", "C:\\\x83\x5C\\x\\"},  // ソ as a folder and a name
      {"/home/user/torvane", "/home/user/"},
      {"player.exe", ""},
  };
  for (const Case& c : cases) {
    headlessSetModuleFileName(c.module);
    EXPECT_STREQ(makeWorkingDirectory(), c.expected) << c.module;
    EXPECT_EQ(workingDirectory[pathBufferSize - 1], '\0');
  }
  // 255 bytes fit with their zero; 256 do not, and then no directory is made of the cut path.
  std::string fits = "C:\\" + std::string(246, 'a') + "\\x.exe";
  ASSERT_EQ(fits.size(), 255u);
  headlessSetModuleFileName(fits.c_str());
  EXPECT_EQ(std::string(makeWorkingDirectory()), fits.substr(0, 250));
  std::string tooLong = fits + "e";
  headlessSetModuleFileName(tooLong.c_str());
  EXPECT_STREQ(makeWorkingDirectory(), "");
  std::string before = currentDirectory();
  EXPECT_FALSE(SetCurrentDirectoryA(makeWorkingDirectory()));
  EXPECT_EQ(currentDirectory(), before);
  headlessSetModuleFileName(nullptr);
}

}  // namespace
