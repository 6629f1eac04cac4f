// The fixture the presentation, compiler and interpreter tests share: a recording window as the
// main window, message boxes captured, and the slots, screen, text and step reset for each test.
#ifndef TORVANE_TESTS_PRESENTATION_PRESENTATION_FIXTURE_H
#define TORVANE_TESTS_PRESENTATION_PRESENTATION_FIXTURE_H

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"
#include "support/test_support.h"

class PresentationTest : public ::testing::Test {
 protected:
  HWND window = nullptr;
  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_TRUE(window);
    mainWindow = window;
    messageRect = RECT{0, 0, 0, 0};
    menuSelection = 0;
    frameStopRequested = false;
    currentCommand = nullptr;
    runEnabled = scriptFinished = lastCommandIndex = 0;
    clearRecordedMessages();
    beginCapturingMessageBoxes();
  }
  void TearDown() override {
    endCapturingMessageBoxes();
    auto release = [](ImageSlot& record) {
      record.loaded = 1;  // releaseImage frees every handle a loaded record holds, mask or none
      releaseImage(&record);
      memset(&record, 0, sizeof record);
    };
    for (ImageSlot& slot : imageSlots) release(slot);
    release(virtualScreen);
    resetTextState();
    mainWindow = nullptr;
    destroyRecordingWindow(window);
  }
  // The message boxes shown, as "caption:text", each owned by the main window with OK only.
  std::vector<std::string> boxes() const {
    std::vector<std::string> texts;
    for (const CapturedMessageBox& box : capturedMessageBoxes()) {
      EXPECT_TRUE(box.owner == window && box.type == (UINT)MB_OK);
      texts.push_back(box.caption + ":" + box.text);
    }
    return texts;
  }
  // The WM_CLOSE messages the main window got; each must ask it plainly to close.
  int closeCount() const {
    int count = 0;
    for (const RecordedMessage& m : recordedMessages()) {
      if (m.message != WM_CLOSE) continue;
      EXPECT_TRUE(m.window == window && m.wParam == 0 && m.lParam == 0);
      ++count;
    }
    return count;
  }
};

#endif
