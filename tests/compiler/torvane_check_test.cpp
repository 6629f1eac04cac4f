// torvane-check, run as a program: its standard output, standard error and exit status. The
// tool is built on Linux only, beside this suite (build/.../tools/torvane-check).
#include "compiler_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string toolPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string directory(self, length > 0 ? length : 0);
  directory.erase(directory.rfind('/'));  // .../tests
  directory.erase(directory.rfind('/'));  // the build directory
  return directory + "/tools/torvane-check";
}

std::string readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// A run's exit status, standard output, the warning lines of standard error without their
// "FILE:", and the other lines of standard error.
struct ToolRun {
  int status;
  std::string out;
  std::vector<std::string> warnings;
  std::string err;
};

ToolRun runTool(const std::string& arguments) {
  std::string out = tempDirectory() + "/check.out", err = tempDirectory() + "/check.err";
  int result =
      system(("'" + toolPath() + "' " + arguments + " >'" + out + "' 2>'" + err + "'").c_str());
  ToolRun run = {WIFEXITED(result) ? WEXITSTATUS(result) : -1, readWhole(out), {}, ""};
  std::istringstream lines(readWhole(err));
  for (std::string line; std::getline(lines, line);) {
    size_t at = line.find(": warning: ");
    size_t colon = at == std::string::npos ? at : line.rfind(':', at - 1);
    if (colon != std::string::npos)
      run.warnings.push_back(line.substr(colon + 1));
    else
      run.err += line + "\n";
  }
  return run;
}

// tempDirectory()/story, holding the files scripts below name (UTF-8 names on disk).
std::string storyFolder() {
  std::string story = tempDirectory() + "/story";
  mkdir(story.c_str(), 0755);
  mkdir((story + "/画像").c_str(), 0755);
  const std::pair<const char*, std::string> files[] = {{"画像/表.BMP", solidBmp(4, 4, 0xFF00FF)},
                                                       {"ok.wav", wavFile(400)},
                                                       {"bad.bmp", "BM not a picture"},
                                                       {"bad.wav", "RIFF not a sound"}};
  for (const auto& file : files)
    std::ofstream((story + "/" + file.first).c_str(), std::ios::binary) << file.second;
  return story;
}

class TorvaneCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(toolPath().c_str(), X_OK), 0)
        << toolPath() << " is missing: build the torvane-check target with this suite";
  }
};

}  // namespace

// --list prints each node as its argument count and its arguments, escaping the bytes that
// would not read back: control bytes, bytes that are never CP932, an unassigned pair, a lead
// byte before a byte that cannot trail it or at the end; DEL, half-width katakana and NEC
// characters stay.
TEST_F(TorvaneCheck, ACleanScriptListsItsNodesAndExitsZero) {
  std::string script = writeTempFile(
      "clean.spt", cp932("script_start\r\n;note\r\nbitmap_load 07 画像\\表.bmp\r\n表示 ソ\r\n"
                         "menu a\tb c\\d\r\nbitmap_hide,\r\n") +
                       "a\001b\037c\177\200\240\375\377\201\255\2010\261" + cp932("①") +
                       "\r\x82\r\n");
  ToolRun run = runTool("--list --no-warn=all '" + script + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "1\tscript_start\n3\tbitmap_load\t07\t画像\\\\表.bmp\n1\t表示\n3\tmenu\ta\\tb\tc\\\\d\n"
            "2\tbitmap_hide\t\n"
            "1\ta\\x01b\\x1Fc\x7F\\x80\\xA0\\xFD\\xFF\\x81\\xAD\\x81"
            "0ｱ①\\r\\x82\n");
  // Without --list nothing goes to standard output.
  run = runTool("--no-warn=all '" + script + "'");
  EXPECT_EQ(run.status + run.out.size() + run.err.size(), 0u);
}

// Each message box the player would show is one line of standard error, and compilation stops
// at a missing argument as the player's does. Warnings come after, and only --werror lets them
// change the exit status.
TEST_F(TorvaneCheck, EachMessageBoxIsOneLineOnStandardErrorAndWarningsChangeNothingOfIt) {
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
          "\nエラー: 数値データではありません\n"
          "エラー: 引数の数が足りません\\nエラー命令：bitmap_show\\nエラー行：5行目\\n"
          "作業中のファイル名：" +
          script + "\n");
  EXPECT_EQ(run.warnings,
            (std::vector<std::string>{
                "2: warning: argument 1 of `bitmap_load`, `A`, is not a number: the player's "
                "message names neither line nor command, and it drops the line [not-a-number]",
                "3: warning: slot 10 of `bitmap_load` is not 0 to 9: the player drops this line "
                "without a message [slot-range]"}));
  EXPECT_EQ(run.out, "1\tscript_start\n");
  ToolRun plain = runTool("--list --no-warn=all '" + script + "'");
  EXPECT_EQ(plain.err + plain.out + std::to_string(plain.status), run.err + run.out + "1");
  EXPECT_TRUE(plain.warnings.empty());
  EXPECT_EQ(runTool("--werror '" + script + "'").status, 1);
}

// Each warning as "LINE: warning: ... [kind]" holding a telling part of its text; a script
// gives exactly the warnings listed, in line order.
TEST_F(TorvaneCheck, WarningsNameTheLineAndTheKind) {
  std::string a300(300, 'a'), b253(253, 'b');
  const struct {
    std::string script;
    std::vector<std::vector<std::string>> warnings;  // line, kind, part of the text
  } cases[] = {
      // clang-format off
      {cp932("script_start\r\njmp $nowhere\r\n$a\r\n$a\r\njmp $ソ表\r\n$ソ表\r\n"
             "menu x y\r\nif 0 0 1 $ソ\r\nscript_end\r\n"),
       {{"2", "missing-label", "`$nowhere`"}, {"4", "duplicate-label", "defined on line 3"},
        {"8", "missing-label", "`$ソ`"}}},
      {cp932("script_start\r\nbitmap_load 10 画像\\表.bmp\r\nse_play 010 1\r\n"
             "bitmap_show 09 0 0 1 1 0 0 0\r\nbitmap_load A a.bmp\r\nif a b X $l\r\n$l\r\n"
             "script_end\r\n"),
       {{"2", "slot-range", "slot 10 of `bitmap_load`"}, {"3", "slot-range", "slot 010 of `se_play`"},
        {"5", "not-a-number", "argument 1 of `bitmap_load`, `A`,"},
        {"6", "not-a-number", "argument 3 of `if`, `X`,"}}},
      {cp932("script_start\r\nbitmap_lod 0 a.bmp\r\nScript_End\r\njmpp $x\r\nhello_world\r\n"
             "こんにちは\r\nHello\r\ntext_sho\r\n$x\r\nscript_end\r\n"),
       {{"2", "unknown-command", "`bitmap_load` was probably meant"},
        {"3", "unknown-command", "`script_end` was probably meant"},
        {"4", "unknown-command", "`jmp` was probably meant"},
        {"5", "unknown-command", "as a message [unknown-command]"},
        {"8", "unknown-command", "`text_show` was probably meant"}}},
      {"script_start\r\n" + a300 + "\r\n" + b253 + "\r\njmp $x\r\nscript_end\r\n",
       {{"2", "long-line", "302 bytes with its line end; the player reads 254 at a time, cuts it "
                           "after byte 254 and"},
        {"3", "long-line", "255 bytes"}, {"4", "missing-label", "`$x`"}}},
      {cp932("script_start\r\nbitmap_load 0 画像\\表.bmp\r\nbitmap_load 1 bad.bmp\r\n"
             "se_load 2 OK.WAV\r\nse_load 3 bad.wav\r\nse_load 4 音\\ソ.wav\r\n"
             "change_window_icon bad.bmp\r\nbgm_load 1 曲.mid\r\nscript_end\r\n"),
       {{"3", "bad-file", "`bad.bmp` exists, but the player cannot load it as a picture"},
        {"5", "bad-file", "cannot play it as a WAV sound"},
        {"6", "missing-file", "the sound `音\\\\ソ.wav` does not exist in " + tempDirectory() + "/story"},
        {"7", "bad-file", "as an icon"}, {"8", "missing-file", "`曲.mid`"}}},
      {cp932("script_start\r\njmp $end\r\n一\r\n二\r\n$end\r\n三\r\nscript_end\r\n四\r\n$never\r\n五\r\n"),
       {{"3", "unreachable", "follows `jmp` on line 2"},
        {"8", "unreachable", "follows `script_end` on line 7"}}},
      {cp932("script_start\r\nmenu a b\r\nif 0 0 1 $out\r\nscript_end\r\n$out\r\n先\r\n"),
       {{"6", "missing-end", "runs past its last line"}}},
      {cp932("script_start\nbitmap_load 0 画像\\表.bmp\nscript_end\n"),
       {{"1", "line-ends", "save the script with CR LF line ends"},
        {"2", "missing-file", "`画像\\\\表.bmp\\n`"}, {"3", "missing-end", ""}}},
      {"\xEF\xBB\xBFscript_start\r\nこんにちは\r\nscript_end\r\n",
       {{"1", "encoding", "byte-order mark, which the player takes as part of the first line, "
                          "and its text is UTF-8"}}},
      {"script_start\r\nこんにちは\r\nscript_end\r\n", {{"1", "encoding", "saved in UTF-8"}}},
      {std::string("\xFF\xFEs\0c\0\r\0\n\0", 10), {{"1", "encoding", "UTF-16"}}},
      {"", {{"1", "missing-end", "no line to run"}}},
      // clang-format on
  };
  std::string story = storyFolder();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 60));
    ToolRun run = runTool("--base '" + story + "' '" + writeTempFile("warned.spt", c.script) + "'");
    ASSERT_EQ(run.warnings.size(), c.warnings.size()) << run.err;
    for (size_t i = 0; i < run.warnings.size(); ++i) {
      const std::string& got = run.warnings[i];
      const std::vector<std::string>& want = c.warnings[i];
      EXPECT_EQ(got.compare(0, want[0].size() + 11, want[0] + ": warning: "), 0) << got;
      EXPECT_NE(got.find(want[2]), std::string::npos) << got;
      EXPECT_EQ(got.substr(got.rfind(" [")), " [" + want[1] + "]");
    }
  }
}

// The options: exit statuses, warnings turned off, files looked for beside the script unless
// --base says where; a script that cannot be opened; the sample and the demo story are clean.
TEST_F(TorvaneCheck, OptionsAndExitStatuses) {
  std::string beside = storyFolder() + "/beside.spt";
  std::ofstream(beside.c_str(), std::ios::binary)
      << cp932("script_start\r\nbitmap_load 0 画像\\表.bmp\r\njmp $x\r\nscript_end\r\n");
  std::string demo = toolPath().substr(0, toolPath().rfind('/')) + "/demo.spt";
  const struct {
    std::string arguments;
    int status;
    size_t warnings;
  } runs[] = {
      {"'" + beside + "'", 0, 1},
      {"--werror '" + beside + "'", 1, 1},
      {"--werror --no-warn=missing-label '" + beside + "'", 0, 0},
      {"--no-warn=no-such-kind '" + beside + "'", 2, 0},
      {"--base / '" + beside + "'", 0, 2},  // the picture is missing there
      {"--list '" + tempDirectory() + "/no-such.spt'", 2, 0},
      {"", 2, 0},
      {"--list --no-warn=missing-file '" + testDataPath("compiler/sample.spt") + "'", 0, 0},
      {"--werror '" + demo + "'", 0, 0},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.arguments);
    ToolRun run = runTool(r.arguments);
    EXPECT_EQ(run.status, r.status);
    EXPECT_EQ(run.warnings.size(), r.warnings) << run.err;
    EXPECT_EQ(run.err.empty(), r.status != 2);  // only the tool's own errors, and only then
  }
  ToolRun help = runTool("--help");
  EXPECT_EQ(help.status + help.out.find("usage: torvane-check"), 0u);
  EXPECT_EQ(runTool("--version").out, "torvane-check " TORVANE_VERSION "\n");
}

#endif
