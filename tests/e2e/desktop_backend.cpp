// The GTK desktop backend against the Windows behaviour the player relies on, on a real (virtual)
// X display without a window manager: the window and its menu, messages posted, sent across
// threads and while dialogs are up, the client area showing the window's surface, the cursor in
// client coordinates, moving, icons, activation and the two dialogs.
// GoogleTest before Xlib, whose macros (None, Bool) would break GoogleTest's own names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"
#include "platform/windows_api.h"
#include "resources/menu.h"
#include "resources/texts.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

std::mutex seenLock;
std::vector<Seen> seen;
bool keepOnClose = false;                    // WM_CLOSE is only recorded, the window stays
constexpr UINT answeredEarly = WM_USER + 5;  // answered with ReplyMessage(42) at once
std::atomic<bool> senderWentOn{false};
std::atomic<bool> handlingWentOn{false};

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> guard(seenLock);
    seen.push_back({message, wParam, lParam, std::this_thread::get_id()});
  }
  if (message == WM_CLOSE && keepOnClose) return 0;
  if (message == answeredEarly) {
    EXPECT_TRUE(ReplyMessage(42));
    EXPECT_FALSE(ReplyMessage(43));  // answered already
    DWORD start = timeGetTime();
    while (!senderWentOn && timeGetTime() - start < 5000) Sleep(1);
    handlingWentOn = senderWentOn.load();
    return 7;  // too late: the sender has its answer
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int countSeen(UINT message) {
  std::lock_guard<std::mutex> guard(seenLock);
  int count = 0;
  for (const Seen& s : seen) count += s.message == message;
  return count;
}

bool lastSeen(UINT message, Seen* out) {
  std::lock_guard<std::mutex> guard(seenLock);
  for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
    if (it->message == message) {
      *out = *it;
      return true;
    }
  }
  return false;
}

std::string cp932Of(const char* utf8) {
  std::string out;
  EXPECT_TRUE(utf8ToCp932(utf8, &out)) << utf8;
  return out;
}

// Dispatches messages, as a message loop does, until done() or a few seconds have passed.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  DWORD start = timeGetTime();
  while (!done()) {
    if (timeGetTime() - start > static_cast<DWORD>(timeoutMs)) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      DispatchMessageA(&msg);
    }
    g_usleep(2000);
  }
  return true;
}

// Runs action once GTK's loop runs again: inside a modal dialog started right after.
void later(std::function<bool()> action) {
  auto* copy = new std::function<bool()>(std::move(action));
  g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        auto* work = static_cast<std::function<bool()>*>(data);
        if (!(*work)()) return G_SOURCE_CONTINUE;  // not yet: look again
        delete work;
        return G_SOURCE_REMOVE;
      },
      copy);
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

class DesktopBackend : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = recordingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = menuResourceName;
    windowClass.lpszClassName = "TorvaneDesktopTest";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
  }

  void SetUp() override {
    {
      std::lock_guard<std::mutex> guard(seenLock);
      seen.clear();
    }
    keepOnClose = false;
    window = CreateWindowExA(0, "torvanedesktoptest", windowTitle,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    ASSERT_TRUE(runUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(gtkWindowOf(window))); }));
    settle();
  }

  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Lets the X server and GTK agree on sizes and positions.
  void settle() {
    gdk_display_sync(gdk_display_get_default());
    runUntil([] { return false; }, 150);
  }

  GtkWidget* clientWidget() {
    return findChild(GTK_WIDGET(gtkWindowOf(window)), GTK_TYPE_DRAWING_AREA);
  }

  HWND window = nullptr;
};

TEST(MenuResource, TextsAreTheRcSpellingsInCp932) {
  const MenuResource* menu = findMenuResource(menuResourceName);
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->entryCount, 5);
  const MenuEntryKind kinds[] = {menuPopup, menuItem, menuSeparator, menuItem, menuEnd};
  const char* utf8[] = {"ファイル", "開く", nullptr, "終了", nullptr};
  const int ids[] = {0, 40001, 0, 40002, 0};
  for (int i = 0; i < 5; ++i) {
    const MenuEntry& entry = menu->entries[i];
    EXPECT_EQ(entry.kind, kinds[i]) << i;
    EXPECT_EQ(entry.commandId, ids[i]) << i;
    if (!utf8[i]) {
      EXPECT_EQ(entry.text, nullptr) << i;
      continue;
    }
    ASSERT_NE(entry.text, nullptr) << i;
    EXPECT_STREQ(entry.utf8, utf8[i]);
    EXPECT_EQ(std::string(entry.text), cp932Of(utf8[i])) << i;
  }
}

TEST(MenuResource, FoundByNameWithoutRegardToCase) {
  EXPECT_EQ(findMenuResource("MENU"), findMenuResource("Menu"));
  EXPECT_NE(findMenuResource("menu"), nullptr);
  EXPECT_EQ(findMenuResource("Menus"), nullptr);
  EXPECT_EQ(findMenuResource(""), nullptr);
  EXPECT_EQ(findMenuResource(nullptr), nullptr);
  EXPECT_EQ(findMenuResource(MAKEINTRESOURCEA(1)), nullptr);
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
  GtkWidget* menuBar = findChild(GTK_WIDGET(gtkWindow), GTK_TYPE_MENU_BAR);
  ASSERT_NE(menuBar, nullptr);
  int menuHeight = gtk_widget_get_allocated_height(menuBar);
  EXPECT_GT(menuHeight, 10);
  EXPECT_EQ(client.left, 0);
  EXPECT_EQ(client.top, 0);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480 - menuHeight);

  // The client area's own X window lies right under the menu bar.
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  EXPECT_EQ(origin.x, outer.left);
  EXPECT_EQ(origin.y, outer.top + menuHeight);

  // The window manager is asked for moving, minimizing and closing only.
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(gtkWindow));
  Atom hintsAtom = XInternAtom(GDK_WINDOW_XDISPLAY(gdkWindow), "_MOTIF_WM_HINTS", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(GDK_WINDOW_XDISPLAY(gdkWindow), GDK_WINDOW_XID(gdkWindow), hintsAtom,
                               0, 5, False, AnyPropertyType, &type, &format, &count, &after, &data),
            Success);
  ASSERT_NE(data, nullptr);
  ASSERT_GE(count, 2u);
  unsigned long functions = reinterpret_cast<unsigned long*>(data)[1];
  XFree(data);
  const unsigned long move = 1 << 2, minimize = 1 << 3, maximize = 1 << 4, close = 1 << 5,
                      resize = 1 << 1;
  EXPECT_EQ(functions & (move | minimize | maximize | close | resize), move | minimize | close);
}

TEST_F(DesktopBackend, MenuItemsPostTheirCommands) {
  GtkWidget* menuBar = findChild(GTK_WIDGET(gtkWindowOf(window)), GTK_TYPE_MENU_BAR);
  ASSERT_NE(menuBar, nullptr);
  GList* top = gtk_container_get_children(GTK_CONTAINER(menuBar));
  ASSERT_EQ(g_list_length(top), 1u);
  GtkMenuItem* file = GTK_MENU_ITEM(top->data);
  g_list_free(top);
  EXPECT_STREQ(gtk_menu_item_get_label(file), "ファイル");
  GList* items = gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(file)));
  ASSERT_EQ(g_list_length(items), 3u);
  GtkMenuItem* open = GTK_MENU_ITEM(g_list_nth_data(items, 0));
  GtkWidget* separator = GTK_WIDGET(g_list_nth_data(items, 1));
  GtkMenuItem* exit = GTK_MENU_ITEM(g_list_nth_data(items, 2));
  g_list_free(items);
  EXPECT_STREQ(gtk_menu_item_get_label(open), "開く");
  EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(separator));
  EXPECT_STREQ(gtk_menu_item_get_label(exit), "終了");

  gtk_menu_item_activate(open);
  gtk_menu_item_activate(exit);
  // Posted, not sent: nothing reaches the window before the message loop takes it.
  EXPECT_EQ(countSeen(WM_COMMAND), 0);
  ASSERT_TRUE(runUntil([] { return countSeen(WM_COMMAND) == 2; }));
  std::lock_guard<std::mutex> guard(seenLock);
  std::vector<WPARAM> commands;
  for (const Seen& s : seen) {
    if (s.message == WM_COMMAND) commands.push_back(s.wParam);
  }
  EXPECT_EQ(commands, (std::vector<WPARAM>{IDM_FILE_OPEN, IDM_FILE_EXIT}));
}

// Real pointer input through the X server (XTest), as a person's clicks arrive. The server takes
// one client's requests in order, so the click lands where the move put the pointer.
void clickAt(POINT screen, int button) {
  char command[128];
  snprintf(command, sizeof command, "xdotool mousemove %d %d click %d", static_cast<int>(screen.x),
           static_cast<int>(screen.y), button);
  ASSERT_EQ(system(command), 0) << command;
}

TEST_F(DesktopBackend, LeftClicksInTheClientAreaArriveWithClientCoordinates) {
  POINT inside = {37, 52};
  ClientToScreen(window, &inside);
  clickAt(inside, 1);
  clickAt(inside, 3);
  ASSERT_TRUE(runUntil([] { return countSeen(WM_LBUTTONDOWN) == 1 && countSeen(WM_RBUTTONDOWN); }));
  Seen click;
  ASSERT_TRUE(lastSeen(WM_LBUTTONDOWN, &click));
  EXPECT_EQ(LOWORD(click.lParam), 37);
  EXPECT_EQ(HIWORD(click.lParam), 52);
  EXPECT_EQ(click.wParam, 1u);  // MK_LBUTTON

  // The menu bar is no client area: a click there is no WM_LBUTTONDOWN.
  POINT onMenuBar = {300, -5};
  ClientToScreen(window, &onMenuBar);
  clickAt(onMenuBar, 1);
  runUntil([] { return false; }, 200);
  EXPECT_EQ(countSeen(WM_LBUTTONDOWN), 1);
}

TEST_F(DesktopBackend, CursorPositionIsInClientCoordinatesOnEveryThread) {
  POINT target = {123, 45};
  ClientToScreen(window, &target);
  ASSERT_TRUE(SetCursorPos(target.x, target.y));
  settle();
  POINT cursor;
  ASSERT_TRUE(GetCursorPos(&cursor));
  ASSERT_TRUE(ScreenToClient(window, &cursor));
  EXPECT_EQ(cursor.x, 123);
  EXPECT_EQ(cursor.y, 45);

  POINT fromThread = {0, 0};
  std::thread other([&] {
    GetCursorPos(&fromThread);
    ScreenToClient(window, &fromThread);
  });
  other.join();
  EXPECT_EQ(fromThread.x, 123);
  EXPECT_EQ(fromThread.y, 45);
}

TEST_F(DesktopBackend, ClientAreaShowsTheSurfaceUnscaledAtItsTopLeft) {
  // Before anything is drawn the client area is the class's white.
  HDC dc = GetDC(window);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetPixel(dc, 5, 5), 0xFFFFFFu);
  SetPixel(dc, 0, 0, RGB(255, 0, 0));
  SetPixel(dc, 10, 20, RGB(0, 0, 255));
  SetPixel(dc, 11, 20, RGB(0, 255, 0));
  ReleaseDC(window, dc);

  GdkWindow* clientWindow = gtk_widget_get_window(clientWidget());
  auto pixelAt = [&](int x, int y) {
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(clientWindow, x, y, 1, 1);
    if (!shot) return 0xFFFFFFFFu;
    const guchar* p = gdk_pixbuf_get_pixels(shot);
    uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
    g_object_unref(shot);
    return rgb;
  };
  ASSERT_TRUE(runUntil([&] { return pixelAt(10, 20) == 0x0000FFu; }));
  EXPECT_EQ(pixelAt(0, 0), 0xFF0000u);
  EXPECT_EQ(pixelAt(11, 20), 0x00FF00u);
  EXPECT_EQ(pixelAt(12, 20), 0xFFFFFFu);
  EXPECT_EQ(pixelAt(10, 21), 0xFFFFFFu);
}

// What the screen shows at a client point, read from the root window: what a person sees.
uint32_t screenPixel(HWND window, int x, int y) {
  POINT point = {x, y};
  ClientToScreen(window, &point);
  GdkPixbuf* shot =
      gdk_pixbuf_get_from_window(gdk_get_default_root_window(), point.x, point.y, 1, 1);
  if (!shot) return 0xFFFFFFFFu;
  const guchar* p = gdk_pixbuf_get_pixels(shot);
  uint32_t rgb = (p[0] << 16) | (p[1] << 8) | p[2];
  g_object_unref(shot);
  return rgb;
}

TEST_F(DesktopBackend, ClientAreaIsShownAgainAfterADialogCoveredIt) {
  RECT client;
  GetClientRect(window, &client);
  int cx = client.right / 2, cy = client.bottom / 2;  // a message box is centred on its owner
  HDC dc = GetDC(window);
  SetPixel(dc, cx, cy, RGB(0, 0, 255));
  ReleaseDC(window, dc);
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

TEST_F(DesktopBackend, PaintComesThroughTheMessageLoopAndBeginPaintValidates) {
  runUntil([] { return false; }, 100);
  int before = countSeen(WM_PAINT);
  InvalidateRect(window, nullptr, TRUE);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  EXPECT_EQ(msg.hwnd, window);
  DispatchMessageA(&msg);  // the default handling paints and so validates
  EXPECT_EQ(countSeen(WM_PAINT), before + 1);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
}

TEST_F(DesktopBackend, MessagesSentFromAnotherThreadRunOnTheWindowsThread) {
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] {
    std::string text = cp932Of("タイトル");
    result = SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  });
  ASSERT_TRUE(runUntil([&] { return result != -1; }));
  sender.join();
  EXPECT_EQ(result, TRUE);
  Seen setText;
  ASSERT_TRUE(lastSeen(WM_SETTEXT, &setText));
  EXPECT_EQ(setText.thread, std::this_thread::get_id());
  EXPECT_STREQ(gtk_window_get_title(gtkWindowOf(window)), "タイトル");
}

TEST_F(DesktopBackend, ReplyMessageLetsTheSenderGoOnWhileHandlingContinues) {
  EXPECT_FALSE(ReplyMessage(1));  // nothing sent is being handled
  std::atomic<LRESULT> result{-1};
  std::thread sender([&] {
    result = SendMessageA(window, answeredEarly, 0, 0);
    senderWentOn = true;
  });
  ASSERT_TRUE(runUntil([&] { return countSeen(answeredEarly) == 1 && result != -1; }));
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(handlingWentOn);
  // A message sent by the window's own thread is no message of another thread.
  senderWentOn = true;
  SendMessageA(window, WM_USER + 6, 0, 0);
  EXPECT_FALSE(ReplyMessage(1));
}

TEST_F(DesktopBackend, SentMessagesAreHandledWhileAMessageBoxIsUp) {
  std::atomic<bool> sent{false};
  std::thread sender;
  later([&] {
    GtkWindow* box = findToplevel("Caption");
    if (!box) return false;
    if (!sender.joinable()) {
      sender = std::thread([&] {
        SendMessageA(window, WM_USER + 7, 1, 2);
        sent = true;
      });
    }
    if (!sent) return false;
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    return true;
  });
  EXPECT_EQ(MessageBoxA(window, "Text", "Caption", MB_OK), IDOK);
  sender.join();
  Seen user;
  ASSERT_TRUE(lastSeen(WM_USER + 7, &user));
  EXPECT_EQ(user.thread, std::this_thread::get_id());
}

TEST_F(DesktopBackend, MessageBoxOfAnotherThreadBlocksOnlyThatThread) {
  std::atomic<int> answer{-1};
  std::thread frame([&] { answer = MessageBoxA(window, textScriptEnded, captionEnd, MB_OK); });
  // The box runs on the window's thread, inside that thread's loop, which goes on handling what
  // other threads send meanwhile.
  std::thread sender;
  std::atomic<bool> sent{false};
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
        SendMessageA(window, WM_USER + 1, 0, 0);
        sent = true;
      });
    }
    if (!sent) return false;
    gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    return true;
  });
  ASSERT_TRUE(runUntil([&] { return answer != -1; }));
  frame.join();
  sender.join();
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(countSeen(WM_USER + 1), 1);
}

TEST_F(DesktopBackend, WaitingForAThreadHandlesWhatItSends) {
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        HWND target = static_cast<HWND>(parameter);
        SendMessageA(target, WM_USER + 2, 0, 0);
        return 0;
      },
      window, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  DWORD start = timeGetTime();
  for (;;) {
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_ALLINPUT);
    if (result == WAIT_OBJECT_0) break;
    ASSERT_EQ(result, WAIT_OBJECT_0 + 1);
    ASSERT_LT(timeGetTime() - start, 5000u);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  CloseHandle(thread);
  EXPECT_EQ(countSeen(WM_USER + 2), 1);
}

TEST_F(DesktopBackend, MoveWindowSetsTheOuterRectangle) {
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID parameter) -> DWORD {
        MoveWindow(static_cast<HWND>(parameter), 30, 40, 700, 560, TRUE);
        return 0;
      },
      window, 0, nullptr);
  ASSERT_TRUE(runUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
  CloseHandle(thread);
  RECT client;
  GetClientRect(window, &client);
  int menuHeight = gtk_widget_get_allocated_height(
      findChild(GTK_WIDGET(gtkWindowOf(window)), GTK_TYPE_MENU_BAR));
  EXPECT_EQ(client.right, 700);
  EXPECT_EQ(client.bottom, 560 - menuHeight);
  ASSERT_TRUE(runUntil([&] {
    RECT outer;
    GetWindowRect(window, &outer);
    return outer.left == 30 && outer.top == 40 && outer.right == 730 && outer.bottom == 600;
  }));
  ASSERT_TRUE(runUntil([&] { return gtk_widget_get_allocated_width(clientWidget()) == 700; }));
  POINT origin = {0, 0};
  ASSERT_TRUE(runUntil([&] {
    origin = {0, 0};
    ClientToScreen(window, &origin);
    return origin.x == 30 && origin.y == 40 + menuHeight;
  }));
  // The grown part of the client area is the white background.
  HDC dc = GetDC(window);
  EXPECT_EQ(GetPixel(dc, 690, 10), 0xFFFFFFu);
  ReleaseDC(window, dc);

  // And smaller again, from the window's own thread.
  ASSERT_TRUE(MoveWindow(window, 10, 20, 320, 240, TRUE));
  ASSERT_TRUE(runUntil([&] {
    RECT outer;
    GetWindowRect(window, &outer);
    return outer.left == 10 && outer.top == 20 && outer.right == 330 && outer.bottom == 260;
  }));
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 240 - menuHeight);
}

// A 2x2 icon file of 32-bit pixels: red, green / blue, half-transparent white (rows bottom-up).
std::string iconFile() {
  std::string bytes;
  auto u16 = [&](int v) { bytes += char(v & 0xFF), bytes += char((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const int imageSize = 40 + 16 + 8;
  u16(0), u16(1), u16(1);  // icon directory
  bytes += char(2), bytes += char(2), bytes += char(0), bytes += char(0);
  u16(1), u16(32), u32(imageSize), u32(6 + 16);  // the entry
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

TEST_F(DesktopBackend, CloseBoxPostsCloseAndDefaultHandlingDestroys) {
  keepOnClose = true;
  gtk_window_close(gtkWindowOf(window));  // what the window manager does for the close box
  ASSERT_TRUE(runUntil([] { return countSeen(WM_CLOSE) == 1; }));
  Seen command;
  ASSERT_TRUE(lastSeen(WM_SYSCOMMAND, &command));
  EXPECT_EQ(command.wParam, 0xF060u);  // SC_CLOSE, which the default handling made WM_CLOSE
  EXPECT_TRUE(IsWindow(window));
  keepOnClose = false;
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(countSeen(WM_DESTROY), 1);
  // Sending to a destroyed window does nothing, from any thread.
  std::thread other([&] { EXPECT_EQ(SendMessageA(window, WM_USER, 0, 0), 0); });
  other.join();
}

TEST_F(DesktopBackend, QuitEndsTheMessageLoopWithItsCode) {
  PostMessageA(window, WM_USER + 3, 0, 0);
  PostQuitMessage(7);
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3));
  // Paint waits behind the quit message, which comes after the posted ones.
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    ASSERT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

void focusWindow(Display* display, Window target) {
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  XSetInputFocus(display, target, RevertToParent, CurrentTime);
  XSync(display, False);
  gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
}

bool lastActivationIs(BOOL active) {
  Seen s;
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
  runUntil([] { return false; }, 100);
  focusWindow(display, GDK_WINDOW_XID(ours));
  runUntil([] { return false; }, 200);
  focusWindow(display, foreign);
  ASSERT_TRUE(runUntil([] { return lastActivationIs(FALSE); }));
  focusWindow(display, GDK_WINDOW_XID(ours));
  ASSERT_TRUE(runUntil([] { return lastActivationIs(TRUE); }));

  // Focus moving to a dialog of ours keeps the application active.
  int before = countSeen(WM_ACTIVATEAPP);
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
  runUntil([] { return false; }, 300);
  EXPECT_EQ(countSeen(WM_ACTIVATEAPP), before);
  XDestroyWindow(display, foreign);
  XSync(display, False);
}

TEST(Clock, RealMillisecondsThatSleepAdvances) {
  DWORD before = timeGetTime();
  Sleep(40);
  DWORD spent = timeGetTime() - before;
  EXPECT_GE(spent, 40u);
  EXPECT_LT(spent, 5000u);
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

// Answers the Open dialog once it is up: chooses path (or cancels when path is null).
void answerOpenDialog(const char* path, std::string* filterName) {
  std::string chosen = path ? path : "";
  bool choose = path != nullptr;
  later([=] {
    GtkWindow* chooser = findToplevel("スクリプトファイル読み込み");
    if (!chooser) return false;
    GtkFileFilter* filter = gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(chooser));
    if (filter) *filterName = gtk_file_filter_get_name(filter);
    if (!choose) {
      gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
      return true;
    }
    // The chooser selects a file once it has read the file's folder: ask until it has.
    GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
    gchar* selected = gtk_file_chooser_get_filename(files);
    bool ready = selected && chosen == selected;
    g_free(selected);
    if (!ready) {
      gtk_file_chooser_set_filename(files, chosen.c_str());
      return false;
    }
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    return true;
  });
}

class OpenFileDialog : public DesktopBackend {
 protected:
  void SetUp() override {
    DesktopBackend::SetUp();
    char folder[] = "/tmp/torvane-open-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    directory = folder;
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    startDirectory = current;
  }
  void TearDown() override {
    int changed = chdir(startDirectory.c_str());
    (void)changed;
    std::string command = "rm -rf '" + directory + "'";
    int removed = system(command.c_str());
    (void)removed;
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

TEST_F(OpenFileDialog, ChosenPathComesBackInCp932AndBecomesCurrent) {
  std::string path = makeFile("物語.spt");
  OpenDialog dialog(window);
  std::string filterName;
  answerOpenDialog(path.c_str(), &filterName);
  ASSERT_TRUE(GetOpenFileNameA(&dialog.record));
  EXPECT_EQ(std::string(dialog.file), cp932Of(path.c_str()));
  EXPECT_EQ(filterName, "Script Files(*.spt)");
  EXPECT_EQ(dialog.record.nFileOffset, directory.size() + 1);
  EXPECT_EQ(dialog.file[dialog.record.nFileExtension - 1], '.');
  char current[4096];
  ASSERT_NE(getcwd(current, sizeof current), nullptr);
  EXPECT_EQ(std::string(current), directory);
}

TEST_F(OpenFileDialog, CancelReturnsZeroAndChangesNothing) {
  OpenDialog dialog(window);
  std::string filterName;
  answerOpenDialog(nullptr, &filterName);
  EXPECT_FALSE(GetOpenFileNameA(&dialog.record));
  EXPECT_EQ(dialog.file[0], 0);
}

TEST_F(OpenFileDialog, PathsThatTheNarrowDialogCannotReturnFail) {
  // CP932 has no spelling for these characters.
  std::string foreign = makeFile("café-ñ.spt");
  OpenDialog dialog(window);
  std::string filterName;
  answerOpenDialog(foreign.c_str(), &filterName);
  EXPECT_FALSE(GetOpenFileNameA(&dialog.record));

  // A path one byte longer than the buffer holds with its zero.
  std::string fits = makeFile("a.spt");
  OpenDialog tight(window, static_cast<DWORD>(fits.size()));
  answerOpenDialog(fits.c_str(), &filterName);
  EXPECT_FALSE(GetOpenFileNameA(&tight.record));
  OpenDialog exact(window, static_cast<DWORD>(fits.size() + 1));
  answerOpenDialog(fits.c_str(), &filterName);
  EXPECT_TRUE(GetOpenFileNameA(&exact.record));
  EXPECT_EQ(std::string(exact.file), fits);
}

TEST_F(OpenFileDialog, DialogFromAnotherThreadRunsOnTheWindowsThread) {
  std::string path = makeFile("x.spt");
  OpenDialog dialog(window);
  std::string filterName;
  answerOpenDialog(path.c_str(), &filterName);
  std::atomic<int> result{-1};
  std::thread other([&] { result = GetOpenFileNameA(&dialog.record); });
  ASSERT_TRUE(runUntil([&] { return result != -1; }));
  other.join();
  EXPECT_EQ(result, TRUE);
  EXPECT_EQ(std::string(dialog.file), path);
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
