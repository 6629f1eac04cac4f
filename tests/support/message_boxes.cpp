// The message boxes of the test support (test_support.h), apart from the rest so that a program
// on another backend than the headless one can use the rest. Linux asks the headless backend;
// Windows hooks the real boxes of the calling thread and closes each with OK.
#include <string.h>

#include <mutex>

#include "support/test_support.h"

#ifndef _WIN32
#include "platform/linux/headless.h"
#endif

namespace {

#ifdef _WIN32
std::mutex captureLock;
std::vector<CapturedMessageBox> captured;
HHOOK captureHook = nullptr;

LRESULT CALLBACK captureHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = (HWND)wParam;
    char className[32] = {};
    GetClassNameA(box, className, sizeof className);
    // A box can be activated more than once (when another window took the focus meanwhile):
    // it is recorded and answered the first time only.
    if (strcmp(className, "#32770") == 0 && !GetPropA(box, "TorvaneCaptured")) {
      SetPropA(box, "TorvaneCaptured", (HANDLE)1);
      char caption[1024] = {};
      char text[2048] = {};
      GetWindowTextA(box, caption, sizeof caption);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      bool okOnly = GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL) && !GetDlgItem(box, IDNO);
      {
        std::lock_guard<std::mutex> guard(captureLock);
        captured.push_back({GetWindow(box, GW_OWNER), text, caption, okOnly ? MB_OK : 0xFFFFFFFFu});
      }
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(captureHook, code, wParam, lParam);
}
#endif

}  // namespace

void beginCapturingMessageBoxes() {
#ifdef _WIN32
  {
    std::lock_guard<std::mutex> guard(captureLock);
    captured.clear();
  }
  if (!captureHook) captureHook = SetWindowsHookExA(WH_CBT, captureHookProc, nullptr, GetCurrentThreadId());
#else
  headlessClearMessageBoxes();
#endif
}

std::vector<CapturedMessageBox> capturedMessageBoxes() {
#ifdef _WIN32
  std::lock_guard<std::mutex> guard(captureLock);
  return captured;
#else
  std::vector<CapturedMessageBox> boxes;
  for (const HeadlessMessageBox& box : headlessMessageBoxes()) {
    boxes.push_back({box.owner, box.text, box.caption, box.type});
  }
  return boxes;
#endif
}

void endCapturingMessageBoxes() {
#ifdef _WIN32
  if (captureHook) UnhookWindowsHookEx(captureHook);
  captureHook = nullptr;
#else
  headlessClearMessageBoxes();
#endif
}
