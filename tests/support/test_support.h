// What the suites share, on both builds: message boxes seen without a person to close them, a
// window that records the messages it gets, CP932 literals, files and the GDI object count.
// Linux asks the headless backend; Windows (under Wine) uses the real system.
#ifndef TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H
#define TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "platform/windows_api.h"

struct CapturedMessageBox {
  HWND owner;
  std::string text;     // CP932 bytes
  std::string caption;  // CP932 bytes
  UINT type;            // on Windows MB_OK when the box has only an OK button, else 0xFFFFFFFF
};

// Forgets earlier boxes and starts answering new ones with OK. On Windows the boxes of the
// calling thread are caught (a CBT hook), so call it on the thread that will show them.
void beginCapturingMessageBoxes();
std::vector<CapturedMessageBox> capturedMessageBoxes();
void endCapturingMessageBoxes();

struct RecordedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A top-level window of the calling thread whose procedure records every message it gets and
// does not close on WM_CLOSE (the default handling of everything else).
HWND createRecordingWindow();
void destroyRecordingWindow(HWND window);
std::vector<RecordedMessage> recordedMessages();  // of every recording window, in order
int countRecorded(UINT message);
void clearRecordedMessages();

// Places the mouse cursor at client coordinates of a window.
void placeCursor(HWND window, int clientX, int clientY);

// UTF-8 to CP932 and back, for literals in tests.
std::string cp932(const char* utf8);
std::string utf8FromCp932(const std::string& bytes);

// A file under tests/data, as the program under test can open it.
std::string testDataPath(const char* relative);
// A directory of this test process, removed when it ends.
std::string tempDirectory();
// Writes bytes to a file in tempDirectory() and returns its path.
std::string writeTempFile(const char* name, const std::string& bytes);

// GDI objects alive in this process (0 where the system does not say).
int gdiObjectCount();

#endif
