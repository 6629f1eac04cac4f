// The headless window driver: windows are records only (the core's), with fixed non-client
// metrics on a fixed desktop; message boxes are logged and answered OK, the Open dialog answers
// what the test or the runner set, and the clock is the core's virtual one. Owns the dialog log,
// the Open result and the window observer, under the layer's lock. Deps: user_core.h, layer.h.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/linux/user_core.h"
#include "platform/windows_api.h"

namespace {

constexpr int defaultX = 24;  // where CW_USEDEFAULT places a window
constexpr int defaultY = 24;

// Guarded by the layer lock.
std::vector<HeadlessMessageBox> messageBoxes;
void (*messageBoxHandler)(const HeadlessMessageBox& box) = nullptr;
void (*windowObserver)(HWND window, UINT change) = nullptr;
bool openResultSet = false;
std::string openResult;

void notifyObserver(HWND window, UINT change) {
  void (*observer)(HWND, UINT);
  {
    auto lock = layerLock();
    observer = windowObserver;
  }
  if (observer) observer(window, change);
}

// The outer rectangle and what it leaves for the client area. The corner and size are the
// core's, held within 16-bit coordinates, so no edge overflows.
void placeWindow(HWND window, bool hasMenu, int x, int y, int width, int height) {
  int top = headlessFrameWidth + headlessCaptionHeight + (hasMenu ? headlessMenuHeight : 0);
  RECT outer = {x, y, x + width, y + height};
  userSetGeometry(window, outer, POINT{x + headlessFrameWidth, y + top},
                  std::max(0, width - 2 * headlessFrameWidth),
                  std::max(0, height - top - headlessFrameWidth));
}

// ---------------------------------------------------------------------------------------------
// The driver's entries

bool createWindow(HWND window, const UserWindowRequest& request) {
  int x = request.defaultPosition ? defaultX : request.x;
  int y = request.defaultPosition ? defaultY : request.y;
  placeWindow(window, request.hasMenu, x, y, request.width, request.height);
  return true;
}

void moveWindow(HWND window, int x, int y, int width, int height) {
  UserWindowState state;
  if (userWindowState(window, &state)) placeWindow(window, state.hasMenu, x, y, width, height);
}

void maxTrackSize(int* width, int* height) {
  *width = headlessMaxTrackWidth;
  *height = headlessMaxTrackHeight;
}

void windowDestroyed(HWND window) {
  notifyObserver(window, WM_DESTROY);
}

void titleChanged(HWND window, const char*) {
  notifyObserver(window, WM_SETTEXT);
}

void iconsChanged(HWND window, HICON, HICON) {
  notifyObserver(window, WM_SETICON);
}

void windowMoved(HWND window) {
  notifyObserver(window, WM_MOVE);
}

// Dialogs: every message box is logged and answered OK; the Open dialog answers what was set.
int messageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
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

BOOL openFileName(LPOPENFILENAMEA dialog) {
  std::string path;
  {
    auto lock = layerLock();
    if (!openResultSet) return FALSE;
    path = openResult;
  }
  return userStoreChosenPath(dialog, path);
}

}  // namespace

extern const UserDriver userDriver = {
    createWindow,     // createWindow
    windowDestroyed,  // windowDestroyed
    nullptr,          // showWindow
    titleChanged,     // titleChanged
    iconsChanged,     // iconsChanged
    moveWindow,       // moveWindow
    windowMoved,      // windowMoved
    maxTrackSize,     // maxTrackSize
    nullptr,          // readCursor
    nullptr,          // warpCursor
    messageBox,       // messageBox
    openFileName,     // openFileName
    nullptr,          // eventThread
    nullptr,          // pumpEvents
    nullptr,          // waitForEvents
    nullptr,          // wake
    0,                // waitPollMs
};

// ---------------------------------------------------------------------------------------------
// Test control (headless.h)

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
  UserWindowState record;
  if (!state || !userWindowState(window, &record)) return false;
  state->title = record.title;
  state->hasSmallIcon = record.smallIcon != nullptr;
  state->smallIcon = record.smallIcon;
  state->outer = record.outer;
  state->clientWidth = record.clientWidth;
  state->clientHeight = record.clientHeight;
  state->visible = record.visible;
  return true;
}

void headlessSetWindowObserver(void (*observer)(HWND window, UINT change)) {
  auto lock = layerLock();
  windowObserver = observer;
}

void headlessReset() {
  userReset();
  auto lock = layerLock();
  messageBoxes.clear();
  messageBoxHandler = nullptr;
  windowObserver = nullptr;
  openResultSet = false;
  openResult.clear();
}
