// The compiler tests' fixture: compiling a script given as bytes through a real file, reading
// back the list and the messages, and the compiler's state put back after each test.
#ifndef TORVANE_TESTS_COMPILER_COMPILER_FIXTURE_H
#define TORVANE_TESTS_COMPILER_COMPILER_FIXTURE_H

#include <stdlib.h>

#include "compiler/compiler.h"
#include "presentation/presentation_fixture.h"

typedef std::vector<std::vector<std::string>> NodeList;  // one vector of arguments per node

class CompilerTest : public PresentationTest {
 protected:
  void TearDown() override {
    freeCommandList(commandList);
    resetCommandList(commandList);
    scriptPath[0] = '\0';
    PresentationTest::TearDown();
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
  // notNumeric "no number" boxes, then the missing argument of the command name (unless empty).
  static std::vector<std::string> errorBoxes(int notNumeric, const std::string& name = "",
                                             int line = 0) {
    std::string error = cp932("エラー:");
    std::vector<std::string> texts(notNumeric, error + cp932("数値データではありません"));
    if (!name.empty())
      texts.push_back(error + cp932("引数の数が足りません\nエラー命令：") + name +
                      cp932("\nエラー行：") + std::to_string(line) +
                      cp932("行目\n作業中のファイル名：") + scriptPath);
    return texts;
  }
};

#endif
