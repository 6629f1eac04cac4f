// What the compiler tests share: a recording window as the main window, captured message boxes,
// compiling a script given as bytes through a real file, and the compiler's state put back.
#ifndef TORVANE_TESTS_COMPILER_COMPILER_FIXTURE_H
#define TORVANE_TESTS_COMPILER_COMPILER_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "shell/shell.h"
#include "support/test_support.h"

typedef std::vector<std::vector<std::string>> NodeList;  // one vector of arguments per node

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = createRecordingWindow();
    ASSERT_NE(window, nullptr);
    mainWindow = window;
    beginCapturingMessageBoxes();
  }

  void TearDown() override {
    freeCommandList(commandList);
    resetCommandList(commandList);
    compilerAllocate = malloc;
    frameStopRequested = false;
    endCapturingMessageBoxes();
    mainWindow = nullptr;
    destroyRecordingWindow(window);
    scriptPath[0] = '\0';
  }

  // Writes the bytes to a script file, makes it scriptPath and compiles it into commandList.
  void compile(const std::string& bytes, const char* name = "script.spt") {
    std::string path = writeTempFile(name, bytes);
    ASSERT_LT(path.size(), sizeof scriptPath);
    memcpy(scriptPath, path.c_str(), path.size() + 1);
    freeCommandList(commandList);
    resetCommandList(commandList);
    beginCapturingMessageBoxes();
    clearRecordedMessages();
    compileScript(scriptPath);
    EXPECT_EQ(remove(scriptPath), 0);  // the file was closed: Windows removes no open file
  }

  // The list's arguments; the unused argument pointers must be null.
  static NodeList nodes(CommandNode* node = commandList) {
    NodeList result;
    for (; node; node = node->next) {
      result.emplace_back(node->args, node->args + node->argCount);
      for (int i = node->argCount; i < commandArgCapacity; ++i) EXPECT_EQ(node->args[i], nullptr);
    }
    return result;
  }

  // The texts of the message boxes shown, each an error box with OK owned by the main window.
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> texts;
    for (const CapturedMessageBox& box : capturedMessageBoxes()) {
      EXPECT_EQ(box.caption, cp932("エラー"));
      EXPECT_TRUE(box.owner == window && box.type == (UINT)MB_OK);
      texts.push_back(box.text);
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

  // The boxes the user must see: notNumeric times "no number", then the missing argument of
  // the command stored as name (when not null) on the line given.
  static std::vector<std::string> expectedBoxes(int notNumeric, const std::string* name = nullptr,
                                                int line = 0) {
    std::vector<std::string> boxes(notNumeric, cp932("数値データではありません"));
    if (name)
      boxes.push_back(cp932("引数の数が足りません\nエラー命令：") + *name +
                      cp932("\nエラー行：") + std::to_string(line) +
                      cp932("行目\n作業中のファイル名：") + scriptPath);
    return boxes;
  }

  HWND window = nullptr;
};

#endif
