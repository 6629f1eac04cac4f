// The USER core's message queues (user_core.h): one per thread, with Windows' filtering and
// WM_PAINT order, messages sent across threads, ReplyMessage, and the waits that let a driver's
// native events in. Owns the queues and the cursor position messages carry, under the layer's
// one lock (kernel.cpp); no window procedure or driver entry is called with it held.
// Deps: user_core_records.h, layer.h (lock, waits, thread handles), the backend's userDriver.
#include <algorithm>
#include <chrono>

#include "platform/linux/layer.h"
#include "platform/linux/user_core_records.h"
#include "platform/windows_api.h"

namespace {

using namespace usercore;

bool inRange(UINT message, UINT filterMin, UINT filterMax) {
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

// The next message for the calling thread by Windows' order: posted messages, then the quit
// message, then WM_PAINT for a window that needs painting. Lock held.
bool takeMessage(DWORD thread, HWND filter, UINT filterMin, UINT filterMax, bool remove, MSG* out) {
  ThreadQueue& queue = queues[thread];
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (filter && it->hwnd != filter) continue;
    if (!inRange(it->message, filterMin, filterMax)) continue;
    *out = *it;
    if (remove) queue.posted.erase(it);
    return true;
  }
  if (queue.quitPosted && !filter && inRange(WM_QUIT, filterMin, filterMax)) {
    *out = MSG{nullptr, WM_QUIT, (WPARAM)queue.quitCode, 0, userClockReading(), cursor};
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (inRange(WM_PAINT, filterMin, filterMax)) {
    for (auto& entry : windows) {
      const WindowRecord& record = entry.second;
      if (record.state.owner != thread || !record.invalid || !record.state.visible) continue;
      if (filter && entry.first != filter) continue;
      *out = MSG{entry.first, WM_PAINT, 0, 0, userClockReading(), cursor};
      return true;
    }
  }
  return false;
}

// The message from another thread that the calling thread is handling, for ReplyMessage; null
// once answered (the sender may then have gone on and its record be gone).
thread_local SentMessage* handling = nullptr;

// Handles every message other threads have sent to the calling thread. Lock held on entry and
// on return; released while each procedure runs.
void handleSentMessages(std::unique_lock<std::mutex>& lock) {
  ThreadQueue& queue = queues[GetCurrentThreadId()];
  while (!queue.sent.empty()) {
    SentMessage* sent = queue.sent.front();
    queue.sent.pop_front();
    // Once ReplyMessage answered a message its sender may go on and its record be gone: only
    // what was read before may be used then.
    bool answerableEarly = sent->kind == sentMessage;
    SentMessage* outer = handling;
    handling = answerableEarly ? sent : nullptr;
    lock.unlock();
    LRESULT result = 0;
    if (sent->kind == sentMove) {
      applyMove(sent->window, sent->moveTo, sent->repaint);
    } else if (sent->kind == sentCall) {
      sent->work(sent->data);
    } else {
      result = callProcedure(sent->window, sent->message, sent->wParam, sent->lParam);
    }
    lock.lock();
    if (handling || !answerableEarly) {  // not answered early by ReplyMessage
      sent->result = result;
      sent->done = true;
      layerWakeAll();
    }
    handling = outer;
  }
}

// Answers 0 to every message still sent to a window (or to every window when null) in the queue
// of thread. Lock held.
void answerPendingSent(DWORD thread, HWND window) {
  auto queue = queues.find(thread);
  if (queue == queues.end()) return;
  auto& sent = queue->second.sent;
  for (auto it = sent.begin(); it != sent.end();) {
    if (!window || (*it)->window == window) {
      (*it)->result = 0;
      (*it)->done = true;
      it = sent.erase(it);
    } else {
      ++it;
    }
  }
  layerWakeAll();
}

bool runsNativeEvents() {
  return userDriver.eventThread && userDriver.eventThread();
}

// Lock held; native tells whether the calling thread runs native events (asked before locking,
// as the first question may start the driver).
void pumpNativeEvents(std::unique_lock<std::mutex>& lock, bool native) {
  if (!native || !userDriver.pumpEvents) return;
  lock.unlock();
  userDriver.pumpEvents();
  lock.lock();
}

}  // namespace

namespace usercore {

std::map<DWORD, ThreadQueue> queues;
POINT cursor = {0, 0};

void wakeThread(DWORD thread, bool sent) {
  ThreadQueue& queue = queues[thread];
  queue.newInput = true;
  layerWakeAll();
  if (userDriver.wake) userDriver.wake(thread, sent);
}

LRESULT sendAcross(std::unique_lock<std::mutex>& lock, DWORD owner, SentMessage* sent) {
  queues[owner].sent.push_back(sent);
  wakeThread(owner, true);
  ThreadQueue& mine = queues[GetCurrentThreadId()];
  while (!sent->done) {
    layerWait(
        lock, [&] { return sent->done || !mine.sent.empty(); }, INFINITE);
    if (!sent->done) handleSentMessages(lock);
  }
  return sent->result;
}

void forgetQueuedFor(DWORD owner, HWND window) {
  auto& posted = queues[owner].posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(),
                              [window](const MSG& msg) { return msg.hwnd == window; }),
               posted.end());
  answerPendingSent(owner, window);
}

void forgetQueue(DWORD thread) {
  answerPendingSent(thread, nullptr);
  queues.erase(thread);
}

void forgetAllQueues() {
  for (auto& entry : queues) answerPendingSent(entry.first, nullptr);
  queues.clear();
}

}  // namespace usercore

// ---------------------------------------------------------------------------------------------
// Messages

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto lock = layerLock();
  DWORD owner = GetCurrentThreadId();
  if (window) {
    WindowRecord* record = findWindow(window);
    if (!record) {
      setLastError(errorInvalidWindowHandle);
      return FALSE;
    }
    owner = record->state.owner;
  }
  queues[owner].posted.push_back(MSG{window, message, wParam, lParam, userClockReading(), cursor});
  wakeThread(owner, false);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  ThreadQueue& queue = queues[me];
  queue.quitPosted = true;
  queue.quitCode = exitCode;
  wakeThread(me, false);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto lock = layerLock();
  WindowRecord* record = findWindow(window);
  if (!record) return 0;
  if (record->state.owner == GetCurrentThreadId()) {
    WNDPROC procedure = record->procedure;
    lock.unlock();
    return procedure(window, message, wParam, lParam);
  }
  SentMessage sent{sentMessage, window,  message, wParam, lParam, RECT{},
                   FALSE,       nullptr, nullptr, 0,      false};
  return sendAcross(lock, record->state.owner, &sent);
}

BOOL ReplyMessage(LRESULT result) {
  auto lock = layerLock();
  if (!handling) return FALSE;
  handling->result = result;
  handling->done = true;
  handling = nullptr;
  layerWakeAll();
  return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  bool native = runsNativeEvents();
  auto lock = layerLock();
  DWORD me = GetCurrentThreadId();
  ThreadQueue& queue = queues[me];
  for (;;) {
    handleSentMessages(lock);
    queue.newInput = false;
    if (takeMessage(me, window, filterMin, filterMax, true, msg)) return msg->message != WM_QUIT;
    if (native && userDriver.waitForEvents) {
      // Native events become posted messages; a post or a send from another thread wakes it.
      lock.unlock();
      userDriver.waitForEvents();
      lock.lock();
    } else {
      layerWait(
          lock, [&] { return queue.newInput || !queue.sent.empty(); }, INFINITE);
    }
  }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  bool native = runsNativeEvents();
  auto lock = layerLock();
  pumpNativeEvents(lock, native);
  DWORD me = GetCurrentThreadId();
  handleSentMessages(lock);
  queues[me].newInput = false;
  return takeMessage(me, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, msg);
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;  // no keyboard input is translated: the player reads no characters
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return callProcedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  bool native = runsNativeEvents() && userDriver.pumpEvents;
  auto lock = layerLock();
  for (DWORD i = 0; i < count; ++i) {
    if (!layerIsThreadHandle(handles[i])) {
      setLastError(errorInvalidHandle);
      return WAIT_FAILED;
    }
  }
  ThreadQueue& queue = queues[GetCurrentThreadId()];
  DWORD result = WAIT_TIMEOUT;
  auto ready = [&] {
    DWORD signalled = 0;
    for (DWORD i = 0; i < count; ++i) {
      if (layerHandleSignalled(handles[i])) {
        if (!waitAll) {
          result = WAIT_OBJECT_0 + i;
          return true;
        }
        ++signalled;
      }
    }
    if (waitAll && count > 0 && signalled == count) {
      result = WAIT_OBJECT_0;
      return true;
    }
    // Like Windows, this reports input and leaves it to GetMessageA or PeekMessageA to handle.
    bool input = ((wakeMask & QS_SENDMESSAGE) && !queue.sent.empty()) ||
                 ((wakeMask & ~QS_SENDMESSAGE) && queue.newInput);
    if (input) result = WAIT_OBJECT_0 + count;
    return input;
  };
  if (!native) {
    bool done = count > 0 ? layerWaitForHandles(lock, ready, milliseconds)
                          : layerWait(lock, ready, milliseconds);
    return done ? result : WAIT_TIMEOUT;
  }
  // A thread that runs native events looks at them now and then while it waits: they become
  // posted messages, and a dialog's events must keep flowing.
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    pumpNativeEvents(lock, native);
    if (ready()) return result;
    DWORD slice = userDriver.waitPollMs;
    if (milliseconds != INFINITE) {
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
      if (spent >= (long long)milliseconds) return WAIT_TIMEOUT;
      slice = std::min<DWORD>(slice, milliseconds - (DWORD)spent);
    }
    if (count > 0) {
      layerWaitForHandles(lock, ready, slice);
    } else {
      layerWait(lock, ready, slice);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// For the drivers (user_core.h)

void userHandleSentMessages() {
  auto lock = layerLock();
  handleSentMessages(lock);
}

void userRunOnThread(DWORD thread, void (*work)(void* data), void* data) {
  if (thread == GetCurrentThreadId()) {
    work(data);
    return;
  }
  auto lock = layerLock();
  SentMessage sent{sentCall, nullptr, 0, 0, 0, RECT{}, FALSE, work, data, 0, false};
  sendAcross(lock, thread, &sent);
}
