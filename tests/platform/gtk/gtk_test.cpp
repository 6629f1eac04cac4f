// What only the GTK backend can show, on a private X display without a window manager: the menu
// bar and its commands, clicks, geometry after moves, icons, the close box and the two dialogs
// (what the screen shows is the desktop scenarios', which compare it exactly). Its main starts
// the desktop for the platform contract linked into the same program.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/layer.h"
#include "platform/linux/user_gtk.h"
#include "platform/windows_api.h"
#include "resources/menu.h"
#include "resources/texts.h"
#include "support/test_support.h"

namespace {

// Dispatches messages, as a message loop does, until done() or a few seconds have passed.
bool runUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
  for (DWORD start = timeGetTime(); !done(); g_usleep(2000)) {
    if (timeGetTime() - start > timeoutMs) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
  }
  return true;
}

void pump(DWORD ms) {
  runUntil([] { return false; }, ms);
}

// Runs action every 20 ms on GTK's loop (inside a modal dialog started right after as well)
// until it returns true.
void later(std::function<bool()> action) {
  auto step = [](gpointer data) -> gboolean {
    auto* work = static_cast<std::function<bool()>*>(data);
    if (!(*work)()) return G_SOURCE_CONTINUE;
    delete work;
    return G_SOURCE_REMOVE;
  };
  g_timeout_add(20, step, new std::function<bool()>(std::move(action)));
}

GtkWindow* findToplevel(const char* title) {
  GtkWindow* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    const char* t = gtk_window_get_title(GTK_WINDOW(item->data));
    if (t && std::string(t) == title && gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
      found = GTK_WINDOW(item->data);
    }
  }
  g_list_free(toplevels);
  return found;
}

// The first widget of the type under widget; with text, the first label showing it.
GtkWidget* findChild(GtkWidget* widget, GType type, const char* text = nullptr) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type) &&
      (!text || std::string(gtk_label_get_text(GTK_LABEL(widget))) == text)) {
    return widget;
  }
  GtkWidget* found = nullptr;
  GList* children =
      GTK_IS_CONTAINER(widget) ? gtk_container_get_children(GTK_CONTAINER(widget)) : nullptr;
  for (GList* item = children; item && !found; item = item->next) {
    found = findChild(GTK_WIDGET(item->data), type, text);
  }
  g_list_free(children);
  return found;
}

std::vector<WPARAM> recorded(UINT message) {  // their wParams
  std::vector<WPARAM> found;
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message == message) found.push_back(m.wParam);
  }
  return found;
}

// The outer rectangle, the client area's origin on the screen and its size.
std::vector<LONG> geometry(HWND window) {
  RECT r, c;
  GetWindowRect(window, &r), GetClientRect(window, &c);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  return {r.left, r.top, r.right, r.bottom, origin.x, origin.y, c.right, c.bottom};
}

class DesktopBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = menuResourceName;
    windowClass.lpszClassName = "TorvaneDesktopTest";
    RegisterClassA(&windowClass);  // fails from the second test on: the class is there
    clearRecordedMessages();
    window = CreateWindowExA(0, "torvanedesktoptest", windowTitle,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                             CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWDEFAULT);
    ASSERT_TRUE(runUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(gtkWindowOf(window))); }));
    gdk_display_sync(gdk_display_get_default());  // the X server and GTK agree on geometry
    pump(150);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    pump(0);
  }
  GtkWidget* child(GType type) { return findChild(GTK_WIDGET(gtkWindowOf(window)), type); }
  int menuHeight() { return gtk_widget_get_allocated_height(child(GTK_TYPE_MENU_BAR)); }

  HWND window = nullptr;
};

// The menu bar sits inside the 640 x 480 outer size, above the client area; its items post
// (not send) their commands. Real clicks arrive in client coordinates, and not from the menu bar.
TEST_F(DesktopBackend, MenuBarCommandsAndClicks) {
  EXPECT_STREQ(gtk_window_get_title(gtkWindowOf(window)), "Torvane ver1.03");
  EXPECT_FALSE(gtk_window_get_resizable(gtkWindowOf(window)));
  ASSERT_NE(child(GTK_TYPE_MENU_BAR), nullptr);
  int m = menuHeight(), x = geometry(window)[0], y = geometry(window)[1];
  EXPECT_GT(m, 10);
  EXPECT_EQ(geometry(window), std::vector<LONG>({x, y, x + 640, y + 480, x, y + m, 640, 480 - m}));

  GList* top = gtk_container_get_children(GTK_CONTAINER(child(GTK_TYPE_MENU_BAR)));
  ASSERT_EQ(g_list_length(top), 1u);
  GtkMenuItem* file = GTK_MENU_ITEM(top->data);
  g_list_free(top);
  std::vector<std::string> labels = {gtk_menu_item_get_label(file)};
  GList* items = gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(file)));
  for (GList* item = items; item; item = item->next) {
    bool separator = GTK_IS_SEPARATOR_MENU_ITEM(item->data);
    labels.push_back(separator ? "-" : gtk_menu_item_get_label(GTK_MENU_ITEM(item->data)));
    if (!separator) gtk_menu_item_activate(GTK_MENU_ITEM(item->data));
  }
  g_list_free(items);
  EXPECT_EQ(labels, std::vector<std::string>({"ファイル", "開く", "-", "終了"}));
  EXPECT_EQ(countRecorded(WM_COMMAND), 0);
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_COMMAND) == 2; }));
  EXPECT_EQ(recorded(WM_COMMAND), std::vector<WPARAM>({IDM_FILE_OPEN, IDM_FILE_EXIT}));

  for (POINT at : {POINT{37, 52}, POINT{300, -5}}) {  // the second on the menu bar
    ClientToScreen(window, &at);
    std::string click = "xdotool mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) +
                        " click 1";  // through the X server, as a person's
    ASSERT_EQ(system(click.c_str()), 0) << click;
  }
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_LBUTTONDOWN) == 1; }));
  pump(200);
  EXPECT_EQ(countRecorded(WM_LBUTTONDOWN), 1);
  for (const RecordedMessage& m : recordedMessages()) {
    EXPECT_TRUE(m.message != WM_LBUTTONDOWN || m.lParam == (37 | 52 << 16)) << m.lParam;
  }
}

// A message box, called on the window's thread or on another (then it runs on the window's
// thread and blocks only its caller), shows its CP932 caption inside the box (desktops draw no
// title on dialogs) and its text, and handles what other threads send while it is up.
TEST_F(DesktopBackend, MessageBoxesShowTheirTextsAndHandleSentMessages) {
  for (bool fromOtherThread : {false, true}) {
    SCOPED_TRACE(fromOtherThread ? "box from another thread" : "box from the window's thread");
    const UINT probe = WM_USER + 7;
    std::atomic<int> answer{-1};
    std::atomic<bool> sent{false};
    std::thread sender;
    later([&] {
      GtkWindow* box = findToplevel("エラー");
      if (!box) return false;
      if (!sender.joinable()) {
        EXPECT_EQ(gtk_window_get_transient_for(box), gtkWindowOf(window));
        GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
        EXPECT_TRUE(findChild(area, GTK_TYPE_LABEL, "エラー"));
        EXPECT_TRUE(findChild(area, GTK_TYPE_LABEL, "スクリプト終了"));
        EXPECT_EQ(answer, -1);
        sender = std::thread([&] { SendMessageA(window, probe, 1, 2), sent = true; });
      }
      if (!sent) return false;
      gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
      return true;
    });
    auto show = [&] {
      answer = MessageBoxA(window, textScriptEnded, "\x83\x47\x83\x89\x81\x5B", MB_OK);  // エラー
    };
    std::thread frame([&] {
      if (fromOtherThread) show();
    });
    if (!fromOtherThread) show();
    ASSERT_TRUE(runUntil([&] { return answer != -1; }));
    frame.join();
    sender.join();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(countRecorded(probe), int(fromOtherThread) + 1);
  }
}

DWORD WINAPI moveFromThread(LPVOID target) {
  return MoveWindow(static_cast<HWND>(target), 30, 40, 700, 560, TRUE);
}

// MoveWindow from another thread and from the window's own: outer and client rectangles, the
// client area's place on the screen, and the grown part shows the class's background.
TEST_F(DesktopBackend, MoveWindowSetsTheOuterRectangleFromAnyThread) {
  int m = menuHeight();
  HANDLE thread = CreateThread(nullptr, 0, moveFromThread, window, 0, nullptr);
  ASSERT_TRUE(runUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }));
  CloseHandle(thread);
  ASSERT_TRUE(runUntil([&] {
    return geometry(window) == std::vector<LONG>({30, 40, 730, 600, 30, 40 + m, 700, 560 - m}) &&
           gtk_widget_get_allocated_width(child(GTK_TYPE_DRAWING_AREA)) == 700;
  }));
  HDC dc = GetDC(window);
  EXPECT_EQ(GetPixel(dc, 690, 10), 0xFFFFFFu);
  ReleaseDC(window, dc);
  ASSERT_TRUE(MoveWindow(window, 10, 20, 320, 240, TRUE));
  EXPECT_TRUE(runUntil([&] {
    return geometry(window) == std::vector<LONG>({10, 20, 330, 260, 10, 20 + m, 320, 240 - m});
  }));
}

// The small icon set from another thread is shown with its pixels; a null icon and the stock one
// show the desktop's default. The close box posts SC_CLOSE, which becomes WM_CLOSE.
TEST_F(DesktopBackend, IconAndCloseBox) {
  std::string path = writeTempFile("small.ico", icoFile());  // 16 x 16 of opaque 0x2080C0
  HICON icon = (HICON)LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
  ASSERT_NE(icon, nullptr);
  GtkWindow* gtkWindow = gtkWindowOf(window);
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  std::thread frame([&] { SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)icon); });
  ASSERT_TRUE(runUntil([&] { return gtk_window_get_icon(gtkWindow) != nullptr; }));
  frame.join();
  GdkPixbuf* shown = gtk_window_get_icon(gtkWindow);
  const guchar* p = gdk_pixbuf_get_pixels(shown);
  EXPECT_EQ(std::vector<int>({gdk_pixbuf_get_width(shown), p[0], p[1], p[2], p[3]}),
            std::vector<int>({16, 0x20, 0x80, 0xC0, 0xFF}));
  SendMessageA(window, WM_SETICON, ICON_SMALL, 0);
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  SendMessageA(window, WM_SETICON, ICON_SMALL, (LPARAM)LoadIconA(nullptr, IDI_APPLICATION));
  EXPECT_EQ(gtk_window_get_icon(gtkWindow), nullptr);
  DestroyIcon(icon);

  gtk_window_close(gtkWindow);  // what the window manager does for the close box
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_CLOSE) == 1; }));
  EXPECT_EQ(recorded(WM_SYSCOMMAND).back(), WPARAM(SC_CLOSE));
  EXPECT_TRUE(IsWindow(window));
}

// The chosen file comes back as its CP932 path and its folder becomes current, also when the
// dialog is called from another thread; a cancel, and a name without a CP932 spelling, fail.
TEST_F(DesktopBackend, OpenDialogGivesTheCp932PathFromAnyThreadOrFails) {
  char start[4096], current[4096];
  ASSERT_TRUE(getcwd(start, sizeof start));
  const struct {
    const char* name;  // null: the user cancels
    bool fromOtherThread, chosen;
  } cases[] = {{"物語.spt", false, true},
               {"物語.spt", true, true},
               {nullptr, false, false},
               {"café-ñ.spt", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "cancel") + (c.fromOtherThread ? " (thread)" : ""));
    ASSERT_EQ(chdir(start), 0);
    std::string path = c.name ? writeTempFile(c.name, "") : "";
    char file[256] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = openDialogTitle;
    int held = 0;  // looks in a row that found the file selected
    later([&] {
      GtkWindow* chooser = findToplevel("スクリプトファイル読み込み");
      if (!chooser || !c.name) {
        if (chooser) gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        return chooser != nullptr;
      }
      // The chooser selects a file once it has read the file's folder, and a folder still
      // being read can drop the selection again: ask until the selection holds for a few looks.
      gchar* selected = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
      held = selected && path == selected ? held + 1 : 0;
      g_free(selected);
      if (!held) gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), path.c_str());
      if (held < 3) return false;
      gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
      return true;
    });
    std::atomic<int> result{-1};
    std::thread other([&] {
      if (c.fromOtherThread) result = GetOpenFileNameA(&dialog);
    });
    if (!c.fromOtherThread) result = GetOpenFileNameA(&dialog);
    ASSERT_TRUE(runUntil([&] { return result != -1; }));
    other.join();
    EXPECT_EQ(result, c.chosen);
    if (!c.chosen) continue;
    EXPECT_EQ(std::string(file), cp932(path.c_str()));
    EXPECT_EQ(file[dialog.nFileOffset - 1] * 1000 + file[dialog.nFileExtension - 1],
              '/' * 1000 + '.');
    EXPECT_EQ(std::string(getcwd(current, sizeof current)), tempDirectory());
  }
  EXPECT_EQ(chdir(start), 0);
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
