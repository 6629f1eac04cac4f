// The shell as a user meets it: the real WinMain, window procedure and frame thread on the
// headless backend, frame by frame on a driven clock, as torvane-run runs them. Opening,
// re-opening and cancelling, every way of closing, activation, repainting at rest, the frame
// timing at the clock's wrap, the working directory, and the stop of the frame thread inside its
// own WM_CLOSE. Each test starts from the process state of a fresh start, with this process's
// temporary directory as the executable's.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
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

std::string base() {  // the executable's directory, a real path
  char path[PATH_MAX];
  return realpath(tempDirectory().c_str(), path) ? path : "";
}

std::string currentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? path : "";
}

bool playerEnded() {
  return winMainThread && WaitForSingleObject(winMainThread, 0) == WAIT_OBJECT_0;
}

// The globals of the shell and the subsystems back to their process start values.
void resetProgramState() {
  mainWindow = nullptr, instanceHandle = nullptr, appActive = 1, cleanupDone = 0;
  workingDirectory[0] = scriptPath[0] = '\0';
  frameThread = nullptr, frameThreadStarted = 0, frameStopRequested = false;
  commandList = currentCommand = nullptr;
  runEnabled = 0, scriptFinished = 0, lastCommandIndex = 0;
  resetImageSlots();
  resetTextState();
}

// Starts WinMain on a thread of its own and waits until its window is up and idle.
bool startPlayer() {
  headlessReset();
  resetProgramState();
  headlessSetModuleFileName((cp932(base().c_str()) + "/torvane.exe").c_str());
  headlessDriveClock(true);
  exitCode = -1;
  winMainThread = CreateThread(nullptr, 0, runWinMain, nullptr, 0, nullptr);
  headlessWaitIdle();
  firstFrameOfRun = false;
  return mainWindow != nullptr && !playerEnded();
}

// Ends the player if it still runs and lets go of everything it held; safe to call twice.
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

// Chooses a file of base() in File > Open (null: the user cancels) and lets the program settle:
// a new frame thread has compiled its script and waits for its first frame.
void openThroughMenu(const char* name) {
  headlessSetOpenFileResult(name ? cp932((base() + "/" + name).c_str()).c_str() : nullptr);
  HANDLE before = frameThread;
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  headlessWaitIdle();
  firstFrameOfRun = firstFrameOfRun || frameThread != before || (name && frameThread);
}

void runFrames(int count) {
  for (int i = 0; i < count; ++i) {
    headlessWaitIdle();
    // A new thread's first tick waits only for the clock's first step; later ones 31 ms apart.
    headlessAdvanceClock(firstFrameOfRun ? 0 : framePeriod + 1);
    firstFrameOfRun = false;
  }
}

void click() {
  PostMessageA(mainWindow, WM_LBUTTONDOWN, 1, (10 << 16) | 10);
  PostMessageA(mainWindow, WM_LBUTTONUP, 0, (10 << 16) | 10);
}

std::string title() {
  char text[256] = {};
  GetWindowTextA(mainWindow, text, sizeof text);
  return cp932ToUtf8(text);
}

// Writes a file into base(): a script of the given lines (UTF-8 here, CP932 with CR LF there),
// the 8x8 picture red.bmp and the short sound s.wav.
void writeScript(const char* name, const std::vector<const char*>& lines) {
  std::string text;
  for (const char* line : lines) text += cp932(line) + "\r\n";
  writeTempFile(name, text);
  writeTempFile("red.bmp", solidBmp(8, 8, RGB(255, 0, 0)));
  std::string wav = "RIFF";
  putLe(wav, 36 + 400, 4), wav += "WAVEfmt ", putLe(wav, 16, 4), putLe(wav, 1, 2);
  putLe(wav, 1, 2), putLe(wav, 8000, 4), putLe(wav, 8000, 4), putLe(wav, 1, 2), putLe(wav, 8, 2);
  wav += "data", putLe(wav, 400, 4), wav += std::string(400, '\x60');
  writeTempFile("s.wav", wav);
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    startDirectory = currentDirectory();
    ASSERT_TRUE(startPlayer());
  }
  void TearDown() override {
    stopPlayer();
    EXPECT_EQ(chdir(startDirectory.c_str()), 0);
  }
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
  mkdir((base() + "/folder.spt").c_str(), 0755);
  for (const ScheduleCase& c : scheduleCases) {
    SCOPED_TRACE(c.name);
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    writeScript("a.spt", c.script);
    std::istringstream steps(c.schedule);
    for (std::string step; steps >> step;) {
      SCOPED_TRACE(step);
      if (step.rfind("open", 0) == 0) openThroughMenu(step == "open" ? "a.spt" : step.c_str() + 5);
      if (step == "cancel") openThroughMenu(nullptr);
      if (step == "click") click();
      if (step[0] == 'f') runFrames(atoi(step.c_str() + 1));
      if (step == "idle") headlessWaitIdle();
      if (step == "inactive" || step == "active")
        PostMessageA(mainWindow, WM_ACTIVATEAPP, step == "active", 0);
      if (step == "cd/") SetCurrentDirectoryA("/");
      std::string expected = step == "=start" ? "=Torvane ver1.03" : step;
      if (expected[0] == '=') {
        EXPECT_EQ("=" + title(), expected);
      }
      expected = step == "cwd=base" ? "cwd=" + base() : step;
      if (step.rfind("cwd=", 0) == 0) {
        EXPECT_EQ("cwd=" + currentDirectory(), expected);
      }
      if (step == "running") {
        EXPECT_FALSE(playerEnded());
      }
    }
  }
}

HICON smallIcon() {
  HeadlessWindowState state;
  headlessWindowState(mainWindow, &state);
  return state.smallIcon;
}

TEST_F(Shell, ASecondOpenStopsTheRunAndStartsAFreshOne) {
  writeScript("first.spt", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "se_load 3 s.wav",
                            "change_window_caption Changed", "change_window_icon missing.ico",
                            "change_window_size 5 6 700 500", "hello"});
  writeScript("second.spt", {});
  openThroughMenu("first.spt");
  click();
  runFrames(8);
  ASSERT_TRUE(imageSlots[0].loaded && soundSlots[3].image && textVisible);
  ASSERT_EQ(title(), "Changed");
  ASSERT_EQ(smallIcon(), nullptr);  // an icon that cannot be loaded clears it
  ASSERT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(255, 0, 0));

  openThroughMenu("second.spt");
  for (const ImageSlot& slot : imageSlots) EXPECT_FALSE(slot.loaded || slot.visible);
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_FALSE(textVisible || menuVisible || commandList || runEnabled);
  EXPECT_EQ(title(), "Torvane ver1.03");
  EXPECT_EQ(smallIcon(), LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(0, 0, 0));  // a new black screen
  RECT outer;
  GetWindowRect(mainWindow, &outer);  // the size and place the old script gave stay
  EXPECT_EQ(outer.left, 5);
  EXPECT_EQ(outer.right - outer.left, 700);
  EXPECT_EQ(std::string(scriptPath), cp932((base() + "/second.spt").c_str()));
}

TEST_F(Shell, AtRestFramesPresentNothingAndAWindowThatLostItsPictureGetsItBack) {
  writeScript("a.spt", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "hello"});
  openThroughMenu("a.spt");
  click();
  runFrames(4);
  HDC window = GetDC(mainWindow);
  EXPECT_EQ(GetPixel(window, 0, 0), RGB(255, 0, 0));
  // Another window covered the client area and drew there; the story waits for a click.
  BitBlt(window, 0, 0, 640, 480, nullptr, 0, 0, BLACKNESS);
  runFrames(3);
  EXPECT_EQ(GetPixel(window, 0, 0), RGB(0, 0, 0));
  // Uncovered, the window asks to be painted and shows the picture again.
  InvalidateRect(mainWindow, nullptr, TRUE);
  runFrames(1);
  EXPECT_EQ(GetPixel(window, 0, 0), RGB(255, 0, 0));
  ReleaseDC(mainWindow, window);
}

std::vector<DWORD> titleTimes;
void recordTitleTime(HWND, UINT change) {
  if (change == WM_SETTEXT) titleTimes.push_back(headlessClockNow());
}

TEST_F(Shell, FramesStart31MillisecondsApartAcrossTheClocksWrap) {
  writeScript("a.spt", {"change_window_caption 1", "change_window_caption 2", "change_window_caption 3",
                        "change_window_caption 4", "change_window_caption 5"});
  const DWORD start = 0xFFFFFFFFu - 70;
  headlessSetClock(start);
  openThroughMenu("a.spt");
  titleTimes.clear();
  headlessSetWindowObserver(recordTitleTime);
  click();
  runFrames(5);
  headlessSetWindowObserver(nullptr);
  ASSERT_EQ(titleTimes.size(), 5u);
  EXPECT_EQ(titleTimes[0], start);
  for (size_t i = 1; i < titleTimes.size(); ++i) EXPECT_EQ(titleTimes[i] - titleTimes[i - 1], 31u);
}

// Every way of closing: File > Exit, the close box, script_end, a command the compiler rejects,
// and the close box before any script. Each ends WinMain with 0 after one clean-up; the last
// four lines of the script are its end, the box caption the close must show (none: "").
TEST_F(Shell, EveryWayOfClosingCleansUpOnceAndExitsWithZero) {
  const char* ways[][3] = {{"exit", "waiting", ""},
                           {"closebox", "waiting", ""},
                           {"script_end", "script_end", "END"},
                           {"compiler", "change_window_size 1 2", captionError},
                           {"unopened", "waiting", ""}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way[0]);
    std::string name = way[0];
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    writeScript("a.spt", {"bitmap_load 1 red.bmp", "bitmap_show 1 0 0 4 4 0 0 0", "se_load 2 s.wav",
                          "change_window_caption Running", way[1], "waiting"});
    SetCurrentDirectoryA("/");
    if (name != "unopened") {
      openThroughMenu("a.spt");
      click();
      runFrames(name == "compiler" ? 0 : 6);
    }
    if (name == "exit") PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
    if (name == "closebox" || name == "unopened") PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    headlessWaitIdle();
    ASSERT_TRUE(playerEnded());
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(IsWindow(mainWindow) || commandList || cleanupDone != 1);
    EXPECT_EQ(currentDirectory(), base());  // the executable's directory made current at the end
    // A released slot keeps its loaded flag; its handles are gone.
    for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.imageDC, nullptr);
    for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
    std::string captions;
    for (const HeadlessMessageBox& box : headlessMessageBoxes()) captions += box.caption;
    EXPECT_EQ(captions, way[2]);
    // The clean-up is done once however often it is asked for.
    SetCurrentDirectoryA("/");
    finalCleanup();
    EXPECT_EQ(currentDirectory(), "/");
  }
}

// The frame thread sends its WM_CLOSE (script_end, or the compiler's message on a missing
// argument) and the main thread stops it inside that message: neither hangs nor touches what
// the close let go. And an Open arriving meanwhile, frames running freely beside the main
// thread: the window may close inside the Open's stop, and then nothing may start again.
TEST_F(Shell, StoppingInsideTheFrameThreadsOwnCloseNeitherHangsNorTouchesFreedState) {
  writeScript("end.spt", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 4 4 0 0 0", "script_end"});
  writeScript("broken.spt", {"bitmap_load 0 red.bmp", "change_window_size 1"});
  for (int round = 0; round < 1200; ++round) {
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    if (round < 1000) {
      openThroughMenu(round % 2 ? "broken.spt" : "end.spt");
      click();
      runFrames(round % 2 ? 0 : 3);
      headlessWaitIdle();
    } else {
      headlessDriveClock(false);
      headlessSetOpenFileResult(cp932((base() + "/end.spt").c_str()).c_str());
      for (int i = 0; i < 4; ++i) {
        PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
        click();
        usleep(50 * (round % 7));
      }
    }
    for (int i = 0; i < 5000 && !playerEnded(); ++i) click(), usleep(200);
    ASSERT_TRUE(playerEnded()) << "round " << round;
    ASSERT_EQ(exitCode, 0);
    ASSERT_EQ(imageSlots[0].imageDC, nullptr);
  }
}

// The frame thread runs freely (the clock moves whenever it sleeps) while the main thread opens
// script after script: every Open must stop the running thread before it releases anything.
TEST_F(Shell, OpeningAgainAndAgainWhileFramesRunFreely) {
  writeScript("loop.spt", {"bitmap_load 0 red.bmp", "se_load 0 s.wav", "$top",
                           "bitmap_show 0 0 0 8 8 0 0 1", "anim_play 0 0 0 4 4 0 0 1 2 0 0 1",
                           "change_window_caption Loop", "jmp $top"});
  // Nothing here waits for idleness: a freely running frame thread is never idle.
  headlessDriveClock(false);
  headlessSetOpenFileResult(cp932((base() + "/loop.spt").c_str()).c_str());
  for (int round = 0; round < 60; ++round) {
    PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
    for (int i = 0; i < 5; ++i) click();
    usleep(300);
  }
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
  for (int i = 0; i < 5000 && !playerEnded(); ++i) usleep(1000);
  ASSERT_TRUE(playerEnded());
  EXPECT_EQ(exitCode, 0);
  for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.imageDC, nullptr);
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
}

// A loader that blocks until the test lets it go: the compiler's allocations.
std::atomic<bool> loaderBlocked{false}, loaderReleased{false};
void* blockingAllocate(size_t size) {
  loaderBlocked = true;
  while (!loaderReleased) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return malloc(size);
}

// Polls for up to 20 s (a stop gives up after a few).
bool within20Seconds(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// A frame thread stuck in a load does not freeze the window for good: an Open gives up waiting
// for it, says so and starts nothing; closing the window still ends the program. The thread,
// let go at last, ends by itself without a frame.
TEST_F(Shell, AFrameThreadStuckInALoadIsLeftBehindAndTheWindowStaysUsable) {
  writeScript("a.spt", {"first"});
  writeScript("b.spt", {"second"});
  std::string first = base() + "/a.spt", second = base() + "/b.spt";
  headlessDriveClock(false);  // a stuck thread never lets the program be idle
  loaderBlocked = loaderReleased = false;
  compilerAllocate = blockingAllocate;
  headlessSetOpenFileResult(first.c_str());
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  ASSERT_TRUE(within20Seconds([] { return loaderBlocked.load(); }));
  headlessClearMessageBoxes();
  headlessSetOpenFileResult(second.c_str());
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  bool told = within20Seconds([] { return !headlessMessageBoxes().empty(); });
  PostMessageA(mainWindow, WM_CLOSE, 0, 0);
  bool closed = within20Seconds(playerEnded);
  HANDLE stuck = frameThread;
  loaderReleased = true;
  WaitForSingleObject(stuck, INFINITE);
  compilerAllocate = malloc;
  ASSERT_TRUE(told) << "the Open waited for the stuck thread with no limit";
  std::vector<HeadlessMessageBox> boxes = headlessMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, textStopFailed);
  EXPECT_EQ(boxes[0].caption, captionError);
  ASSERT_TRUE(closed);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(currentCommand, nullptr) << "the thread left behind ran no frame";
  CloseHandle(stuck);
  frameThread = nullptr;
}

TEST(WorkingDirectory, EndsAtTheLastSeparatorCountingWholeCharacters) {
  std::string fits = "C:\\" + std::string(246, 'a') + "\\x.exe";  // 255 bytes fit with the zero
  std::string fitsDirectory = fits.substr(0, 250), tooLong = fits + "e";
  const char* cases[][2] = {
      {"D:\\stories\\player.exe", "D:\\stories\\"},
      {"C:\\player.exe", "C:\\"},
      {"C:\\dir\\\x95\x5C.exe", "C:\\dir\\"},                  // 表.exe: its trail byte is 0x5C
      {"C:\\\x83\x5C\\x\\\x83\x5C.exe", "C:\\\x83\x5C\\x\\"},  // ソ as a folder and a name
      {"/home/user/torvane", "/home/user/"},
      {"player.exe", ""},
      {fits.c_str(), fitsDirectory.c_str()},
      {tooLong.c_str(), ""},  // cut short: no directory is made of it
  };
  for (const auto& c : cases) {
    headlessSetModuleFileName(c[0]);
    EXPECT_STREQ(makeWorkingDirectory(), c[1]) << c[0];
    EXPECT_EQ(workingDirectory[pathBufferSize - 1], '\0');
  }
  std::string before = currentDirectory();
  EXPECT_FALSE(SetCurrentDirectoryA(makeWorkingDirectory()));
  EXPECT_EQ(currentDirectory(), before);
  headlessSetModuleFileName(nullptr);
}

}  // namespace
