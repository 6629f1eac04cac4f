// The shell as a user meets it: the real WinMain, window procedure and frame thread on the
// headless backend, frame by frame on a driven clock, as torvane-run runs them. Each test starts
// from the process state of a fresh start, with this process's temporary directory as the
// executable's.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "platform/linux/headless.h"
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

// Starts WinMain on a thread of its own, from the shell's and the subsystems' state of a
// process start, and waits until its window is up and idle.
bool startPlayer() {
  headlessReset();
  mainWindow = nullptr, instanceHandle = nullptr, appActive = 1, cleanupDone = 0;
  workingDirectory[0] = scriptPath[0] = '\0';
  frameThread = nullptr, frameThreadStarted = 0, frameStopRequested = false;
  commandList = currentCommand = nullptr;
  runEnabled = 0, scriptFinished = 0, lastCommandIndex = 0;
  resetImageSlots(), resetTextState();
  headlessSetModuleFileName((cp932(base().c_str()) + "/torvane.exe").c_str());
  headlessDriveClock(true);
  exitCode = -1, firstFrameOfRun = false;
  winMainThread = CreateThread(nullptr, 0, runWinMain, nullptr, 0, nullptr);
  headlessWaitIdle();
  return mainWindow != nullptr && !playerEnded();
}

// Ends the player if it still runs and lets go of everything it held.
void stopPlayer() {
  if (winMainThread) {
    if (!playerEnded()) PostMessageA(mainWindow, WM_CLOSE, 0, 0), headlessWaitIdle();
    headlessDriveClock(false);
    WaitForSingleObject(winMainThread, INFINITE);
    CloseHandle(winMainThread);
    winMainThread = nullptr;
  }
  headlessReset();
  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  // The virtual screen lives until the process ends, which here runs the program many times.
  if (virtualScreen.imageDC) virtualScreen.loaded = 1, releaseImage(&virtualScreen);
  virtualScreen = ImageSlot{};
  releaseSoundSlots();
  freeCommandList(commandList);
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
  return utf8FromCp932(text);
}

// Writes into base() a script of the given lines (UTF-8 here, CP932 with CR LF there), the 8x8
// picture red.bmp and the sound s.wav.
void writeScript(const char* name, const std::vector<const char*>& lines) {
  std::string text;
  for (const char* line : lines) text += cp932(line) + "\r\n";
  writeTempFile(name, text);
  writeTempFile("red.bmp", solidBmp(8, 8, RGB(255, 0, 0)));
  writeTempFile("s.wav", wavFile(400));
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(startPlayer()); }
  void TearDown() override {
    stopPlayer();
    EXPECT_EQ(chdir(startDirectory.c_str()), 0);
  }
  std::string startDirectory = currentDirectory();
};

// What the user does: "open" (a.spt, or "open:NAME"), "cancel" (the Open dialog), "click", "f3"
// (three frames), "idle", "inactive", "active", "cd/" (another current directory), "cover"
// (another window draws over the client area), "uncover" (it asks to be painted), "wrap" (the
// clock 70 ms before its wrap), "watch" (title changes are timed from then on); and checks:
// "=TITLE" ("=start" the program's own), "cwd=/" or "cwd=base", "px=COLORREF" (the client area's
// corner), "running" (the program has not ended), "times=..." (the title changes since "wrap").
const struct {
  const char* name;
  std::vector<const char*> script;
  const char* schedule;
} scheduleCases[] = {
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
    // Frames at rest present nothing; a window that lost its picture gets it back when painted.
    {"repaint", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "hello"},
     "open click f4 px=255 cover f3 px=0 uncover f1 px=255"},
    // Frames start 31 ms apart, across the clock's wrap as well.
    {"wrap", {"change_window_caption 1", "change_window_caption 2", "change_window_caption 3",
              "change_window_caption 4", "change_window_caption 5"},
     "wrap open watch click f5 times=0,31,62,93,124,"},
};

std::vector<DWORD> titleTimes;
const DWORD beforeWrap = 0xFFFFFFFFu - 70;

void recordTitleTime(HWND, UINT change) {
  if (change == WM_SETTEXT) titleTimes.push_back(headlessClockNow() - beforeWrap);
}

TEST_F(Shell, FollowsTheUserThroughTheSchedule) {
  mkdir((base() + "/folder.spt").c_str(), 0755);
  for (const auto& c : scheduleCases) {
    SCOPED_TRACE(c.name);
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    writeScript("a.spt", c.script);
    std::istringstream steps(c.schedule);
    for (std::string step; steps >> step;) {
      SCOPED_TRACE(step);
      HDC window = GetDC(mainWindow);
      if (step.rfind("open", 0) == 0) openThroughMenu(step == "open" ? "a.spt" : &step[5]);
      if (step == "cancel") openThroughMenu(nullptr);
      if (step == "click") click();
      if (step[0] == 'f') runFrames(atoi(&step[1]));
      if (step == "idle") headlessWaitIdle();
      if (step == "inactive" || step == "active")
        PostMessageA(mainWindow, WM_ACTIVATEAPP, step == "active", 0);
      if (step == "cd/") SetCurrentDirectoryA("/");
      if (step == "cover") BitBlt(window, 0, 0, 640, 480, nullptr, 0, 0, BLACKNESS);
      if (step == "uncover") InvalidateRect(mainWindow, nullptr, TRUE);
      if (step == "wrap") headlessSetClock(beforeWrap);
      if (step == "watch") titleTimes.clear(), headlessSetWindowObserver(recordTitleTime);
      std::string got = step, expected = step == "=start" ? "=Torvane ver1.03" : step;
      if (step[0] == '=') got = "=" + title();
      if (step.rfind("cwd=", 0) == 0) got = "cwd=" + currentDirectory();
      if (step == "cwd=base") expected = "cwd=" + base();
      if (step.rfind("px=", 0) == 0) got = "px=" + std::to_string(GetPixel(window, 0, 0));
      if (step == "running") got = playerEnded() ? "ended" : step;
      if (step.rfind("times=", 0) == 0) {
        headlessSetWindowObserver(nullptr), got = "times=";
        for (DWORD time : titleTimes) got += std::to_string(time) + ",";
      }
      EXPECT_EQ(got, expected);
      ReleaseDC(mainWindow, window);
    }
  }
}

TEST_F(Shell, ASecondOpenStopsTheRunAndStartsAFreshOne) {
  writeScript("first.spt", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0",
                            "se_load 3 s.wav", "change_window_caption Changed",
                            "change_window_icon missing.ico", "change_window_size 5 6 700 500",
                            "hello"});
  writeScript("second.spt", {});
  HeadlessWindowState state;
  openThroughMenu("first.spt"), click(), runFrames(8);
  headlessWindowState(mainWindow, &state);
  ASSERT_TRUE(imageSlots[0].loaded && soundSlots[3].image && textVisible && title() == "Changed");
  ASSERT_EQ(state.smallIcon, nullptr);  // an icon that cannot be loaded clears it
  ASSERT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(255, 0, 0));

  openThroughMenu("second.spt");
  headlessWindowState(mainWindow, &state);
  for (const ImageSlot& slot : imageSlots) EXPECT_FALSE(slot.loaded || slot.visible);
  for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
  EXPECT_FALSE(textVisible || menuVisible || commandList || runEnabled);
  EXPECT_EQ(title(), "Torvane ver1.03");
  EXPECT_EQ(state.smallIcon, LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(GetPixel(virtualScreen.imageDC, 0, 0), RGB(0, 0, 0));  // a new black screen
  RECT outer;  // the size and place the old script gave stay
  EXPECT_TRUE(GetWindowRect(mainWindow, &outer) && outer.left == 5 && outer.right == 705);
  EXPECT_EQ(std::string(scriptPath), cp932((base() + "/second.spt").c_str()));
}

// Every way of closing: File > Exit, the close box, script_end, a command the compiler rejects,
// and the close box before any script. Each ends WinMain with 0 after one clean-up; each row
// gives the script's line before its last and the caption of the box the close shows (or "").
TEST_F(Shell, EveryWayOfClosingCleansUpOnceAndExitsWithZero) {
  const char* ways[][3] = {{"exit", "waiting", ""}, {"closebox", "waiting", ""},
                           {"script_end", "script_end", "END"},
                           {"compiler", "change_window_size 1 2", captionError},
                           {"unopened", "waiting", ""}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way[0]);
    const std::string name = way[0];
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    writeScript("a.spt", {"bitmap_load 1 red.bmp", "bitmap_show 1 0 0 4 4 0 0 0", "se_load 2 s.wav",
                          "change_window_caption Running", way[1], "waiting"});
    SetCurrentDirectoryA("/");
    if (name != "unopened")
      openThroughMenu("a.spt"), click(), runFrames(name == "compiler" ? 0 : 6);
    if (name == "exit") PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
    if (name == "closebox" || name == "unopened")
      PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    headlessWaitIdle();
    ASSERT_TRUE(playerEnded());
    EXPECT_FALSE(exitCode != 0 || IsWindow(mainWindow) || commandList || cleanupDone != 1);
    EXPECT_EQ(currentDirectory(), base());  // the executable's directory made current at the end
    // A released slot keeps its loaded flag; its handles are gone.
    for (const ImageSlot& slot : imageSlots) EXPECT_EQ(slot.imageDC, nullptr);
    for (const SoundSlot& slot : soundSlots) EXPECT_EQ(slot.image, nullptr);
    std::string captions;
    for (const HeadlessMessageBox& box : headlessMessageBoxes()) captions += box.caption;
    EXPECT_EQ(captions, way[2]);
    SetCurrentDirectoryA("/");  // the clean-up is done once however often it is asked for
    finalCleanup();
    EXPECT_EQ(currentDirectory(), "/");
  }
}

// The frame thread sends its WM_CLOSE (script_end, or the compiler's message on a missing
// argument) and the main thread stops it inside that message: neither hangs nor touches what the
// close let go. Then Opens arrive while frames run freely beside the main thread, of a script
// that ends (the window may close inside the Open's stop, and then nothing may start again) or
// of one that loops with a picture, an animation and a sound: every Open must stop the running
// thread before it releases anything.
TEST_F(Shell, StoppingTheFrameThreadInsideItsOwnCloseOrAnOpenWhileFramesRunFreely) {
  writeScript("end.spt", {"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 4 4 0 0 0", "script_end"});
  writeScript("broken.spt", {"bitmap_load 0 red.bmp", "change_window_size 1"});
  writeScript("loop.spt",
              {"bitmap_load 0 red.bmp", "se_load 0 s.wav", "$top", "bitmap_show 0 0 0 8 8 0 0 1",
               "anim_play 0 0 0 4 4 0 0 1 2 0 0 1", "change_window_caption Loop", "jmp $top"});
  for (int round = 0; round < 1200; ++round) {
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    if (round < 1000) {
      openThroughMenu(round % 2 ? "broken.spt" : "end.spt"), click();
      runFrames(round % 2 ? 0 : 3), headlessWaitIdle();
    } else {
      const char* name = round % 2 ? "loop.spt" : "end.spt";
      headlessDriveClock(false);  // nothing waits for idleness: free frames are never idle
      headlessSetOpenFileResult(cp932((base() + "/" + name).c_str()).c_str());
      for (int i = 0; i < 4; ++i)
        PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0), click(), usleep(50 * (round % 7));
      if (round % 2) PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
    }
    for (int i = 0; i < 20000 && !playerEnded(); ++i) click(), usleep(1000);
    ASSERT_TRUE(playerEnded() && exitCode == 0) << "round " << round;
    for (const ImageSlot& slot : imageSlots) ASSERT_EQ(slot.imageDC, nullptr);
    for (const SoundSlot& slot : soundSlots) ASSERT_EQ(slot.image, nullptr);
  }
}

// A loader that blocks until the test lets it go: the compiler's allocations.
std::atomic<bool> loaderBlocked{false}, loaderReleased{false};
void* blockingAllocate(size_t size) {
  loaderBlocked = true;
  while (!loaderReleased) usleep(1000);
  return malloc(size);
}

template <class Done>
bool within20Seconds(Done done) {  // a stop gives up after a few
  for (int i = 0; i < 2000 && !done(); ++i) usleep(10000);
  return done();
}

// A frame thread stuck in a load does not freeze the window for good: an Open gives up waiting
// for it, says so and starts nothing; closing the window still ends the program. The thread,
// let go at last, ends by itself without a frame.
TEST_F(Shell, AFrameThreadStuckInALoadIsLeftBehindAndTheWindowStaysUsable) {
  writeScript("a.spt", {"first"});
  headlessDriveClock(false);  // a stuck thread never lets the program be idle
  loaderBlocked = loaderReleased = false;
  compilerAllocate = blockingAllocate;
  headlessSetOpenFileResult((base() + "/a.spt").c_str());
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  ASSERT_TRUE(within20Seconds([] { return loaderBlocked.load(); }));
  headlessClearMessageBoxes();
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  bool told = within20Seconds([] { return !headlessMessageBoxes().empty(); });
  PostMessageA(mainWindow, WM_CLOSE, 0, 0);
  bool closed = within20Seconds(playerEnded);
  HANDLE stuck = frameThread;
  loaderReleased = true;
  WaitForSingleObject(stuck, INFINITE), CloseHandle(stuck);
  compilerAllocate = malloc, frameThread = nullptr;
  std::vector<HeadlessMessageBox> boxes = headlessMessageBoxes();
  ASSERT_TRUE(told && boxes.size() == 1) << "the Open waited for the stuck thread with no limit";
  EXPECT_EQ(boxes[0].text + boxes[0].caption, std::string(textStopFailed) + captionError);
  EXPECT_TRUE(closed && exitCode == 0);
  EXPECT_EQ(currentCommand, nullptr) << "the thread left behind ran no frame";
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
