// What the suites share, on both builds: message boxes answered without a person, a window that
// records its messages, CP932 literals, files and the GDI object count.
#ifndef TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H
#define TORVANE_TESTS_SUPPORT_TEST_SUPPORT_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/windows_api.h"

struct CapturedMessageBox {
  HWND owner;
  std::string text, caption;  // CP932 bytes
  UINT type;                  // on Windows MB_OK when the box has only an OK button, else ~0
};

// Forgets earlier boxes and answers new ones with OK; on Windows those of the calling thread.
void beginCapturingMessageBoxes();
std::vector<CapturedMessageBox> capturedMessageBoxes();
void endCapturingMessageBoxes();

struct RecordedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A top-level window of the calling thread that records every message it gets (all such
// windows into one list, in order) and does not close on WM_CLOSE.
HWND createRecordingWindow();
LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void destroyRecordingWindow(HWND window);
std::vector<RecordedMessage> recordedMessages();
int countRecorded(UINT message);
void clearRecordedMessages();
void placeCursor(HWND window, int clientX, int clientY);

std::string cp932(const char* utf8);
std::string utf8FromCp932(const std::string& bytes);
std::string tempDirectory();  // of this test process, removed when it ends
std::string writeTempFile(const char* name, const std::string& bytes);  // its path

// Little-endian values, a 24-bit BMP, a 16 x 16 icon of 32 bits, a WAVE file of one format and
// one data chunk, and `samples` of silence in 8-bit mono at 8000 Hz.
void putLe(std::string& out, uint32_t value, int bytes);
std::string bmpFile(int width, int height, const std::function<COLORREF(int x, int y)>& pixel);
std::string solidBmp(int width, int height, COLORREF color);
std::string icoFile();
std::string wavImage(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign, const std::string& data);
std::string wavFile(int samples);
int gdiObjectCount();  // GDI objects alive in this process

#endif
