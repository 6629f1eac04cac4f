// What the files of the Linux layer share with each other, and nothing the player sees.
// The GDI, the USER core and its window drivers, the sound service and the kernel calls meet
// here.
#ifndef TORVANE_PLATFORM_LINUX_LAYER_H
#define TORVANE_PLATFORM_LINUX_LAYER_H

#include <stdint.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "win32_subset.h"

// ---------------------------------------------------------------------------------------------
// Text conversion at the layer's boundary (cp932.cpp). Inside the player every string is CP932.

// CP932 bytes to UTF-8. Bytes that are not valid CP932 become U+FFFD, so this never fails.
std::string cp932ToUtf8(const char* text, size_t length);
std::string cp932ToUtf8(const char* text);
// The same without replacement: false when some byte sequence is not CP932.
bool cp932ToUtf8Exactly(const char* text, std::string* out);
// UTF-8 to CP932; false when some character has no CP932 form (out is then unspecified).
bool utf8ToCp932(const std::string& text, std::string* out);

// ---------------------------------------------------------------------------------------------
// File names (file_names.cpp): the one place that turns a Windows name into a native path.
// '\' (never a trail byte) becomes '/', CP932 becomes UTF-8, and when the exact path does not
// exist each component is matched case-insensitively, as Windows does. A name that is not valid
// CP932 names no file: its path is empty.
std::string nativePath(const char* windowsName);

// ---------------------------------------------------------------------------------------------
// Where a story's files are found (kernel.cpp). A script that lies outside the player's folder
// tree names its files relative to its own folder; inside it, relative to the player's folder.
// storyFolderFor gives the script's folder (native, absolute, no trailing '/') in the first case
// and "" in the second, or when either folder cannot be found. layerNoteOpenedScript is told of
// every script the player opens ("" forgets it); from then on GetModuleFileNameA reports the player as lying in
// that folder, so the working directory the player makes current is the story's.
std::string storyFolderFor(const std::string& playerFolder, const std::string& script);
void layerNoteOpenedScript(const std::string& nativeScript);

// ---------------------------------------------------------------------------------------------
// Window surfaces (gdi_window_surfaces.cpp): every window's client area is a 32-bpp surface that
// the GDI draws into through the window's device context (GetDC, BeginPaint). The USER core
// creates and resizes it and a driver shows it; the GDI never calls USER, it only tells it through
// the handler that a device context of the window was released after drawing.
struct WindowPixels {
  uint32_t* pixels;  // 0x00RRGGBB per pixel, rows top-down, as a 32-bpp DIB
  int width;         // client width in pixels
  int height;        // client height in pixels
  int stride;        // pixels per row
};

void createWindowSurface(HWND window, int width, int height);  // filled white
void resizeWindowSurface(HWND window, int width, int height);  // keeps the overlap
void destroyWindowSurface(HWND window);
// Lock before reading or drawing a surface and unlock after; the lock keeps it alive and its size
// fixed meanwhile. A window without a surface gives false. changed says whether it was drawn into.
bool lockWindowSurface(HWND window, WindowPixels* pixels);
void unlockWindowSurface(HWND window, bool changed);
// Called (on the drawing thread) after a changed surface was unlocked; the desktop backend
// repaints.
void setWindowSurfaceChangedHandler(void (*handler)(HWND window));

// ---------------------------------------------------------------------------------------------
// GDI bookkeeping (gdi.cpp): how many GDI objects (DCs, bitmaps, icons) are alive, for leak tests.
int liveGdiObjectCount();

// Icons (user_common.cpp): the pixels of an icon from LoadImageA or LoadIconA, for the desktop
// backend to show. The stock application icon has none (false).
bool iconPixels(HICON icon, WindowPixels* pixels);

// ---------------------------------------------------------------------------------------------
// Threads and waits (kernel.cpp). One lock guards every waitable thing of the layer (thread
// handles, message queues, the virtual clock), so that one wait can watch several of them; every
// change that may end a wait calls layerWakeAll with the lock held.
std::unique_lock<std::mutex> layerLock();
void layerWakeAll();
// Waits, with the lock held, until ready() is true; false when timeoutMs (real milliseconds,
// INFINITE for none) passed first. The time spent here counts as waiting for layerIdle.
bool layerWait(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
               DWORD timeoutMs);
// The same, for a wait whose end is another thread's end (WaitForSingleObject and
// MsgWaitForMultipleObjects on thread handles): a driven clock must move while such a wait lasts,
// since the awaited thread may be waiting for the clock. layerSomeoneWaitsForAThread tells, with
// the lock held, whether a counted thread is in such a wait.
bool layerWaitForHandles(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
                         DWORD timeoutMs);
bool layerSomeoneWaitsForAThread();
// A thread handle's state, with the lock held: true once the thread has ended. False for a handle
// that is not a thread handle.
bool layerHandleSignalled(HANDLE handle);
bool layerIsThreadHandle(HANDLE handle);
// Idle accounting, for a clock that moves only when the program has nothing left to do: the
// counted threads are those made by CreateThread and those that called layerCountThread; the
// program is idle when every counted thread waits in layerWait. Lock held.
void layerCountThread();
bool layerIdle();
void layerWaitIdle(std::unique_lock<std::mutex>& lock);
// Called with the lock held on a thread made by CreateThread just before it ends; the window
// USER core answers the messages still sent to it and forgets its windows.
extern void (*layerThreadEndHandler)(DWORD threadId);
void setLastError(DWORD error);
// Sleep(0) on the real clock: gives up the processor until the millisecond clock (CLOCK_MONOTONIC,
// which timeGetTime reads) next changes. A loop that reads the clock between such yields, as the
// frame wait does for its last millisecond, sees every reading it would have seen spinning, at
// the cost of one wake-up per millisecond instead of a processor kept busy.
void layerYieldUntilNextMillisecond();
// The last-error codes the layer sets, by their Windows names.
constexpr DWORD errorFileNotFound = 2;            // ERROR_FILE_NOT_FOUND
constexpr DWORD errorAccessDenied = 5;            // ERROR_ACCESS_DENIED
constexpr DWORD errorInvalidHandle = 6;           // ERROR_INVALID_HANDLE
constexpr DWORD errorInsufficientBuffer = 122;    // ERROR_INSUFFICIENT_BUFFER
constexpr DWORD errorInvalidWindowHandle = 1400;  // ERROR_INVALID_WINDOW_HANDLE
constexpr DWORD errorCannotFindClass = 1407;      // ERROR_CANNOT_FIND_WND_CLASS
constexpr DWORD errorClassAlreadyExists = 1410;   // ERROR_CLASS_ALREADY_EXISTS

// Told of every sndPlaySoundA call before it is carried out (sound_sdl.cpp calls it; kernel.cpp
// holds it), for torvane-run's log; null when nobody listens. imageLength is the length noted
// for a memory image, 0 for a stop or an image nobody noted: the bytes a listener may read.
extern void (*layerSoundObserver)(LPCSTR sound, UINT flags, size_t imageLength);

#endif
