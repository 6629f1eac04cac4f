// The one fixture of the presentation tests: a recording window as the main window, message
// boxes captured, and every presentation owner's state (the ten slots, the virtual screen, the
// text and menu state, the interpreter's step) reset before each test and freed after it.
#ifndef TORVANE_TESTS_PRESENTATION_PRESENTATION_FIXTURE_H
#define TORVANE_TESTS_PRESENTATION_PRESENTATION_FIXTURE_H

#include <gtest/gtest.h>
#include <string.h>

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
    memset(imageSlots, 0, sizeof imageSlots);
    memset(&virtualScreen, 0, sizeof virtualScreen);
    resetTextState();
    messageRect = RECT{0, 0, 0, 0};
    menuSelection = 0;
    frameStopRequested = false;
    currentCommand = nullptr;
    runEnabled = 0;
    scriptFinished = 0;
    lastCommandIndex = 0;
    clearRecordedMessages();
    beginCapturingMessageBoxes();
  }

  void TearDown() override {
    endCapturingMessageBoxes();
    // releaseImage frees every handle a loaded record holds, mask or none.
    for (ImageSlot& slot : imageSlots) {
      slot.loaded = 1;
      releaseImage(&slot);
    }
    virtualScreen.loaded = 1;
    releaseImage(&virtualScreen);
    memset(imageSlots, 0, sizeof imageSlots);
    memset(&virtualScreen, 0, sizeof virtualScreen);
    resetTextState();
    mainWindow = nullptr;
    destroyRecordingWindow(window);
  }
};

#endif
