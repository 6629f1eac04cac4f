// The desktop window backend: windows, messages and the clock of the Windows API over GTK 3, so
// that the player's unchanged WinMain and window procedure make a real desktop window.
//
// Owns the window classes, the window records behind window handles, the posted-message queue
// and the calls other threads hand to the desktop thread. Each window is a GtkWindow holding the
// class's menu bar over a GtkDrawingArea, the client area, which shows the window's surface (the
// GDI draws into it, layer.h).
//
// Messages follow Windows: input (clicks, menu commands, the close box) is posted and reaches the
// window procedure through GetMessageA and DispatchMessageA; WM_PAINT is made by GetMessageA when
// nothing else is queued and the window needs painting; WM_ACTIVATEAPP is sent. A message sent
// from another thread is handed to the desktop thread, which runs it whenever it runs its main
// loop (also inside modal dialogs), while the sender waits.
#include "platform/linux/user_gtk.h"

#include <strings.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/layer.h"
#include "resources/menu.h"

namespace {

#ifndef SC_CLOSE
#define SC_CLOSE 0xF060  // WM_SYSCOMMAND: the close box
#endif

constexpr WPARAM leftButtonFlag = 0x0001;   // MK_LBUTTON
constexpr WPARAM rightButtonFlag = 0x0002;  // MK_RBUTTON
constexpr int largestClientSide = 16384;    // what a window surface holds at most
constexpr guint activationSettleMs = 60;    // focus moving between two of our windows
constexpr DWORD waitPollMs = 10;            // MsgWaitForMultipleObjects looks at GTK this often

struct WindowClass {
  std::string name;  // as registered; looked up without regard to ASCII case
  WNDPROC procedure;
  HINSTANCE instance;
  std::string menuName;  // empty for none
  bool hasMenuName;
};

// The frame a window manager put around a window, in pixels on each side; zero without one.
struct FrameExtents {
  int left;
  int top;
  int right;
  int bottom;
};

// A window. Its address is the window handle. Records are never freed, so that a handle kept
// by another thread after DestroyWindow is still safe to look at (IsWindow says false).
struct DesktopWindow {
  WNDPROC procedure;
  HINSTANCE instance;
  DWORD style;
  std::string title;   // CP932, as set
  GtkWidget* window;   // the GtkWindow
  GtkWidget* menuBar;  // null when the class names no menu
  GtkWidget* client;   // the GtkDrawingArea: the client area
  HICON smallIcon;
  HICON bigIcon;
  std::atomic<bool> alive;
  std::atomic<bool> paintPending;     // the client area needs WM_PAINT
  std::atomic<bool> redrawScheduled;  // a redraw of the client area is on its way
  bool shown;
  int wantedOuterWidth;  // the outer size last asked for (CreateWindowExA, MoveWindow)
  int wantedOuterHeight;
  FrameExtents extents;  // as last seen
};

// Geometry that other threads read without disturbing the desktop thread: guarded by
// geometryLock, written on the desktop thread.
struct WindowGeometry {
  POINT clientOrigin;  // screen position of the client area's top-left corner
  int clientWidth;
  int clientHeight;
};

std::mutex geometryLock;
POINT pointerPosition;  // screen coordinates, as the desktop thread last saw the pointer
std::vector<std::pair<DesktopWindow*, WindowGeometry>> geometries;

// A call handed to the desktop thread. Shared by the waiting thread and the desktop thread: a
// sent message answered early (ReplyMessage) lets its sender go on while the call still runs.
struct DesktopCall {
  std::function<LRESULT()> work;  // a copy of its own, for the same reason
  bool sentMessage;               // SendMessageA from another thread: ReplyMessage may answer it
  LRESULT result;
  bool done;  // answered; the waiting thread goes on
};

// Guarded by the layer's lock (layerLock), so that one wait can watch the queue, the handed-over
// calls and thread handles together.
std::deque<MSG> postedMessages;
std::deque<std::shared_ptr<DesktopCall>> pendingCalls;
bool quitPosted = false;
int quitCode = 0;

// Written by the desktop thread; windows is read by other threads under windowListLock.
std::vector<DesktopWindow*> windows;
std::mutex windowListLock;

// Set once by startDesktop, before any other thread of the program exists.
bool desktopStarted = false;
std::thread::id desktopThread;

// Desktop thread only.
std::vector<WindowClass> windowClasses;
bool applicationActive = false;  // as last told with WM_ACTIVATEAPP
bool activationCheckScheduled = false;

// Class names compare as on Windows: without regard to ASCII letter case.
bool sameName(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

DesktopWindow* findWindow(HWND handle) {
  std::lock_guard<std::mutex> guard(windowListLock);
  for (DesktopWindow* window : windows) {
    if (reinterpret_cast<HWND>(window) == handle) return window;
  }
  return nullptr;
}

DesktopWindow* liveWindow(HWND handle) {
  DesktopWindow* window = findWindow(handle);
  return window && window->alive ? window : nullptr;
}

HWND handleOf(DesktopWindow* window) {
  return reinterpret_cast<HWND>(window);
}

WindowGeometry* geometryOf(DesktopWindow* window) {
  for (auto& entry : geometries) {
    if (entry.first == window) return &entry.second;
  }
  return nullptr;
}

void ensureDesktop() {
  if (!desktopStarted) startDesktop(nullptr, nullptr);
}

LRESULT callProcedure(DesktopWindow* window, UINT message, WPARAM wParam, LPARAM lParam) {
  return window->procedure(handleOf(window), message, wParam, lParam);
}

void postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG msg = {};
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  msg.time = timeGetTime();
  {
    std::lock_guard<std::mutex> guard(geometryLock);
    msg.pt = pointerPosition;
  }
  {
    auto lock = layerLock();
    postedMessages.push_back(msg);
    layerWakeAll();
  }
  g_main_context_wakeup(nullptr);
}

LPARAM pointLParam(int x, int y) {
  return static_cast<LPARAM>((static_cast<DWORD>(static_cast<WORD>(y)) << 16) |
                             static_cast<WORD>(x));
}

// ---------------------------------------------------------------------------------------------
// Calls handed over from other threads

gboolean runPendingCallsSource(gpointer);

// Desktop thread: the handed-over call being run, while it may still be answered.
thread_local DesktopCall* callBeingRun = nullptr;

void runPendingCalls() {
  for (;;) {
    std::shared_ptr<DesktopCall> call;
    {
      auto lock = layerLock();
      if (pendingCalls.empty()) return;
      call = pendingCalls.front();
      pendingCalls.pop_front();
    }
    DesktopCall* outer = callBeingRun;
    callBeingRun = call.get();
    LRESULT result = call->work();
    auto lock = layerLock();
    if (!call->done) {
      call->result = result;
      call->done = true;
      layerWakeAll();
    }
    callBeingRun = outer;
  }
}

// Hands work to the desktop thread and waits for its answer.
LRESULT callOnDesktopThread(std::function<LRESULT()> work, bool sentMessage) {
  auto call = std::make_shared<DesktopCall>();
  call->work = std::move(work);
  call->sentMessage = sentMessage;
  call->result = 0;
  call->done = false;
  {
    auto lock = layerLock();
    pendingCalls.push_back(call);
    layerWakeAll();
  }
  // Its own source each time: a source does not run again inside itself, and a call may run a
  // modal dialog inside which the next call must still run.
  g_idle_add_full(G_PRIORITY_DEFAULT, runPendingCallsSource, nullptr, nullptr);
  auto lock = layerLock();
  layerWait(
      lock, [&] { return call->done; }, INFINITE);
  return call->result;
}

gboolean runPendingCallsSource(gpointer) {
  runPendingCalls();
  return G_SOURCE_REMOVE;
}

// ---------------------------------------------------------------------------------------------
// Geometry

// The client size that gives the wanted outer size with the frame and the menu bar as they are.
void clientSizeFor(DesktopWindow* window, int* width, int* height) {
  int menuHeight = 0;
  if (window->menuBar) {
    GtkAllocation allocation;
    gtk_widget_get_allocation(window->menuBar, &allocation);
    if (gtk_widget_get_realized(window->menuBar) && allocation.height > 1) {
      menuHeight = allocation.height;
    } else {
      int minimum = 0;
      gtk_widget_get_preferred_height(window->menuBar, &minimum, &menuHeight);
    }
  }
  const FrameExtents& e = window->extents;
  *width = window->wantedOuterWidth - e.left - e.right;
  *height = window->wantedOuterHeight - e.top - e.bottom - menuHeight;
  *width = std::max(0, std::min(*width, largestClientSide));
  *height = std::max(0, std::min(*height, largestClientSide));
}

void storeClientSize(DesktopWindow* window, int width, int height) {
  std::lock_guard<std::mutex> guard(geometryLock);
  if (WindowGeometry* geometry = geometryOf(window)) {
    geometry->clientWidth = width;
    geometry->clientHeight = height;
  }
}

// Sizes the client area so that the outer rectangle is the wanted one. The window is not
// resizable by the user, so GTK gives it exactly the size its contents ask for.
void fitClientToOuterSize(DesktopWindow* window) {
  int width, height;
  clientSizeFor(window, &width, &height);
  int oldWidth = 0, oldHeight = 0;
  gtk_widget_get_size_request(window->client, &oldWidth, &oldHeight);
  if (oldWidth == width && oldHeight == height) return;
  gtk_widget_set_size_request(window->client, width, height);
  if (gtk_window_get_resizable(GTK_WINDOW(window->window))) {
    gtk_window_resize(GTK_WINDOW(window->window), std::max(1, width), 1);
  }
  // Windows changes the client size at once; GTK allocates it on its next layout pass.
  resizeWindowSurface(handleOf(window), width, height);
  storeClientSize(window, width, height);
  window->paintPending = true;
}

void refreshClientOrigin(DesktopWindow* window) {
  GdkWindow* client = gtk_widget_get_window(window->client);
  if (!client || !gtk_widget_get_realized(window->client)) return;
  int x = 0, y = 0;
  gdk_window_get_origin(client, &x, &y);
  std::lock_guard<std::mutex> guard(geometryLock);
  if (WindowGeometry* geometry = geometryOf(window)) geometry->clientOrigin = {x, y};
}

// The frame the window manager put around the window, from the frame's rectangle and the
// window's own; zero without a window manager.
FrameExtents measureExtents(DesktopWindow* window) {
  FrameExtents extents = {0, 0, 0, 0};
  GdkWindow* toplevel = gtk_widget_get_window(window->window);
  if (!toplevel || !gtk_widget_get_mapped(window->window)) return window->extents;
  GdkRectangle frame;
  gdk_window_get_frame_extents(toplevel, &frame);
  int x = 0, y = 0;
  gdk_window_get_origin(toplevel, &x, &y);
  int width = gdk_window_get_width(toplevel);
  int height = gdk_window_get_height(toplevel);
  extents.left = std::max(0, x - frame.x);
  extents.top = std::max(0, y - frame.y);
  extents.right = std::max(0, frame.x + frame.width - x - width);
  extents.bottom = std::max(0, frame.y + frame.height - y - height);
  return extents;
}

void notePointer(double rootX, double rootY) {
  std::lock_guard<std::mutex> guard(geometryLock);
  pointerPosition = {static_cast<LONG>(rootX), static_cast<LONG>(rootY)};
}

// ---------------------------------------------------------------------------------------------
// Activation: the application is active while one of its toplevels is. Focus moving from the
// main window to a dialog of ours passes through a moment where none is, so the check waits
// for focus to settle.

gboolean checkActivation(gpointer) {
  activationCheckScheduled = false;
  bool active = false;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    if (gtk_window_is_active(GTK_WINDOW(item->data))) active = true;
  }
  g_list_free(toplevels);
  if (active == applicationActive) return G_SOURCE_REMOVE;
  applicationActive = active;
  std::vector<DesktopWindow*> live;
  {
    std::lock_guard<std::mutex> guard(windowListLock);
    for (DesktopWindow* window : windows) {
      if (window->alive) live.push_back(window);
    }
  }
  for (DesktopWindow* window : live) {
    if (window->alive) callProcedure(window, WM_ACTIVATEAPP, active ? TRUE : FALSE, 0);
  }
  return G_SOURCE_REMOVE;
}

void onActiveChanged(GObject*, GParamSpec*, gpointer) {
  if (activationCheckScheduled) return;
  activationCheckScheduled = true;
  g_timeout_add(activationSettleMs, checkActivation, nullptr);
}

// ---------------------------------------------------------------------------------------------
// GTK signal handlers of a window

gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  // The close box: the system command, which the default handling turns into WM_CLOSE for the
  // window procedure to decide.
  postMessage(handleOf(static_cast<DesktopWindow*>(data)), WM_SYSCOMMAND, SC_CLOSE, 0);
  return TRUE;
}

gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  if (!window->alive) return FALSE;
  // A window manager may frame the window after it was sized, and the menu bar's height is
  // known for sure only now: keep the outer size asked for.
  window->extents = measureExtents(window);
  fitClientToOuterSize(window);
  refreshClientOrigin(window);
  return FALSE;
}

void onClientSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  if (!window->alive) return;
  WindowPixels pixels;
  bool sameSize = false;
  if (lockWindowSurface(handleOf(window), &pixels)) {
    sameSize = pixels.width == allocation->width && pixels.height == allocation->height;
    unlockWindowSurface(handleOf(window), false);
  }
  if (!sameSize) {
    resizeWindowSurface(handleOf(window), allocation->width, allocation->height);
    window->paintPending = true;
    g_main_context_wakeup(nullptr);
  }
  storeClientSize(window, allocation->width, allocation->height);
  refreshClientOrigin(window);
}

gboolean onClientDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  WindowPixels pixels;
  if (!lockWindowSurface(handleOf(window), &pixels)) return TRUE;
  if (pixels.width > 0 && pixels.height > 0) {
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(pixels.pixels), CAIRO_FORMAT_RGB24, pixels.width,
        pixels.height, pixels.stride * 4);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_surface_destroy(image);
  }
  unlockWindowSurface(handleOf(window), false);
  return TRUE;
}

gboolean onClientButton(GtkWidget*, GdkEventButton* event, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  notePointer(event->x_root, event->y_root);
  // A double click also reports GDK_2BUTTON_PRESS after its second press; Windows, for a class
  // without CS_DBLCLKS, sees two plain presses.
  if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return FALSE;
  bool press = event->type == GDK_BUTTON_PRESS;
  UINT message;
  WPARAM flags;
  if (event->button == 1) {
    message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    flags = press ? leftButtonFlag : 0;
  } else if (event->button == 3) {
    message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    flags = press ? rightButtonFlag : 0;
  } else {
    return FALSE;
  }
  postMessage(handleOf(window), message, flags,
              pointLParam(static_cast<int>(event->x), static_cast<int>(event->y)));
  return TRUE;
}

gboolean onPointerMotion(GtkWidget*, GdkEventMotion* event, gpointer) {
  notePointer(event->x_root, event->y_root);
  return FALSE;
}

gboolean onPointerCrossing(GtkWidget*, GdkEventCrossing* event, gpointer) {
  notePointer(event->x_root, event->y_root);
  return FALSE;
}

void onMenuItemActivate(GtkMenuItem* item, gpointer data) {
  int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "torvane-command"));
  // Windows posts a menu's WM_COMMAND, with 0 in the high word of wParam.
  postMessage(handleOf(static_cast<DesktopWindow*>(data)), WM_COMMAND,
              static_cast<WPARAM>(static_cast<WORD>(command)), 0);
}

GtkWidget* buildMenuBar(const MenuResource* resource, DesktopWindow* window) {
  GtkWidget* bar = gtk_menu_bar_new();
  std::vector<GtkWidget*> shells = {bar};
  for (int i = 0; i < resource->entryCount; ++i) {
    const MenuEntry& entry = resource->entries[i];
    switch (entry.kind) {
      case menuPopup: {
        GtkWidget* item = gtk_menu_item_new_with_label(cp932ToUtf8(entry.text).c_str());
        GtkWidget* submenu = gtk_menu_new();
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
        gtk_menu_shell_append(GTK_MENU_SHELL(shells.back()), item);
        shells.push_back(submenu);
        break;
      }
      case menuItem: {
        GtkWidget* item = gtk_menu_item_new_with_label(cp932ToUtf8(entry.text).c_str());
        g_object_set_data(G_OBJECT(item), "torvane-command", GINT_TO_POINTER(entry.commandId));
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItemActivate), window);
        gtk_menu_shell_append(GTK_MENU_SHELL(shells.back()), item);
        break;
      }
      case menuSeparator:
        gtk_menu_shell_append(GTK_MENU_SHELL(shells.back()), gtk_separator_menu_item_new());
        break;
      case menuEnd:
        if (shells.size() > 1) shells.pop_back();
        break;
    }
  }
  return bar;
}

// What the window manager may offer for the window, from its Windows style.
void applyStyle(DesktopWindow* window) {
  GtkWindow* gtkWindow = GTK_WINDOW(window->window);
  gtk_window_set_resizable(gtkWindow, (window->style & WS_THICKFRAME) != 0);
  GdkWindow* toplevel = gtk_widget_get_window(window->window);
  if (!toplevel) return;
  int functions = GDK_FUNC_MOVE;
  if (window->style & WS_SYSMENU) functions |= GDK_FUNC_CLOSE;
  if (window->style & WS_MINIMIZEBOX) functions |= GDK_FUNC_MINIMIZE;
  if (window->style & WS_MAXIMIZEBOX) functions |= GDK_FUNC_MAXIMIZE;
  if (window->style & WS_THICKFRAME) functions |= GDK_FUNC_RESIZE;
  gdk_window_set_functions(toplevel, static_cast<GdkWMFunction>(functions));
}

void onWindowRealize(GtkWidget*, gpointer data) {
  applyStyle(static_cast<DesktopWindow*>(data));
}

GdkPixbuf* iconPixbuf(HICON icon) {
  WindowPixels pixels;
  if (!icon || !iconPixels(icon, &pixels) || pixels.width <= 0 || pixels.height <= 0) {
    return nullptr;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, pixels.width, pixels.height);
  if (!pixbuf) return nullptr;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf);
  int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      uint32_t pixel = pixels.pixels[y * pixels.stride + x];
      guchar* p = out + y * rowstride + x * 4;
      p[0] = (pixel >> 16) & 0xFF;
      p[1] = (pixel >> 8) & 0xFF;
      p[2] = pixel & 0xFF;
      p[3] = (pixel >> 24) & 0xFF;  // icon pixels carry their alpha in the top byte
    }
  }
  return pixbuf;
}

void showIcons(DesktopWindow* window) {
  GList* list = nullptr;
  for (HICON icon : {window->smallIcon, window->bigIcon}) {
    if (GdkPixbuf* pixbuf = iconPixbuf(icon)) list = g_list_append(list, pixbuf);
  }
  // An empty list clears the icon: the window shows whatever the desktop shows for none, as a
  // Windows window without a small icon shows the class's default.
  gtk_window_set_icon_list(GTK_WINDOW(window->window), list);
  g_list_free_full(list, g_object_unref);
}

void setTitle(DesktopWindow* window, const char* text) {
  window->title = text ? text : "";
  gtk_window_set_title(GTK_WINDOW(window->window), cp932ToUtf8(window->title.c_str()).c_str());
}

void removePostedMessagesOf(HWND handle) {
  auto lock = layerLock();
  for (auto it = postedMessages.begin(); it != postedMessages.end();) {
    it = it->hwnd == handle ? postedMessages.erase(it) : it + 1;
  }
}

bool messageMatches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
  if (window && msg.hwnd != window) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return msg.message >= filterMin && msg.message <= filterMax;
}

// Takes (or, with remove false, copies) the first posted message that passes the filter; then
// the quit message; then WM_PAINT for a window that needs painting.
bool nextMessage(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, bool remove) {
  {
    auto lock = layerLock();
    for (auto it = postedMessages.begin(); it != postedMessages.end(); ++it) {
      if (!messageMatches(*it, window, filterMin, filterMax)) continue;
      *msg = *it;
      if (remove) postedMessages.erase(it);
      return true;
    }
    if (quitPosted && !window) {
      *msg = MSG{};
      msg->message = WM_QUIT;
      msg->wParam = static_cast<WPARAM>(quitCode);
      if (remove) quitPosted = false;
      return true;
    }
  }
  if (filterMin != 0 || filterMax != 0) {
    if (WM_PAINT < filterMin || WM_PAINT > filterMax) return false;
  }
  std::vector<DesktopWindow*> candidates;
  {
    std::lock_guard<std::mutex> guard(windowListLock);
    candidates = windows;
  }
  for (DesktopWindow* candidate : candidates) {
    if (!candidate->alive || !candidate->paintPending) continue;
    if (window && handleOf(candidate) != window) continue;
    *msg = MSG{};
    msg->hwnd = handleOf(candidate);
    msg->message = WM_PAINT;
    msg->time = timeGetTime();
    return true;
  }
  return false;
}

// Runs what GTK has ready without blocking: events become posted messages, handed-over calls
// run. Bounded, because a busy redraw can keep GTK ready for ever.
void pumpDesktop() {
  runPendingCalls();
  for (int i = 0; i < 64 && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shared with the other files of the backend

bool startDesktop(int* argc, char*** argv) {
  if (desktopStarted) return true;
  // Where a Wayland session also offers X11, prefer it: there a program may place its window
  // and knows where the pointer is on the screen, as on Windows.
  gdk_set_allowed_backends("x11,*");
  if (!gtk_init_check(argc, argv)) return false;
  desktopStarted = true;
  desktopThread = std::this_thread::get_id();
  setWindowSurfaceChangedHandler([](HWND handle) {
    DesktopWindow* window = liveWindow(handle);
    if (!window) return;
    if (onDesktopThread()) {
      gtk_widget_queue_draw(window->client);
      return;
    }
    // From the frame thread, about every 30 ms: one redraw on its way is enough.
    if (window->redrawScheduled.exchange(true)) return;
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          DesktopWindow* target = static_cast<DesktopWindow*>(data);
          target->redrawScheduled = false;
          if (target->alive) gtk_widget_queue_draw(target->client);
          return G_SOURCE_REMOVE;
        },
        window, nullptr);
  });
  return true;
}

bool onDesktopThread() {
  return desktopStarted && std::this_thread::get_id() == desktopThread;
}

void runOnDesktopThread(const std::function<void()>& work) {
  ensureDesktop();
  if (onDesktopThread()) {
    work();
    return;
  }
  callOnDesktopThread(
      [&work]() -> LRESULT {
        work();
        return 0;
      },
      false);
}

GtkWindow* gtkWindowOf(HWND handle) {
  DesktopWindow* window = liveWindow(handle);
  return window ? GTK_WINDOW(window->window) : nullptr;
}

void watchActivation(GtkWidget* toplevel) {
  g_signal_connect(toplevel, "notify::is-active", G_CALLBACK(onActiveChanged), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Windows

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  ensureDesktop();
  if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
  for (const WindowClass& existing : windowClasses) {
    if (sameName(existing.name.c_str(), windowClass->lpszClassName)) return 0;  // already there
  }
  WindowClass record;
  record.name = windowClass->lpszClassName;
  record.procedure = windowClass->lpfnWndProc;
  record.instance = windowClass->hInstance;
  // A menu named by an integer id is not among our menu resources; it gives no menu.
  record.hasMenuName = windowClass->lpszMenuName && !IS_INTRESOURCE(windowClass->lpszMenuName);
  if (record.hasMenuName) record.menuName = windowClass->lpszMenuName;
  windowClasses.push_back(record);
  return static_cast<ATOM>(0xC000 + windowClasses.size());
}

HWND CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE instance, LPVOID) {
  ensureDesktop();
  if (!onDesktopThread() || !className) return nullptr;
  const WindowClass* windowClass = nullptr;
  for (const WindowClass& candidate : windowClasses) {
    if (sameName(candidate.name.c_str(), className)) windowClass = &candidate;
  }
  if (!windowClass) return nullptr;

  DesktopWindow* window = new DesktopWindow();
  window->procedure = windowClass->procedure;
  window->instance = instance;
  window->style = style;
  window->alive = true;
  window->paintPending = true;
  window->wantedOuterWidth = width == CW_USEDEFAULT ? 640 : width;
  window->wantedOuterHeight = height == CW_USEDEFAULT ? 480 : height;
  window->extents = {0, 0, 0, 0};

  window->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window->window), box);
  const MenuResource* menu =
      windowClass->hasMenuName ? findMenuResource(windowClass->menuName.c_str()) : nullptr;
  if (menu) {
    window->menuBar = buildMenuBar(menu, window);
    gtk_box_pack_start(GTK_BOX(box), window->menuBar, FALSE, FALSE, 0);
  }
  window->client = gtk_drawing_area_new();
  gtk_widget_add_events(window->client, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                            GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK |
                                            GDK_LEAVE_NOTIFY_MASK);
  gtk_box_pack_start(GTK_BOX(box), window->client, TRUE, TRUE, 0);
  gtk_widget_show_all(box);  // hidden widgets ask for no room: the menu bar must count
  setTitle(window, windowName);
  gtk_window_set_resizable(GTK_WINDOW(window->window), (style & WS_THICKFRAME) != 0);
  if (x != CW_USEDEFAULT) gtk_window_move(GTK_WINDOW(window->window), x, y);

  {
    std::lock_guard<std::mutex> guard(windowListLock);
    windows.push_back(window);
  }
  {
    std::lock_guard<std::mutex> guard(geometryLock);
    geometries.push_back({window, WindowGeometry{{0, 0}, 0, 0}});
  }
  int clientWidth, clientHeight;
  clientSizeFor(window, &clientWidth, &clientHeight);
  createWindowSurface(handleOf(window), clientWidth, clientHeight);
  gtk_widget_set_size_request(window->client, clientWidth, clientHeight);
  storeClientSize(window, clientWidth, clientHeight);

  g_signal_connect(window->window, "delete-event", G_CALLBACK(onDeleteEvent), window);
  g_signal_connect(window->window, "configure-event", G_CALLBACK(onConfigure), window);
  g_signal_connect_after(window->window, "realize", G_CALLBACK(onWindowRealize), window);
  gtk_widget_add_events(window->window, GDK_POINTER_MOTION_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(window->window, "motion-notify-event", G_CALLBACK(onPointerMotion), nullptr);
  g_signal_connect(window->client, "motion-notify-event", G_CALLBACK(onPointerMotion), nullptr);
  g_signal_connect(window->client, "enter-notify-event", G_CALLBACK(onPointerCrossing), nullptr);
  g_signal_connect(window->client, "leave-notify-event", G_CALLBACK(onPointerCrossing), nullptr);
  g_signal_connect(window->client, "size-allocate", G_CALLBACK(onClientSizeAllocate), window);
  g_signal_connect(window->client, "draw", G_CALLBACK(onClientDraw), window);
  g_signal_connect(window->client, "button-press-event", G_CALLBACK(onClientButton), window);
  g_signal_connect(window->client, "button-release-event", G_CALLBACK(onClientButton), window);
  watchActivation(window->window);
  return handleOf(window);
}

BOOL ShowWindow(HWND handle, int showCommand) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return FALSE;
  BOOL wasShown = window->shown ? TRUE : FALSE;
  runOnDesktopThread([&] {
    if (showCommand == SW_HIDE) {
      gtk_widget_hide(window->window);
      window->shown = false;
      return;
    }
    gtk_widget_show(window->window);
    window->shown = true;
    window->paintPending = true;
    refreshClientOrigin(window);
  });
  return wasShown;
}

BOOL UpdateWindow(HWND handle) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return FALSE;
  if (window->paintPending) SendMessageA(handle, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL DestroyWindow(HWND handle) {
  DesktopWindow* window = liveWindow(handle);
  // As on Windows, only the thread that owns a window may destroy it.
  if (!window || !onDesktopThread()) return FALSE;
  callProcedure(window, WM_DESTROY, 0, 0);
  window->alive = false;
  callProcedure(window, WM_NCDESTROY, 0, 0);
  removePostedMessagesOf(handle);
  gtk_widget_destroy(window->window);
  destroyWindowSurface(handle);
  return TRUE;
}

BOOL IsWindow(HWND handle) {
  return liveWindow(handle) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return 0;
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(handle, WM_CLOSE, 0, 0);
      return 0;
    case WM_SETTEXT:
      setTitle(window, reinterpret_cast<LPCSTR>(lParam));
      return TRUE;
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!buffer || wParam == 0) return 0;
      size_t length = std::min(window->title.size(), static_cast<size_t>(wParam) - 1);
      window->title.copy(buffer, length);
      buffer[length] = 0;
      return static_cast<LRESULT>(length);
    }
    case WM_SETICON: {
      HICON icon = reinterpret_cast<HICON>(lParam);
      HICON previous;
      if (wParam == ICON_SMALL) {
        previous = window->smallIcon;
        window->smallIcon = icon;
      } else {
        previous = window->bigIcon;
        window->bigIcon = icon;
      }
      showIcons(window);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
      return reinterpret_cast<LRESULT>(wParam == ICON_SMALL ? window->smallIcon : window->bigIcon);
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(handle, &paint);
      EndPaint(handle, &paint);
      return 0;
    }
    case WM_NCCREATE:
      return TRUE;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Messages

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  ensureDesktop();
  for (;;) {
    runPendingCalls();
    if (nextMessage(msg, window, filterMin, filterMax, true)) {
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    // Blocks until GTK has an event, a handed-over call arrives (its idle source) or a message
    // is posted from another thread (g_main_context_wakeup).
    g_main_context_iteration(nullptr, TRUE);
  }
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  ensureDesktop();
  // Only the desktop thread has windows and a queue here: any other thread's queue is empty, and
  // GTK must not be run from it.
  if (!onDesktopThread()) return FALSE;
  pumpDesktop();
  if (!nextMessage(msg, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0)) {
    return FALSE;
  }
  return TRUE;
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  DesktopWindow* window = liveWindow(msg->hwnd);
  if (!window) return 0;
  return callProcedure(window, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
  {
    auto lock = layerLock();
    quitPosted = true;
    quitCode = exitCode;
    layerWakeAll();
  }
  g_main_context_wakeup(nullptr);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (handle && !liveWindow(handle)) return FALSE;
  postMessage(handle, message, wParam, lParam);
  return TRUE;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return 0;
  if (onDesktopThread()) return callProcedure(window, message, wParam, lParam);
  return callOnDesktopThread(
      [=]() -> LRESULT {
        // The window may have been destroyed while the call waited for its turn.
        return window->alive ? callProcedure(window, message, wParam, lParam) : 0;
      },
      true);
}

BOOL ReplyMessage(LRESULT result) {
  if (!onDesktopThread()) return FALSE;
  auto lock = layerLock();
  DesktopCall* call = callBeingRun;
  if (!call || !call->sentMessage || call->done) return FALSE;
  call->result = result;
  call->done = true;
  layerWakeAll();
  return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  ensureDesktop();
  {
    auto lock = layerLock();
    for (DWORD i = 0; i < count; ++i) {
      if (!layerIsThreadHandle(handles[i])) {
        setLastError(6);  // ERROR_INVALID_HANDLE
        return WAIT_FAILED;
      }
    }
  }
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    // GTK's events become posted messages and calls from other threads run here, so that a
    // thread waited for can finish a message it sent.
    if (onDesktopThread()) pumpDesktop();
    auto lock = layerLock();
    auto signalled = [&](DWORD* which) {
      DWORD ready = 0;
      for (DWORD i = 0; i < count; ++i) {
        if (!layerHandleSignalled(handles[i])) continue;
        if (!waitAll) {
          *which = i;
          return true;
        }
        ++ready;
      }
      *which = 0;
      return count > 0 && waitAll && ready == count;
    };
    auto inputReady = [&] {
      if ((wakeMask & QS_SENDMESSAGE) && !pendingCalls.empty()) return true;
      if ((wakeMask & QS_POSTMESSAGE) && (!postedMessages.empty() || quitPosted)) return true;
      return false;
    };
    DWORD which = 0;
    if (signalled(&which)) return WAIT_OBJECT_0 + which;
    if (inputReady()) return WAIT_OBJECT_0 + count;
    DWORD slice = waitPollMs;
    if (milliseconds != INFINITE) {
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
      if (spent >= static_cast<long long>(milliseconds)) return WAIT_TIMEOUT;
      slice = std::min<DWORD>(slice, milliseconds - static_cast<DWORD>(spent));
    }
    DWORD ignored;
    bool desktop = onDesktopThread();
    layerWait(
        lock,
        [&] { return signalled(&ignored) || inputReady() || (desktop && !pendingCalls.empty()); },
        slice);
  }
}

// ---------------------------------------------------------------------------------------------
// Window text, size and position

BOOL SetWindowTextA(HWND handle, LPCSTR text) {
  if (!liveWindow(handle)) return FALSE;
  return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  buffer[0] = 0;
  if (!liveWindow(handle)) return 0;
  return static_cast<int>(SendMessageA(handle, WM_GETTEXT, static_cast<WPARAM>(bufferSize),
                                       reinterpret_cast<LPARAM>(buffer)));
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return FALSE;
  BOOL result = FALSE;
  runOnDesktopThread([&] {
    if (!window->alive) return;
    window->wantedOuterWidth = width;
    window->wantedOuterHeight = height;
    // With gravity north-west the window manager puts the frame's top-left corner here, so
    // the position is the outer rectangle's, as on Windows. Window managers may keep a window
    // on the screen, and Wayland does not let a program place its windows at all.
    gtk_window_move(GTK_WINDOW(window->window), x, y);
    fitClientToOuterSize(window);
    if (repaint) window->paintPending = true;
    refreshClientOrigin(window);
    result = TRUE;
  });
  return result;
}

BOOL GetWindowRect(HWND handle, LPRECT rect) {
  DesktopWindow* window = liveWindow(handle);
  if (!window || !rect) return FALSE;
  runOnDesktopThread([&] {
    GdkWindow* toplevel = gtk_widget_get_window(window->window);
    if (toplevel && gtk_widget_get_mapped(window->window)) {
      GdkRectangle frame;
      gdk_window_get_frame_extents(toplevel, &frame);
      *rect = {frame.x, frame.y, frame.x + frame.width, frame.y + frame.height};
      return;
    }
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window->window), &x, &y);
    *rect = {x, y, x + window->wantedOuterWidth, y + window->wantedOuterHeight};
  });
  return TRUE;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
  DesktopWindow* window = liveWindow(handle);
  if (!window || !rect) return FALSE;
  std::lock_guard<std::mutex> guard(geometryLock);
  WindowGeometry* geometry = geometryOf(window);
  *rect = {0, 0, geometry->clientWidth, geometry->clientHeight};
  return TRUE;
}

LONG GetWindowLongA(HWND handle, int index) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return 0;
  if (index == GWL_HINSTANCE) {
    // Only the low 32 bits fit, as in a 64-bit Windows program that asks this way.
    return static_cast<LONG>(reinterpret_cast<uintptr_t>(window->instance));
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The cursor. The pointer's screen position is what the desktop thread last saw of it; the
// client origin is where the desktop thread last saw the client area. Both come from the same
// display, so client coordinates computed from them match the drawing area even where the screen
// position itself means little (Wayland).

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  if (onDesktopThread()) {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (pointer) {
      int x = 0, y = 0;
      gdk_device_get_position(pointer, nullptr, &x, &y);
      notePointer(x, y);
    }
  }
  std::lock_guard<std::mutex> guard(geometryLock);
  *point = pointerPosition;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  BOOL result = FALSE;
  runOnDesktopThread([&] {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer) return;
    gdk_device_warp(pointer, gdk_display_get_default_screen(display), x, y);
    gdk_display_flush(display);
    notePointer(x, y);
    result = TRUE;
  });
  return result;
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
  DesktopWindow* window = liveWindow(handle);
  if (!window || !point) return FALSE;
  std::lock_guard<std::mutex> guard(geometryLock);
  const POINT origin = geometryOf(window)->clientOrigin;
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
  DesktopWindow* window = liveWindow(handle);
  if (!window || !point) return FALSE;
  std::lock_guard<std::mutex> guard(geometryLock);
  const POINT origin = geometryOf(window)->clientOrigin;
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Painting

HDC BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
  DesktopWindow* window = liveWindow(handle);
  if (!window || !paint) return nullptr;
  *paint = PAINTSTRUCT{};
  window->paintPending = false;
  GetClientRect(handle, &paint->rcPaint);
  // The surface keeps what was drawn, and a grown surface is white already: the class's white
  // background needs no erasing.
  paint->fErase = FALSE;
  paint->hdc = GetDC(handle);
  return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (!paint || !paint->hdc) return FALSE;
  ReleaseDC(handle, paint->hdc);
  return TRUE;
}

BOOL InvalidateRect(HWND handle, const RECT*, BOOL) {
  if (!handle) {
    std::lock_guard<std::mutex> guard(windowListLock);
    for (DesktopWindow* window : windows) window->paintPending = true;
  } else {
    DesktopWindow* window = liveWindow(handle);
    if (!window) return FALSE;
    window->paintPending = true;
  }
  if (desktopStarted) g_main_context_wakeup(nullptr);
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// The clock: real time on the desktop.

DWORD timeGetTime(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // wraps after 2^32 ms, as Windows' does
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    layerYieldUntilNextMillisecond();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
