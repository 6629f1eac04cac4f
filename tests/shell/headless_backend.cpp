// The headless window backend and the kernel calls, as the player relies on them: window
// records and their geometry, messages within and across threads, dialogs, the virtual and the
// real clock.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"
#include "support/test_support.h"

namespace {

std::vector<UINT> seen;  // messages the test procedure got, on whichever thread
std::atomic<DWORD> procedureThread{0};

LRESULT CALLBACK testProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  procedureThread = GetCurrentThreadId();
  if (message == WM_USER) return (LRESULT)(wParam + 1);
  if (message != WM_PAINT) seen.push_back(message);
  if (message == WM_DESTROY) PostQuitMessage(7);
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow(bool withMenu, WNDPROC procedure = testProcedure) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = procedure;
  windowClass.lpszClassName = procedure != testProcedure ? "Other"
                              : withMenu                 ? "WithMenu"
                                                         : "NoMenu";
  windowClass.lpszMenuName = withMenu ? "Menu" : nullptr;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, windowClass.lpszClassName, "title", 0x00CA0000, CW_USEDEFAULT,
                         CW_USEDEFAULT, 640, 480, nullptr, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
}

class HeadlessBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    headlessReset();
    seen.clear();
  }
  void TearDown() override { headlessReset(); }
};

TEST_F(HeadlessBackend, WindowGeometryFollowsTheFixedNonClientMetrics) {
  HWND window = makeWindow(true);
  ASSERT_NE(window, nullptr);
  RECT client, outer;
  ASSERT_TRUE(GetClientRect(window, &client));
  ASSERT_TRUE(GetWindowRect(window, &outer));
  EXPECT_EQ(client.right, 640 - 2 * headlessFrameWidth);
  EXPECT_EQ(client.bottom,
            480 - 2 * headlessFrameWidth - headlessCaptionHeight - headlessMenuHeight);
  EXPECT_EQ(outer.right - outer.left, 640);

  POINT point = {10, 20};
  ASSERT_TRUE(ClientToScreen(window, &point));
  EXPECT_EQ(point.x, outer.left + headlessFrameWidth + 10);
  EXPECT_EQ(point.y,
            outer.top + headlessFrameWidth + headlessCaptionHeight + headlessMenuHeight + 20);
  ASSERT_TRUE(ScreenToClient(window, &point));
  EXPECT_EQ(point.x, 10);
  EXPECT_EQ(point.y, 20);

  // Moving resizes the client surface the GDI draws into.
  ASSERT_TRUE(MoveWindow(window, 5, 6, 800, 600, TRUE));
  PixelView pixels;
  ASSERT_TRUE(lockWindowSurface(window, &pixels));
  EXPECT_EQ(pixels.width, 800 - 2 * headlessFrameWidth);
  EXPECT_EQ(pixels.height,
            600 - 2 * headlessFrameWidth - headlessCaptionHeight - headlessMenuHeight);
  unlockWindowSurface(window, false);
  HeadlessWindowState state;
  ASSERT_TRUE(headlessWindowState(window, &state));
  EXPECT_EQ(state.outer.left, 5);
  EXPECT_EQ(state.outer.bottom, 606);

  HWND plain = makeWindow(false);
  ASSERT_TRUE(GetClientRect(plain, &client));
  EXPECT_EQ(client.bottom, 480 - 2 * headlessFrameWidth - headlessCaptionHeight);
  EXPECT_EQ(GetWindowLongA(plain, GWL_HINSTANCE), (LONG)(intptr_t)GetModuleHandleA(nullptr));

  // As on Windows, a class registers once and a window needs a registered class.
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = testProcedure;
  windowClass.lpszClassName = "NOMENU";  // names compare without regard to case
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(GetLastError(), 1410u);
  EXPECT_EQ(CreateWindowExA(0, "Unknown", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), 1407u);
  windowClass.lpszClassName = "ByAtom";
  ATOM atom = RegisterClassA(&windowClass);
  EXPECT_GE(atom, 0xC000);
  EXPECT_NE(CreateWindowExA(0, (LPCSTR)(uintptr_t)atom, "", 0, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr),
            nullptr);

  // Windows holds a move within 16-bit coordinates and the maximum tracking size: no edge
  // overflows and no surface outgrows the desktop.
  struct {
    int x, y, width, height;
    RECT outer;
  } moves[] = {
      {2147483647, 0, 10, 10, {32767, 0, 32777, 10}},
      {-2147483647 - 1, 5, 10, 10, {-32768, 5, -32758, 15}},
      {0, 0, 16384, 16384, {0, 0, headlessMaxTrackWidth, headlessMaxTrackHeight}},
      {0, 0, -5, 2147483647, {0, 0, 0, headlessMaxTrackHeight}},
  };
  for (const auto& move : moves) {
    ASSERT_TRUE(MoveWindow(plain, move.x, move.y, move.width, move.height, TRUE));
    ASSERT_TRUE(GetWindowRect(plain, &outer));
    EXPECT_EQ(outer.left, move.outer.left);
    EXPECT_EQ(outer.top, move.outer.top);
    EXPECT_EQ(outer.right, move.outer.right);
    EXPECT_EQ(outer.bottom, move.outer.bottom);
    ASSERT_TRUE(lockWindowSurface(plain, &pixels));
    EXPECT_LE(pixels.width, headlessMaxTrackWidth);
    EXPECT_LE(pixels.height, headlessMaxTrackHeight);
    unlockWindowSurface(plain, false);
  }
}

TEST_F(HeadlessBackend, MessageLoopPaintsOnceAndEndsWithTheQuitCode) {
  HWND window = makeWindow(true);
  ShowWindow(window, SW_SHOW);
  PostMessageA(window, WM_LBUTTONDOWN, 0, 0);
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, (UINT)WM_LBUTTONDOWN);  // posted messages come before painting
  DispatchMessageA(&msg);
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, (UINT)WM_PAINT);
  DispatchMessageA(&msg);  // DefWindowProcA validates the window
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  PostMessageA(window, WM_CLOSE, 0, 0);
  int paints = 0;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_PAINT) ++paints;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(paints, 0);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(seen, (std::vector<UINT>{WM_LBUTTONDOWN, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_EQ(SendMessageA(window, WM_USER, 1, 0), 0);  // a destroyed window answers 0 at once
  EXPECT_EQ(SendMessageA(nullptr, WM_USER, 1, 0), 0);
}

TEST_F(HeadlessBackend, TitleAndSmallIconThroughTheirMessages) {
  HWND window = makeWindow(true);
  ASSERT_TRUE(SetWindowTextA(window, "\x95\x5C"));  // 表
  char title[8];
  EXPECT_EQ(GetWindowTextA(window, title, sizeof title), 2);
  EXPECT_STREQ(title, "\x95\x5C");
  EXPECT_EQ(GetWindowTextA(window, title, 2), 1);  // cut to the buffer
  HICON first = reinterpret_cast<HICON>(static_cast<uintptr_t>(0x1234));
  HICON second = reinterpret_cast<HICON>(static_cast<uintptr_t>(0x5678));
  EXPECT_EQ(SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)first), 0);
  EXPECT_EQ(SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)second), (LRESULT)first);
  HeadlessWindowState state;
  ASSERT_TRUE(headlessWindowState(window, &state));
  EXPECT_TRUE(state.hasSmallIcon);
  EXPECT_EQ(state.smallIcon, second);
}

struct SendJob {
  HWND window;
  LRESULT result;
  DWORD senderThread;
};

DWORD WINAPI sendFromThread(LPVOID parameter) {
  SendJob* job = static_cast<SendJob*>(parameter);
  job->senderThread = GetCurrentThreadId();
  job->result = SendMessageA(job->window, WM_USER, 41, 0);
  MoveWindow(job->window, 1, 2, 300, 200, FALSE);  // waits until the owner moved it
  return 0;
}

TEST_F(HeadlessBackend, SentMessagesFromAnotherThreadRunOnTheOwnerWhileItWaits) {
  HWND window = makeWindow(true);
  SendJob job = {window, 0, 0};
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, sendFromThread, &job, 0, &threadId);
  ASSERT_NE(thread, nullptr);
  int inputs = 0;
  for (;;) {
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) break;
    ASSERT_EQ(result, WAIT_OBJECT_0 + 1);
    ++inputs;
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // handles the sent message
  }
  EXPECT_GE(inputs, 2);
  EXPECT_EQ(job.result, 42);
  EXPECT_EQ(job.senderThread, threadId);
  EXPECT_EQ(procedureThread.load(), GetCurrentThreadId());
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right, 301);
  EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(CloseHandle(thread));
}

TEST_F(HeadlessBackend, OpenDialogAnswersTheSetPathOrCancels) {
  char file[16] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  EXPECT_FALSE(GetOpenFileNameA(&dialog));  // nothing set: the user cancels
  headlessSetOpenFileResult("C:\\a\\b.spt");
  ASSERT_TRUE(GetOpenFileNameA(&dialog));
  EXPECT_STREQ(file, "C:\\a\\b.spt");
  EXPECT_EQ(dialog.nFileOffset, 5);
  EXPECT_EQ(dialog.nFileExtension, 7);
  headlessSetOpenFileResult("C:\\0123456789\\x.spt");  // 19 bytes do not fit 16
  memset(file, 'z', sizeof file);
  EXPECT_FALSE(GetOpenFileNameA(&dialog));
  headlessSetOpenFileResult(nullptr);
  EXPECT_FALSE(GetOpenFileNameA(&dialog));
}

TEST_F(HeadlessBackend, KernelNamesAndLeadBytes) {
  // The edges of CP932's two lead byte ranges, 0x81-0x9F and 0xE0-0xFC.
  for (int byte : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsDBCSLeadByte(byte)) << byte;
  for (int byte : {0x80, 0xA0, 0xDF, 0x5C, 0xFD}) EXPECT_FALSE(IsDBCSLeadByte(byte)) << byte;

  char name[512];
  DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(strlen(name), length);
  EXPECT_EQ(name[0], '/');
  // Too small a buffer: cut to size - 1, terminated, and the size returned.
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, 4), 4u);
  EXPECT_EQ(strlen(name), 3u);
  EXPECT_EQ(GetLastError(), 122u);

  headlessSetModuleFileName("C:\\\x95\x5C\\\x95\x5C.exe");
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, sizeof name), 12u);
  EXPECT_STREQ(name, "C:\\\x95\x5C\\\x95\x5C.exe");
  headlessSetModuleFileName(nullptr);

  char before[512], after[512];
  ASSERT_GT(GetCurrentDirectoryA(sizeof before, before), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA("/"));
  EXPECT_EQ(GetCurrentDirectoryA(sizeof after, after), 1u);
  EXPECT_STREQ(after, "/");
  EXPECT_EQ(GetCurrentDirectoryA(1, after), 2u);  // the size needed, zero included
  EXPECT_FALSE(SetCurrentDirectoryA("/no/such/directory"));
  ASSERT_TRUE(SetCurrentDirectoryA(before));
}

// A story outside the player's folder tree finds its files beside its script; inside the tree
// (through a link as well) the player's folder stands.
TEST_F(HeadlessBackend, StoryFolderIsTheScriptsOutsideThePlayersTree) {
  std::string root = tempDirectory() + "/stories";
  for (const char* folder : {"", "/player", "/player/sub", "/player/sub/deeper", "/player2",
                             "/other"}) {
    mkdir((root + folder).c_str(), 0755);
  }
  symlink((root + "/player").c_str(), (root + "/link").c_str());
  struct Case {
    const char* script;
    const char* expected;  // below root; null: the player's folder stands
  } cases[] = {
      {"/player/story.spt", nullptr},
      {"/player/sub/deeper/story.spt", nullptr},
      {"/link/sub/story.spt", nullptr},
      {"/player2/story.spt", "/player2"},  // a name that begins like the player's folder
      {"/other/story.spt", "/other"},
      {"/player/../other/story.spt", "/player/../other"},
      {"/missing/story.spt", nullptr},
  };
  for (const Case& c : cases) {
    std::string got = storyFolderFor(root + "/player/", root + c.script);
    EXPECT_EQ(got, c.expected ? root + c.expected : "") << c.script;
  }
  // The player reports itself beside such a story, so its working directory is the story's.
  char name[512];
  layerNoteOpenedScript(root + "/other/story.spt");
  ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
  EXPECT_EQ(std::string(name).rfind(root + "/other/test_shell", 0), 0u) << name;
  layerNoteOpenedScript("");
  ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
  EXPECT_NE(std::string(name).rfind(root, 0), 0u) << name;
}

std::atomic<int> ticks{0};
DWORD WINAPI tickEveryThirty(LPVOID) {
  DWORD start = timeGetTime();
  for (int i = 0; i < 3; ++i) {
    Sleep(30);
    ++ticks;
  }
  return timeGetTime() - start;
}

TEST_F(HeadlessBackend, DrivenClockMovesOnlyWhenTheDriverAdvancesIt) {
  headlessSetClock(0xFFFFFFF0u);  // across the wrap
  headlessDriveClock(true);
  ticks = 0;
  HANDLE thread = CreateThread(nullptr, 0, tickEveryThirty, nullptr, 0, nullptr);
  headlessWaitIdle();  // held at its first clock reading
  EXPECT_EQ(ticks.load(), 0);
  headlessAdvanceClock(0);
  EXPECT_EQ(ticks.load(), 0);
  headlessAdvanceClock(29);
  EXPECT_EQ(ticks.load(), 0);
  headlessAdvanceClock(1);
  EXPECT_EQ(ticks.load(), 1);
  headlessAdvanceClock(60);  // stops at each wake-up on the way
  EXPECT_EQ(ticks.load(), 3);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), (DWORD)WAIT_OBJECT_0);
  EXPECT_EQ(headlessClockNow(), 0xFFFFFFF0u + 90);
  CloseHandle(thread);

  headlessDriveClock(false);  // free: Sleep moves it at once
  DWORD start = timeGetTime();
  Sleep(45);
  EXPECT_EQ(timeGetTime() - start, 45u);

  // Real: a yield lasts until the reading changes, so a wait's last millisecond is not spun.
  headlessUseRealClock(true);
  for (int i = 0; i < 5; ++i) {
    DWORD before = timeGetTime();
    Sleep(0);
    EXPECT_NE(timeGetTime(), before);
  }
  headlessUseRealClock(false);
}

std::atomic<bool> senderWentOn{false};
std::atomic<bool> replyResult{false};

LRESULT CALLBACK replyingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) {
    replyResult = ReplyMessage(99);
    // The sender goes on while this handler still runs.
    while (replyResult && !senderWentOn) std::this_thread::yield();
    return 5;  // not seen: the answer was given
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI sendAndNote(LPVOID parameter) {
  LRESULT* result = static_cast<LRESULT*>(parameter);
  *result = SendMessageA(reinterpret_cast<HWND>(*result), WM_USER, 0, 0);
  senderWentOn = true;
  return 0;
}

TEST_F(HeadlessBackend, ReplyMessageAnswersTheSenderBeforeTheHandlerEnds) {
  HWND window = makeWindow(false, replyingProcedure);
  EXPECT_FALSE(ReplyMessage(1));  // nothing sent from another thread is being handled
  EXPECT_EQ(SendMessageA(window, WM_USER, 0, 0), 5);  // own thread: ReplyMessage does nothing
  EXPECT_FALSE(replyResult.load());
  senderWentOn = false;
  LRESULT slot = reinterpret_cast<LRESULT>(window);
  HANDLE thread = CreateThread(nullptr, 0, sendAndNote, &slot, 0, nullptr);
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  EXPECT_TRUE(replyResult.load());
  EXPECT_EQ(slot, 99);
  CloseHandle(thread);
}

}  // namespace
