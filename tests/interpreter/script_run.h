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
