// Control of the headless window backend (user_headless.cpp), for tests and torvane-run. The
// player itself never includes this: it sees only the Windows API.
#ifndef TORVANE_PLATFORM_LINUX_HEADLESS_H
#define TORVANE_PLATFORM_LINUX_HEADLESS_H

#include <string>
#include <vector>

#include "platform/linux/win32_subset.h"

// A message box as the program showed it. Every box is answered IDOK at once.
struct HeadlessMessageBox {
  HWND owner;
  std::string text;     // CP932 bytes, as passed
  std::string caption;  // CP932 bytes, as passed
  UINT type;
  DWORD threadId;       // the thread that showed it
};

// Every message box shown since the last clear, in order.
std::vector<HeadlessMessageBox> headlessMessageBoxes();
void headlessClearMessageBoxes();
// Called on the showing thread for each message box, before it is answered; null to remove.
void headlessSetMessageBoxHandler(void (*handler)(const HeadlessMessageBox& box));

// What the next GetOpenFileNameA returns: a CP932 path, or null to have the user cancel.
void headlessSetOpenFileResult(const char* path);

// The window record: what a desktop would show of it.
struct HeadlessWindowState {
  std::string title;  // CP932
  bool hasSmallIcon;  // a small icon is set (WM_SETICON ICON_SMALL with a non-null icon)
  HICON smallIcon;
  RECT outer;         // outer rectangle in screen coordinates
  int clientWidth;
  int clientHeight;
  bool visible;
};
bool headlessWindowState(HWND window, HeadlessWindowState* state);

#endif
