// The headless USER backend: windows are records, each thread has a message queue, sent messages
// cross threads as on Windows, message boxes are logged and answered OK, the Open dialog answers
// what the test or the runner set, and the clock is virtual. Owns all of that state; it lives
// under the layer's one lock (kernel.cpp), and no window procedure is ever called with it held.
#include <string.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

constexpr DWORD errorAccessDenied = 5;
constexpr DWORD errorInvalidWindowHandle = 1400;
constexpr DWORD errorCannotFindClass = 1407;
constexpr DWORD errorClassAlreadyExists = 1410;
constexpr DWORD clockStart = 100000;  // the virtual clock's reading at start and after a reset
constexpr int defaultX = 24;          // where CW_USEDEFAULT places a window
constexpr int defaultY = 24;
constexpr int defaultWidth = 640;  // the size CW_USEDEFAULT gives
constexpr int defaultHeight = 480;

struct ClassRecord {
  std::string name;
  WNDPROC procedure;
  HINSTANCE instance;
  bool hasMenu;
};

struct WindowRecord {
  WNDPROC procedure;
  HINSTANCE instance;
  std::string title;
  DWORD style;
  RECT outer;
  int clientWidth;
  int clientHeight;
  bool hasMenu;
  HICON smallIcon;
  HICON bigIcon;
  bool visible;
  bool invalid;     // the client area needs a WM_PAINT
  bool erase;       // the next BeginPaint reports fErase
  bool destroying;  // DestroyWindow is under way
  DWORD owner;      // the thread that created it
};

enum SentKind { sentMessage, sentMove };

// A message sent from another thread, waiting in its receiver's queue until handled.
struct SentMessage {
  SentKind kind;
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  RECT moveTo;  // sentMove: the new outer rectangle as x, y, width, height
  BOOL repaint;
  LRESULT result;
  bool done;
};

struct ThreadQueue {
  std::deque<MSG> posted;
  std::deque<SentMessage*> sent;
  bool quitPosted = false;
  int quitCode = 0;
  bool newInput = false;  // something arrived since the thread last looked at its queue
};

// Everything below is guarded by the layer lock.
std::vector<ClassRecord> classes;
std::map<HWND, WindowRecord> windows;
uintptr_t nextWindowHandle = 0x10010;
std::map<DWORD, ThreadQueue> queues;
POINT cursor = {0, 0};
std::vector<HeadlessMessageBox> messageBoxes;
void (*messageBoxHandler)(const HeadlessMessageBox& box) = nullptr;
void (*windowObserver)(HWND window, UINT change) = nullptr;
bool openResultSet = false;
std::string openResult;

DWORD clockNow = clockStart;
bool clockDriven = false;
std::atomic<bool> clockReal{false};
std::atomic<void (*)(DWORD reading)> clockObserver{nullptr};
unsigned clockEpoch = 0;                 // counts the driver's advances
std::map<DWORD, DWORD> sleepers;         // driven clock: thread -> wake-up reading
std::map<DWORD, unsigned> clockReaders;  // driven clock: threads seen reading the clock

WindowRecord* findWindow(HWND window) {
  auto found = windows.find(window);
  if (found == windows.end() || !window) return nullptr;
  return &found->second;
}

int nonClientTop(const WindowRecord& record) {
  return headlessFrameWidth + headlessCaptionHeight + (record.hasMenu ? headlessMenuHeight : 0);
}

void setOuter(WindowRecord* record, int x, int y, int width, int height) {
  record->outer = {x, y, x + width, y + height};
  record->clientWidth = std::max(0, width - 2 * headlessFrameWidth);
  record->clientHeight = std::max(0, height - nonClientTop(*record) - headlessFrameWidth);
}

void markInvalid(WindowRecord* record, bool erase) {
  record->invalid = true;
  record->erase = record->erase || erase;
  queues[record->owner].newInput = true;
  layerWakeAll();
}

bool inRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

// The next message for the calling thread by Windows' order: posted messages, then the quit
// message, then WM_PAINT for a window that needs painting. Lock held.
bool takeMessage(DWORD thread, HWND filter, UINT filterMin, UINT filterMax, bool remove, MSG* out) {
  ThreadQueue& queue = queues[thread];
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (filter && it->hwnd != filter) continue;
    if (!inRange(it->message, filterMin, filterMax)) continue;
    *out = *it;
    if (remove) queue.posted.erase(it);
    return true;
  }
  if (queue.quitPosted && !filter && inRange(WM_QUIT, filterMin, filterMax)) {
    *out = MSG{nullptr, WM_QUIT, (WPARAM)queue.quitCode, 0, clockNow, cursor};
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (inRange(WM_PAINT, filterMin, filterMax)) {
    for (auto& entry : windows) {
      const WindowRecord& record = entry.second;
      if (record.owner != thread || !record.invalid || !record.visible) continue;
      if (filter && entry.first != filter) continue;
      *out = MSG{entry.first, WM_PAINT, 0, 0, clockNow, cursor};
      return true;
    }
  }
  return false;
}

void notifyObserver(HWND window, UINT change) {
  void (*observer)(HWND, UINT);
  {
    auto lock = layerLock();
    observer = windowObserver;
  }
  if (observer) observer(window, change);
}

// Calls a window's procedure on the calling thread; 0 when the window is gone. Lock not held.
LRESULT callProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure;
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return 0;
    procedure = record->procedure;
  }
  return procedure(window, message, wParam, lParam);
}

void applyMove(HWND window, const RECT& to, BOOL repaint) {
  int clientWidth, clientHeight, clientX, clientY;
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return;
    setOuter(record, to.left, to.top, to.right, to.bottom);
    clientWidth = record->clientWidth;
    clientHeight = record->clientHeight;
    clientX = record->outer.left + headlessFrameWidth;
    clientY = record->outer.top + nonClientTop(*record);
    if (repaint) markInvalid(record, true);
  }
  resizeWindowSurface(window, clientWidth, clientHeight);
  callProcedure(window, WM_MOVE, 0, (LPARAM)((clientX & 0xFFFF) | ((clientY & 0xFFFF) << 16)));
  callProcedure(window, WM_SIZE, 0,
                (LPARAM)((clientWidth & 0xFFFF) | ((clientHeight & 0xFFFF) << 16)));
  notifyObserver(window, WM_MOVE);
}

// The message from another thread that the calling thread is handling, for ReplyMessage; null
// once answered (the sender may then have gone on and its record be gone).
thread_local SentMessage* handling = nullptr;

// Handles every message other threads have sent to the calling thread. Lock held on entry and
// on return; released while each procedure runs.
void handleSentMessages(std::unique_lock<std::mutex>& lock) {
  ThreadQueue& queue = queues[GetCurrentThreadId()];
  while (!queue.sent.empty()) {
    SentMessage* sent = queue.sent.front();
    queue.sent.pop_front();
    SentMessage* outer = handling;
    handling = sent;
    lock.unlock();
    LRESULT result = 0;
    if (sent->kind == sentMove) {
      applyMove(sent->window, sent->moveTo, sent->repaint);
    } else {
      result = callProcedure(sent->window, sent->message, sent->wParam, sent->lParam);
    }
    lock.lock();
    if (handling) {  // not answered early by ReplyMessage
      sent->result = result;
      sent->done = true;
      layerWakeAll();
    }
    handling = outer;
  }
}

// Queues a message to another thread's window and waits for its answer, handling what is sent
// to the calling thread meanwhile. Lock held on entry and on return.
LRESULT sendAcross(std::unique_lock<std::mutex>& lock, DWORD owner, SentMessage* sent) {
  queues[owner].sent.push_back(sent);
  queues[owner].newInput = true;
  layerWakeAll();
  ThreadQueue& mine = queues[GetCurrentThreadId()];
  while (!sent->done) {
    layerWait(
        lock, [&] { return sent->done || !mine.sent.empty(); }, INFINITE);
    if (!sent->done) handleSentMessages(lock);
  }
  return sent->result;
}

// Answers 0 to every message still sent to a window (or to every window when null) in the queue
// of thread. Lock held.
void answerPendingSent(DWORD thread, HWND window) {
  auto queue = queues.find(thread);
  if (queue == queues.end()) return;
  auto& sent = queue->second.sent;
  for (auto it = sent.begin(); it != sent.end();) {
    if (!window || (*it)->window == window) {
      (*it)->result = 0;
      (*it)->done = true;
      it = sent.erase(it);
    } else {
      ++it;
    }
  }
  layerWakeAll();
}

// Forgets a window: its queued messages go and its surface is destroyed. Lock held.
void eraseWindow(HWND window) {
  auto record = windows.find(window);
  if (record == windows.end()) return;
  DWORD owner = record->second.owner;
  windows.erase(record);
  auto& posted = queues[owner].posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [window](const MSG& msg) { return msg.hwnd == window; }),
               posted.end());
  answerPendingSent(owner, window);
  destroyWindowSurface(window);
}

// A thread made by CreateThread ends: Windows destroys its windows and whoever sent to it gets 0.
void threadEnded(DWORD thread) {
  answerPendingSent(thread, nullptr);
  std::vector<HWND> owned;
  for (auto& entry : windows) {
    if (entry.second.owner == thread) owned.push_back(entry.first);
  }
  for (HWND window : owned) eraseWindow(window);
  queues.erase(thread);
  sleepers.erase(thread);
  clockReaders.erase(thread);
}

struct ThreadEndHookInstaller {
  ThreadEndHookInstaller() { layerThreadEndHandler = threadEnded; }
} threadEndHookInstaller;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Classes and windows

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
  auto lock = layerLock();
  for (const ClassRecord& record : classes) {
    if (record.name == windowClass->lpszClassName) {
      setLastError(errorClassAlreadyExists);
      return 0;
    }
  }
  classes.push_back(ClassRecord{windowClass->lpszClassName, windowClass->lpfnWndProc,
                                windowClass->hInstance, windowClass->lpszMenuName != nullptr});
  return (ATOM)(0xC000 + classes.size() - 1);
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU menu, HINSTANCE instance, LPVOID) {
  HWND window;
  int clientWidth, clientHeight;
  {
    auto lock = layerLock();
    const ClassRecord* found = nullptr;
    for (const ClassRecord& record : classes) {
      bool byAtom = IS_INTRESOURCE(className) &&
                    (uintptr_t)className == 0xC000 + (uintptr_t)(&record - classes.data());
      if (byAtom || (!IS_INTRESOURCE(className) && record.name == className)) found = &record;
    }
    if (!found) {
      setLastError(errorCannotFindClass);
      return nullptr;
    }
    WindowRecord record{};
    record.procedure = found->procedure;
    record.instance = instance;
    record.title = windowName ? windowName : "";
    record.style = style;
    record.hasMenu = found->hasMenu || menu != nullptr;
    if (x == CW_USEDEFAULT) x = defaultX, y = defaultY;
    if (width == CW_USEDEFAULT) width = defaultWidth, height = defaultHeight;
    setOuter(&record, x, y, width, height);
    record.visible = (style & WS_VISIBLE) != 0;
    record.invalid = true;
    record.erase = true;
    record.owner = GetCurrentThreadId();
    window = reinterpret_cast<HWND>(nextWindowHandle);
    nextWindowHandle += 0x10;
    windows[window] = record;
    clientWidth = record.clientWidth;
    clientHeight = record.clientHeight;
  }
  createWindowSurface(window, clientWidth, clientHeight);
  return window;
}

BOOL DestroyWindow(HWND window) {
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) {
      setLastError(errorInvalidWindowHandle);
      return FALSE;
    }
    if (record->owner != GetCurrentThreadId()) {
      setLastError(errorAccessDenied);
      return FALSE;
    }
    if (record->destroying) return TRUE;
    record->destroying = true;
    record->visible = false;
  }
  callProcedure(window, WM_DESTROY, 0, 0);
  callProcedure(window, WM_NCDESTROY, 0, 0);
  {
    auto lock = layerLock();
    eraseWindow(window);
  }
  notifyObserver(window, WM_DESTROY);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  auto lock = layerLock();
  return findWindow(window) != nullptr;
}

BOOL ShowWindow(HWND window, int showCommand) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return FALSE;
  bool wasVisible = record->visible;
  record->visible = showCommand != SW_HIDE;
  if (record->visible && !wasVisible) markInvalid(record, true);
  return wasVisible;
}

BOOL UpdateWindow(HWND window) {
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return FALSE;
    if (!record->invalid || !record->visible) return TRUE;
  }
  SendMessageA(window, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL erase) {
  auto lock = layerLock();
  if (!window) {
    for (auto& entry : windows) markInvalid(&entry.second, erase);
    return TRUE;
  }
  WindowRecord* record = findWindow(window);
  if (!record) return FALSE;
  markInvalid(record, erase);
  return TRUE;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  if (!paint) return nullptr;
  *paint = PAINTSTRUCT{};
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return nullptr;
    paint->fErase = record->erase;
    paint->rcPaint = {0, 0, record->clientWidth, record->clientHeight};
    record->invalid = false;
    record->erase = false;
  }
  paint->hdc = GetDC(window);
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (!paint || !paint->hdc) return FALSE;
  ReleaseDC(window, paint->hdc);
  return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) return FALSE;
  return SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text) != 0;
}

int GetWindowTextA(HWND window, LPSTR buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) {
    buffer[0] = '\0';
    return 0;
  }
  int length = std::min((int)record->title.size(), bufferSize - 1);
  memcpy(buffer, record->title.data(), length);
  buffer[length] = '\0';
  return length;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return FALSE;
  RECT to = {x, y, width, height};
  if (record->owner == GetCurrentThreadId()) {
    lock.unlock();
    applyMove(window, to, repaint);
    return TRUE;
  }
  // Another thread's window moves on its own thread, and the caller waits, as on Windows.
  SentMessage sent{sentMove, window, 0, 0, 0, to, repaint, 0, false};
  sendAcross(lock, record->owner, &sent);
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !rect) return FALSE;
  *rect = record->outer;
  return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !rect) return FALSE;
  *rect = {0, 0, record->clientWidth, record->clientHeight};
  return TRUE;
}

LONG GetWindowLongA(HWND window, int index) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return 0;
  if (index == GWL_HINSTANCE) return (LONG)(intptr_t)record->instance;
  return 0;
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  auto lock = layerLock();
  *point = cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  auto lock = layerLock();
  cursor = {x, y};
  return TRUE;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !point) return FALSE;
  point->x -= record->outer.left + headlessFrameWidth;
  point->y -= record->outer.top + nonClientTop(*record);
  return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !point) return FALSE;
  point->x += record->outer.left + headlessFrameWidth;
  point->y += record->outer.top + nonClientTop(*record);
  return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_SYSCOMMAND:
      // The close box, the system menu's Close and Alt+F4 all arrive as SC_CLOSE.
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_SETTEXT: {
      {
        auto lock = layerLock();
        WindowRecord* record = findWindow(window);
        if (!record) return FALSE;
        record->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
      }
      notifyObserver(window, WM_SETTEXT);
      return TRUE;
    }
    case WM_GETTEXT:
      return GetWindowTextA(window, reinterpret_cast<LPSTR>(lParam), (int)wParam);
    case WM_SETICON: {
      HICON previous;
      {
        auto lock = layerLock();
        WindowRecord* record = findWindow(window);
        if (!record) return 0;
        HICON& slot = wParam == ICON_SMALL ? record->smallIcon : record->bigIcon;
        previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
      }
      notifyObserver(window, WM_SETICON);
      return (LRESULT)previous;
    }
    case WM_GETICON: {
      auto lock = layerLock();
      WindowRecord* record = findWindow(window);
      if (!record) return 0;
      return (LRESULT)(wParam == ICON_SMALL ? record->smallIcon : record->bigIcon);
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(window, &paint)) EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Messages

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto lock = layerLock();
  DWORD owner = GetCurrentThreadId();
  if (window) {
    WindowRecord* record = findWindow(window);
    if (!record) {
      setLastError(errorInvalidWindowHandle);
      return FALSE;
    }
    owner = record->owner;
  }
  ThreadQueue& queue = queues[owner];
  queue.posted.push_back(MSG{window, message, wParam, lParam, clockNow, cursor});
  queue.newInput = true;
  layerWakeAll();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto lock = layerLock();
  ThreadQueue& queue = queues[GetCurrentThreadId()];
  queue.quitPosted = true;
  queue.quitCode = exitCode;
  queue.newInput = true;
  layerWakeAll();
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return 0;
  if (record->owner == GetCurrentThreadId()) {
    WNDPROC procedure = record->procedure;
    lock.unlock();
    return procedure(window, message, wParam, lParam);
  }
  SentMessage sent{sentMessage, window, message, wParam, lParam, RECT{}, FALSE, 0, false};
  return sendAcross(lock, record->owner, &sent);
}

BOOL ReplyMessage(LRESULT result) {
  auto lock = layerLock();
  if (!handling) return FALSE;
  handling->result = result;
  handling->done = true;
  handling = nullptr;
  layerWakeAll();
  return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  ThreadQueue& queue = queues[me];
  for (;;) {
    handleSentMessages(lock);
    queue.newInput = false;
    if (takeMessage(me, window, filterMin, filterMax, true, msg)) return msg->message != WM_QUIT;
    layerWait(
        lock, [&] { return queue.newInput || !queue.sent.empty(); }, INFINITE);
  }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  handleSentMessages(lock);
  queues[me].newInput = false;
  return takeMessage(me, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, msg);
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return callProcedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  auto lock = layerLock();
  for (DWORD i = 0; i < count; ++i) {
    if (!layerIsThreadHandle(handles[i])) {
      setLastError(6);  // ERROR_INVALID_HANDLE
      return WAIT_FAILED;
    }
  }
  ThreadQueue& queue = queues[GetCurrentThreadId()];
  DWORD result = WAIT_TIMEOUT;
  auto ready = [&] {
    DWORD signalled = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (layerHandleSignalled(handles[i])) {
        if (!waitAll) {
          result = WAIT_OBJECT_0 + i;
          return true;
        }
        ++signalled;
      }
    }
    if (waitAll && count > 0 && signalled == count) {
      result = WAIT_OBJECT_0;
      return true;
    }
    // Like Windows, this reports input and leaves it to GetMessageA or PeekMessageA to handle.
    bool input = ((wakeMask & QS_SENDMESSAGE) && !queue.sent.empty()) ||
                 ((wakeMask & ~QS_SENDMESSAGE) && queue.newInput);
    if (input) result = WAIT_OBJECT_0 + count;
    return input;
  };
  bool done = count > 0 ? layerWaitForHandles(lock, ready, milliseconds)
                        : layerWait(lock, ready, milliseconds);
  return done ? result : WAIT_TIMEOUT;
}

// ---------------------------------------------------------------------------------------------
// Dialogs

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  HeadlessMessageBox box{owner, text ? text : "", caption ? caption : "", type,
                         GetCurrentThreadId()};
  void (*handler)(const HeadlessMessageBox&);
  {
    auto lock = layerLock();
    messageBoxes.push_back(box);
    handler = messageBoxHandler;
  }
  if (handler) handler(box);
  return IDOK;
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA dialog) {
  if (!dialog || !dialog->lpstrFile) return FALSE;
  std::string path;
  {
    auto lock = layerLock();
    if (!openResultSet) return FALSE;
    path = openResult;
  }
  if (path.size() + 1 > dialog->nMaxFile) {
    // Windows puts the size the name needs into the buffer's first two bytes.
    if (dialog->nMaxFile >= 2) {
      WORD needed = (WORD)std::min<size_t>(path.size() + 1, 0xFFFF);
      memcpy(dialog->lpstrFile, &needed, sizeof needed);
    }
    return FALSE;
  }
  memcpy(dialog->lpstrFile, path.c_str(), path.size() + 1);
  // The offsets of the name and of its extension, found by whole characters.
  size_t nameStart = 0, dot = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = (unsigned char)path[i];
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') nameStart = i + 1, dot = 0;
    if (c == '.') dot = i + 1;
  }
  dialog->nFileOffset = (WORD)nameStart;
  dialog->nFileExtension = (WORD)(dot ? dot : path.size());
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// The clock

DWORD timeGetTime(void) {
  if (clockReal) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    DWORD reading = (DWORD)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
    if (void (*observer)(DWORD) = clockObserver.load()) observer(reading);
    return reading;
  }
  auto lock = layerLock();
  if (clockDriven) {
    // A thread's first look at a driven clock waits for the driver's next step, so that the
    // driver can act between a thread's start-up work and its first timed work.
    DWORD me = GetCurrentThreadId();
    auto seen = clockReaders.find(me);
    if (seen == clockReaders.end()) {
      unsigned epoch = clockEpoch;
      clockReaders[me] = epoch;
      layerWait(
          lock, [epoch] { return clockEpoch != epoch || !clockDriven; }, INFINITE);
    }
  }
  return clockNow;
}

// Sleep(0) gives up the processor, and real time passes meanwhile: on the virtual clock it lets
// 1 ms pass (free) or waits for the driver's next step (driven), so that a loop reading the clock
// between yields ends.
void Sleep(DWORD milliseconds) {
  if (clockReal) {
    if (milliseconds == 0) {
      layerYieldUntilNextMillisecond();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    return;
  }
  auto lock = layerLock();
  if (!clockDriven) {
    clockNow += milliseconds ? milliseconds : 1;
    lock.unlock();
    std::this_thread::yield();
    return;
  }
  DWORD me = GetCurrentThreadId();
  clockReaders.emplace(me, clockEpoch);
  DWORD start = clockNow;
  unsigned epoch = clockEpoch;
  sleepers[me] = start + milliseconds;
  layerWait(
      lock,
      [&] {
        if (!clockDriven) return true;
        if (milliseconds == 0) return clockEpoch != epoch;
        return clockNow - start >= milliseconds;
      },
      INFINITE);
  sleepers.erase(me);
}

// ---------------------------------------------------------------------------------------------
// Control

std::vector<HeadlessMessageBox> headlessMessageBoxes() {
  auto lock = layerLock();
  return messageBoxes;
}

void headlessClearMessageBoxes() {
  auto lock = layerLock();
  messageBoxes.clear();
}

void headlessSetMessageBoxHandler(void (*handler)(const HeadlessMessageBox& box)) {
  auto lock = layerLock();
  messageBoxHandler = handler;
}

void headlessSetOpenFileResult(const char* path) {
  auto lock = layerLock();
  openResultSet = path != nullptr;
  openResult = path ? path : "";
}

bool headlessWindowState(HWND window, HeadlessWindowState* state) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !state) return false;
  state->title = record->title;
  state->hasSmallIcon = record->smallIcon != nullptr;
  state->smallIcon = record->smallIcon;
  state->outer = record->outer;
  state->clientWidth = record->clientWidth;
  state->clientHeight = record->clientHeight;
  state->visible = record->visible;
  return true;
}

void headlessSetWindowObserver(void (*observer)(HWND window, UINT change)) {
  auto lock = layerLock();
  windowObserver = observer;
}

void headlessReset() {
  auto lock = layerLock();
  for (auto& entry : queues) answerPendingSent(entry.first, nullptr);
  std::vector<HWND> all;
  for (auto& entry : windows) all.push_back(entry.first);
  for (HWND window : all) eraseWindow(window);
  classes.clear();
  queues.clear();
  cursor = {0, 0};
  messageBoxes.clear();
  messageBoxHandler = nullptr;
  windowObserver = nullptr;
  openResultSet = false;
  openResult.clear();
  clockNow = clockStart;
  clockDriven = false;
  clockReal = false;
  clockObserver = nullptr;
  sleepers.clear();
  clockReaders.clear();
  layerWakeAll();
}

void headlessUseRealClock(bool real) {
  clockReal = real;
}

void headlessSetClockObserver(void (*observer)(DWORD reading)) {
  clockObserver = observer;
}

DWORD headlessClockNow() {
  auto lock = layerLock();
  return clockNow;
}

void headlessSetClock(DWORD now) {
  auto lock = layerLock();
  clockNow = now;
  layerWakeAll();
}

void headlessDriveClock(bool driven) {
  auto lock = layerLock();
  clockDriven = driven;
  clockReaders.clear();
  layerWakeAll();
}

namespace {

// Moves a driven clock to the nearest wake-up of a sleeping thread, or only lets the yielding
// ones go when none sleeps longer; false when no thread waits for the clock at all. Lock held.
bool stepToNextWakeUp() {
  if (sleepers.empty()) return false;
  DWORD step = 0;
  for (auto& sleeper : sleepers) {
    DWORD until = sleeper.second - clockNow;
    if (until > 0 && (step == 0 || until < step)) step = until;
  }
  clockNow += step;
  ++clockEpoch;
  layerWakeAll();
  return true;
}

// Idle, and nobody waits for another thread to end: while one does, time has to pass, as it
// would on a real clock, for the awaited thread may be sleeping. Lock held.
void settle(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    layerWaitIdle(lock);
    if (!clockDriven || !layerSomeoneWaitsForAThread()) return;
    if (!stepToNextWakeUp()) return;  // nothing will ever end that wait
  }
}

}  // namespace

void headlessWaitIdle() {
  auto lock = layerLock();
  settle(lock);
}

void headlessAdvanceClock(DWORD milliseconds) {
  auto lock = layerLock();
  DWORD begin = clockNow;
  settle(lock);
  do {
    // The nearest wake-up not beyond the target, measured from now so that the wrap is safe.
    DWORD done = clockNow - begin;
    DWORD step = done >= milliseconds ? 0 : milliseconds - done;
    for (auto& sleeper : sleepers) {
      DWORD until = sleeper.second - clockNow;
      if (until > 0 && until < step) step = until;
    }
    clockNow += step;
    ++clockEpoch;
    layerWakeAll();
    settle(lock);
  } while (clockNow - begin < milliseconds);
}
