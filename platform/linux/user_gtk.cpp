// The GTK window driver: the desktop thread that owns GTK, its event loop as the USER core drives
// it, work handed over from other threads, the cursor, and the driver record. The windows
// themselves are in user_gtk_windows.cpp, the dialogs in user_gtk_dialogs.cpp, main() in
// user_gtk_main.cpp.
//
// Owns which thread is the desktop thread and the desktop's size, both set once by startDesktop
// before any other thread of the program exists. Deps: user_core.h, GTK 3.
#include "platform/linux/user_gtk.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "platform/linux/layer.h"
#include "platform/windows_api.h"

namespace {

constexpr DWORD waitPollMs = 10;  // MsgWaitForMultipleObjects looks at GTK this often
constexpr int pumpLimit = 64;     // a busy redraw can keep GTK ready for ever
// Windows' maximum tracking size is the screen and 4 px more, and a sizing frame on each side.
constexpr int trackSlack = 4 + 2 * 4;

bool desktopStarted = false;
std::thread::id desktopThread;
DWORD desktopThreadId = 0;
std::atomic<int> screenWidth{0};  // the union of the monitors
std::atomic<int> screenHeight{0};

void measureScreen() {
  GdkDisplay* display = gdk_display_get_default();
  GdkRectangle all = {0, 0, 0, 0};
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle area;
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &area);
    gdk_rectangle_union(&all, &area, &all);
  }
  screenWidth = all.width;
  screenHeight = all.height;
}

// The player's own icon, shown by every window that has none of its own (the stock application
// icon has no pixels here): the one built beside the player, else the installed one.
void loadPlayerIcon() {
  char native[4096];
  ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
  std::string folder = length > 0 ? std::string(native, size_t(length)) : std::string();
  folder = folder.substr(0, folder.find_last_of('/') + 1);
  const char* places[] = {"torvane.png", "../share/icons/hicolor/48x48/apps/torvane.png",
                          "../../share/icons/hicolor/48x48/apps/torvane.png"};
  for (const char* place : places) {
    if (!folder.empty() &&
        gtk_window_set_default_icon_from_file((folder + place).c_str(), nullptr)) {
      return;
    }
  }
  gtk_window_set_default_icon_name("torvane");
}

gboolean handleSentSource(gpointer) {
  userHandleSentMessages();
  return G_SOURCE_REMOVE;
}

// ---------------------------------------------------------------------------------------------
// The driver's event and cursor entries

bool eventThread() {
  ensureDesktop();
  return onDesktopThread();
}

void pumpEvents() {
  for (int i = 0; i < pumpLimit && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
}

void waitForEvents() {
  g_main_context_iteration(nullptr, TRUE);
}

void wake(DWORD thread, bool sent) {
  if (!desktopStarted || thread != desktopThreadId) return;
  // Its own source each time: a source does not run again inside itself, and a sent message may
  // run a modal dialog inside which the next one must still be handled.
  if (sent) g_idle_add_full(G_PRIORITY_DEFAULT, handleSentSource, nullptr, nullptr);
  g_main_context_wakeup(nullptr);
}

// The pointer's screen position, where GTK knows it: from the desktop thread only; other threads
// get what the desktop thread last saw.
void readCursor() {
  if (!onDesktopThread()) return;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (!pointer) return;
  int x = 0, y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  userNoteCursor(POINT{x, y});
}

bool warpCursor(int x, int y) {
  bool warped = false;
  runOnDesktopThread([&] {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return;
    gdk_device_warp(pointer, gdk_display_get_default_screen(display), x, y);
    gdk_display_flush(display);
    warped = true;
  });
  return warped;
}

void maxTrackSize(int* width, int* height) {
  desktopMaxTrackSize(width, height);
}

// The desktop's clock is the real one.
struct RealClock {
  RealClock() { userUseRealClock(true); }
} realClock;

}  // namespace

extern const UserDriver userDriver = {
    gtkCreateWindow,     // createWindow
    gtkWindowDestroyed,  // windowDestroyed
    gtkShowWindow,       // showWindow
    gtkTitleChanged,     // titleChanged
    gtkIconsChanged,     // iconsChanged
    gtkMoveWindow,       // moveWindow
    nullptr,             // windowMoved
    maxTrackSize,        // maxTrackSize
    readCursor,          // readCursor
    warpCursor,          // warpCursor
    gtkMessageBox,       // messageBox
    gtkOpenFileName,     // openFileName
    eventThread,         // eventThread
    pumpEvents,          // pumpEvents
    waitForEvents,       // waitForEvents
    wake,                // wake
    waitPollMs,          // waitPollMs
};

// ---------------------------------------------------------------------------------------------
// The desktop thread

bool startDesktop(int* argc, char*** argv) {
  if (desktopStarted) return true;
  // Where a Wayland session also offers X11, prefer it: there a program may place its window
  // and knows where the pointer is on the screen, as on Windows.
  gdk_set_allowed_backends("x11,*");
  if (!gtk_init_check(argc, argv)) return false;
  measureScreen();
  loadPlayerIcon();
  desktopThread = std::this_thread::get_id();
  desktopThreadId = GetCurrentThreadId();
  desktopStarted = true;
  setWindowSurfaceChangedHandler(gtkSurfaceChanged);
  return true;
}

bool onDesktopThread() {
  return desktopStarted && std::this_thread::get_id() == desktopThread;
}

void ensureDesktop() {
  if (!desktopStarted) startDesktop(nullptr, nullptr);
}

void runOnDesktopThread(const std::function<void()>& work) {
  ensureDesktop();
  userRunOnThread(
      desktopThreadId, [](void* data) { (*static_cast<const std::function<void()>*>(data))(); },
      const_cast<std::function<void()>*>(&work));
}

void desktopMaxTrackSize(int* width, int* height) {
  if (screenWidth > 0) *width = screenWidth + trackSlack;
  if (screenHeight > 0) *height = screenHeight + trackSlack;
}
