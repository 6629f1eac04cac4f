// What the suites share, on both builds: message boxes seen without a person to close them, a
// window that records the messages it gets, CP932 literals, files and the GDI object count.
// Linux asks the headless backend; Windows (under Wine) uses the real system.
#ifndef TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H
#define TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/windows_api.h"

struct CapturedMessageBox {
  HWND owner;
  std::string text;     // CP932 bytes
  std::string caption;  // CP932 bytes
  UINT type;            // on Windows MB_OK when the box has only an OK button, else 0xFFFFFFFF
};

// Forgets earlier boxes and answers new ones with OK. On Windows the boxes of the calling thread
// are caught (a CBT hook), so call it on the thread that will show them.
void beginCapturingMessageBoxes();
std::vector<CapturedMessageBox> capturedMessageBoxes();
void endCapturingMessageBoxes();

struct RecordedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A top-level window of the calling thread that records every message it gets (all recording
// windows into one list, in order) and does not close on WM_CLOSE.
HWND createRecordingWindow();
LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void destroyRecordingWindow(HWND window);
std::vector<RecordedMessage> recordedMessages();
int countRecorded(UINT message);
void clearRecordedMessages();

void placeCursor(HWND window, int clientX, int clientY);  // at client coordinates

// UTF-8 to CP932 and back, for literals in tests.
std::string cp932(const char* utf8);
std::string utf8FromCp932(const std::string& bytes);

std::string testDataPath(const char* relative);  // a file under tests/data, as the program opens it
std::string tempDirectory();  // a directory of this test process, removed when it ends
// Writes bytes to a file in tempDirectory() and returns its path.
std::string writeTempFile(const char* name, const std::string& bytes);

// Appends value as `bytes` little-endian bytes: the byte order of BMP, ICO and WAV files.
void putLe(std::string& out, uint32_t value, int bytes);
// A 24-bit bottom-up BMP file whose colour at (x, y) is pixel(x, y); and one of a single colour.
std::string bmpFile(int width, int height, const std::function<COLORREF(int x, int y)>& pixel);
std::string solidBmp(int width, int height, COLORREF color);
// A 16 x 16 icon of 32 bits per pixel as an .ico file; a WAV file of `samples` samples of 8-bit
// mono PCM at 8000 Hz, all silence.
std::string icoFile();
std::string wavFile(int samples);

int gdiObjectCount();  // GDI objects alive in this process (0 where the system does not say)

#endif
