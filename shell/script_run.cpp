// Opening a script and the frame thread: the working directory, the Open dialog, the start of a
// script run, the frame loop and its wait, and the orderly stop of the thread.
// Writes workingDirectory, scriptPath, frameThread, frameThreadStarted and frameStopRequested.
#include <string.h>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "resources/texts.h"
#include "shell/shell.h"
#include "sound/sound.h"

namespace {

// The frame wait sleeps until this many milliseconds before a frame may start and reads the clock
// for the rest, yielding between readings: close enough to start on time, cheap enough that a
// waiting script costs almost nothing.
constexpr DWORD frameWaitMargin = 1;

// How long a stop waits for a frame thread that neither ends nor sends a message. A thread that
// runs ends within a frame, or within a load (each bounded to well under a second); one that
// stays silent this long is stuck (a file that never answers) and is left behind, before the
// window has been frozen long enough for the system to call it not responding (five seconds).
constexpr DWORD frameThreadStopTimeout = 3000;

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

// Waits until the clock reads more than start + framePeriod. The elapsed time is compared, not
// the reading with start + framePeriod, so that the wait also ends when the clock wraps past 0.
void waitForNextFrame(DWORD start) {
  for (;;) {
    if (frameStopRequested) return;
    DWORD elapsed = timeGetTime() - start;
    if (elapsed > framePeriod) return;
    DWORD left = framePeriod + 1 - elapsed;  // until the first reading that starts a frame
    Sleep(left > frameWaitMargin ? left - frameWaitMargin : 0);
  }
}

// Presents the virtual screen, then looks at this thread's message queue, which is empty: a
// window layer may copy what a thread drew into a window DC to the screen only when some thread
// of the program looks at its messages (Wine does), and the main thread sleeps in GetMessageA
// until input comes. Looking here has the frame shown now rather than at the next input.
void showFrame() {
  presentToWindow();
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

DWORD endFrameThread() {
  timeEndPeriod(1);
  return 0;
}

}  // namespace

char* makeWorkingDirectory() {
  DWORD length = GetModuleFileNameA(instanceHandle, workingDirectory, pathBufferSize);
  // A path that did not fit was cut short (and on older Windows left unterminated): no directory
  // is made of it. The empty name makes SetCurrentDirectoryA fail, so the current one stays.
  if (length == 0 || length >= (DWORD)pathBufferSize) {
    workingDirectory[0] = '\0';
    return workingDirectory;
  }
  workingDirectory[length] = '\0';
  // Whole characters from the start: the trail byte of a double-byte character may be 0x5C and
  // is then no backslash. '/' (never a trail byte) separates as well, for the Linux layer.
  DWORD keep = 0;  // bytes up to and including the last separator
  for (DWORD i = 0; i < length; ++i) {
    if (IsDBCSLeadByte((BYTE)workingDirectory[i]) && i + 1 < length) {
      ++i;
      continue;
    }
    if (isSeparator(workingDirectory[i])) keep = i + 1;
  }
  memset(workingDirectory + keep, 0, pathBufferSize - keep);
  return workingDirectory;
}

bool openScript(HWND owner) {
  char fileName[pathBufferSize] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = openDialogFilter;
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = pathBufferSize;
  dialog.lpstrTitle = openDialogTitle;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  dialog.lpstrDefExt = openDialogDefaultExtension;
  if (!GetOpenFileNameA(&dialog)) return false;

  SetCurrentDirectoryA(makeWorkingDirectory());
  if (frameThreadStarted == 1 && !stopFrameThread()) {
    // The old run may still come back to its slots and list: nothing is released or started.
    MessageBoxA(mainWindow, textStopFailed, captionError, MB_OK);
    return false;
  }
  // The window may have closed while the old thread was stopping (its WM_CLOSE was handled
  // meanwhile): the program is ending, and nothing may start again.
  if (cleanupDone != 0) return false;

  for (ImageSlot& slot : imageSlots) releaseImage(&slot);
  releaseImage(&virtualScreen);
  resetImageSlots();
  releaseSoundSlots();
  if (!createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight)) {
    MessageBoxA(mainWindow, textSurfaceFailed, captionError, MB_OK);
    return false;
  }

  fileName[pathBufferSize - 1] = '\0';
  memcpy(scriptPath, fileName, pathBufferSize);

  frameStopRequested = false;
  DWORD threadId;
  frameThread = CreateThread(nullptr, 0, frameThreadProc, nullptr, 0, &threadId);
  if (!frameThread) return false;
  frameThreadStarted = 1;

  SetWindowTextA(mainWindow, windowTitle);
  SendMessageA(mainWindow, WM_SETICON, ICON_SMALL, (LPARAM)LoadIconA(nullptr, IDI_APPLICATION));
  return true;
}

void startScriptRun() {
  freeCommandList(commandList);
  resetCommandList(commandList);
  compileScript(scriptPath);
  // The compiler may have closed the window (a missing argument): the run ends here.
  if (frameStopRequested) return;
  resetTextState();
  runEnabled = 0;
  scriptFinished = 0;
  lastCommandIndex = 0;
  currentCommand = commandList;
}

DWORD WINAPI frameThreadProc(LPVOID) {
  // Windows' Sleep is as coarse as its timer (15.6 ms unless asked): ask for 1 ms while we run.
  timeBeginPeriod(1);
  startScriptRun();
  if (frameStopRequested) return endFrameThread();
  resetSoundSlots();
  for (;;) {
    DWORD start = timeGetTime();
    if (frameStopRequested) return endFrameThread();
    if (appActive != 0) {
      bool drawn = composeFrame();
      // The frame may have sent messages; after a stop nothing more is drawn or touched.
      if (frameStopRequested) return endFrameThread();
      // A frame that drew nothing leaves the window showing the screen already: it was shown
      // after the frame that drew it, and the window repaints itself from it (WM_PAINT).
      if (drawn) showFrame();
    }
    waitForNextFrame(start);
  }
}

bool stopFrameThread() {
  frameStopRequested = true;
  // When the message being handled is one the frame thread sent (its WM_CLOSE), answer it now:
  // the thread goes on, sees the stop and ends, and can be waited for like any other. Otherwise
  // this does nothing.
  ReplyMessage(0);
  // Wait for the thread to end while handling what it sends meanwhile (a title, an icon, a move,
  // a WM_CLOSE), which it waits for. A stop made meanwhile by such a message may already have
  // waited for it and let the handle go.
  while (frameThread) {
    HANDLE thread = frameThread;
    DWORD result =
        MsgWaitForMultipleObjects(1, &thread, FALSE, frameThreadStopTimeout, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // handles the sent messages
      continue;
    }
    // Stuck: the handle is kept, so that the next stop waits for the thread again. The stop flag
    // stays set, so a thread that comes back ends at its next look at it.
    if (result == WAIT_TIMEOUT) return false;
    if (frameThread == thread) {
      CloseHandle(thread);
      frameThread = nullptr;
    }
    break;
  }
  return true;
}
