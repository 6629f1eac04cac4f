// What the files of the GTK window driver share: the thread that owns GTK, work handed to it
// from other threads, and the GTK window behind a window handle. Nothing outside
// platform/linux/user_gtk*.cpp includes this but the desktop tests.
#ifndef TORVANE_PLATFORM_LINUX_USER_GTK_H
#define TORVANE_PLATFORM_LINUX_USER_GTK_H

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/linux/user_core.h"
#include "platform/linux/win32_subset.h"

// ---------------------------------------------------------------------------------------------
// The desktop thread (user_gtk.cpp)

// Opens the display and makes the calling thread the one that owns GTK and every window. False
// when there is no display. Called once by main(); a program that does not call it (a test) gets
// it on its first window call.
bool startDesktop(int* argc, char*** argv);
bool onDesktopThread();
void ensureDesktop();

// Runs work on the desktop thread and waits until it has run. GTK may be used only there, so
// every call from another thread that touches a window goes through this. The desktop thread
// runs it as it handles a message sent to it: whenever it runs its main loop, also inside modal
// dialogs and while it waits in MsgWaitForMultipleObjects.
void runOnDesktopThread(const std::function<void()>& work);

// The largest outer size a window may have on this desktop (the driver's maxTrackSize).
void desktopMaxTrackSize(int* width, int* height);

// ---------------------------------------------------------------------------------------------
// Native windows (user_gtk_windows.cpp): the driver's window entries.

bool gtkCreateWindow(HWND window, const UserWindowRequest& request);
void gtkWindowDestroyed(HWND window);
void gtkShowWindow(HWND window, bool show);
void gtkTitleChanged(HWND window, const char* title);
void gtkIconsChanged(HWND window, HICON smallIcon, HICON bigIcon);
void gtkMoveWindow(HWND window, int x, int y, int width, int height);
// The client area of a window was drawn into: show it.
void gtkSurfaceChanged(HWND window);

// ---------------------------------------------------------------------------------------------
// Dialogs (user_gtk_dialogs.cpp): the driver's dialog entries.

int gtkMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL gtkOpenFileName(LPOPENFILENAMEA dialog);

// ---------------------------------------------------------------------------------------------
// Shared by the driver's files

// The GTK window of a live window handle, or null.
GtkWindow* gtkWindowOf(HWND window);

// Makes a toplevel of ours count for the application's activation (WM_ACTIVATEAPP): the main
// window, message boxes and the Open dialog.
void watchActivation(GtkWidget* toplevel);

// The next GetOpenFileNameA returns this native path as if the user had chosen it, without
// showing the dialog: how a story named on the command line is opened through File > Open.
void answerNextOpenDialog(const std::string& nativePath);

#endif
