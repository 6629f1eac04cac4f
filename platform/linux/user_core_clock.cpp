// The clock every window backend reads: timeGetTime and Sleep. Real (the desktop's monotonic
// milliseconds, real sleeps) or virtual (a reading that moves only when the program sleeps or a
// test driver says so). Owns the clock's state, under the layer's lock except for the real-clock
// switch and observer, which the real clock reads without the lock. Deps: layer.h (lock, waits).
#include <time.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "platform/linux/user_core.h"

namespace {

constexpr DWORD clockStart = 100000;  // the virtual clock's reading at start and after a reset

// Guarded by the layer lock.
DWORD clockNow = clockStart;
bool clockDriven = false;
unsigned clockEpoch = 0;                 // counts the driver's advances
std::map<DWORD, DWORD> sleepers;         // driven clock: thread -> wake-up reading
std::map<DWORD, unsigned> clockReaders;  // driven clock: threads seen reading the clock

std::atomic<bool> clockReal{false};
std::atomic<void (*)(DWORD reading)> clockObserver{nullptr};

DWORD realReading() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Wraps after 2^32 ms, as Windows' does.
  return (DWORD)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

// Moves a driven clock to the nearest wake-up of a sleeping thread, or only lets the yielding
// ones go when none sleeps longer; false when no thread waits for the clock at all. Lock held.
bool stepToNextWakeUp() {
  if (sleepers.empty()) return false;
  DWORD step = 0;
  for (auto& sleeper : sleepers) {
    DWORD until = sleeper.second - clockNow;
    if (until > 0 && (step == 0 || until < step)) step = until;
  }
  clockNow += step;
  ++clockEpoch;
  layerWakeAll();
  return true;
}

// Idle, and nobody waits for another thread to end: while one does, time has to pass, as it
// would on a real clock, for the awaited thread may be sleeping. Lock held.
void settle(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    layerWaitIdle(lock);
    if (!clockDriven || !layerSomeoneWaitsForAThread()) return;
    if (!stepToNextWakeUp()) return;  // nothing will ever end that wait
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The Windows functions

DWORD timeGetTime(void) {
  if (clockReal) {
    DWORD reading = realReading();
    if (void (*observer)(DWORD) = clockObserver.load()) observer(reading);
    return reading;
  }
  auto lock = layerLock();
  if (clockDriven) {
    // A thread's first look at a driven clock waits for the driver's next step, so that the
    // driver can act between a thread's start-up work and its first timed work.
    DWORD me = GetCurrentThreadId();
    auto seen = clockReaders.find(me);
    if (seen == clockReaders.end()) {
      unsigned epoch = clockEpoch;
      clockReaders[me] = epoch;
      layerWait(
          lock, [epoch] { return clockEpoch != epoch || !clockDriven; }, INFINITE);
    }
  }
  return clockNow;
}

// Sleep(0) gives up the processor, and real time passes meanwhile: on the real clock it sleeps
// until the millisecond reading next changes; on the virtual clock it lets 1 ms pass (free) or
// waits for the driver's next step (driven), so that a loop reading the clock between yields ends.
void Sleep(DWORD milliseconds) {
  if (clockReal) {
    if (milliseconds == 0) {
      layerYieldUntilNextMillisecond();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    return;
  }
  auto lock = layerLock();
  if (!clockDriven) {
    clockNow += milliseconds ? milliseconds : 1;
    lock.unlock();
    std::this_thread::yield();
    return;
  }
  DWORD me = GetCurrentThreadId();
  clockReaders.emplace(me, clockEpoch);
  DWORD start = clockNow;
  unsigned epoch = clockEpoch;
  sleepers[me] = start + milliseconds;
  layerWait(
      lock,
      [&] {
        if (!clockDriven) return true;
        if (milliseconds == 0) return clockEpoch != epoch;
        return clockNow - start >= milliseconds;
      },
      INFINITE);
  sleepers.erase(me);
}

// ---------------------------------------------------------------------------------------------
// For the core and the drivers (user_core.h). Lock held for all but userUseRealClock.

DWORD userClockReading() {
  return clockReal ? realReading() : clockNow;
}

void userUseRealClock(bool real) {
  clockReal = real;
}

void userClockReset() {
  clockNow = clockStart;
  clockDriven = false;
  clockReal = false;
  clockObserver = nullptr;
  sleepers.clear();
  clockReaders.clear();
}

void userClockThreadEnded(DWORD thread) {
  sleepers.erase(thread);
  clockReaders.erase(thread);
}

// ---------------------------------------------------------------------------------------------
// Test control (headless.h)

void headlessUseRealClock(bool real) {
  clockReal = real;
}

void headlessSetClockObserver(void (*observer)(DWORD reading)) {
  clockObserver = observer;
}

DWORD headlessClockNow() {
  auto lock = layerLock();
  return clockNow;
}

void headlessSetClock(DWORD now) {
  auto lock = layerLock();
  clockNow = now;
  layerWakeAll();
}

void headlessDriveClock(bool driven) {
  auto lock = layerLock();
  clockDriven = driven;
  clockReaders.clear();
  layerWakeAll();
}

void headlessWaitIdle() {
  auto lock = layerLock();
  settle(lock);
}

void headlessAdvanceClock(DWORD milliseconds) {
  auto lock = layerLock();
  DWORD begin = clockNow;
  settle(lock);
  do {
    // The nearest wake-up not beyond the target, measured from now so that the wrap is safe.
    DWORD done = clockNow - begin;
    DWORD step = done >= milliseconds ? 0 : milliseconds - done;
    for (auto& sleeper : sleepers) {
      DWORD until = sleeper.second - clockNow;
      if (until > 0 && until < step) step = until;
    }
    clockNow += step;
    ++clockEpoch;
    layerWakeAll();
    settle(lock);
  } while (clockNow - begin < milliseconds);
}
