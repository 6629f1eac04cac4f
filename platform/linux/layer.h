// What the files of the Linux layer share with each other, and nothing the player sees.
// The GDI, the USER core and its window drivers, the sound service and the kernel calls meet
// here.
#ifndef TORVANE_PLATFORM_LINUX_LAYER_H
#define TORVANE_PLATFORM_LINUX_LAYER_H

#include <stddef.h>
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
// every script the player opens ("" forgets it); from then on GetModuleFileNameA reports the player
// as lying in that folder, so the working directory the player makes current is the story's.
std::string storyFolderFor(const std::string& playerFolder, const std::string& script);
void layerNoteOpenedScript(const std::string& nativeScript);

// ---------------------------------------------------------------------------------------------
// Pixels (gdi_pixel_formats.cpp): one view of a surface's pixels, whatever holds them (a bitmap,
// a DIB section, a window's client area).
//
// How the bytes of a row are to be read. Colours inside the layer are 0x00RRGGBB ("rgb"), the
// order of a 32-bpp DIB in memory; COLORREF (0x00BBGGRR) is converted at the API boundary only.
// A pixel's raw value is what it stores: a colour-table index, 0 or 1 of a monochrome bitmap,
// packed colour fields of 16 and 32 bpp, rgb of 24 bpp.
struct PixelFunctions;

struct ColorField {
  uint32_t mask;
  int shift;  // position of the lowest bit
  int bits;   // width
};

struct PixelFormat {
  int bitsPerPixel;        // 1, 4, 8, 16, 24 or 32
  bool monochrome;         // a 1-bpp device-dependent bitmap: 0 black, 1 white, no colour table;
                           // as a source into colour it takes the destination DC's colours
  uint32_t masks[3];       // red, green, blue masks of 16- and 32-bpp pixels
  const uint32_t* colors;  // colour table (rgb) of 1-, 4- and 8-bpp DIB sections
  int colorCount;          // entries in colors
  // Chosen from the fields above by choosePixelFunctions, once, when a bitmap is made:
  ColorField fields[3];             // red, green, blue fields of 16- and 32-bpp pixels
  uint32_t colorBits;               // the bits of a raw value that carry its colour
  const PixelFunctions* functions;  // the format's row functions, never null
};

// What every pixel format provides, a row at a time. Colours given to rawFromRgb and made by
// readRgb are rgb with the top byte clear.
struct PixelFunctions {
  // Raw values of the pixels [x, x + count) of a row, and back; writeRaw keeps the row's other
  // pixels and stores only the bits a pixel has.
  void (*readRaw)(const uint8_t* row, int x, int count, uint32_t* out);
  void (*writeRaw)(uint8_t* row, int x, int count, const uint32_t* in);
  // Colours of the pixels [x, x + count); a monochrome bitmap's 0 and 1 become
  // monochromeColors[0] and [1].
  void (*readRgb)(const PixelFormat& format, const uint8_t* row, int x, int count, uint32_t* out,
                  const uint32_t monochromeColors[2]);
  // Colours to raw values, in place: the nearest entry for colour tables.
  void (*rawFromRgb)(const PixelFormat& format, uint32_t* values, int count);
  // Sets pixel x + c of a row to raw for every set bit c of bits: a row of a glyph.
  void (*writeBits)(uint8_t* row, int x, uint32_t bits, uint32_t raw);
  bool direct;  // 32 bpp: a raw value is the row's own 32-bit word, so rows are used in place
};

// Where a surface's pixels are (a bitmap, a DIB section or a window's client area): the top row
// and the signed step from one row to the next, so that bottom-up DIB sections and top-down
// surfaces read alike, with the format that says how to read them.
struct PixelView {
  uint8_t* top;
  ptrdiff_t rowStep;  // bytes from row y to row y + 1
  int width;
  int height;
  PixelFormat format;
};

PixelFormat pixelFormat32();  // 0x00RRGGBB in 32 bits, rows top-down: every window surface

// ---------------------------------------------------------------------------------------------
// Window surfaces (gdi_window_surfaces.cpp): every window's client area is a 32-bpp surface that
// the GDI draws into through the window's device context (GetDC, BeginPaint). The USER core
// creates and resizes it and a driver shows it; the GDI never calls USER, it only tells it through
// the handler that a device context of the window was released after drawing.
void createWindowSurface(HWND window, int width, int height);  // filled white
void resizeWindowSurface(HWND window, int width, int height);  // keeps the overlap
void destroyWindowSurface(HWND window);
// Lock before reading or drawing a surface and unlock after; the lock keeps it alive and its size
// fixed meanwhile. A window without a surface gives false. changed says whether it was drawn into.
bool lockWindowSurface(HWND window, PixelView* pixels);  // format pixelFormat32()
void unlockWindowSurface(HWND window, bool changed);
// Called (on the drawing thread) after a changed surface was unlocked; the desktop backend
// repaints.
void setWindowSurfaceChangedHandler(void (*handler)(HWND window));

// ---------------------------------------------------------------------------------------------
// GDI bookkeeping (gdi.cpp): how many GDI objects (DCs, bitmaps, icons) are alive, for leak tests.
int liveGdiObjectCount();

// Icons (user_common.cpp): the pixels of an icon from LoadImageA or LoadIconA, for the desktop
// backend to show. The stock application icon has none (false).
struct IconPixels {
  const uint32_t* pixels;  // 0xAARRGGBB per pixel, rows top-down, width pixels a row
  int width;
  int height;
};
bool iconPixels(HICON icon, IconPixels* pixels);

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
