// The test support but the message boxes (message_boxes.cpp), on every build and backend.
#include "support/test_support.h"

#include <stdlib.h>

#include <filesystem>
#include <mutex>

#ifndef _WIN32
#include "platform/linux/layer.h"
#endif

static std::mutex recordLock;
static std::vector<RecordedMessage> recorded;

LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::unique_lock<std::mutex> guard(recordLock);
  recorded.push_back({window, message, wParam, lParam});
  guard.unlock();
  return message == WM_CLOSE ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

HWND createRecordingWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TorvaneTestRecorder";
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    registered = RegisterClassA(&windowClass) != 0;
  }
  return CreateWindowExA(0, "TorvaneTestRecorder", "test", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                         100, 100, 640, 480, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void destroyRecordingWindow(HWND window) { if (window) DestroyWindow(window); }

std::vector<RecordedMessage> recordedMessages() {
  std::lock_guard<std::mutex> guard(recordLock);
  return recorded;
}

int countRecorded(UINT message) {
  int count = 0;
  for (const RecordedMessage& entry : recordedMessages()) count += entry.message == message;
  return count;
}

void clearRecordedMessages() {
  std::lock_guard<std::mutex> guard(recordLock);
  recorded.clear();
}

void placeCursor(HWND window, int clientX, int clientY) {
  POINT point = {clientX, clientY};
  ClientToScreen(window, &point);
  SetCursorPos(point.x, point.y);
}

#ifdef _WIN32
std::string recode(const std::string& bytes, UINT from, UINT to) {  // through UTF-16
  int wideLength = MultiByteToWideChar(from, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
  std::wstring wide(wideLength, L'\0');
  MultiByteToWideChar(from, 0, bytes.data(), (int)bytes.size(), &wide[0], wideLength);
  int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string out(length, '\0');
  WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
  return out;
}

std::string cp932(const char* utf8) { return recode(utf8, CP_UTF8, 932); }
std::string utf8FromCp932(const std::string& bytes) { return recode(bytes, 932, CP_UTF8); }
int gdiObjectCount() { return (int)GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }
#else
std::string cp932(const char* utf8) {
  std::string bytes;
  utf8ToCp932(utf8, &bytes);
  return bytes;
}
std::string utf8FromCp932(const std::string& s) { return cp932ToUtf8(s.data(), s.size()); }
int gdiObjectCount() { return liveGdiObjectCount(); }
#endif

std::string tempDirectory() {
  static std::string directory;
  static std::once_flag made;
  std::call_once(made, [] {
    namespace fs = std::filesystem;
    std::error_code error;
    for (int attempt = 0; directory.empty(); ++attempt) {
      std::string name = std::to_string(GetCurrentThreadId()) + "-" + std::to_string(attempt);
      fs::path candidate = fs::temp_directory_path() / ("torvane-test-" + name);
      if (fs::create_directory(candidate, error)) directory = candidate.string();
    }
    atexit([] {
      std::error_code error;
      fs::remove_all(directory, error);
    });
  });
  return directory;
}

std::string writeTempFile(const char* name, const std::string& bytes) {
  std::string path = (std::filesystem::path(tempDirectory()) / name).string();
  if (FILE* file = fopen(path.c_str(), "wb")) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  return path;
}

void putLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += (char)((value >> (8 * i)) & 0xFF);
}

std::string bmpFile(int width, int height, const std::function<COLORREF(int x, int y)>& pixel) {
  int padding = (4 - width * 3 % 4) % 4, imageBytes = (width * 3 + padding) * height;
  std::string file = "BM";
  putLe(file, 54 + imageBytes, 4), putLe(file, 0, 4), putLe(file, 54, 4), putLe(file, 40, 4);
  putLe(file, width, 4), putLe(file, height, 4), putLe(file, 1, 2), putLe(file, 24, 2);
  putLe(file, 0, 4), putLe(file, imageBytes, 4);
  file.resize(54, '\0');
  for (int y = height - 1; y >= 0; --y, file.append(padding, '\0')) {  // bottom-up
    for (int x = 0; x < width; ++x) {
      COLORREF c = pixel(x, y);
      putLe(file, GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16, 3);
    }
  }
  return file;
}

std::string solidBmp(int width, int height, COLORREF color) {
  return bmpFile(width, height, [color](int, int) { return color; });
}

std::string icoFile() {
  const int size = 16, xorBytes = size * size * 4, andBytes = size * 4;
  std::string file;
  for (uint32_t v : {0, 1, 1}) putLe(file, v, 2);  // icon directory, one image
  file += std::string{(char)size, (char)size, 0, 0};
  putLe(file, 1, 2), putLe(file, 32, 2), putLe(file, 40 + xorBytes + andBytes, 4);
  putLe(file, 22, 4), putLe(file, 40, 4), putLe(file, size, 4), putLe(file, size * 2, 4);
  putLe(file, 1, 2), putLe(file, 32, 2), putLe(file, 0, 4), putLe(file, xorBytes, 4);
  file += std::string(16, '\0');
  for (int i = 0; i < size * size; ++i) putLe(file, 0xFF2080C0, 4);
  return file + std::string(andBytes, '\0');
}

std::string wavImage(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign, const std::string& data) {
  std::string file = "RIFF";
  putLe(file, 36 + data.size() + data.size() % 2, 4);
  file += "WAVEfmt ", putLe(file, 16, 4), putLe(file, formatTag, 2), putLe(file, channels, 2);
  putLe(file, rate, 4), putLe(file, rate * blockAlign, 4), putLe(file, blockAlign, 2);
  putLe(file, bits, 2), file += "data", putLe(file, data.size(), 4);
  return file + data + std::string(data.size() % 2, '\0');  // chunks have an even length
}

std::string wavFile(int samples) {
  return wavImage(1, 1, 8000, 8, 1, std::string(samples, '\x80'));
}
