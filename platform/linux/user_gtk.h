// What the files of the GTK desktop backend share: the thread that owns GTK, calls handed to it
// from other threads, and the GTK window behind a window handle. Nothing outside
// platform/linux/user_gtk*.cpp includes this.
#ifndef TORVANE_PLATFORM_LINUX_USER_GTK_H
#define TORVANE_PLATFORM_LINUX_USER_GTK_H

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/linux/win32_subset.h"

// Opens the display and makes the calling thread the one that owns GTK and every window. False
// when there is no display. Called once by main(); a program that does not call it (a test) gets
// it on its first window call.
bool startDesktop(int* argc, char*** argv);
bool onDesktopThread();

// Runs work on the desktop thread and waits until it has run. GTK may be used only there, so
// every call from another thread that touches a window goes through this. Calls are run whenever
// the desktop thread runs its main loop, also inside modal dialogs and while it waits in
// MsgWaitForMultipleObjects, as Windows handles sent messages.
void runOnDesktopThread(const std::function<void()>& work);

// The GTK window of a live window handle, or null.
GtkWindow* gtkWindowOf(HWND window);

// Makes a toplevel of ours count for the application's activation (WM_ACTIVATEAPP): the main
// window, message boxes and the Open dialog.
void watchActivation(GtkWidget* toplevel);

// The next GetOpenFileNameA returns this native path as if the user had chosen it, without
// showing the dialog: how a story named on the command line is opened through File > Open.
void answerNextOpenDialog(const std::string& nativePath);

#endif
