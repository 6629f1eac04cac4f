// A script run without the shell: compiled from a temporary file, started as the frame thread
// starts it and driven by composeFrame frame by frame.
#ifndef TORVANE_TESTS_INTERPRETER_SCRIPT_RUN_H
#define TORVANE_TESTS_INTERPRETER_SCRIPT_RUN_H

#include "compiler/compiler_fixture.h"
#include "sound/sound.h"

class ScriptRun : public CompilerTest {
 protected:
  void SetUp() override {
    CompilerTest::SetUp();
    SetCurrentDirectoryA(tempDirectory().c_str());  // scripts name files relative to it
    ASSERT_TRUE(createSurface(&virtualScreen, virtualScreenWidth, virtualScreenHeight));
  }
  void TearDown() override {
    stopSound(0);
    releaseSoundSlots();
    resetSoundSlots();
    CompilerTest::TearDown();
  }
  // Compiles the lines (CR LF added) and starts the run as the frame thread does, titled "test".
  void startScript(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    compile(text);
    resetTextState();
    resetSoundSlots();
    currentCommand = commandList;
    runEnabled = scriptFinished = lastCommandIndex = 0;
    SetWindowTextA(window, "test");
    clearRecordedMessages();
  }
  // Steps: 'c' a click and a frame, 'f' a frame without one; '0', '1', '2' rest the cursor on
  // neither choice, the first or the second of a menu whose boxes are at (10, 10) and (10, 50).
  void play(const char* steps) {
    static const POINT cursor[] = {{300, 300}, {12, 12}, {20, 60}};
    for (const char* p = steps; *p; ++p) {
      if (*p == 'c') runEnabled = 1;
      if (*p == 'c' || *p == 'f') composeFrame();
      if (*p >= '0' && *p <= '2') placeCursor(window, cursor[*p - '0'].x, cursor[*p - '0'].y);
    }
  }
  // "title|message|next node's arguments", the flags set, "!" once closed, "[caption:text]" boxes.
  std::string state() {
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    std::string s = std::string(title) + "|" + (textVisible && textLine1 ? textLine1 : "") + "|";
    for (int i = 0; currentCommand && i < currentCommand->argCount; ++i)
      s += (i ? " " : "") + std::string(currentCommand->args[i]);
    if (!currentCommand) s += "(end)";
    if (runEnabled) s += " run";
    if (menuVisible) s += " menu" + std::to_string(menuSelection);
    if (scriptFinished) s += " finished";
    if (closeCount()) s += "!";
    for (const std::string& box : boxes()) s += " [" + box + "]";
    return s;
  }
};

#endif
