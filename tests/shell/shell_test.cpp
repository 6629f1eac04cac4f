// The shell as a user meets it: the real WinMain, window procedure and frame thread on the
// headless backend, frame by frame on a driven clock, from the state of a fresh start each time.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

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

std::string currentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? path : "";
}

std::string base() {  // the executable's directory, a real path
  char path[PATH_MAX];
  return realpath(tempDirectory().c_str(), path) ? path : "";
}

bool playerEnded() {
  return WaitForSingleObject(winMainThread, 0) == WAIT_OBJECT_0;
}

// Starts WinMain on a thread of its own from the state of a process start; waits until idle.
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
  winMainThread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        static char commandLine[] = "";
        return exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
      },
      nullptr, 0, nullptr);
  headlessWaitIdle();
  return mainWindow != nullptr && !playerEnded();
}

void stopPlayer() {  // ends the player if it still runs and lets go of everything it held
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

// Chooses a file of base() in File > Open (null: the user cancels) and lets the program settle.
void openThroughMenu(const char* name) {
  headlessSetOpenFileResult(name ? cp932((base() + "/" + name).c_str()).c_str() : nullptr);
  HANDLE before = frameThread;
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  headlessWaitIdle();
  firstFrameOfRun = firstFrameOfRun || frameThread != before || (name && frameThread);
}

void runFrames(int count) {  // a new thread's first tick waits only for the clock's first step
  for (int i = 0; i < count; ++i, firstFrameOfRun = false)
    headlessWaitIdle(), headlessAdvanceClock(firstFrameOfRun ? 0 : framePeriod + 1);
}

bool allReleased() {  // no slot holds a picture or a sound
  for (const ImageSlot& slot : imageSlots)
    if (slot.imageDC) return false;
  for (const SoundSlot& slot : soundSlots)
    if (slot.image) return false;
  return true;
}

// Steps: "open" (a.spt, or "open:NAME"), "cancel" (the Open dialog), "click", "f3" (three
// frames), "idle", "inactive", "active", "cd/", "cover" (another window draws over the client
// area), "uncover" (it asks to be painted), "wrap" (the clock 70 ms before its wrap), "watch"
// (title changes timed from then on), "exit" (File > Exit), "closebox", "restart". Checks:
// "=TITLE" ("=start": the program's), "cwd=", "px=" (the client area's corner), "running",
// "times=" (title changes since "wrap"), "fresh" (nothing loaded, no text, the standard icon),
// "left=5" (the window's), "closed=CAPTIONS" (WinMain returned 0 after one whole clean-up that
// made the executable's directory current, with message boxes of these captions).
const struct {
  std::vector<const char*> script;
  const char* schedule;
} scheduleCases[] = {
    {{}, "=start cwd=base"},
    // A click counts only after the Open, also before the first tick; a run does not carry over.
    // Inactive frames run no work, and a cancelled Open changes nothing, not even the current
    // directory: the script resumes where it stood.
    {{"change_window_caption A", "change_window_caption B", "wait here", "change_window_caption C"},
     "click idle open f3 =start click f1 =A inactive f6 =A active f1 =B f1 cd/ cancel cwd=/ click "
     "f2 =C open f3 =start click f1 =A"},
    // Frames at rest present nothing; a window that lost its picture gets it back when painted.
    {{"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "hello"},
     "open click f4 px=255 cover f3 px=0 uncover f1 px=255"},
    // A second Open starts afresh on a black screen; the window keeps its size and place. A
    // script that cannot be read (a directory) still starts a run, over an empty list.
    {{"bitmap_load 0 red.bmp", "bitmap_show 0 0 0 8 8 0 0 0", "se_load 3 s.wav",
      "change_window_caption Changed", "change_window_icon missing.ico",
      "change_window_size 5 6 700 500", "hello"},
     "open click f8 =Changed px=255 open:folder.spt fresh =start f1 px=0 left=5 click f5 running"},
    {{"change_window_caption 1", "change_window_caption 2", "change_window_caption 3",
      "change_window_caption 4", "change_window_caption 5"},
     "wrap open watch click f5 times=0,31,62,93,124,"},
    {{"bitmap_load 1 red.bmp", "bitmap_show 1 0 0 4 4 0 0 0", "se_load 2 s.wav", "waiting"},
     "cd/ open click f6 exit closed= restart cd/ open click f6 closebox closed= restart cd/ "
     "closebox closed="},
    {{"bitmap_load 1 red.bmp", "se_load 2 s.wav", "script_end"}, "cd/ open click f6 closed=END"},
    {{"bitmap_load 1 red.bmp", "change_window_size 1 2"}, "cd/ open click closed=error"},
};

std::vector<DWORD> titleTimes;
constexpr DWORD beforeWrap = 0xFFFFFFFFu - 70;

TEST(Shell, FollowsTheUserThroughTheSchedule) {
  mkdir((base() + "/folder.spt").c_str(), 0755);
  writeTempFile("red.bmp", solidBmp(8, 8, RGB(255, 0, 0))), writeTempFile("s.wav", wavFile(400));
  for (const auto& c : scheduleCases) {
    std::string script;  // in CP932
    for (const char* line : c.script) script += cp932(line) + "\r\n";
    writeTempFile("a.spt", script);
    stopPlayer();
    ASSERT_TRUE(startPlayer());
    std::istringstream steps(c.schedule);
    for (std::string step; steps >> step;) {
      SCOPED_TRACE(c.schedule);
      HDC window = GetDC(mainWindow);
      HeadlessWindowState state;
      headlessWindowState(mainWindow, &state);
      if (step.rfind("open", 0) == 0) openThroughMenu(step == "open" ? "a.spt" : &step[5]);
      if (step == "cancel") openThroughMenu(nullptr);
      if (step == "click")
        for (UINT button : {WM_LBUTTONDOWN, WM_LBUTTONUP}) PostMessageA(mainWindow, button, 0, 0);
      if (step[0] == 'f' && step != "fresh") runFrames(atoi(&step[1]));
      if (step == "idle") headlessWaitIdle();
      if (step == "inactive" || step == "active")
        PostMessageA(mainWindow, WM_ACTIVATEAPP, step == "active", 0);
      if (step == "cd/") SetCurrentDirectoryA("/");
      if (step == "cover") BitBlt(window, 0, 0, 640, 480, nullptr, 0, 0, BLACKNESS);
      if (step == "uncover") InvalidateRect(mainWindow, nullptr, TRUE);
      if (step == "wrap") headlessSetClock(beforeWrap);
      if (step == "watch")
        titleTimes.clear(), headlessSetWindowObserver([](HWND, UINT change) {
          if (change == WM_SETTEXT) titleTimes.push_back(headlessClockNow() - beforeWrap);
        });
      if (step == "exit") PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
      if (step == "closebox") PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
      if (step == "restart") stopPlayer(), startPlayer();
      std::string got = step, expected = step == "=start" ? "=Torvane ver1.03" : step;
      if (step[0] == '=') got = "=" + utf8FromCp932(state.title);
      if (step.rfind("cwd=", 0) == 0) got = "cwd=" + currentDirectory();
      if (step == "cwd=base") expected = "cwd=" + base();
      if (step.rfind("px=", 0) == 0) got = "px=" + std::to_string(GetPixel(window, 0, 0));
      if (step == "running" && playerEnded()) got = "ended";
      if (step == "left=5") got = "left=" + std::to_string(state.outer.left);
      if (step == "fresh" && (!allReleased() || textVisible || commandList || runEnabled ||
                              state.smallIcon != LoadIconA(nullptr, IDI_APPLICATION)))
        got = "stale";
      if (step.rfind("closed=", 0) == 0) {
        headlessWaitIdle();
        bool clean = playerEnded() && exitCode == 0 && !IsWindow(mainWindow) && !commandList &&
                     cleanupDone == 1 && currentDirectory() == base() && allReleased();
        std::string captions;
        for (const HeadlessMessageBox& box : headlessMessageBoxes()) captions += box.caption;
        SetCurrentDirectoryA("/"), finalCleanup();  // done once however often it is asked for
        got = (clean && currentDirectory() == "/" ? "closed=" : "unclean=") +
              (captions == captionError ? "error" : captions);
      }
      if (step.rfind("times=", 0) == 0) {
        headlessSetWindowObserver(nullptr), got = "times=";
        for (DWORD time : titleTimes) got += std::to_string(time) + ",";
      }
      EXPECT_EQ(got, expected) << step;
      ReleaseDC(mainWindow, window);
    }
  }
  stopPlayer();
}

std::atomic<bool> loaderBlocked{false}, loaderReleased{false};
void* blockingAllocate(size_t size) {  // a compiler whose load hangs until the test lets it go
  loaderBlocked = true;
  while (!loaderReleased) usleep(1000);
  return malloc(size);
}

template <class Done>
bool within20Seconds(Done done) {  // a stop gives up after a few
  for (int i = 0; i < 2000 && !done(); ++i) usleep(10000);
  return done();
}

// A frame thread stuck in a load does not freeze the window: an Open gives up waiting for it,
// says so and starts nothing; closing still ends the program; the thread, let go, runs no frame.
TEST(Shell, AFrameThreadStuckInALoadIsLeftBehind) {
  writeTempFile("a.spt", "first\r\n");
  ASSERT_TRUE(startPlayer());
  headlessDriveClock(false);  // a stuck thread never lets the program be idle
  loaderBlocked = loaderReleased = false;
  compilerAllocate = blockingAllocate;
  headlessSetOpenFileResult(cp932((base() + "/a.spt").c_str()).c_str());
  PostMessageA(mainWindow, WM_COMMAND, IDM_FILE_OPEN, 0);
  ASSERT_TRUE(within20Seconds([] { return loaderBlocked.load(); }));
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
  EXPECT_TRUE(closed && exitCode == 0 && currentCommand == nullptr);
  stopPlayer();
}

TEST(WorkingDirectory, EndsAtTheLastSeparatorCountingWholeCharacters) {
  std::string fits = "C:\\" + std::string(246, 'a') + "\\x.exe";  // 255 bytes fit with the zero
  std::string fitsDirectory = fits.substr(0, 250), tooLong = fits + "e";
  const char* cases[][2] = {
      {"C:\\dir\\\x95\x5C.exe", "C:\\dir\\"},                  // 表.exe: its trail byte is 0x5C
      {"C:\\\x83\x5C\\x\\\x83\x5C.exe", "C:\\\x83\x5C\\x\\"},  // ソ as a folder and a name
      {"/home/user/torvane", "/home/user/"},
      {"player.exe", ""},
      {fits.c_str(), fitsDirectory.c_str()},
      {tooLong.c_str(), ""},  // too long: no directory
  };
  for (const auto& c : cases) {
    headlessSetModuleFileName(c[0]);
    EXPECT_STREQ(makeWorkingDirectory(), c[1]) << c[0];
    EXPECT_EQ(workingDirectory[pathBufferSize - 1], '\0');
  }
  headlessSetModuleFileName(nullptr);
}

}  // namespace
