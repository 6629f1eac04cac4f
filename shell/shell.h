// The application shell: WinMain, the main window and its messages, opening a script, the
// working directory and the frame thread. Owns the globals below; the main thread writes them,
// except where a comment says otherwise.
#ifndef TORVANE_SHELL_SHELL_H
#define TORVANE_SHELL_SHELL_H

#include <stdint.h>

#include <atomic>

#include "platform/windows_api.h"

constexpr int pathBufferSize = 256;  // workingDirectory and scriptPath: 255 bytes and a zero
constexpr DWORD framePeriod = 30;    // a frame starts at the first clock reading > start + 30

// Main window and message handling.
extern HWND mainWindow;                 // the one top-level window; null until created
extern HINSTANCE instanceHandle;        // the module instance WinMain was given
extern std::atomic<uint8_t> appActive;  // 1 while the application is active; the frame thread reads it
extern uint8_t cleanupDone;             // 1 once finalCleanup has run

// Script opening and the frame thread.
extern char workingDirectory[pathBufferSize];  // the executable's directory, separator kept
extern char scriptPath[pathBufferSize];        // the script chosen in the Open dialog
extern HANDLE frameThread;                     // the frame thread started last
extern uint8_t frameThreadStarted;             // 1 once a frame thread has been started
// Set on the main thread to stop the frame thread; the thread reads it before each frame's
// work and after each message it sends, and does nothing more of its script run once it is set.
extern std::atomic<bool> frameStopRequested;

HWND createMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void closeCleanup();
void finalCleanup();

char* makeWorkingDirectory();
bool openScript(HWND owner);
void startScriptRun();
DWORD WINAPI frameThreadProc(LPVOID unused);
// True once the frame thread has ended; false when it did not end in time and was left behind.
bool stopFrameThread();

#endif
