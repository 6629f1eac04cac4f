// The GTK driver's windows: each window handle of the core is a GtkWindow holding the class's
// menu bar over a GtkDrawingArea, the client area, which shows the window's surface (the GDI
// draws into it, layer.h). Native input becomes posted messages; the geometry GTK and the window
// manager settle on goes back to the core's record.
//
// Owns the GTK side of each window, kept for the program's life so that a handle looked at from
// another thread after DestroyWindow stays safe. Deps: user_gtk.h, user_core.h, resources/menu.h.
#include <gdk/gdkkeysyms.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"
#include "platform/windows_api.h"
#include "resources/menu.h"

namespace {

constexpr WPARAM leftButtonFlag = 0x0001;   // MK_LBUTTON
constexpr WPARAM rightButtonFlag = 0x0002;  // MK_RBUTTON
constexpr guint activationSettleMs = 60;    // focus moving between two of our windows
constexpr guint pointerPollMs = 10;         // well within a frame

// The frame a window manager put around a window, in pixels on each side; zero without one.
struct FrameExtents {
  int left;
  int top;
  int right;
  int bottom;
};

struct DesktopWindow {
  HWND handle;
  DWORD style;
  GtkWidget* window;   // the GtkWindow
  GtkWidget* menuBar;  // null when the class names no menu
  GtkWidget* client;   // the GtkDrawingArea: the client area
  std::atomic<bool> alive;
  std::atomic<bool> redrawScheduled;  // a redraw of the client area is on its way
  int wantedOuterWidth;               // the outer size last asked for (CreateWindowExA, MoveWindow)
  int wantedOuterHeight;
  FrameExtents extents;  // as last seen
  // F11: the whole monitor, the picture scaled by the largest whole factor that fits, centred on
  // black. The story keeps its client size; its moves wait until the window leaves fullscreen.
  bool fullscreen;
  int pictureFactor;  // while fullscreen
  int pictureLeft;    // the picture's top-left corner in the client area, while fullscreen
  int pictureTop;
  int wantedX;  // where the window goes on leaving fullscreen
  int wantedY;
};

std::mutex windowsLock;  // guards the map; the records are the desktop thread's
std::map<HWND, DesktopWindow*> windows;

// Desktop thread only.
bool applicationActive = false;  // as last told with WM_ACTIVATEAPP
bool activationCheckScheduled = false;
gint64 lastToplevelMappedOrUnmapped = 0;    // g_get_monotonic_time of the last one of ours
DesktopWindow* fullscreenWindow = nullptr;  // the one window in fullscreen, if any
bool pointerOutside = false;                // the pointer left a client area and entered none since
bool pointerPollScheduled = false;

DesktopWindow* liveWindow(HWND handle) {
  std::lock_guard<std::mutex> guard(windowsLock);
  auto found = windows.find(handle);
  return found != windows.end() && found->second->alive ? found->second : nullptr;
}

// The story sees a fullscreen picture at its own size: a screen point on it is taken back
// through the scaling, about the picture's top-left corner (the client origin the core holds).
void notePointer(double rootX, double rootY) {
  DesktopWindow* full = fullscreenWindow;
  if (full && full->alive && gtk_widget_get_realized(full->client)) {
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(full->client), &x, &y);
    x += full->pictureLeft;
    y += full->pictureTop;
    rootX = x + std::floor((rootX - x) / full->pictureFactor);
    rootY = y + std::floor((rootY - y) / full->pictureFactor);
  }
  userNoteCursor(POINT{static_cast<LONG>(rootX), static_cast<LONG>(rootY)});
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
  *width = std::max(0, window->wantedOuterWidth - e.left - e.right);
  *height = std::max(0, window->wantedOuterHeight - e.top - e.bottom - menuHeight);
}

// Tells the core the client size; a changed one needs painting.
void storeClientSize(DesktopWindow* window, int width, int height) {
  UserWindowState state;
  if (!userWindowState(window->handle, &state)) return;
  if (state.clientWidth == width && state.clientHeight == height) return;
  userSetGeometry(window->handle, state.outer, state.clientOrigin, width, height);
  userInvalidate(window->handle);
}

// Sizes the client area so that the outer rectangle is the wanted one. The window is not
// resizable by the user, so GTK gives it exactly the size its contents ask for.
void fitClientToOuterSize(DesktopWindow* window) {
  if (window->fullscreen) return;
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
  storeClientSize(window, width, height);
}

void refreshClientOrigin(DesktopWindow* window) {
  GdkWindow* client = gtk_widget_get_window(window->client);
  if (!client || !gtk_widget_get_realized(window->client)) return;
  int x = 0, y = 0;
  gdk_window_get_origin(client, &x, &y);
  if (window->fullscreen) {
    x += window->pictureLeft;
    y += window->pictureTop;
  }
  userSetClientOrigin(window->handle, POINT{x, y});
}

// Where the story's picture goes in a fullscreen client area of the given size.
void placePicture(DesktopWindow* window, int width, int height) {
  UserWindowState state;
  if (!userWindowState(window->handle, &state)) return;
  int factor = 1;
  if (state.clientWidth > 0 && state.clientHeight > 0) {
    factor = std::max(1, std::min(width / state.clientWidth, height / state.clientHeight));
  }
  window->pictureFactor = factor;
  window->pictureLeft = (width - state.clientWidth * factor) / 2;
  window->pictureTop = (height - state.clientHeight * factor) / 2;
}

// The outer rectangle: the window manager's frame once the window is mapped, before that where
// the window was asked to be.
void refreshOuter(DesktopWindow* window) {
  GdkWindow* toplevel = gtk_widget_get_window(window->window);
  if (toplevel && gtk_widget_get_mapped(window->window)) {
    GdkRectangle frame;
    gdk_window_get_frame_extents(toplevel, &frame);
    userSetOuter(window->handle,
                 RECT{frame.x, frame.y, frame.x + frame.width, frame.y + frame.height});
    return;
  }
  int x = 0, y = 0;
  gtk_window_get_position(GTK_WINDOW(window->window), &x, &y);
  userSetOuter(window->handle,
               RECT{x, y, x + window->wantedOuterWidth, y + window->wantedOuterHeight});
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

// ---------------------------------------------------------------------------------------------
// Activation: the application is active while one of its toplevels is. Focus moving from the
// main window to a dialog of ours, or back when it closes, passes through a moment where none
// is, so a loss of activation just after one of ours appeared or went waits for focus to settle.
// Any other loss is the user switching to another program: the frame thread must hear of it at
// once, before it runs another frame.

bool anyToplevelActive() {
  bool active = false;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    if (gtk_window_is_active(GTK_WINDOW(item->data))) active = true;
  }
  g_list_free(toplevels);
  return active;
}

void tellActivation(bool active) {
  if (active == applicationActive) return;
  applicationActive = active;
  std::vector<HWND> live;
  {
    std::lock_guard<std::mutex> guard(windowsLock);
    for (auto& entry : windows) {
      if (entry.second->alive) live.push_back(entry.first);
    }
  }
  for (HWND window : live) SendMessageA(window, WM_ACTIVATEAPP, active ? TRUE : FALSE, 0);
}

gboolean checkActivation(gpointer) {
  activationCheckScheduled = false;
  tellActivation(anyToplevelActive());
  return G_SOURCE_REMOVE;
}

void onActiveChanged(GObject*, GParamSpec*, gpointer) {
  if (activationCheckScheduled) return;
  bool active = anyToplevelActive();
  gint64 sinceShownOrHidden = g_get_monotonic_time() - lastToplevelMappedOrUnmapped;
  if (active || sinceShownOrHidden >= gint64(activationSettleMs) * 1000) {
    tellActivation(active);
    return;
  }
  activationCheckScheduled = true;
  g_timeout_add(activationSettleMs, checkActivation, nullptr);
}

void onToplevelMappedOrUnmapped(GtkWidget*, gpointer) {
  lastToplevelMappedOrUnmapped = g_get_monotonic_time();
}

// ---------------------------------------------------------------------------------------------
// GTK signal handlers of a window

gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  // The close box: the system command, which the default handling turns into WM_CLOSE for the
  // window procedure to decide.
  PostMessageA(static_cast<DesktopWindow*>(data)->handle, WM_SYSCOMMAND, SC_CLOSE, 0);
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
  refreshOuter(window);
  return FALSE;
}

void onClientSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  if (!window->alive) return;
  if (window->fullscreen) {
    placePicture(window, allocation->width, allocation->height);
  } else {
    storeClientSize(window, allocation->width, allocation->height);
  }
  refreshClientOrigin(window);
}

gboolean onClientDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  if (window->fullscreen) {
    placePicture(window, gtk_widget_get_allocated_width(window->client),
                 gtk_widget_get_allocated_height(window->client));
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_translate(cr, window->pictureLeft, window->pictureTop);
    cairo_scale(cr, window->pictureFactor, window->pictureFactor);
  } else {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  PixelView pixels;
  if (!lockWindowSurface(window->handle, &pixels)) return TRUE;
  if (pixels.width > 0 && pixels.height > 0) {
    // A window surface is pixelFormat32 top-down, which is cairo's RGB24 as it stands.
    cairo_surface_t* image = cairo_image_surface_create_for_data(
        pixels.top, CAIRO_FORMAT_RGB24, pixels.width, pixels.height, int(pixels.rowStep));
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, pixels.width, pixels.height);
    cairo_fill(cr);
    cairo_surface_destroy(image);
  }
  unlockWindowSurface(window->handle, false);
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
  int x = static_cast<int>(event->x), y = static_cast<int>(event->y);
  if (window->fullscreen) {
    // Windows reports clicks inside the client area only: the black around the picture is not
    // the story's.
    UserWindowState state;
    if (!userWindowState(window->handle, &state)) return TRUE;
    x = static_cast<int>(std::floor((event->x - window->pictureLeft) / window->pictureFactor));
    y = static_cast<int>(std::floor((event->y - window->pictureTop) / window->pictureFactor));
    if (x < 0 || y < 0 || x >= state.clientWidth || y >= state.clientHeight) return TRUE;
  }
  PostMessageA(window->handle, message, flags, userPointLParam(x, y));
  return TRUE;
}

gboolean onPointerMotion(GtkWidget*, GdkEventMotion* event, gpointer) {
  notePointer(event->x_root, event->y_root);
  return FALSE;
}

// Off our client areas GTK reports no motion, yet GetCursorPos must follow the pointer there as
// on Windows (a story's choice under the last position seen would stay chosen): while the
// pointer is out, its position is read from the display.
gboolean pollPointer(gpointer) {
  if (!pointerOutside) {
    pointerPollScheduled = false;
    return G_SOURCE_REMOVE;
  }
  GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  if (pointer) {
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    notePointer(x, y);
  }
  return G_SOURCE_CONTINUE;
}

gboolean onPointerCrossing(GtkWidget*, GdkEventCrossing* event, gpointer) {
  notePointer(event->x_root, event->y_root);
  pointerOutside = event->type == GDK_LEAVE_NOTIFY;
  if (pointerOutside && !pointerPollScheduled) {
    pointerPollScheduled = true;
    g_timeout_add(pointerPollMs, pollPointer, nullptr);
  }
  return FALSE;
}

// F11 enters and leaves fullscreen. A window manager that knows fullscreen is asked for it; on
// a desktop without one the window itself covers the monitor.
void setFullscreen(DesktopWindow* window, bool on) {
  if (window->fullscreen == on) return;
  GtkWindow* gtkWindow = GTK_WINDOW(window->window);
  GdkWindow* toplevel = gtk_widget_get_window(window->window);
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = toplevel ? gdk_display_get_monitor_at_window(display, toplevel)
                                 : gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_geometry(monitor, &area);
  bool managed =
      GDK_IS_X11_DISPLAY(display) && gdk_x11_screen_supports_net_wm_hint(
                                         gdk_display_get_default_screen(display),
                                         gdk_atom_intern_static_string("_NET_WM_STATE_FULLSCREEN"));
  if (on) {
    UserWindowState state;
    if (!userWindowState(window->handle, &state)) return;
    window->wantedX = state.outer.left;
    window->wantedY = state.outer.top;
    window->fullscreen = true;
    fullscreenWindow = window;
    placePicture(window, area.width, area.height);
    if (window->menuBar) gtk_widget_hide(window->menuBar);
    gtk_widget_set_size_request(window->client, area.width, area.height);
    if (managed) {
      gtk_window_fullscreen(gtkWindow);
    } else {
      gtk_window_move(gtkWindow, area.x, area.y);
    }
  } else {
    window->fullscreen = false;
    if (fullscreenWindow == window) fullscreenWindow = nullptr;
    if (managed) gtk_window_unfullscreen(gtkWindow);
    if (window->menuBar) gtk_widget_show(window->menuBar);
    // What the story asked for while fullscreen takes effect now.
    gtk_window_move(gtkWindow, window->wantedX, window->wantedY);
    fitClientToOuterSize(window);
  }
  refreshClientOrigin(window);
  gtk_widget_queue_draw(window->client);
}

gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_F11) return FALSE;
  DesktopWindow* window = static_cast<DesktopWindow*>(data);
  setFullscreen(window, !window->fullscreen);
  return TRUE;
}

void onMenuItemActivate(GtkMenuItem* item, gpointer data) {
  int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "torvane-command"));
  // Windows posts a menu's WM_COMMAND, with 0 in the high word of wParam.
  PostMessageA(static_cast<DesktopWindow*>(data)->handle, WM_COMMAND,
               static_cast<WPARAM>(static_cast<WORD>(command)), 0);
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

// ---------------------------------------------------------------------------------------------
// Menu, icons and title

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

GdkPixbuf* iconPixbuf(HICON icon) {
  IconPixels pixels;
  if (!icon || !iconPixels(icon, &pixels) || pixels.width <= 0 || pixels.height <= 0) {
    return nullptr;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, pixels.width, pixels.height);
  if (!pixbuf) return nullptr;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf);
  int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      uint32_t pixel = pixels.pixels[y * pixels.width + x];
      guchar* p = out + y * rowstride + x * 4;
      p[0] = (pixel >> 16) & 0xFF;
      p[1] = (pixel >> 8) & 0xFF;
      p[2] = pixel & 0xFF;
      p[3] = (pixel >> 24) & 0xFF;  // icon pixels carry their alpha in the top byte
    }
  }
  return pixbuf;
}

void setTitle(DesktopWindow* window, const char* title) {
  gtk_window_set_title(GTK_WINDOW(window->window), cp932ToUtf8(title).c_str());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The driver's window entries

bool gtkCreateWindow(HWND handle, const UserWindowRequest& request) {
  ensureDesktop();
  if (!onDesktopThread()) return false;
  UserWindowState state;
  if (!userWindowState(handle, &state)) return false;

  DesktopWindow* window = new DesktopWindow();
  window->handle = handle;
  window->style = request.style;
  window->alive = true;
  window->wantedOuterWidth = request.width;
  window->wantedOuterHeight = request.height;
  window->extents = {0, 0, 0, 0};
  window->fullscreen = false;
  window->pictureFactor = 1;

  window->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window->window), box);
  const MenuResource* menu = request.menuName ? findMenuResource(request.menuName) : nullptr;
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
  setTitle(window, state.title.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window->window), (request.style & WS_THICKFRAME) != 0);
  if (!request.defaultPosition) gtk_window_move(GTK_WINDOW(window->window), request.x, request.y);

  {
    std::lock_guard<std::mutex> guard(windowsLock);
    windows[handle] = window;
  }
  int clientWidth, clientHeight;
  clientSizeFor(window, &clientWidth, &clientHeight);
  gtk_widget_set_size_request(window->client, clientWidth, clientHeight);
  storeClientSize(window, clientWidth, clientHeight);
  refreshOuter(window);

  g_signal_connect(window->window, "delete-event", G_CALLBACK(onDeleteEvent), window);
  g_signal_connect(window->window, "key-press-event", G_CALLBACK(onKeyPress), window);
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
  return true;
}

void gtkWindowDestroyed(HWND handle) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return;
  window->alive = false;
  runOnDesktopThread([&] {
    if (fullscreenWindow == window) fullscreenWindow = nullptr;
    gtk_widget_destroy(window->window);
  });
}

void gtkShowWindow(HWND handle, bool show) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return;
  runOnDesktopThread([&] {
    if (!show) {
      gtk_widget_hide(window->window);
      return;
    }
    gtk_widget_show(window->window);
    refreshClientOrigin(window);
  });
}

void gtkTitleChanged(HWND handle, const char* title) {
  DesktopWindow* window = liveWindow(handle);
  if (window) runOnDesktopThread([&] { setTitle(window, title); });
}

void gtkIconsChanged(HWND handle, HICON smallIcon, HICON bigIcon) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return;
  runOnDesktopThread([&] {
    GList* list = nullptr;
    for (HICON icon : {smallIcon, bigIcon}) {
      if (GdkPixbuf* pixbuf = iconPixbuf(icon)) list = g_list_append(list, pixbuf);
    }
    // An empty list clears the icon: the window shows whatever the desktop shows for none, as a
    // Windows window without a small icon shows the class's default.
    gtk_window_set_icon_list(GTK_WINDOW(window->window), list);
    g_list_free_full(list, g_object_unref);
  });
}

void gtkMoveWindow(HWND handle, int x, int y, int width, int height) {
  DesktopWindow* window = liveWindow(handle);
  if (!window) return;
  runOnDesktopThread([&] {
    window->wantedOuterWidth = width;
    window->wantedOuterHeight = height;
    if (window->fullscreen) {
      window->wantedX = x;
      window->wantedY = y;
      return;
    }
    // With gravity north-west the window manager puts the frame's top-left corner here, so
    // the position is the outer rectangle's, as on Windows. Window managers may keep a window
    // on the screen, and Wayland does not let a program place its windows at all.
    gtk_window_move(GTK_WINDOW(window->window), x, y);
    fitClientToOuterSize(window);
    refreshClientOrigin(window);
    refreshOuter(window);
  });
}

void gtkSurfaceChanged(HWND handle) {
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
}

GtkWindow* gtkWindowOf(HWND handle) {
  DesktopWindow* window = liveWindow(handle);
  return window ? GTK_WINDOW(window->window) : nullptr;
}

void watchActivation(GtkWidget* toplevel) {
  g_signal_connect(toplevel, "notify::is-active", G_CALLBACK(onActiveChanged), nullptr);
  g_signal_connect(toplevel, "map", G_CALLBACK(onToplevelMappedOrUnmapped), nullptr);
  g_signal_connect(toplevel, "unmap", G_CALLBACK(onToplevelMappedOrUnmapped), nullptr);
}
