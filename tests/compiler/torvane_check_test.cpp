// torvane-check, run as a program: its standard output, standard error and exit status. The
// tool is built on Linux only, beside this suite (build/.../tools/torvane-check).
#include "compiler_fixture.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::string toolPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "";
  std::string directory(self, length);
  directory.erase(directory.rfind('/'));  // .../tests
  directory.erase(directory.rfind('/'));  // the build directory
  return directory + "/tools/torvane-check";
}

std::string readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun runTool(const std::string& arguments) {
  std::string out = tempDirectory() + "/check.out", err = tempDirectory() + "/check.err";
  std::string command = "'" + toolPath() + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
  int result = system(command.c_str());
  return {WIFEXITED(result) ? WEXITSTATUS(result) : -1, readWhole(out), readWhole(err)};
}

class TorvaneCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(toolPath().c_str(), X_OK), 0)
        << toolPath() << " is missing: build the torvane-check target with this suite";
  }
};

}  // namespace

TEST_F(TorvaneCheck, ACleanScriptListsItsNodesAndExitsZero) {
  std::string script = writeTempFile(
      "clean.spt", cp932("script_start\r\n;note\r\nbitmap_load 07 画像\\表.bmp\r\n表示 ソ\r\n"
                         "menu a\tb c\\d\r\nbitmap_hide,\r\n"));
  ToolRun run = runTool("--list '" + script + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "1\tscript_start\n"
            "3\tbitmap_load\t07\t画像\\\\表.bmp\n"
            "1\t表示\n"
            "3\tmenu\ta\\tb\tc\\\\d\n"
            "2\tbitmap_hide\t\n");

  run = runTool("'" + script + "'");  // without --list nothing goes to standard output
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST_F(TorvaneCheck, BytesThatWouldNotReadBackAreEscaped) {
  // Control bytes, DEL, bytes that are never CP932, an unassigned pair, a lead byte before a
  // byte that cannot trail it, a half-width katakana, an NEC character, a lead byte at the end.
  // Octal escapes, which end after three digits: 0x01, 0x1F, 0x7F, 0x80 0xA0 0xFD 0xFF, 0x81 0xAD,
  // 0x81 '0', 0xB1.
  std::string text = "a\001b\037c\177\200\240\375\377\201\255\2010\261" + cp932("①") + "\r\x82";
  std::string script = writeTempFile("bytes.spt", "text_show x\r\n" + text + "\r\n");
  ToolRun run = runTool("--list '" + script + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "1\ttext_show\n"
            "1\ta\\x01b\\x1Fc\x7F\\x80\\xA0\\xFD\\xFF\\x81\\xAD\\x81"
            "0ｱ①\\r\\x82\n");
}

TEST_F(TorvaneCheck, EachMessageBoxIsOneLineOnStandardError) {
  std::string script =
      writeTempFile("errors.spt",
                    "change_window_caption\r\nbitmap_load A a.bmp\r\nbitmap_load 10 a.bmp\r\n"
                    "script_start\r\nbitmap_show 0\r\nscript_end\r\n");
  ToolRun run = runTool("--list '" + script + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      run.err,
      "エラー: 引数の数が足りません\\nエラー命令：change_window_caption\\r\\n\\nエラー行：1行目\\n"
      "作業中のファイル名：" +
          script +
          "\n"
          "エラー: 数値データではありません\n"
          "エラー: 引数の数が足りません\\nエラー命令：bitmap_show\\nエラー行：5行目\\n"
          "作業中のファイル名：" +
          script + "\n");
  // Compilation stopped at the missing argument, as the player's does.
  EXPECT_EQ(run.out, "1\tscript_start\n");
}

TEST_F(TorvaneCheck, AScriptThatCannotBeOpenedExitsTwoAndTheSampleIsClean) {
  ToolRun run = runTool("--list '" + tempDirectory() + "/no-such.spt'");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err, "");
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);  // one line

  EXPECT_EQ(runTool("").status, 2);

  run = runTool("--list '" + testDataPath("compiler/sample.spt") + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

#endif

TEST_F(CompilerTest, TheSampleScriptCompilesWithoutAMessage) {
  std::string path = testDataPath("compiler/sample.spt");
  memcpy(scriptPath, path.c_str(), path.size() + 1);
  compileScript(scriptPath);
  EXPECT_TRUE(boxTexts().empty());
  auto list = nodes();
  ASSERT_EQ(list.size(), 29u);
  EXPECT_EQ(list.front(), std::vector<std::string>{"script_start"});
  EXPECT_EQ(list[10], std::vector<std::string>{cp932("表示テストです：ソフト、表、ソ。")});
  EXPECT_EQ(list.back(), std::vector<std::string>{"script_end"});
}
