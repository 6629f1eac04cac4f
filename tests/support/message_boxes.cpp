// The test support's message boxes, apart so that programs on other backends can use the rest:
// Linux asks the headless backend; Windows hooks the calling thread's boxes and answers OK.
#include <string.h>

#include "support/test_support.h"

#ifdef _WIN32
namespace {

std::vector<CapturedMessageBox> captured;  // the hook runs on the thread whose boxes it sees
HHOOK captureHook = nullptr;

LRESULT CALLBACK captureHookProc(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = (HWND)wParam;
  char className[32] = {}, caption[1024] = {}, text[2048] = {};
  if (code == HCBT_ACTIVATE) GetClassNameA(box, className, sizeof className);
  // A box activated again (another window took the focus meanwhile) is answered once only.
  if (strcmp(className, "#32770") == 0 && !GetPropA(box, "TorvaneCaptured")) {
    SetPropA(box, "TorvaneCaptured", (HANDLE)1);
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    bool okOnly = GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL) && !GetDlgItem(box, IDNO);
    captured.push_back({GetWindow(box, GW_OWNER), text, caption, okOnly ? MB_OK : ~0u});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(captureHook, code, wParam, lParam);
}

}  // namespace

void beginCapturingMessageBoxes() {
  captured.clear();
  if (!captureHook)
    captureHook = SetWindowsHookExA(WH_CBT, captureHookProc, nullptr, GetCurrentThreadId());
}

std::vector<CapturedMessageBox> capturedMessageBoxes() { return captured; }

void endCapturingMessageBoxes() {
  if (captureHook) UnhookWindowsHookEx(captureHook);
  captureHook = nullptr;
}
#else
#include "platform/linux/headless.h"

void beginCapturingMessageBoxes() { headlessClearMessageBoxes(); }
void endCapturingMessageBoxes() { headlessClearMessageBoxes(); }

std::vector<CapturedMessageBox> capturedMessageBoxes() {
  std::vector<CapturedMessageBox> boxes;
  for (const HeadlessMessageBox& box : headlessMessageBoxes())
    boxes.push_back({box.owner, box.text, box.caption, box.type});
  return boxes;
}
#endif
