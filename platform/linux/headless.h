// Control of the headless window driver (user_headless.cpp) and of the USER core's virtual clock
// (user_core_clock.cpp), for tests and torvane-run. The player itself never includes this: it
// sees only the Windows API.
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
  DWORD threadId;  // the thread that showed it
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
  RECT outer;  // outer rectangle in screen coordinates
  int clientWidth;
  int clientHeight;
  bool visible;
};
bool headlessWindowState(HWND window, HeadlessWindowState* state);

// The fixed non-client metrics of a headless window: a 3 px frame on every side, a 19 px caption
// and, when the class or the call gives a menu, a 19 px menu bar. The client origin in screen
// coordinates is the outer origin + (3, 3 + 19 [+ 19]); a 640x480 window with a menu has a
// 634x436 client area. CW_USEDEFAULT places a window at 24,24 (and sizes it 640x480).
constexpr int headlessFrameWidth = 3;
constexpr int headlessCaptionHeight = 19;
constexpr int headlessMenuHeight = 19;
// The desktop a headless window lives on. No window grows beyond the maximum tracking size
// Windows derives from it (the screen, 4 px and a frame on each side), however large a size a
// script asks for.
constexpr int headlessScreenWidth = 1920;
constexpr int headlessScreenHeight = 1080;
constexpr int headlessMaxTrackWidth = headlessScreenWidth + 4 + 2 * headlessFrameWidth;
constexpr int headlessMaxTrackHeight = headlessScreenHeight + 4 + 2 * headlessFrameWidth;

// Called on the thread that made the change, after a window's title (WM_SETTEXT), small or big
// icon (WM_SETICON) or rectangle (WM_MOVE) changed, or after it was destroyed (WM_DESTROY: the
// handle is no longer valid); null to remove.
void headlessSetWindowObserver(void (*observer)(HWND window, UINT change));

// Back to the start: every window and class forgotten (no messages sent), queues emptied, message
// boxes, handler, observer and Open result cleared, cursor at 0,0, clock free and at its start.
void headlessReset();

// What GetModuleFileNameA reports (CP932); null or "" for the real executable (kernel.cpp).
void headlessSetModuleFileName(const char* path);

// ---------------------------------------------------------------------------------------------
// The virtual clock. timeGetTime reads it. It starts at 100000.
// Free (the default): Sleep(n) moves it on by n at once, so timed loops run as fast as they can.
// Sleep(0), a yield, lets 1 ms pass (free) or waits for the driver's next step (driven).
// Driven: it moves only in headlessAdvanceClock. Sleep(n) then blocks until the clock has moved n
// on, and a thread's first timeGetTime blocks until the driver's next headlessAdvanceClock, so a
// driver can act after a new thread's start-up work and before its first timed work. The driver
// is a thread that is not counted: counted are the threads made by CreateThread.
// Real: timeGetTime and Sleep are the desktop's (monotonic milliseconds, real sleeps), for
// measurements; the virtual clock's modes apply again when it is switched off.
void headlessUseRealClock(bool real);
// Real clock only: called with every reading timeGetTime returns, on the reading thread.
void headlessSetClockObserver(void (*observer)(DWORD reading));
DWORD headlessClockNow();
void headlessSetClock(DWORD now);
void headlessDriveClock(bool driven);
// Waits until every counted thread waits (for a message, a sent message's answer or the clock):
// nothing more happens until the driver acts. While a thread waits for another thread to end
// (a stop), the clock moves on to the next wake-up, as time would pass on a real clock.
void headlessWaitIdle();
// Moves a driven clock on by milliseconds, stopping at each wake-up of a sleeping thread on the
// way and waiting at each stop until the program is idle again. 0 releases first reads only.
void headlessAdvanceClock(DWORD milliseconds);

#endif
