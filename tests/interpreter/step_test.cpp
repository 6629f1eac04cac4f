// The interpreter's pace and control flow, frame by frame: clicks, text lines, labels, jmp, the
// two-choice if and the end of the script.
#include "interpreter/script_run.h"
#include "resources/texts.h"

namespace {

using Step = ScriptRun;

// A playing slot of five cells: each frame that composes advances its currentFrame.
void animateSlotFour() {
  imageSlots[4].visible = imageSlots[4].animState = 1;
  imageSlots[4].frameCount = 5;
}

TEST_F(Step, NothingRunsBeforeTheFirstClickAndEachTextLineWaitsForOne) {
  startScript({"first", "second"});
  frames(3);
  EXPECT_EQ(message(), "");
  EXPECT_EQ(current(), "first");

  clickFrames();
  EXPECT_EQ(message(), "first");
  EXPECT_EQ(runEnabled, 0);
  frames(5);
  EXPECT_EQ(message(), "first");
  EXPECT_EQ(current(), "second");

  clickFrames();
  EXPECT_EQ(message(), "second");
  EXPECT_EQ(runEnabled, 0);
}

TEST_F(Step, CommandsThatDoNotStopRunOnePerFrameAndALabelCostsAFrameShowingNothing) {
  startScript({"change_window_caption A", "change_window_caption B", "$between",
               "change_window_caption C", "done"});
  clickFrames();
  EXPECT_EQ(title(), "A");
  frame();
  EXPECT_EQ(title(), "B");
  frame();  // the label
  EXPECT_EQ(title(), "B");
  EXPECT_EQ(textVisible, 0);
  EXPECT_EQ(runEnabled, 1);
  EXPECT_EQ(current(), "change_window_caption");
  frame();
  EXPECT_EQ(title(), "C");
  frame();
  EXPECT_EQ(message(), "done");
}

TEST_F(Step, JmpToALabelWaitsForAClickThenRunsTheNodeAfterTheLabel) {
  startScript(
      {"jmp $there", "change_window_caption skipped", "$there", "change_window_caption after"});
  clickFrames();
  EXPECT_EQ(runEnabled, 0);
  EXPECT_EQ(current(), "change_window_caption");
  EXPECT_EQ(currentCommand, commandList->next->next->next);
  frames(3);
  EXPECT_EQ(title(), "test");
  clickFrames();
  EXPECT_EQ(title(), "after");
}

TEST_F(Step, JmpToAMissingLabelWaitsThenGoesOnAfterTheJmp) {
  startScript({"jmp $nowhere", "change_window_caption next"});
  clickFrames();
  EXPECT_EQ(runEnabled, 0);
  EXPECT_EQ(title(), "test");
  clickFrames();
  EXPECT_EQ(title(), "next");
}

TEST_F(Step, ALabelSearchTakesTheFirstMatchFromTheHeadAndMayNameATextLine) {
  startScript({"$twice", "change_window_caption first", "jmp $twice", "$twice",
               "change_window_caption second", "jmp hello", "change_window_caption skipped",
               "hello", "change_window_caption afterText"});
  clickFrames(3);  // label, caption, jmp
  EXPECT_EQ(title(), "first");
  EXPECT_EQ(currentCommand, commandList->next);
  clickFrames();
  EXPECT_EQ(title(), "first");  // back after the first $twice, not the second

  // From the second $twice on: the jump to a text line's text goes on after that text line,
  // which is not shown.
  currentCommand = commandList->next->next->next->next;
  clickFrames(2);
  EXPECT_EQ(title(), "second");
  EXPECT_EQ(runEnabled, 0);
  clickFrames();
  EXPECT_EQ(title(), "afterText");
  EXPECT_EQ(textVisible, 0);
}

TEST_F(Step, AJumpToALabelOnTheLastLineLeavesTheScriptIdleWithItsPictureAndWindow) {
  startScript({"change_window_caption kept", "jmp $last", "$last"});
  clickFrames(2);
  EXPECT_EQ(current(), "(end)");
  for (int i = 0; i < 5; ++i) clickFrames();
  EXPECT_EQ(title(), "kept");
  EXPECT_EQ(scriptFinished, 0);
  EXPECT_EQ(countRecorded(WM_CLOSE), 0);
  EXPECT_TRUE(capturedMessageBoxes().empty());
}

TEST_F(Step, AnEmptyScriptRunsNothing) {
  startScript({"; only a comment"});
  ASSERT_EQ(commandList, nullptr);
  clickFrames(3);
  EXPECT_EQ(scriptFinished, 0);
  EXPECT_EQ(countRecorded(WM_CLOSE), 0);
}

// The menu's first choice "AA" at (10, 10) and the second "BB" at (10, 50); each box is 14 x 15.
constexpr int firstX = 12, firstY = 12, secondX = 20, secondY = 60, noneX = 300, noneY = 300;

std::vector<std::string> choiceScript(int value) {
  return {"set_text_pos 1 10 10 300 100",
          "set_text_pos 2 10 50 0 0",
          "question",
          "menu AA BB",
          "if x x " + std::to_string(value) + " $taken",
          "change_window_caption notTaken",
          "stop1",
          "$taken",
          "change_window_caption taken",
          "stop2"};
}

struct Choice {
  int value;      // the if's choice value
  int selection;  // where the cursor rests: 0 neither, 1 the first choice, 2 the second
};

class ChoiceBranch : public ScriptRun, public ::testing::WithParamInterface<Choice> {};

TEST_P(ChoiceBranch, TakesTheLabelExactlyWhenTheChoiceEqualsTheValue) {
  const Choice choice = GetParam();
  startScript(choiceScript(choice.value));
  clickFrames(3);
  ASSERT_EQ(message(), "question");

  placeCursor(window, noneX, noneY);
  clickFrames(2);  // menu, if: the menu is up and the overlay has looked under the cursor
  EXPECT_EQ(menuVisible, 1);
  EXPECT_EQ(menuSelection, 0);
  frame();  // the check finds no choice: the menu stays, nothing runs until a click
  EXPECT_EQ(runEnabled, 0);
  EXPECT_EQ(menuVisible, 1);
  EXPECT_EQ(current(), "if");
  frames(3);
  EXPECT_EQ(title(), "test");

  // The cursor comes to rest: the overlay sees it, but nothing runs before a click.
  if (choice.selection == 1) placeCursor(window, firstX, firstY);
  if (choice.selection == 2) placeCursor(window, secondX, secondY);
  frame();
  EXPECT_EQ(menuSelection, choice.selection);
  EXPECT_EQ(title(), "test");

  clickFrames();
  if (choice.selection == 0) {
    // A click on neither choice leaves the menu up and runs nothing.
    EXPECT_EQ(runEnabled, 0);
    EXPECT_EQ(menuVisible, 1);
    EXPECT_EQ(current(), "if");
    EXPECT_EQ(title(), "test");
    return;
  }
  // The choice is taken, and the node it leads to runs in the frame of the check.
  EXPECT_EQ(menuVisible, 0);
  EXPECT_EQ(title(), choice.value == choice.selection ? "taken" : "notTaken");
  frame();
  EXPECT_EQ(message(), choice.value == choice.selection ? "stop2" : "stop1");
}

INSTANTIATE_TEST_SUITE_P(ValuesAndCursor, ChoiceBranch,
                         ::testing::Values(Choice{1, 1}, Choice{1, 2}, Choice{1, 0}, Choice{2, 1},
                                           Choice{2, 2}, Choice{3, 1}, Choice{3, 2}),
                         [](const ::testing::TestParamInfo<Choice>& info) {
                           return "value" + std::to_string(info.param.value) + "_cursor" +
                                  std::to_string(info.param.selection);
                         });

TEST_F(Step, AChoiceUnderTheRestingCursorIsTakenOneFrameAfterTheIfWithoutAClick) {
  startScript(choiceScript(2));
  placeCursor(window, secondX, secondY);
  clickFrames(3);
  clickFrames();  // menu
  frame();        // if: runEnabled stays set
  EXPECT_EQ(runEnabled, 1);
  EXPECT_EQ(menuSelection, 2);
  EXPECT_EQ(title(), "test");
  frame();
  EXPECT_EQ(menuVisible, 0);
  EXPECT_EQ(title(), "taken");
  EXPECT_EQ(lastCommandIndex, 0);  // change_window_caption
}

TEST_F(Step, AChoiceToALabelOnTheLastLineEndsIdle) {
  startScript({"set_text_pos 1 10 10 300 100", "t", "menu AA BB", "if x x 1 $end", "$end"});
  placeCursor(window, firstX, firstY);
  clickFrames(2);
  clickFrames(3);
  EXPECT_EQ(menuVisible, 0);
  EXPECT_EQ(current(), "(end)");
  frames(3);
  EXPECT_EQ(scriptFinished, 0);
}

TEST_F(Step, ScriptEndSaysSoThenClosesTheWindowAndNothingAfterItRuns) {
  startScript(
      {"change_window_caption before", "script_end", "change_window_caption after", "never"});
  clickFrames();
  EXPECT_TRUE(capturedMessageBoxes().empty());
  frame();
  std::vector<CapturedMessageBox> boxes = capturedMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, cp932("スクリプト終了"));
  EXPECT_EQ(boxes[0].caption, "END");
  EXPECT_EQ(boxes[0].owner, window);
  EXPECT_EQ(boxes[0].type, (UINT)MB_OK);
  EXPECT_EQ(scriptFinished, 1);
  ASSERT_EQ(countRecorded(WM_CLOSE), 1);
  for (const RecordedMessage& m : recordedMessages()) {
    if (m.message == WM_CLOSE) {
      EXPECT_EQ(m.window, window);
    }
  }

  // The recording window does not close; later frames still run nothing after script_end.
  for (int i = 0; i < 3; ++i) clickFrames();
  EXPECT_EQ(title(), "before");
  EXPECT_EQ(message(), "");
  EXPECT_EQ(capturedMessageBoxes().size(), 1u);
}

TEST_F(Step, TheFrameEndingTheScriptDrawsNothing) {
  startScript({"script_end"});
  animateSlotFour();
  clickFrames();
  EXPECT_EQ(countRecorded(WM_CLOSE), 1);
  EXPECT_EQ(imageSlots[4].currentFrame, 0);  // the slot was not composed
}

// A window that asks the frame thread to stop when it gets one chosen message, as the shell's
// window does when the script is replaced or the window closes while the frame thread waits.
UINT stopOnMessage = 0;
LRESULT CALLBACK stoppingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == stopOnMessage) frameStopRequested = true;
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

class StopRequest : public ScriptRun {
 protected:
  HWND stopping = nullptr;
  void SetUp() override {
    ScriptRun::SetUp();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = stoppingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TorvaneTestStopping";
    RegisterClassA(&windowClass);  // fails harmlessly after the first test
    stopping = CreateWindowExA(0, "TorvaneTestStopping", "stopping", WS_OVERLAPPED, 0, 0, 300, 200,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(stopping);
    mainWindow = stopping;  // nodes are made for it, and messages go to it
    animateSlotFour();
  }
  void TearDown() override {
    DestroyWindow(stopping);
    ScriptRun::TearDown();
  }
  // Runs the script's first node with a click; true when the frame did nothing after it.
  void expectFrameEndsAfterTheMessage(const char* line) {
    startScript({line, "change_window_caption later"});
    clickFrames();
    EXPECT_EQ(currentCommand, commandList) << line;    // not advanced
    EXPECT_EQ(imageSlots[4].currentFrame, 0) << line;  // not composed
    EXPECT_EQ(scriptFinished, 0) << line;
    frame();
    EXPECT_EQ(currentCommand, commandList) << line;
  }
};

TEST_F(StopRequest, AfterACaptionTheFrameDoesNothingMore) {
  stopOnMessage = WM_SETTEXT;
  expectFrameEndsAfterTheMessage("change_window_caption x");
}

TEST_F(StopRequest, AfterAnIconTheFrameDoesNothingMore) {
  stopOnMessage = WM_SETICON;
  expectFrameEndsAfterTheMessage("change_window_icon missing.ico");
}

TEST_F(StopRequest, AfterTheCloseAtTheEndTheFrameDoesNothingMore) {
  stopOnMessage = WM_CLOSE;
  startScript({"script_end"});
  clickFrames();
  EXPECT_EQ(imageSlots[4].currentFrame, 0);
  frame();
  EXPECT_EQ(imageSlots[4].currentFrame, 0);
}

TEST_F(StopRequest, WithoutARequestTheFrameGoesOn) {
  stopOnMessage = WM_NULL + 0xFFFF;  // never sent
  startScript({"change_window_caption x", "change_window_caption y"});
  clickFrames();
  EXPECT_EQ(currentCommand, commandList->next);
  EXPECT_EQ(imageSlots[4].currentFrame, 1);
}

}  // namespace
