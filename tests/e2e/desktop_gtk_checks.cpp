// The GTK driver where a user meets it beyond the window's own calls: switching to another
// program is told to the window at once, and a message box shows its caption inside the box on
// desktops that draw no title on dialogs. On an X display of its own without a window manager.
// GoogleTest before Xlib, whose macros (None, Bool) would break GoogleTest's own names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/linux/user_gtk.h"
#include "platform/windows_api.h"

namespace {

std::vector<WPARAM> activations;  // WM_ACTIVATEAPP as the window got them

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ACTIVATEAPP) activations.push_back(wParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

// Runs GTK until done() holds, one event at a time, for at most 5 s.
bool runUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 5000 && !done(); ++i) {
    while (g_main_context_pending(nullptr) && !done()) g_main_context_iteration(nullptr, FALSE);
    if (!done()) usleep(1000);
  }
  return done();
}

void focusWindow(Display* display, Window target) {
  XSetInputFocus(display, target, RevertToParent, CurrentTime);
  XSync(display, False);
}

bool labelIn(GtkWidget* widget, const char* text) {
  if (GTK_IS_LABEL(widget) && std::string(gtk_label_get_text(GTK_LABEL(widget))) == text) {
    return true;
  }
  if (!GTK_IS_CONTAINER(widget)) return false;
  bool found = false;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  for (GList* item = children; item && !found; item = item->next) {
    found = labelIn(GTK_WIDGET(item->data), text);
  }
  g_list_free(children);
  return found;
}

TEST(DesktopGtk, SwitchingToAnotherProgramIsToldBeforeTheNextEventIsHandled) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = recordingProc;
  windowClass.lpszClassName = "TorvaneSwitch";
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  HWND window = CreateWindowExA(0, "TorvaneSwitch", "switch", WS_OVERLAPPED | WS_CAPTION, 0, 0, 320,
                                240, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  GtkWidget* ours = GTK_WIDGET(gtkWindowOf(window));
  ASSERT_TRUE(runUntil([&] { return gtk_widget_get_mapped(ours); }));
  Display* display = GDK_WINDOW_XDISPLAY(gtk_widget_get_window(ours));
  Window foreign =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 400, 300, 10, 10, 0, 0, 0);
  XMapWindow(display, foreign);
  focusWindow(display, GDK_WINDOW_XID(gtk_widget_get_window(ours)));
  ASSERT_TRUE(runUntil([&] { return !activations.empty() && activations.back() == TRUE; }));
  usleep(200 * 1000);  // long past the window's appearing: no focus is on its way between ours
  focusWindow(display, foreign);
  ASSERT_TRUE(runUntil([&] { return !gtk_window_is_active(GTK_WINDOW(ours)); }));
  EXPECT_EQ(activations.back(), WPARAM(FALSE));
  XDestroyWindow(display, foreign);
  DestroyWindow(window);
}

TEST(DesktopGtk, MessageBoxShowsItsCaptionInsideTheBox) {
  for (const char* caption : {"END", "\x83\x47\x83\x89\x81\x5B"}) {  // END, エラー
    std::string utf8 = caption[0] == 'E' ? "END" : "エラー";
    struct Look {
      std::string caption;
      bool found;
    } look = {utf8, false};
    g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
          Look* look = static_cast<Look*>(data);
          GList* toplevels = gtk_window_list_toplevels();
          GtkWidget* box = nullptr;
          for (GList* item = toplevels; item; item = item->next) {
            if (GTK_IS_MESSAGE_DIALOG(item->data)) box = GTK_WIDGET(item->data);
          }
          g_list_free(toplevels);
          if (!box || !gtk_widget_get_mapped(box)) return G_SOURCE_CONTINUE;
          look->found = labelIn(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box)),
                                look->caption.c_str());
          gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
          return G_SOURCE_REMOVE;
        },
        &look);
    EXPECT_EQ(MessageBoxA(nullptr, "text", caption, MB_OK), IDOK);
    EXPECT_TRUE(look.found) << utf8;
  }
}

}  // namespace
