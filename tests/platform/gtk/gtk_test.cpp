// What only the GTK backend can show, on a private X display without a window manager: the menu
// bar and its commands, real pointer clicks, what the screen shows of the client area, GTK's
// geometry after moves, icons, the close box, activation and the two dialogs. Its main starts
// the desktop for the platform contract linked into the same program.
// GoogleTest before Xlib, whose macros (None, Bool) would break GoogleTest's own names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"
#include "platform/windows_api.h"
#include "support/test_support.h"
#include "resources/menu.h"
#include "resources/texts.h"

namespace {

bool lastSeen(UINT message, RecordedMessage* out) {
  std::vector<RecordedMessage> all = recordedMessages();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (it->message == message) return *out = *it, true;
  }
  return false;
}

// Dispatches messages, as a message loop does, until done() or a few seconds have passed.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  DWORD start = timeGetTime();
  while (!done()) {
    if (timeGetTime() - start > static_cast<DWORD>(timeoutMs)) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
    g_usleep(2000);
  }
  return true;
}

void pump(int ms) {
  runUntil([] { return false; }, ms);
}

// Runs action once GTK's loop runs again (inside a modal dialog started right after), and again
// every 20 ms until it returns true.
void later(std::function<bool()> action) {
  g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        auto* work = static_cast<std::function<bool()>*>(data);
        if (!(*work)()) return G_SOURCE_CONTINUE;
        delete work;
        return G_SOURCE_REMOVE;
      },
      new std::function<bool()>(std::move(action)));
}

GtkWindow* findToplevel(const char* title) {
  GtkWindow* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    const char* t = gtk_window_get_title(GTK_WINDOW(item->data));
    if (t && strcmp(t, title) == 0 && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
      found = GTK_WINDOW(item->data);
    }
  }
  g_list_free(toplevels);
  return found;
}

GtkWidget* findChild(GtkWidget* widget, GType type) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* item = children; item && !found; item = item->next) {
    found = findChild(GTK_WIDGET(item->data), type);
  }
  g_list_free(children);
  return found;
}

// One pixel of an X window as 0xRRGGBB; 0xFFFFFFFF when it cannot be read.
uint32_t pixelOf(GdkWindow* window, int x, int y) {
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, x, y, 1, 1);
  if (!shot) return 0xFFFFFFFFu;
  const guchar* p = gdk_pixbuf_get_pixels(shot);
  uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
  g_object_unref(shot);
  return rgb;
}

// What the screen shows at a client point, read from the root window: what a person sees.
uint32_t screenPixel(HWND window, int x, int y) {
  POINT point = {x, y};
  ClientToScreen(window, &point);
  return pixelOf(gdk_get_default_root_window(), point.x, point.y);
}

// Real pointer input through the X server (XTest), as a person's clicks arrive. The server takes
// one client's requests in order, so the click lands where the move put the pointer.
void clickAt(HWND window, POINT client, int button) {
  ClientToScreen(window, &client);
  char command[128];
  snprintf(command, sizeof command, "xdotool mousemove %d %d click %d", static_cast<int>(client.x),
           static_cast<int>(client.y), button);
  ASSERT_EQ(system(command), 0) << command;
}

bool outerIs(HWND window, RECT expected) {
  RECT outer;
  GetWindowRect(window, &outer);
  return outer.left == expected.left && outer.top == expected.top &&
         outer.right == expected.right && outer.bottom == expected.bottom;
}

class DesktopBackend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = menuResourceName;
    windowClass.lpszClassName = "TorvaneDesktopTest";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
  }

  void SetUp() override {
    clearRecordedMessages();
    window = CreateWindowExA(0, "torvanedesktoptest", windowTitle,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    ASSERT_TRUE(runUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(gtkWindowOf(window))); }));
    // Lets the X server and GTK agree on sizes and positions.
    gdk_display_sync(gdk_display_get_default());
    pump(150);
  }

  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  GtkWidget* child(GType type) { return findChild(GTK_WIDGET(gtkWindowOf(window)), type); }
  int menuHeight() { return gtk_widget_get_allocated_height(child(GTK_TYPE_MENU_BAR)); }

  HWND window = nullptr;
};

// The entries' structure and UTF-8 labels are checked on the GTK menu below; here their CP932
// spellings, the ids the Windows build's resource uses, and the lookup by name.
TEST(MenuResource, TextsAreTheRcSpellingsInCp932AndFoundWithoutRegardToCase) {
  const MenuResource* menu = findMenuResource(menuResourceName);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->entryCount, 5);
  const int ids[] = {0, 40001, 0, 40002, 0};
  for (int i = 0; i < 5; ++i) {
    const MenuEntry& entry = menu->entries[i];
    EXPECT_EQ(entry.commandId, ids[i]) << i;
    EXPECT_EQ(entry.text == nullptr, entry.utf8 == nullptr) << i;
    if (entry.text) {
      EXPECT_EQ(std::string(entry.text), cp932(entry.utf8)) << i;
    }
  }
  EXPECT_EQ(findMenuResource("MENU"), menu);
  EXPECT_EQ(findMenuResource("menu"), menu);
  const char* others[] = {"Menus", "", nullptr, MAKEINTRESOURCEA(1)};
  for (const char* other : others) EXPECT_EQ(findMenuResource(other), nullptr);
}

TEST_F(DesktopBackend, WindowHasTitleOuterSizeAndMenuBarInsideIt) {
  char title[64];
  EXPECT_EQ(GetWindowTextA(window, title, sizeof title), 15);
  EXPECT_STREQ(title, "Torvane ver1.03");
  GtkWindow* gtkWindow = gtkWindowOf(window);
  EXPECT_STREQ(gtk_window_get_title(gtkWindow), "Torvane ver1.03");
  EXPECT_FALSE(gtk_window_get_resizable(gtkWindow));

  RECT outer, client;
  ASSERT_TRUE(GetWindowRect(window, &outer));
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(outer.right - outer.left, 640);
  EXPECT_EQ(outer.bottom - outer.top, 480);
  ASSERT_NE(child(GTK_TYPE_MENU_BAR), nullptr);
  EXPECT_GT(menuHeight(), 10);
  EXPECT_EQ(client.left, 0);
  EXPECT_EQ(client.top, 0);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480 - menuHeight());

  // The client area's own X window lies right under the menu bar.
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  EXPECT_EQ(origin.x, outer.left);
  EXPECT_EQ(origin.y, outer.top + menuHeight());

  // The window manager is asked for moving, minimizing and closing only.
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(gtkWindow));
  Display* display = GDK_WINDOW_XDISPLAY(gdkWindow);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display, GDK_WINDOW_XID(gdkWindow),
                               XInternAtom(display, "_MOTIF_WM_HINTS", False), 0, 5, False,
                               AnyPropertyType, &type, &format, &count, &after, &data),
            Success);
  ASSERT_NE(data, nullptr);
  ASSERT_GE(count, 2u);
  unsigned long functions = reinterpret_cast<unsigned long*>(data)[1];
  XFree(data);
  const unsigned long resize = 1 << 1, move = 1 << 2, minimize = 1 << 3, maximize = 1 << 4,
                      close = 1 << 5;
  EXPECT_EQ(functions & (move | minimize | maximize | close | resize), move | minimize | close);
}

TEST_F(DesktopBackend, MenuItemsPostTheirCommands) {
  GtkWidget* menuBar = child(GTK_TYPE_MENU_BAR);
  ASSERT_NE(menuBar, nullptr);
  GList* top = gtk_container_get_children(GTK_CONTAINER(menuBar));
  ASSERT_EQ(g_list_length(top), 1u);
  GtkMenuItem* file = GTK_MENU_ITEM(top->data);
  g_list_free(top);
  EXPECT_STREQ(gtk_menu_item_get_label(file), "ファイル");
  GList* items = gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(file)));
  ASSERT_EQ(g_list_length(items), 3u);
  GtkMenuItem* open = GTK_MENU_ITEM(g_list_nth_data(items, 0));
  EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(g_list_nth_data(items, 1)));
  GtkMenuItem* exit = GTK_MENU_ITEM(g_list_nth_data(items, 2));
  g_list_free(items);
  EXPECT_STREQ(gtk_menu_item_get_label(open), "開く");
  EXPECT_STREQ(gtk_menu_item_get_label(exit), "終了");

  gtk_menu_item_activate(open);
  gtk_menu_item_activate(exit);
  // Posted, not sent: nothing reaches the window before the message loop takes it.
  EXPECT_EQ(countRecorded(WM_COMMAND), 0);
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_COMMAND) == 2; }));
  std::vector<WPARAM> commands;
  for (const RecordedMessage& s : recordedMessages()) {
    if (s.message == WM_COMMAND) commands.push_back(s.wParam);
  }
  EXPECT_EQ(commands, (std::vector<WPARAM>{IDM_FILE_OPEN, IDM_FILE_EXIT}));
}

TEST_F(DesktopBackend, ClicksArriveInClientCoordinatesAndTheCursorOnEveryThread) {
  clickAt(window, {37, 52}, 1);
  clickAt(window, {37, 52}, 3);
  ASSERT_TRUE(runUntil(
      [] { return countRecorded(WM_LBUTTONDOWN) == 1 && countRecorded(WM_RBUTTONDOWN); }));
  RecordedMessage click;
  ASSERT_TRUE(lastSeen(WM_LBUTTONDOWN, &click));
  EXPECT_EQ(LOWORD(click.lParam), 37);
  EXPECT_EQ(HIWORD(click.lParam), 52);
  EXPECT_EQ(click.wParam, 1u);  // MK_LBUTTON
  // The menu bar is no client area: a click there is no WM_LBUTTONDOWN.
  clickAt(window, {300, -5}, 1);
  pump(200);
  EXPECT_EQ(countRecorded(WM_LBUTTONDOWN), 1);

  POINT target = {123, 45};
  ClientToScreen(window, &target);
  ASSERT_TRUE(SetCursorPos(target.x, target.y));
  gdk_display_sync(gdk_display_get_default());
  pump(150);
  POINT cursor = {0, 0}, fromThread = {0, 0};
  ASSERT_TRUE(GetCursorPos(&cursor));
  ASSERT_TRUE(ScreenToClient(window, &cursor));
  std::thread([&] {
    GetCursorPos(&fromThread);
    ScreenToClient(window, &fromThread);
  }).join();
  for (POINT point : {cursor, fromThread}) {
    EXPECT_EQ(point.x, 123);
    EXPECT_EQ(point.y, 45);
  }
}

TEST_F(DesktopBackend, ClientAreaShowsTheSurfaceUnscaledAndAgainAfterADialogCoveredIt) {
  RECT area;
  GetClientRect(window, &area);
  int cx = area.right / 2, cy = area.bottom / 2;  // a message box is centred on its owner
  HDC dc = GetDC(window);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetPixel(dc, 5, 5), 0xFFFFFFu);  // before anything is drawn: the class's white
  SetPixel(dc, 0, 0, RGB(255, 0, 0));
  SetPixel(dc, 10, 20, RGB(0, 0, 255));
  SetPixel(dc, 11, 20, RGB(0, 255, 0));
  SetPixel(dc, cx, cy, RGB(0, 0, 255));
  ReleaseDC(window, dc);

  GdkWindow* client = gtk_widget_get_window(child(GTK_TYPE_DRAWING_AREA));
  ASSERT_TRUE(runUntil([&] { return pixelOf(client, 10, 20) == 0x0000FFu; }));
  EXPECT_EQ(pixelOf(client, 0, 0), 0xFF0000u);
  EXPECT_EQ(pixelOf(client, 11, 20), 0x00FF00u);
  EXPECT_EQ(pixelOf(client, 12, 20), 0xFFFFFFu);
  EXPECT_EQ(pixelOf(client, 10, 21), 0xFFFFFFu);

  ASSERT_TRUE(runUntil([&] { return screenPixel(window, cx, cy) == 0x0000FFu; }));
  bool covered = false;
  later([&] {
    GtkWindow* box = findToplevel("Cover");
    if (!box || !gtk_widget_get_mapped(GTK_WIDGET(box))) return false;
    if (screenPixel(window, cx, cy) == 0x0000FFu) return false;  // not drawn over yet
    covered = true;
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    return true;
  });
  MessageBoxA(window, "\x81\x9B", "Cover", MB_OK);
  ASSERT_TRUE(covered);
  EXPECT_TRUE(runUntil([&] { return screenPixel(window, cx, cy) == 0x0000FFu; }));
}

// A message box, called on the window's thread or on another (then it runs on the window's
// thread and blocks only its caller), keeps handling what other threads send while it is up.
TEST_F(DesktopBackend, MessageBoxesHandleSentMessagesAndBlockOnlyTheirCaller) {
  for (bool fromOtherThread : {false, true}) {
    SCOPED_TRACE(fromOtherThread ? "box from another thread" : "box from the window's thread");
    const UINT probe = WM_USER + 7;
    int before = countRecorded(probe);
    std::atomic<int> answer{-1};
    std::atomic<bool> sent{false};
    std::thread sender;
    bool looked = false;
    later([&] {
      GtkWindow* box = findToplevel("END");
      if (!box) return false;
      if (!looked) {
        looked = true;
        // Its caption is the title, its text converted from CP932, its owner the window.
        EXPECT_EQ(gtk_window_get_transient_for(box), gtkWindowOf(window));
        EXPECT_TRUE(gtk_window_get_modal(box));
        gchar* text = nullptr;
        g_object_get(box, "text", &text, nullptr);
        EXPECT_STREQ(text, "スクリプト終了");
        g_free(text);
        EXPECT_EQ(answer, -1);
        sender = std::thread([&] {
          SendMessageA(window, probe, 1, 2);
          sent = true;
        });
      }
      if (!sent) return false;
      gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
      return true;
    });
    std::thread frame;
    if (fromOtherThread) {
      frame =
          std::thread([&] { answer = MessageBoxA(window, textScriptEnded, captionEnd, MB_OK); });
      ASSERT_TRUE(runUntil([&] { return answer != -1; }));
      frame.join();
    } else {
      answer = MessageBoxA(window, textScriptEnded, captionEnd, MB_OK);
    }
    sender.join();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(countRecorded(probe), before + 1);
  }
}

TEST_F(DesktopBackend, MoveWindowSetsTheOuterRectangleFromAnyThread) {
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID target) -> DWORD {
        MoveWindow(static_cast<HWND>(target), 30, 40, 700, 560, TRUE);
        return 0;
      },
      window, 0, nullptr);
  ASSERT_TRUE(runUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
  CloseHandle(thread);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 700);
  EXPECT_EQ(client.bottom, 560 - menuHeight());
  ASSERT_TRUE(runUntil([&] { return outerIs(window, {30, 40, 730, 600}); }));
  ASSERT_TRUE(runUntil(
      [&] { return gtk_widget_get_allocated_width(child(GTK_TYPE_DRAWING_AREA)) == 700; }));
  ASSERT_TRUE(runUntil([&] {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return origin.x == 30 && origin.y == 40 + menuHeight();
  }));
  // The grown part of the client area is the white background.
  HDC dc = GetDC(window);
  EXPECT_EQ(GetPixel(dc, 690, 10), 0xFFFFFFu);
  ReleaseDC(window, dc);

  // And smaller again, from the window's own thread.
  ASSERT_TRUE(MoveWindow(window, 10, 20, 320, 240, TRUE));
  ASSERT_TRUE(runUntil([&] { return outerIs(window, {10, 20, 330, 260}); }));
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 240 - menuHeight());
}

// A 2x2 icon file of 32-bit pixels: red, green / blue, half-transparent white (rows bottom-up).
std::string iconFile() {
  std::string bytes;
  auto u16 = [&](int v) { bytes += char(v & 0xFF), bytes += char((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u16(0), u16(1), u16(1);  // icon directory
  bytes += char(2), bytes += char(2), bytes += char(0), bytes += char(0);
  u16(1), u16(32), u32(40 + 16 + 8), u32(6 + 16);  // the entry: size and offset
  u32(40), u32(2), u32(4), u16(1), u16(32), u32(0), u32(16), u32(0), u32(0), u32(0), u32(0);
  u32(0xFF0000FF), u32(0x80FFFFFF);  // bottom row: blue, white
  u32(0xFFFF0000), u32(0xFF00FF00);  // top row: red, green
  u32(0), u32(0);                    // AND mask
  return bytes;
}

TEST_F(DesktopBackend, SmallIconIsShownAndANullIconClearsIt) {
  char path[] = "/tmp/torvane-icon-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string bytes = iconFile();
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  HICON icon = static_cast<HICON>(LoadImageA(nullptr, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  unlink(path);
  ASSERT_NE(icon, nullptr);

  GtkWindow* gtkWindow = gtkWindowOf(window);
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  std::thread frame(
      [&] { SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon)); });
  ASSERT_TRUE(runUntil([&] { return gtk_window_get_icon(gtkWindow) != nullptr; }));
  frame.join();
  GdkPixbuf* shown = gtk_window_get_icon(gtkWindow);
  ASSERT_EQ(gdk_pixbuf_get_width(shown), 2);
  const guchar* p = gdk_pixbuf_get_pixels(shown);
  int stride = gdk_pixbuf_get_rowstride(shown);
  EXPECT_EQ(p[0], 0xFF);  // red, opaque
  EXPECT_EQ(p[1], 0x00);
  EXPECT_EQ(p[3], 0xFF);
  EXPECT_EQ(p[stride + 4 + 3], 0x80);  // the white pixel's alpha
  EXPECT_EQ(SendMessageA(window, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(icon));

  SendMessageA(window, WM_SETICON, ICON_SMALL, 0);
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  // The stock application icon has no pixels of its own: the desktop's default shows.
  SendMessageA(window, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(LoadIconA(nullptr, IDI_APPLICATION)));
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  DestroyIcon(icon);
}

TEST_F(DesktopBackend, CloseBoxPostsTheCloseCommandWhichBecomesClose) {
  gtk_window_close(gtkWindowOf(window));  // what the window manager does for the close box
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_CLOSE) == 1; }));
  RecordedMessage command;
  ASSERT_TRUE(lastSeen(WM_SYSCOMMAND, &command));
  EXPECT_EQ(command.wParam, 0xF060u);  // SC_CLOSE, which the default handling made WM_CLOSE
  EXPECT_TRUE(IsWindow(window));
}

void focusWindow(Display* display, Window target) {
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  XSetInputFocus(display, target, RevertToParent, CurrentTime);
  XSync(display, False);
  gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
}

bool lastActivationIs(BOOL active) {
  RecordedMessage s;
  return lastSeen(WM_ACTIVATEAPP, &s) && s.wParam == static_cast<WPARAM>(active);
}

TEST_F(DesktopBackend, ActivationFollowsFocusAcrossOurWindowsOnly) {
  GdkWindow* ours = gtk_widget_get_window(GTK_WIDGET(gtkWindowOf(window)));
  Display* display = GDK_WINDOW_XDISPLAY(ours);
  // A window of another program takes the focus: the application is no longer active.
  Window foreign =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 700, 600, 10, 10, 0, 0, 0);
  XMapWindow(display, foreign);
  XSync(display, False);
  pump(100);
  focusWindow(display, GDK_WINDOW_XID(ours));
  pump(200);
  focusWindow(display, foreign);
  ASSERT_TRUE(runUntil([] { return lastActivationIs(FALSE); }));
  focusWindow(display, GDK_WINDOW_XID(ours));
  ASSERT_TRUE(runUntil([] { return lastActivationIs(TRUE); }));

  // Focus moving to a dialog of ours keeps the application active.
  int before = countRecorded(WM_ACTIVATEAPP);
  later([&] {
    GtkWindow* box = findToplevel("Focus");
    if (!box) return false;
    focusWindow(display, GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(box))));
    later([box] {
      gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
      return true;
    });
    return true;
  });
  MessageBoxA(window, "", "Focus", MB_OK);
  focusWindow(display, GDK_WINDOW_XID(ours));
  pump(300);
  EXPECT_EQ(countRecorded(WM_ACTIVATEAPP), before);
  XDestroyWindow(display, foreign);
  XSync(display, False);
}

struct OpenDialog {
  char file[256] = {};
  OPENFILENAMEA record = {};
  explicit OpenDialog(HWND owner, DWORD size = 256) {
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = openDialogFilter;
    record.lpstrFile = file;
    record.nMaxFile = size;
    record.lpstrTitle = openDialogTitle;
    record.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    record.lpstrDefExt = openDialogDefaultExtension;
  }
};

// Answers the Open dialog once it is up: chooses path (or cancels when path is null), and notes
// the name of the filter it showed.
void answerOpenDialog(const char* path, std::string* filterName = nullptr) {
  std::string chosen = path ? path : "";
  bool choose = path != nullptr;
  auto heldFor = std::make_shared<int>(0);  // looks in a row that found the file selected
  later([=] {
    GtkWindow* chooser = findToplevel("スクリプトファイル読み込み");
    if (!chooser) return false;
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    GtkFileFilter* filter = gtk_file_chooser_get_filter(files);
    if (filter && filterName) *filterName = gtk_file_filter_get_name(filter);
    if (!choose) {
      gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
      return true;
    }
    // The chooser selects a file once it has read the file's folder, and a folder still being
    // read can drop the selection again: ask until the selection has held for a few looks.
    gchar* selected = gtk_file_chooser_get_filename(files);
    bool ready = selected && chosen == selected;
    g_free(selected);
    if (!ready) {
      *heldFor = 0;
      gtk_file_chooser_set_filename(files, chosen.c_str());
      return false;
    }
    if (++*heldFor < 3) return false;
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    return true;
  });
}

std::string currentDirectory() {
  char current[4096];
  return getcwd(current, sizeof current) ? current : "";
}

class OpenFileDialog : public DesktopBackend {
 protected:
  void SetUp() override {
    DesktopBackend::SetUp();
    char folder[] = "/tmp/torvane-open-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    directory = folder;
    startDirectory = currentDirectory();
  }
  void TearDown() override {
    EXPECT_EQ(chdir(startDirectory.c_str()), 0);
    EXPECT_EQ(system(("rm -rf '" + directory + "'").c_str()), 0);
    DesktopBackend::TearDown();
  }
  std::string makeFile(const char* utf8Name) {
    std::string path = directory + "/" + utf8Name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file) fclose(file);
    return path;
  }
  std::string directory;
  std::string startDirectory;
};

TEST_F(OpenFileDialog, ChosenPathComesBackInCp932AndBecomesCurrentFromAnyThread) {
  std::string path = makeFile("物語.spt");
  for (bool fromOtherThread : {false, true}) {
    SCOPED_TRACE(fromOtherThread ? "from another thread" : "from the window's thread");
    ASSERT_EQ(chdir(startDirectory.c_str()), 0);
    OpenDialog dialog(window);
    std::string filterName;
    answerOpenDialog(path.c_str(), &filterName);
    std::atomic<int> result{-1};
    if (fromOtherThread) {
      std::thread other([&] { result = GetOpenFileNameA(&dialog.record); });
      ASSERT_TRUE(runUntil([&] { return result != -1; }));
      other.join();
    } else {
      result = GetOpenFileNameA(&dialog.record);
    }
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(std::string(dialog.file), cp932(path.c_str()));
    EXPECT_EQ(filterName, "Script Files(*.spt)");
    EXPECT_EQ(dialog.record.nFileOffset, directory.size() + 1);
    EXPECT_EQ(dialog.file[dialog.record.nFileExtension - 1], '.');
    EXPECT_EQ(currentDirectory(), directory);
  }
}

TEST_F(OpenFileDialog, CancelAndPathsThatTheNarrowDialogCannotReturnFail) {
  const struct {
    const char* what;
    const char* name;  // null: the user cancels
    bool bufferOneShort;
  } cases[] = {
      {"cancelled", nullptr, false},
      {"no CP932 spelling", "café-ñ.spt", false},
      {"no room for the zero", "a.spt", true},
  };
  for (const auto& c : cases) {
    std::string path = c.name ? makeFile(c.name) : "";
    OpenDialog dialog(window, c.bufferOneShort ? static_cast<DWORD>(path.size()) : 256);
    answerOpenDialog(c.name ? path.c_str() : nullptr);
    EXPECT_FALSE(GetOpenFileNameA(&dialog.record)) << c.what;
    if (!c.name) {
      EXPECT_EQ(dialog.file[0], 0) << c.what;
    }
  }
  // With room for the zero it fits.
  std::string fits = makeFile("a.spt");
  OpenDialog exact(window, static_cast<DWORD>(fits.size() + 1));
  answerOpenDialog(fits.c_str());
  EXPECT_TRUE(GetOpenFileNameA(&exact.record));
  EXPECT_EQ(std::string(exact.file), fits);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!startDesktop(&argc, &argv)) {
    fprintf(stderr, "no display: the desktop backend's tests need one (tests/e2e/with-xvfb.sh)\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
