// The main thread's side of the shell: the entry point, the window class with its menu, the
// window, the message loop, the window procedure, and the clean-up when the window closes.
// Writes mainWindow, instanceHandle, appActive and cleanupDone (shell_state.cpp).
#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "resources/menu.h"
#include "resources/texts.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

// Caption, system menu and minimize box: the window can be moved and minimized, not resized.
constexpr DWORD mainWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int mainWindowWidth = 640;  // outer size: frame, caption and menu bar included
constexpr int mainWindowHeight = 480;

void releaseAllImages() {
  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  releaseImage(&virtualScreen);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  mainWindow = createMainWindow(instance, showCommand);
  if (!mainWindow) return 0;
  frameThreadStarted = 0;
  SetCurrentDirectoryA(makeWorkingDirectory());

  MSG message = {};
  // GetMessageA gives -1 on failure: that ends the loop as well as WM_QUIT does.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return (int)message.wParam;
}

HWND createMainWindow(HINSTANCE instance, int showCommand) {
  instanceHandle = instance;

  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  windowClass.lpszMenuName = menuResourceName;
  windowClass.lpszClassName = windowClassName;
  if (!RegisterClassA(&windowClass)) return nullptr;

  HWND window = CreateWindowExA(0, windowClassName, windowTitle, mainWindowStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, mainWindowWidth, mainWindowHeight, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return nullptr;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return window;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      // Menu commands carry 0 in the high word: the whole wParam is the command.
      if (wParam == IDM_FILE_OPEN) {
        openScript(window);
      } else if (wParam == IDM_FILE_EXIT) {
        SendMessageA(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_LBUTTONDOWN:
      runEnabled = 1;
      return 0;
    case WM_ACTIVATEAPP:
      appActive = wParam != 0 ? 1 : 0;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (dc) presentToDC(dc);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      closeCleanup();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void closeCleanup() {
  if (frameThreadStarted == 1 && !stopFrameThread()) {
    // A frame thread left behind may still use the slots and the list: they stay as they are
    // until the process ends, which follows at once.
    cleanupDone = 1;
    SetCurrentDirectoryA(makeWorkingDirectory());
    return;
  }
  releaseAllImages();
  finalCleanup();
}

void finalCleanup() {
  if (cleanupDone != 0) return;
  cleanupDone = 1;
  SetCurrentDirectoryA(makeWorkingDirectory());
  freeCommandList(commandList);
  // Nothing of this process reads the list again, but a head left naming freed nodes would be
  // freed a second time by anything that did (a test running the program again).
  resetCommandList(commandList);
  releaseSoundSlots();
}
