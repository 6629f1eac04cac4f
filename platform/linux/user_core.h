// The USER core: the Windows message model that every window backend shares, and the record a
// backend fills in to drive it.
//
// For the next person who writes a driver:
// - The core owns the window classes (names without regard to case, atoms from 0xC000), the
//   window records behind window handles (title, icons, style, geometry, paint state, owning
//   thread), one message queue per thread with Windows' filtering and WM_PAINT order, messages
//   sent across threads and ReplyMessage, DefWindowProcA, the last-error codes, the cursor
//   position messages carry, and the clock (user_core_clock.cpp: real, or the virtual one of
//   tests). Everything it owns lives under the layer's one lock (layer.h); no window procedure,
//   and no driver entry but wake and maxTrackSize, runs with that lock held.
// - A driver supplies only what needs a native window system: making and destroying the native
//   window and its menu bar, showing it, title, icons, moving and sizing (it reports the geometry
//   that resulted with userSetGeometry), the cursor, message boxes, the Open dialog (the core
//   stores the answer: userStoreChosenPath), and its event loop (pump what is ready, block until
//   something happens, wake a blocked thread). It turns native input
//   into posted messages with PostMessageA and marks damage with userInvalidate. Entries may be
//   null where the driver has nothing to do.
// - Each backend defines `userDriver`; the core is compiled into each backend's library. Its files:
//   user_core_windows.cpp (classes, records, geometry, painting, DefWindowProcA, dialogs),
//   user_core_messages.cpp (queues, sending, waiting), user_core_clock.cpp, and
//   user_core_records.h, the records the first two share.
#ifndef TORVANE_PLATFORM_LINUX_USER_CORE_H
#define TORVANE_PLATFORM_LINUX_USER_CORE_H

#include <mutex>
#include <string>

#include "platform/linux/win32_subset.h"

// What CreateWindowExA was asked for, after the core applied CW_USEDEFAULT.
struct UserWindowRequest {
  const char* menuName;  // the class's menu resource name, or null for none
  bool hasMenu;          // the class or the call gives a menu bar
  DWORD style;
  bool defaultPosition;  // CW_USEDEFAULT: the driver places the window
  int x;
  int y;
  int width;  // outer size
  int height;
};

struct UserDriver {
  // Windows. createWindow makes the native window and reports its geometry (userSetGeometry);
  // false refuses the window (the core then forgets it). The others run on the calling thread
  // after the core changed the record; a driver whose native windows live on one thread hands
  // the work over itself.
  bool (*createWindow)(HWND window, const UserWindowRequest& request);
  void (*windowDestroyed)(HWND window);  // the record is gone already
  void (*showWindow)(HWND window, bool show);
  void (*titleChanged)(HWND window, const char* title);  // CP932
  void (*iconsChanged)(HWND window, HICON smallIcon, HICON bigIcon);
  // Moves and sizes the outer rectangle (sizes clamped by the core) and reports the geometry.
  void (*moveWindow)(HWND window, int x, int y, int width, int height);
  void (*windowMoved)(HWND window);  // after WM_MOVE and WM_SIZE were sent
  // The largest outer size a window may have: Windows' maximum tracking size, a little more than
  // the desktop. The core holds every size it is asked for within it, as Windows does. Called
  // with the lock held: it must answer from what the driver knows already.
  void (*maxTrackSize)(int* width, int* height);

  // The cursor: refresh the position the core keeps (may be null), and move it.
  void (*readCursor)();
  bool (*warpCursor)(int x, int y);

  // Dialogs. messageBox shows a box and answers which button closed it. openFileName asks for a
  // file and stores what was chosen with userStoreChosenPath; the core checked the record.
  int (*messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
  BOOL (*openFileName)(LPOPENFILENAMEA dialog);

  // Events. eventThread tells whether the calling thread runs native events (null: none does).
  // pumpEvents runs what is ready without blocking; waitForEvents blocks until a native event
  // or a wake, lock not held. wake is called, lock held, when something arrives in a thread's
  // queue (sent: a message sent from another thread).
  bool (*eventThread)();
  void (*pumpEvents)();
  void (*waitForEvents)();
  void (*wake)(DWORD thread, bool sent);
  DWORD waitPollMs;  // MsgWaitForMultipleObjects looks at native events this often
};

extern const UserDriver userDriver;

// The part of a window record a driver reads.
struct UserWindowState {
  std::string title;  // CP932
  DWORD style;
  HICON smallIcon;
  HICON bigIcon;
  RECT outer;          // screen coordinates
  POINT clientOrigin;  // screen position of the client area's top-left corner
  int clientWidth;
  int clientHeight;
  bool hasMenu;
  bool visible;
  DWORD owner;  // the thread that created it
};

bool userWindowState(HWND window, UserWindowState* state);
// Driver: the geometry that resulted from creating, moving or the window system. A changed
// client size resizes the window's surface and asks for a WM_PAINT.
void userSetGeometry(HWND window, const RECT& outer, POINT clientOrigin, int clientWidth,
                     int clientHeight);
void userSetClientOrigin(HWND window, POINT clientOrigin);
void userSetOuter(HWND window, const RECT& outer);
// A point as mouse messages and WM_MOVE carry it: x in the low word, y in the high word.
LPARAM userPointLParam(int x, int y);
// Driver: the window needs a WM_PAINT; null for every window.
void userInvalidate(HWND window);
// Driver: where the pointer is, in screen coordinates, as the window system last told.
void userNoteCursor(POINT position);
// Handles the messages other threads sent to the calling thread (a driver calls it from inside
// native modal loops, where no GetMessageA runs).
void userHandleSentMessages();
// Runs work on another thread, the way a message sent to that thread's window is handled, and
// waits; ReplyMessage does not answer it. Runs at once when thread is the caller's.
void userRunOnThread(DWORD thread, void (*work)(void* data), void* data);
// Stores a chosen file (CP932) in an Open dialog's record as the narrow dialog returns it: the
// path with its zero, the offsets of its name and extension, and the name alone when asked.
// False when it does not fit; the buffer's first two bytes then say the size it needs.
bool userStoreChosenPath(LPOPENFILENAMEA dialog, const std::string& path);
// Forgets every window (no messages sent) and class, empties every queue; the cursor goes to 0,0.
void userReset();

// The clock (user_core_clock.cpp). userClockReading never blocks: it stamps messages.
DWORD userClockReading();
void userUseRealClock(bool real);
void userClockReset();
void userClockThreadEnded(DWORD thread);

#endif
