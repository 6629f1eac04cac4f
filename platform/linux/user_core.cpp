// The USER core (user_core.h): classes, window records, per-thread message queues, sent
// messages, painting order, DefWindowProcA and the Windows functions over them. Owns that state
// under the layer's one lock (kernel.cpp); no window procedure or driver entry is called with it
// held. Deps: layer.h (lock, waits, surfaces, last error), the backend's userDriver.
#include "platform/linux/user_core.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

constexpr ATOM firstClassAtom = 0xC000;  // where Windows' string atoms, class atoms, begin
constexpr int defaultWidth = 640;        // the outer size CW_USEDEFAULT gives
constexpr int defaultHeight = 480;
// Windows keeps window coordinates in 16 bits: SetWindowPos clamps a position to this range and a
// size to 0..largestCoordinate, so that no edge (position + size) overflows.
constexpr int smallestCoordinate = -32768;
constexpr int largestCoordinate = 32767;

struct ClassRecord {
  std::string name;
  WNDPROC procedure;
  HINSTANCE instance;
  std::string menuName;  // empty for none
  bool hasMenu;          // a menu by name or by id
};

struct WindowRecord {
  WNDPROC procedure;
  HINSTANCE instance;
  UserWindowState state;
  bool invalid;     // the client area needs a WM_PAINT
  bool erase;       // the next BeginPaint reports fErase
  bool destroying;  // DestroyWindow is under way
};

enum SentKind { sentMessage, sentMove, sentCall };

// A message sent from another thread, waiting in its receiver's queue until handled.
struct SentMessage {
  SentKind kind;
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  RECT moveTo;  // sentMove: the new outer rectangle as x, y, width, height
  BOOL repaint;
  void (*work)(void* data);  // sentCall
  void* data;
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

WindowRecord* findWindow(HWND window) {
  auto found = windows.find(window);
  if (found == windows.end() || !window) return nullptr;
  return &found->second;
}

// Class names compare as Windows compares atom names: ASCII letters without regard to case, the
// second byte of a double-byte character exactly.
bool sameClassName(const std::string& a, const char* b) {
  size_t length = strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (IsDBCSLeadByte(x) && i + 1 < length) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

const ClassRecord* findClass(LPCSTR nameOrAtom) {
  if (!nameOrAtom) return nullptr;
  if (IS_INTRESOURCE(nameOrAtom)) {
    size_t index = (uintptr_t)nameOrAtom - firstClassAtom;
    return (uintptr_t)nameOrAtom >= firstClassAtom && index < classes.size() ? &classes[index]
                                                                             : nullptr;
  }
  for (const ClassRecord& record : classes) {
    if (sameClassName(record.name, nameOrAtom)) return &record;
  }
  return nullptr;
}

int clampInt(int value, int low, int high) {
  return std::max(low, std::min(value, high));
}

// Where Windows keeps the rectangle it is asked for (SetWindowPos, CreateWindowExA): the corner
// within 16-bit coordinates, the size within the maximum tracking size. x, y, width, height.
RECT clampedPlacement(int x, int y, int width, int height) {
  int maxWidth = largestCoordinate, maxHeight = largestCoordinate;
  if (userDriver.maxTrackSize) userDriver.maxTrackSize(&maxWidth, &maxHeight);
  return RECT{clampInt(x, smallestCoordinate, largestCoordinate),
              clampInt(y, smallestCoordinate, largestCoordinate),
              clampInt(width, 0, std::min(maxWidth, largestCoordinate)),
              clampInt(height, 0, std::min(maxHeight, largestCoordinate))};
}

void wakeThread(DWORD thread, bool sent) {
  ThreadQueue& queue = queues[thread];
  queue.newInput = true;
  layerWakeAll();
  if (userDriver.wake) userDriver.wake(thread, sent);
}

void markInvalid(WindowRecord* record, bool erase) {
  record->invalid = true;
  record->erase = record->erase || erase;
  wakeThread(record->state.owner, false);
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
    *out = MSG{nullptr, WM_QUIT, (WPARAM)queue.quitCode, 0, userClockReading(), cursor};
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (inRange(WM_PAINT, filterMin, filterMax)) {
    for (auto& entry : windows) {
      const WindowRecord& record = entry.second;
      if (record.state.owner != thread || !record.invalid || !record.state.visible) continue;
      if (filter && entry.first != filter) continue;
      *out = MSG{entry.first, WM_PAINT, 0, 0, userClockReading(), cursor};
      return true;
    }
  }
  return false;
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

// Moves a window of the calling thread and tells its procedure, as SetWindowPos does.
void applyMove(HWND window, const RECT& to, BOOL repaint) {
  {
    auto lock = layerLock();
    if (!findWindow(window)) return;
  }
  if (userDriver.moveWindow) userDriver.moveWindow(window, to.left, to.top, to.right, to.bottom);
  UserWindowState state;
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return;
    if (repaint) markInvalid(record, true);
    state = record->state;
  }
  callProcedure(window, WM_MOVE, 0, userPointLParam(state.clientOrigin.x, state.clientOrigin.y));
  callProcedure(window, WM_SIZE, 0, userPointLParam(state.clientWidth, state.clientHeight));
  if (userDriver.windowMoved) userDriver.windowMoved(window);
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
    handling = sent->kind == sentMessage ? sent : nullptr;
    lock.unlock();
    LRESULT result = 0;
    if (sent->kind == sentMove) {
      applyMove(sent->window, sent->moveTo, sent->repaint);
    } else if (sent->kind == sentCall) {
      sent->work(sent->data);
    } else {
      result = callProcedure(sent->window, sent->message, sent->wParam, sent->lParam);
    }
    lock.lock();
    if (handling || sent->kind != sentMessage) {  // not answered early by ReplyMessage
      sent->result = result;
      sent->done = true;
      layerWakeAll();
    }
    handling = outer;
  }
}

// Queues a message to another thread and waits for its answer, handling what is sent to the
// calling thread meanwhile. Lock held on entry and on return.
LRESULT sendAcross(std::unique_lock<std::mutex>& lock, DWORD owner, SentMessage* sent) {
  queues[owner].sent.push_back(sent);
  wakeThread(owner, true);
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
  DWORD owner = record->second.state.owner;
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
    if (entry.second.state.owner == thread) owned.push_back(entry.first);
  }
  for (HWND window : owned) eraseWindow(window);
  queues.erase(thread);
  userClockThreadEnded(thread);
}

struct ThreadEndHookInstaller {
  ThreadEndHookInstaller() { layerThreadEndHandler = threadEnded; }
} threadEndHookInstaller;

bool runsNativeEvents() {
  return userDriver.eventThread && userDriver.eventThread();
}

// Lock held; native tells whether the calling thread runs native events (asked before locking,
// as the first question may start the driver).
void pumpNativeEvents(std::unique_lock<std::mutex>& lock, bool native) {
  if (!native || !userDriver.pumpEvents) return;
  lock.unlock();
  userDriver.pumpEvents();
  lock.lock();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Classes and windows

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
  auto lock = layerLock();
  if (findClass(windowClass->lpszClassName)) {
    setLastError(errorClassAlreadyExists);
    return 0;
  }
  ClassRecord record;
  record.name = windowClass->lpszClassName;
  record.procedure = windowClass->lpfnWndProc;
  record.instance = windowClass->hInstance;
  record.hasMenu = windowClass->lpszMenuName != nullptr;
  // A menu named by an integer id is not among our menu resources: it has a bar but no items.
  if (record.hasMenu && !IS_INTRESOURCE(windowClass->lpszMenuName)) {
    record.menuName = windowClass->lpszMenuName;
  }
  classes.push_back(record);
  return (ATOM)(firstClassAtom + classes.size() - 1);
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU menu, HINSTANCE instance, LPVOID) {
  HWND window;
  UserWindowRequest request{};
  std::string menuName;
  {
    auto lock = layerLock();
    const ClassRecord* found = findClass(className);
    if (!found) {
      setLastError(errorCannotFindClass);
      return nullptr;
    }
    WindowRecord record{};
    record.procedure = found->procedure;
    record.instance = instance;
    record.state.title = windowName ? windowName : "";
    record.state.style = style;
    record.state.hasMenu = found->hasMenu || menu != nullptr;
    record.state.visible = (style & WS_VISIBLE) != 0;
    record.state.owner = GetCurrentThreadId();
    record.invalid = true;
    record.erase = true;
    menuName = found->menuName;
    request.menuName = menuName.empty() ? nullptr : menuName.c_str();
    request.hasMenu = record.state.hasMenu;
    request.style = style;
    request.defaultPosition = x == CW_USEDEFAULT;
    if (width == CW_USEDEFAULT) width = defaultWidth, height = defaultHeight;
    RECT placement = clampedPlacement(request.defaultPosition ? 0 : x, y, width, height);
    request.x = placement.left;
    request.y = request.defaultPosition ? 0 : placement.top;
    request.width = placement.right;
    request.height = placement.bottom;
    window = reinterpret_cast<HWND>(nextWindowHandle);
    nextWindowHandle += 0x10;
    windows[window] = record;
  }
  createWindowSurface(window, 0, 0);
  if (userDriver.createWindow && !userDriver.createWindow(window, request)) {
    auto lock = layerLock();
    eraseWindow(window);
    return nullptr;
  }
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
    if (record->state.owner != GetCurrentThreadId()) {
      setLastError(errorAccessDenied);
      return FALSE;
    }
    if (record->destroying) return TRUE;
    record->destroying = true;
    record->state.visible = false;
  }
  callProcedure(window, WM_DESTROY, 0, 0);
  callProcedure(window, WM_NCDESTROY, 0, 0);
  {
    auto lock = layerLock();
    eraseWindow(window);
  }
  if (userDriver.windowDestroyed) userDriver.windowDestroyed(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  auto lock = layerLock();
  return findWindow(window) != nullptr;
}

BOOL ShowWindow(HWND window, int showCommand) {
  bool wasVisible, visible;
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return FALSE;
    wasVisible = record->state.visible;
    visible = showCommand != SW_HIDE;
    record->state.visible = visible;
    if (visible && !wasVisible) markInvalid(record, true);
  }
  if (userDriver.showWindow) userDriver.showWindow(window, visible);
  return wasVisible;
}

BOOL UpdateWindow(HWND window) {
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return FALSE;
    if (!record->invalid || !record->state.visible) return TRUE;
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
    paint->rcPaint = {0, 0, record->state.clientWidth, record->state.clientHeight};
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
  int length = std::min((int)record->state.title.size(), bufferSize - 1);
  memcpy(buffer, record->state.title.data(), length);
  buffer[length] = '\0';
  return length;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return FALSE;
  RECT to = clampedPlacement(x, y, width, height);
  if (record->state.owner == GetCurrentThreadId()) {
    lock.unlock();
    applyMove(window, to, repaint);
    return TRUE;
  }
  // Another thread's window moves on its own thread, and the caller waits, as on Windows.
  SentMessage sent{sentMove, window, 0, 0, 0, to, repaint, nullptr, nullptr, 0, false};
  sendAcross(lock, record->state.owner, &sent);
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !rect) return FALSE;
  *rect = record->state.outer;
  return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !rect) return FALSE;
  *rect = {0, 0, record->state.clientWidth, record->state.clientHeight};
  return TRUE;
}

LONG GetWindowLongA(HWND window, int index) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return 0;
  // Only the low 32 bits fit, as in a 64-bit Windows program that asks this way.
  if (index == GWL_HINSTANCE) return (LONG)(intptr_t)record->instance;
  return 0;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !point) return FALSE;
  point->x -= record->state.clientOrigin.x;
  point->y -= record->state.clientOrigin.y;
  return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !point) return FALSE;
  point->x += record->state.clientOrigin.x;
  point->y += record->state.clientOrigin.y;
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// The cursor

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  if (userDriver.readCursor) userDriver.readCursor();
  auto lock = layerLock();
  *point = cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  if (userDriver.warpCursor && !userDriver.warpCursor(x, y)) return FALSE;
  auto lock = layerLock();
  cursor = {x, y};
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Dialogs

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return userDriver.messageBox ? userDriver.messageBox(owner, text, caption, type) : IDOK;
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA dialog) {
  if (!dialog || !dialog->lpstrFile || dialog->lStructSize < OPENFILENAME_SIZE_VERSION_400A) {
    return FALSE;
  }
  return userDriver.openFileName ? userDriver.openFileName(dialog) : FALSE;
}

// ---------------------------------------------------------------------------------------------
// The default window procedure

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
      std::string title = lParam ? reinterpret_cast<const char*>(lParam) : "";
      {
        auto lock = layerLock();
        WindowRecord* record = findWindow(window);
        if (!record) return FALSE;
        record->state.title = title;
      }
      if (userDriver.titleChanged) userDriver.titleChanged(window, title.c_str());
      return TRUE;
    }
    case WM_GETTEXT:
      return GetWindowTextA(window, reinterpret_cast<LPSTR>(lParam), (int)wParam);
    case WM_SETICON: {
      HICON previous, smallIcon, bigIcon;
      {
        auto lock = layerLock();
        WindowRecord* record = findWindow(window);
        if (!record) return 0;
        HICON& slot = wParam == ICON_SMALL ? record->state.smallIcon : record->state.bigIcon;
        previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
        smallIcon = record->state.smallIcon;
        bigIcon = record->state.bigIcon;
      }
      if (userDriver.iconsChanged) userDriver.iconsChanged(window, smallIcon, bigIcon);
      return (LRESULT)previous;
    }
    case WM_GETICON: {
      auto lock = layerLock();
      WindowRecord* record = findWindow(window);
      if (!record) return 0;
      return (LRESULT)(wParam == ICON_SMALL ? record->state.smallIcon : record->state.bigIcon);
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
    owner = record->state.owner;
  }
  queues[owner].posted.push_back(MSG{window, message, wParam, lParam, userClockReading(), cursor});
  wakeThread(owner, false);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  ThreadQueue& queue = queues[me];
  queue.quitPosted = true;
  queue.quitCode = exitCode;
  wakeThread(me, false);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return 0;
  if (record->state.owner == GetCurrentThreadId()) {
    WNDPROC procedure = record->procedure;
    lock.unlock();
    return procedure(window, message, wParam, lParam);
  }
  SentMessage sent{sentMessage, window,  message, wParam, lParam, RECT{},
                   FALSE,       nullptr, nullptr, 0,      false};
  return sendAcross(lock, record->state.owner, &sent);
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
  bool native = runsNativeEvents();
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  ThreadQueue& queue = queues[me];
  for (;;) {
    handleSentMessages(lock);
    queue.newInput = false;
    if (takeMessage(me, window, filterMin, filterMax, true, msg)) return msg->message != WM_QUIT;
    if (native && userDriver.waitForEvents) {
      // Native events become posted messages; a post or a send from another thread wakes it.
      lock.unlock();
      userDriver.waitForEvents();
      lock.lock();
    } else {
      layerWait(
          lock, [&] { return queue.newInput || !queue.sent.empty(); }, INFINITE);
    }
  }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  bool native = runsNativeEvents();
  auto lock = layerLock();
  pumpNativeEvents(lock, native);
  DWORD me = GetCurrentThreadId();
  handleSentMessages(lock);
  queues[me].newInput = false;
  return takeMessage(me, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, msg);
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;  // no keyboard input is translated: the player reads no characters
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return callProcedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  bool native = runsNativeEvents() && userDriver.pumpEvents;
  auto lock = layerLock();
  for (DWORD i = 0; i < count; ++i) {
    if (!layerIsThreadHandle(handles[i])) {
      setLastError(errorInvalidHandle);
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
  if (!native) {
    bool done = count > 0 ? layerWaitForHandles(lock, ready, milliseconds)
                          : layerWait(lock, ready, milliseconds);
    return done ? result : WAIT_TIMEOUT;
  }
  // A thread that runs native events looks at them now and then while it waits: they become
  // posted messages, and a dialog's events must keep flowing.
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    pumpNativeEvents(lock, native);
    if (ready()) return result;
    DWORD slice = userDriver.waitPollMs;
    if (milliseconds != INFINITE) {
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
      if (spent >= (long long)milliseconds) return WAIT_TIMEOUT;
      slice = std::min<DWORD>(slice, milliseconds - (DWORD)spent);
    }
    if (count > 0) {
      layerWaitForHandles(lock, ready, slice);
    } else {
      layerWait(lock, ready, slice);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// For the drivers (user_core.h)

bool userWindowState(HWND window, UserWindowState* state) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record || !state) return false;
  *state = record->state;
  return true;
}

void userSetGeometry(HWND window, const RECT& outer, POINT clientOrigin, int clientWidth,
                     int clientHeight) {
  {
    auto lock = layerLock();
    WindowRecord* record = findWindow(window);
    if (!record) return;
    record->state.outer = outer;
    record->state.clientOrigin = clientOrigin;
    if (record->state.clientWidth == clientWidth && record->state.clientHeight == clientHeight) {
      return;
    }
    record->state.clientWidth = clientWidth;
    record->state.clientHeight = clientHeight;
  }
  resizeWindowSurface(window, clientWidth, clientHeight);
}

void userSetClientOrigin(HWND window, POINT clientOrigin) {
  auto lock = layerLock();
  if (WindowRecord* record = findWindow(window)) record->state.clientOrigin = clientOrigin;
}

void userSetOuter(HWND window, const RECT& outer) {
  auto lock = layerLock();
  if (WindowRecord* record = findWindow(window)) record->state.outer = outer;
}

LPARAM userPointLParam(int x, int y) {
  return (LPARAM)(((DWORD)(WORD)y << 16) | (WORD)x);
}

void userInvalidate(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
}

void userNoteCursor(POINT position) {
  auto lock = layerLock();
  cursor = position;
}

void userHandleSentMessages() {
  auto lock = layerLock();
  handleSentMessages(lock);
}

void userRunOnThread(DWORD thread, void (*work)(void* data), void* data) {
  if (thread == GetCurrentThreadId()) {
    work(data);
    return;
  }
  auto lock = layerLock();
  SentMessage sent{sentCall, nullptr, 0, 0, 0, RECT{}, FALSE, work, data, 0, false};
  sendAcross(lock, thread, &sent);
}

bool userStoreChosenPath(LPOPENFILENAMEA dialog, const std::string& path) {
  if (path.size() + 1 > dialog->nMaxFile) {
    // Windows puts the size the name needs into the buffer's first two bytes.
    if (dialog->nMaxFile >= 2) {
      WORD needed = (WORD)std::min<size_t>(path.size() + 1, 0xFFFF);
      memcpy(dialog->lpstrFile, &needed, sizeof needed);
    }
    return false;
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
  if (dialog->lpstrFileTitle && dialog->nMaxFileTitle > 0) {
    std::string title = path.substr(nameStart);
    if (title.size() + 1 <= dialog->nMaxFileTitle) {
      memcpy(dialog->lpstrFileTitle, title.c_str(), title.size() + 1);
    }
  }
  return true;
}

void userReset() {
  auto lock = layerLock();
  for (auto& entry : queues) answerPendingSent(entry.first, nullptr);
  std::vector<HWND> all;
  for (auto& entry : windows) all.push_back(entry.first);
  for (HWND window : all) eraseWindow(window);
  classes.clear();
  queues.clear();
  cursor = {0, 0};
  userClockReset();
  layerWakeAll();
}
