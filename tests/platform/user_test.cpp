// What the player asks of windows, classes, queues and the clock, written against the Windows
// API alone: the same file runs on the headless backend, the GTK backend and Windows itself.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

constexpr UINT answerPlusOne = WM_USER;      // answered with wParam + 1
constexpr UINT answeredEarly = WM_USER + 1;  // ReplyMessage(99), then handling goes on
std::atomic<DWORD> answeringThread{0};
std::atomic<bool> senderWentOn{false}, handlingWentOn{false};

LRESULT CALLBACK answeringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  answeringThread = GetCurrentThreadId();
  if (message == answerPlusOne) return LRESULT(wParam + 1);
  if (message != answeredEarly) return DefWindowProcA(window, message, wParam, lParam);
  BOOL replied = ReplyMessage(99);
  for (DWORD start = timeGetTime(); replied && !senderWentOn && timeGetTime() - start < 5000;) {
    Sleep(1);
  }
  handlingWentOn = senderWentOn.load();
  return 5;  // the sender of another thread has its answer already
}

HWND answering() {
  static ATOM atom = 0;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = answeringProc;
  windowClass.lpszClassName = "ContractAnswering";
  if (!atom) atom = RegisterClassA(&windowClass);
  return CreateWindowExA(0, (LPCSTR)(uintptr_t)atom, "", WS_OVERLAPPED, 0, 0, 200, 100, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

void pump(DWORD ms) {  // dispatches what comes for ms milliseconds
  for (DWORD start = timeGetTime(); timeGetTime() - start <= ms; Sleep(2)) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
  }
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window = createRecordingWindow());
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    pump(100);  // settles what showing the window brought
    clearRecordedMessages();
  }
  void TearDown() override {
    destroyRecordingWindow(window);
    pump(0);
  }
  HWND window = nullptr;
};

// A window needs its class, named or by atom; titles keep CP932 bytes; WM_SETICON answers the
// icon it replaced; a move is a restored size; client and screen coordinates convert both ways.
TEST_F(Windows, ClassesTitlesIconsAndCoordinates) {
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 10, 10, 0, 0, 0, 0), nullptr);
  HWND byAtom = answering();
#ifndef _WIN64
  EXPECT_EQ(GetWindowLongA(byAtom, GWL_HINSTANCE), (LONG)(intptr_t)GetModuleHandleA(nullptr));
#endif
  DestroyWindow(byAtom);
  ASSERT_TRUE(SetWindowTextA(window, "a\x95\x5C"));  // a trail byte 0x5C
  char title[8];
  EXPECT_EQ(std::string(title, GetWindowTextA(window, title, sizeof title)), "a\x95\x5C");
  HICON icon = LoadIconA(nullptr, IDI_APPLICATION);
  EXPECT_EQ(SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)icon), 0);
  EXPECT_EQ(SendMessageA(window, WM_SETICON, ICON_SMALL, 0), (LRESULT)icon);
  MoveWindow(window, 0, 0, 300, 200, FALSE);
  RecordedMessage size = {};
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message == WM_SIZE) size = m;
  }
  EXPECT_EQ(size.message * 10 + size.wParam, WM_SIZE * 10u + 0);  // SIZE_RESTORED
  POINT point = {10, 20};
  ASSERT_TRUE(ClientToScreen(window, &point) && ScreenToClient(window, &point));
  EXPECT_EQ(point.x * 1000 + point.y, 10020);
}

// Posted messages come before WM_QUIT, WM_QUIT before WM_PAINT; a destroyed window answers 0.
TEST_F(Windows, PostedComeBeforeQuitAndQuitBeforePaint) {
  InvalidateRect(window, nullptr, FALSE);  // no WM_ERASEBKGND on Windows
  PostMessageA(window, WM_USER + 3, 0, 0);
  PostQuitMessage(7);
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(std::make_pair(msg.message, msg.hwnd), std::make_pair(UINT(WM_USER + 3), window));
  DispatchMessageA(&msg);
  EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.wParam, 7u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(std::make_pair(msg.message, msg.hwnd), std::make_pair(UINT(WM_PAINT), window));
  DispatchMessageA(&msg);  // the default handling validates
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(countRecorded(WM_NCDESTROY), 1);
  EXPECT_EQ(SendMessageA(window, WM_USER, 1, 0), 0);
  window = nullptr;
}

struct SendJob {
  HWND target;
  LRESULT plusOne, early;
  DWORD destroyError;
};

// Thread procedures are named functions: a lambda does not convert to 32-bit Windows' stdcall.
DWORD WINAPI sendFromThread(LPVOID parameter) {
  SendJob* job = static_cast<SendJob*>(parameter);
  job->plusOne = SendMessageA(job->target, answerPlusOne, 41, 0);
  job->early = SendMessageA(job->target, answeredEarly, 0, 0);
  if (!DestroyWindow(job->target)) job->destroyError = GetLastError();  // not its window
  senderWentOn = true;
  return 0;
}

// Sends from another thread run on the window's thread while it waits for that thread;
// ReplyMessage answers such a sender before the handler ends, and no sender of the own thread.
TEST_F(Windows, SendsFromAnotherThreadRunOnTheOwnerWhileItWaits) {
  SendJob job = {answering(), -1, -1, 0};
  EXPECT_FALSE(ReplyMessage(1));  // nothing sent from another thread is being handled
  EXPECT_EQ(SendMessageA(job.target, answeredEarly, 0, 0), 5);  // own thread: no early answer
  senderWentOn = handlingWentOn = false;
  HANDLE thread = CreateThread(nullptr, 0, sendFromThread, &job, 0, nullptr);
  DWORD waited = WAIT_OBJECT_0 + 1;
  for (MSG msg; waited == WAIT_OBJECT_0 + 1;) {
    waited = MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_SENDMESSAGE);
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // runs the sent message
  }
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(std::vector<LRESULT>({job.plusOne, job.early}), std::vector<LRESULT>({42, 99}));
  EXPECT_TRUE(handlingWentOn.load());
  EXPECT_EQ(answeringThread.load(), GetCurrentThreadId());
  EXPECT_EQ(job.destroyError, 5u);  // ERROR_ACCESS_DENIED
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(CloseHandle(thread));
  EXPECT_EQ(GetLastError(), 6u);  // ERROR_INVALID_HANDLE
  DestroyWindow(job.target);
}

// The edges of CP932's two lead byte ranges, 0x81-0x9F and 0xE0-0xFC; the current directory.
TEST(Kernel, LeadBytesAndTheCurrentDirectory) {
  for (int byte : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsDBCSLeadByte(byte)) << byte;
  for (int byte : {0x80, 0xA0, 0xDF, 0x5C, 0xFD}) EXPECT_FALSE(IsDBCSLeadByte(byte)) << byte;
  char before[512], after[512];
  ASSERT_GT(GetCurrentDirectoryA(sizeof before, before), 0u);
  EXPECT_FALSE(SetCurrentDirectoryA(""));  // how the player keeps the current one
  ASSERT_TRUE(SetCurrentDirectoryA(tempDirectory().c_str()));
  ASSERT_GT(GetCurrentDirectoryA(sizeof after, after), 0u);
  EXPECT_STRNE(after, before);
  ASSERT_TRUE(SetCurrentDirectoryA(before));
}

}  // namespace
