// The USER core's windows (user_core.h): classes, window records and their geometry, painting,
// DefWindowProcA, the cursor and the dialogs' entry points. Owns the classes and the records
// under the layer's one lock (kernel.cpp); no window procedure or driver entry is called with it
// held. Deps: user_core_records.h, layer.h (lock, surfaces, last error), the backend's userDriver.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_core_records.h"
#include "platform/windows_api.h"

namespace {

using namespace usercore;

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

// Guarded by the layer lock.
std::vector<ClassRecord> classes;
uintptr_t nextWindowHandle = 0x10010;

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

// Forgets a window: its queued messages go and its surface is destroyed. Lock held.
void eraseWindow(HWND window) {
  auto record = windows.find(window);
  if (record == windows.end()) return;
  DWORD owner = record->second.state.owner;
  windows.erase(record);
  forgetQueuedFor(owner, window);
  destroyWindowSurface(window);
}

// A thread made by CreateThread ends: Windows destroys its windows and whoever sent to it gets 0.
void threadEnded(DWORD thread) {
  std::vector<HWND> owned;
  for (auto& entry : windows) {
    if (entry.second.state.owner == thread) owned.push_back(entry.first);
  }
  for (HWND window : owned) eraseWindow(window);
  forgetQueue(thread);
  userClockThreadEnded(thread);
}

struct ThreadEndHookInstaller {
  ThreadEndHookInstaller() { layerThreadEndHandler = threadEnded; }
} threadEndHookInstaller;

}  // namespace

namespace usercore {

std::map<HWND, WindowRecord> windows;

WindowRecord* findWindow(HWND window) {
  auto found = windows.find(window);
  if (found == windows.end() || !window) return nullptr;
  return &found->second;
}

void markInvalid(WindowRecord* record, bool erase) {
  record->invalid = true;
  record->erase = record->erase || erase;
  wakeThread(record->state.owner, false);
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

}  // namespace usercore

using namespace usercore;

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
  // A title cut to the buffer ends at a whole character, as Windows cuts it: half a double-byte
  // character would join whatever the caller appends into another one.
  const std::string& title = record->state.title;
  int room = std::min((int)title.size(), bufferSize - 1), length = 0;
  while (length < room) {
    int step = IsDBCSLeadByte((BYTE)title[length]) && length + 1 < (int)title.size() ? 2 : 1;
    if (length + step > room) break;
    length += step;
  }
  memcpy(buffer, title.data(), length);
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
  std::vector<HWND> all;
  for (auto& entry : windows) all.push_back(entry.first);
  for (HWND window : all) eraseWindow(window);
  classes.clear();
  forgetAllQueues();
  cursor = {0, 0};
  userClockReset();
  layerWakeAll();
}
