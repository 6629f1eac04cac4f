// A script run without the shell: a recording window stands in for the main window, the script
// is compiled from a temporary file and the interpreter put in its start state as the frame
// thread does, and the test drives composeFrame frame by frame, clicking by setting runEnabled.
#ifndef TORVANE_TESTS_INTERPRETER_SCRIPT_RUN_H
#define TORVANE_TESTS_INTERPRETER_SCRIPT_RUN_H

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "sound/sound.h"
#include "support/test_support.h"

// Appends value as `bytes` little-endian bytes.
inline void putLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += (char)((value >> (8 * i)) & 0xFF);
}

// A 24-bit BMP file of w x h pixels whose colour at (x, y) is pixel(x, y), a GDI colour value.
template <typename Pixel>
std::string bmpFile(int w, int h, Pixel pixel) {
  int rowBytes = (w * 3 + 3) & ~3;
  std::string file = "BM";
  putLe(file, 54 + rowBytes * h, 4), putLe(file, 0, 4), putLe(file, 54, 4);  // file header
  putLe(file, 40, 4), putLe(file, w, 4), putLe(file, h, 4), putLe(file, 1, 2), putLe(file, 24, 2);
  putLe(file, 0, 4), putLe(file, rowBytes * h, 4);
  file.resize(54, '\0');
  for (int y = h - 1; y >= 0; --y) {  // bottom-up
    for (int x = 0; x < w; ++x) {
      COLORREF c = pixel(x, y);
      putLe(file, GetBValue(c) | GetGValue(c) << 8 | GetRValue(c) << 16, 3);
    }
    file.resize(file.size() + rowBytes - w * 3, '\0');
  }
  return file;
}

inline std::string solidBmp(int w, int h, COLORREF color) {
  return bmpFile(w, h, [color](int, int) { return color; });
}

class ScriptRun : public ::testing::Test {
 protected:
  HWND window = nullptr;

  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_TRUE(window);
    mainWindow = window;
    frameStopRequested = false;
    // Scripts name their files relative to the current directory, as the player's do.
    SetCurrentDirectoryA(tempDirectory().c_str());
    memset(imageSlots, 0, sizeof imageSlots);
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
    beginCapturingMessageBoxes();
    clearRecordedMessages();
  }

  void TearDown() override {
    endCapturingMessageBoxes();
    for (ImageSlot& slot : imageSlots) releaseImage(&slot);
    memset(imageSlots, 0, sizeof imageSlots);
    // createSurface leaves the record unloaded, so releaseImage would keep it: free it here.
    SelectObject(virtualScreen.imageDC, virtualScreen.oldBitmap);
    DeleteDC(virtualScreen.imageDC);
    DeleteObject(virtualScreen.bitmap);
    memset(&virtualScreen, 0, sizeof virtualScreen);
    stopSound(0);
    releaseSoundSlots();
    resetSoundSlots();
    freeCommandList(commandList);
    resetCommandList(commandList);
    currentCommand = nullptr;
    runEnabled = 0;
    scriptFinished = 0;
    lastCommandIndex = 0;
    frameStopRequested = false;
    mainWindow = nullptr;
    destroyRecordingWindow(window);
    clearRecordedMessages();
  }

  // Compiles the lines (CR LF added) and starts the run as the frame thread does.
  void startScript(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    std::string path = writeTempFile("script.spt", text);
    snprintf(scriptPath, sizeof scriptPath, "%s", path.c_str());
    freeCommandList(commandList);
    resetCommandList(commandList);
    compileScript(scriptPath);
    resetTextState();
    resetSoundSlots();
    runEnabled = 0;
    scriptFinished = 0;
    lastCommandIndex = 0;
    currentCommand = commandList;
  }

  void click() { runEnabled = 1; }
  void clickFrames(int n = 1) { click(), frames(n); }
  void frame() { composeFrame(); }
  void frames(int n) {
    for (int i = 0; i < n; ++i) composeFrame();
  }

  std::string title() {
    char buffer[256] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
  }
  std::string message() { return textVisible && textLine1 ? textLine1 : ""; }
  // Argument 0 of the node the next step runs, or "(end)".
  std::string current() { return currentCommand ? currentCommand->args[0] : "(end)"; }
  COLORREF pixel(int x, int y) { return GetPixel(virtualScreen.imageDC, x, y) & 0xFFFFFF; }
};

#endif
