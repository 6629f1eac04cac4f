// Inside the USER core: the records its two files share, the windows (user_core_windows.cpp) and
// the message queues (user_core_messages.cpp). Everything here lives under the layer's lock.
// Nothing outside platform/linux/user_core*.cpp includes this.
#ifndef TORVANE_PLATFORM_LINUX_USER_CORE_RECORDS_H
#define TORVANE_PLATFORM_LINUX_USER_CORE_RECORDS_H

#include <deque>
#include <map>
#include <mutex>

#include "platform/linux/user_core.h"

namespace usercore {

struct WindowRecord {
  WNDPROC procedure;
  HINSTANCE instance;
  UserWindowState state;
  bool invalid;     // the client area needs a WM_PAINT
  bool erase;       // the next BeginPaint reports fErase
  bool destroying;  // DestroyWindow is under way
};

enum SentKind { sentMessage, sentMove, sentCall };

// A message, a move or a call sent from another thread, waiting in its receiver's queue until
// handled.
struct SentMessage {
  SentKind kind;
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  RECT moveTo;  // sentMove: the new outer rectangle as x, y, width, height
  BOOL repaint;
  void (*work)(void* data);  // sentCall
  void* data;
  LRESULT result;
  bool done;
};

struct ThreadQueue {
  std::deque<MSG> posted;
  std::deque<SentMessage*> sent;
  bool quitPosted = false;
  int quitCode = 0;
  bool newInput = false;  // something arrived since the thread last looked at its queue
};

// The window records (user_core_windows.cpp) and the queues (user_core_messages.cpp).
extern std::map<HWND, WindowRecord> windows;
extern std::map<DWORD, ThreadQueue> queues;
extern POINT cursor;

// Windows (user_core_windows.cpp). Lock held unless said otherwise.
WindowRecord* findWindow(HWND window);
void markInvalid(WindowRecord* record, bool erase);
// Calls a window's procedure on the calling thread; 0 when the window is gone. Lock not held.
LRESULT callProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Moves a window of the calling thread and tells its procedure. Lock not held.
void applyMove(HWND window, const RECT& to, BOOL repaint);

// Queues (user_core_messages.cpp). Lock held.
// Something arrived in a thread's queue (sent: a message sent from another thread).
void wakeThread(DWORD thread, bool sent);
// Queues a message to another thread and waits for its answer, handling what is sent to the
// calling thread meanwhile.
LRESULT sendAcross(std::unique_lock<std::mutex>& lock, DWORD owner, SentMessage* sent);
// A window goes: its posted messages go, and whoever sent to it gets 0.
void forgetQueuedFor(DWORD owner, HWND window);
// A thread goes, or every thread (reset): its queue goes, and whoever sent to it gets 0.
void forgetQueue(DWORD thread);
void forgetAllQueues();

}  // namespace usercore

#endif
