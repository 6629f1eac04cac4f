// The kernel calls of the Linux layer: threads and their handles, thread identifiers, the
// module's file name (with the folder of a story that lies outside the player's, which stands
// for the player's folder), the current directory, CP932 lead bytes, the last error and the real
// clock's yield. Owns the layer's one lock and the bookkeeping of which threads are waiting,
// which the headless window backend uses to move its virtual clock only when the program has
// nothing left to do.
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

// A thread handle. The thread itself and the handle each hold a reference; whichever lets go
// last frees it, so CloseHandle on a running thread is safe.
struct ThreadObject {
  DWORD threadId;
  bool ended;
  int references;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

struct ThreadInfo {
  bool counted;     // takes part in the idle accounting
  bool waiting;     // inside layerWait and not woken since
  bool handleWait;  // the wait is for another thread to end
};

std::mutex layerMutex;
std::condition_variable layerChanged;
std::set<ThreadObject*> liveHandles;     // under layerMutex
std::map<DWORD, ThreadInfo> threadInfo;  // under layerMutex
int countedThreads = 0;                  // under layerMutex
int countedWaiting = 0;                  // under layerMutex

std::atomic<DWORD> nextThreadId{0x100};
thread_local DWORD currentThreadId = 0;
thread_local DWORD lastError = 0;

std::mutex moduleNameMutex;
std::string moduleNameOverride;  // CP932; empty: the real executable
std::string storyFolder;         // native; empty: stories resolve against the player's folder

// Windows thread identifiers are non-zero multiples of 4.
DWORD newThreadId() {
  return nextThreadId.fetch_add(4);
}

void releaseObject(ThreadObject* object) {
  if (--object->references == 0) {
    liveHandles.erase(object);
    delete object;
  }
}

void threadMain(ThreadObject* object) {
  currentThreadId = object->threadId;
  object->start(object->parameter);
  std::unique_lock<std::mutex> lock(layerMutex);
  if (layerThreadEndHandler) layerThreadEndHandler(object->threadId);
  auto info = threadInfo.find(object->threadId);
  if (info != threadInfo.end()) {
    if (info->second.counted) {
      --countedThreads;
      if (info->second.waiting) --countedWaiting;
    }
    threadInfo.erase(info);
  }
  object->ended = true;
  releaseObject(object);
  layerWakeAll();
}

// Copies text into a caller's buffer by the rules GetModuleFileNameA follows: a result that does
// not fit is cut to size - 1 bytes and terminated, and the size is returned.
DWORD copyOut(const std::string& text, LPSTR buffer, DWORD size) {
  if (size == 0 || !buffer) {
    setLastError(errorInsufficientBuffer);
    return 0;
  }
  if (text.size() + 1 > size) {
    memcpy(buffer, text.data(), size - 1);
    buffer[size - 1] = '\0';
    setLastError(errorInsufficientBuffer);
    return size;
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  return (DWORD)text.size();
}

}  // namespace

void (*layerThreadEndHandler)(DWORD threadId) = nullptr;
void (*layerSoundObserver)(LPCSTR sound, UINT flags, size_t imageLength) = nullptr;

// ---------------------------------------------------------------------------------------------
// The layer's lock and waits

std::unique_lock<std::mutex> layerLock() {
  return std::unique_lock<std::mutex>(layerMutex);
}

void layerWakeAll() {
  // Every waiting thread is counted as running again until it has looked at its condition and
  // gone back to waiting, so that no clock moves between the change and that look.
  for (auto& entry : threadInfo) {
    if (entry.second.waiting) {
      entry.second.waiting = false;
      if (entry.second.counted) --countedWaiting;
    }
  }
  layerChanged.notify_all();
}

bool layerWait(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
               DWORD timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  ThreadInfo& me = threadInfo[GetCurrentThreadId()];
  while (!ready()) {
    if (timeoutMs != INFINITE && std::chrono::steady_clock::now() >= deadline) return false;
    me.waiting = true;
    if (me.counted) {
      ++countedWaiting;
      layerChanged.notify_all();  // whoever waits for idleness looks again
    }
    if (timeoutMs == INFINITE) {
      layerChanged.wait(lock, [&] { return !me.waiting; });
    } else {
      layerChanged.wait_until(lock, deadline, [&] { return !me.waiting; });
      if (me.waiting) {
        me.waiting = false;
        if (me.counted) --countedWaiting;
      }
    }
  }
  return true;
}

bool layerWaitForHandles(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready,
                         DWORD timeoutMs) {
  ThreadInfo& me = threadInfo[GetCurrentThreadId()];
  me.handleWait = true;
  bool result = layerWait(lock, ready, timeoutMs);
  me.handleWait = false;
  return result;
}

bool layerSomeoneWaitsForAThread() {
  for (auto& entry : threadInfo) {
    if (entry.second.counted && entry.second.waiting && entry.second.handleWait) return true;
  }
  return false;
}

bool layerIsThreadHandle(HANDLE handle) {
  return liveHandles.count(static_cast<ThreadObject*>(handle)) != 0;
}

bool layerHandleSignalled(HANDLE handle) {
  if (!layerIsThreadHandle(handle)) return false;
  return static_cast<ThreadObject*>(handle)->ended;
}

void layerCountThread() {
  ThreadInfo& me = threadInfo[GetCurrentThreadId()];
  if (!me.counted) {
    me.counted = true;
    ++countedThreads;
  }
}

bool layerIdle() {
  return countedWaiting == countedThreads;
}

void layerWaitIdle(std::unique_lock<std::mutex>& lock) {
  layerChanged.wait(lock, [] { return countedWaiting == countedThreads; });
}

void setLastError(DWORD error) {
  lastError = error;
}

// ---------------------------------------------------------------------------------------------
// Threads

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId) {
  if (!start) return nullptr;
  ThreadObject* object = new ThreadObject{newThreadId(), false, 2, start, parameter};
  {
    std::unique_lock<std::mutex> lock(layerMutex);
    liveHandles.insert(object);
    // Counted from now on, so that nobody sees the program idle before the thread has started.
    ThreadInfo& info = threadInfo[object->threadId];
    info.counted = true;
    ++countedThreads;
  }
  if (threadId) *threadId = object->threadId;
  std::thread(threadMain, object).detach();
  return object;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(layerMutex);
  if (!layerIsThreadHandle(handle)) {
    setLastError(errorInvalidHandle);
    return WAIT_FAILED;
  }
  ThreadObject* object = static_cast<ThreadObject*>(handle);
  ++object->references;  // the handle may be closed by another thread meanwhile
  bool ended = layerWaitForHandles(
      lock, [object] { return object->ended; }, milliseconds);
  releaseObject(object);
  return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE handle) {
  std::unique_lock<std::mutex> lock(layerMutex);
  if (!layerIsThreadHandle(handle)) {
    setLastError(errorInvalidHandle);
    return FALSE;
  }
  releaseObject(static_cast<ThreadObject*>(handle));
  return TRUE;
}

DWORD GetCurrentThreadId(void) {
  if (currentThreadId == 0) currentThreadId = newThreadId();
  return currentThreadId;
}

DWORD GetLastError(void) {
  return lastError;
}

// ---------------------------------------------------------------------------------------------
// The module and the current directory

void headlessSetModuleFileName(const char* path) {
  std::lock_guard<std::mutex> lock(moduleNameMutex);
  moduleNameOverride = path ? path : "";
}

std::string storyFolderFor(const std::string& playerFolder, const std::string& script) {
  std::string folder = script.substr(0, script.find_last_of('/') + 1);
  if (folder.empty() || folder[0] != '/') {
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) return "";
    folder = std::string(here) + "/" + folder;
  }
  char realPlayer[PATH_MAX], realStory[PATH_MAX];
  if (!realpath(playerFolder.c_str(), realPlayer) || !realpath(folder.c_str(), realStory)) {
    return "";  // nothing to compare: the player's folder stands, as on Windows
  }
  std::string player = realPlayer, story = realStory;
  if (player.back() != '/') player += '/';
  if ((story + "/").compare(0, player.size(), player) == 0) return "";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void layerNoteOpenedScript(const std::string& nativeScript) {
  if (nativeScript.empty()) {
    std::lock_guard<std::mutex> lock(moduleNameMutex);
    storyFolder.clear();
    return;
  }
  char native[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
  std::string player = length > 0 ? std::string(native, (size_t)length) : std::string("/");
  std::string folder = storyFolderFor(player.substr(0, player.find_last_of('/') + 1), nativeScript);
  std::lock_guard<std::mutex> lock(moduleNameMutex);
  storyFolder = folder;
}

// On Linux a story need not lie beside the player: when the story being played lies outside
// the player's folder tree, the player reports itself as lying beside the story's script, so
// that the folder the player makes current, and every name the script gives, are the story's.
// Stories are shipped with the player beside their script, so this finds the same files.
DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  std::string name, story;
  {
    std::lock_guard<std::mutex> lock(moduleNameMutex);
    name = moduleNameOverride;
    story = storyFolder;
  }
  if (name.empty()) {
    char native[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
    if (length <= 0) {
      setLastError(errorFileNotFound);
      return 0;
    }
    native[length] = '\0';
    std::string path = native;
    if (!story.empty()) path = story + path.substr(path.find_last_of('/'));
    // A name with no CP932 form cannot be given as Windows would: report failure.
    if (!utf8ToCp932(path, &name)) {
      setLastError(errorFileNotFound);
      return 0;
    }
  }
  return copyOut(name, buffer, size);
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name) return nullptr;  // only the executable's own module is known
  // The address a 32-bit Windows executable is loaded at; any non-null constant serves.
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  if (!path) return FALSE;
  std::string native = nativePath(path);
  if (native.empty() || chdir(native.c_str()) != 0) {
    setLastError(errorFileNotFound);
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  char native[PATH_MAX];
  if (!getcwd(native, sizeof native)) return 0;
  std::string name;
  if (!utf8ToCp932(native, &name)) return 0;
  // Too small a buffer: Windows returns the size needed, the terminating zero included.
  if (!buffer || name.size() + 1 > size) return (DWORD)name.size() + 1;
  memcpy(buffer, name.c_str(), name.size() + 1);
  return (DWORD)name.size();
}

BOOL IsDBCSLeadByte(BYTE c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Sleep on Linux is as fine as the kernel's timers without asking.
MMRESULT timeBeginPeriod(UINT) {
  return TIMERR_NOERROR;
}
MMRESULT timeEndPeriod(UINT) {
  return TIMERR_NOERROR;
}

void layerYieldUntilNextMillisecond() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  timespec next = {now.tv_sec, (now.tv_nsec / 1000000 + 1) * 1000000};
  if (next.tv_nsec >= 1000000000) {
    next.tv_sec += 1;
    next.tv_nsec -= 1000000000;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
  }
}
