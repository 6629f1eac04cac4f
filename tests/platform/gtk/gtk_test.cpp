// What only the GTK backend shows, on an X display without a window manager: the menu, clicks,
// moves, the close box and the two dialogs. Its main also runs the platform contract on GTK.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/user_gtk.h"
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

// Every 20 ms on GTK's loop (in modal dialogs too), action on the shown toplevel with the title.
void whenShown(const char* title, std::function<bool(GtkWindow*)> action) {
  using Work = std::pair<std::string, std::function<bool(GtkWindow*)>>;
  auto step = [](gpointer data) -> gboolean {
    Work* work = static_cast<Work*>(data);
    GtkWindow* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item && !found; item = item->next) {
      GtkWindow* w = GTK_WINDOW(item->data);
      bool shown = gtk_widget_get_mapped(GTK_WIDGET(w));
      if (shown && !g_strcmp0(gtk_window_get_title(w), work->first.c_str())) found = w;
    }
    g_list_free(toplevels);
    if (!found || !work->second(found)) return G_SOURCE_CONTINUE;
    delete work;
    return G_SOURCE_REMOVE;
  };
  g_timeout_add(20, step, new Work(title, std::move(action)));
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

using Params = std::vector<std::pair<WPARAM, LPARAM>>;

Params recorded(UINT message) {
  Params found;
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message == message) found.emplace_back(m.wParam, m.lParam);
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
    runUntil([] { return false; }, 150);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    runUntil([] { return false; }, 0);
  }
  GtkWidget* child(GType type) { return findChild(GTK_WIDGET(gtkWindowOf(window)), type); }
  HWND window = nullptr;
};

// The menu bar sits above the client area; its items post their commands. Clicks come in client
// coordinates, not from the menu bar. The close box posts SC_CLOSE, which becomes WM_CLOSE.
TEST_F(DesktopBackend, MenuClicksMovesAndTheCloseBox) {
  EXPECT_FALSE(gtk_window_get_resizable(gtkWindowOf(window)));
  ASSERT_NE(child(GTK_TYPE_MENU_BAR), nullptr);
  int m = gtk_widget_get_allocated_height(child(GTK_TYPE_MENU_BAR));
  int x = geometry(window)[0], y = geometry(window)[1];
  EXPECT_EQ(geometry(window), std::vector<LONG>({x, y, x + 640, y + 480, x, y + m, 640, 480 - m}));
  GList* top = gtk_container_get_children(GTK_CONTAINER(child(GTK_TYPE_MENU_BAR)));
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
  EXPECT_EQ(recorded(WM_COMMAND), Params({{IDM_FILE_OPEN, 0}, {IDM_FILE_EXIT, 0}}));
  for (POINT at : {POINT{37, 52}, POINT{300, -5}}) {  // the second on the menu bar
    ClientToScreen(window, &at);
    std::string click = "xdotool mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) +
                        " click 1";  // through the X server, as a person's
    ASSERT_EQ(system(click.c_str()), 0) << click;
  }
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_LBUTTONDOWN) == 1; }));
  runUntil([] { return countRecorded(WM_LBUTTONDOWN) > 1; }, 200);
  EXPECT_EQ(recorded(WM_LBUTTONDOWN), Params({{1, 37 | 52 << 16}}));  // MK_LBUTTON
  // Moved from another thread, as a story does.
  std::thread mover([&] { MoveWindow(window, 30, 40, 700, 560, TRUE); });
  ASSERT_TRUE(runUntil([&] {
    return geometry(window) == std::vector<LONG>({30, 40, 730, 600, 30, 40 + m, 700, 560 - m}) &&
           gtk_widget_get_allocated_width(child(GTK_TYPE_DRAWING_AREA)) == 700;
  }));
  mover.join();
  HDC dc = GetDC(window);
  EXPECT_EQ(GetPixel(dc, 690, 10), 0xFFFFFFu);  // the grown part shows the class's background
  ReleaseDC(window, dc);
  gtk_window_close(gtkWindowOf(window));  // what the window manager does for the close box
  ASSERT_TRUE(runUntil([] { return countRecorded(WM_CLOSE) == 1; }));
  EXPECT_EQ(recorded(WM_SYSCOMMAND).back().first, WPARAM(SC_CLOSE));
  EXPECT_TRUE(IsWindow(window));
}

// A message box on the window's thread or on another (blocking only its caller) shows its CP932
// caption and text inside the box and handles what other threads send.
TEST_F(DesktopBackend, MessageBoxesShowTheirTextsAndHandleSentMessages) {
  for (bool fromOtherThread : {false, true}) {
    std::atomic<int> answer{-1};
    std::atomic<bool> sent{false};
    std::thread sender;
    whenShown("エラー", [&](GtkWindow* box) {
      if (!sender.joinable()) {
        GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
        EXPECT_TRUE(findChild(area, GTK_TYPE_LABEL, "エラー"));
        EXPECT_TRUE(findChild(area, GTK_TYPE_LABEL, "スクリプト終了"));
        sender = std::thread([&] { SendMessageA(window, WM_USER + 7, 1, 2), sent = true; });
      }
      if (sent) gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
      return sent.load();
    });
    auto show = [&] { answer = MessageBoxA(window, textScriptEnded, captionError, MB_OK); };
    std::thread frame([&] {
      if (fromOtherThread) show();
    });
    if (!fromOtherThread) show();
    ASSERT_TRUE(runUntil([&] { return answer != -1; })) << fromOtherThread;
    frame.join();
    sender.join();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(countRecorded(WM_USER + 7), int(fromOtherThread) + 1);
  }
}

// A chosen file comes back as its CP932 path (表 ends in 0x5C) and its folder becomes current; a
// cancel, a path longer than the buffer and a name without a CP932 spelling fail.
TEST_F(DesktopBackend, OpenDialogGivesTheCp932PathOrFails) {
  char start[4096], current[4096];
  ASSERT_TRUE(getcwd(start, sizeof start));
  const struct {
    const char* name;  // null: a cancel
    DWORD size;
    bool chosen;
  } cases[] = {{"表.spt", 256, true},
               {"表.spt", 8, false},
               {nullptr, 256, false},
               {"café-ñ.spt", 256, false}};
  for (const auto& [name, size, chosen] : cases) {
    ASSERT_EQ(chdir(start), 0);
    std::string path = name ? writeTempFile(name, "") : "";
    char file[256] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpstrFile = file;
    dialog.nMaxFile = size;
    dialog.lpstrTitle = openDialogTitle;
    int held = 0;  // looks in a row that found the file selected: a folder being read drops it
    whenShown("スクリプトファイル読み込み", [&](GtkWindow* chooser) {
      gchar* selected = name ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)) : nullptr;
      held = selected && path == selected ? held + 1 : 0;
      g_free(selected);
      if (name && !held) gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), path.c_str());
      if (name && held < 3) return false;
      gtk_dialog_response(GTK_DIALOG(chooser), name ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
      return true;
    });
    EXPECT_EQ(GetOpenFileNameA(&dialog), chosen) << (name ? name : "cancel");
    if (!chosen) continue;
    EXPECT_EQ(std::string(file), cp932(path.c_str()));
    EXPECT_EQ(std::string({file[dialog.nFileOffset - 1], file[dialog.nFileExtension - 1]}), "/.");
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
