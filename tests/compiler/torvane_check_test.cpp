// torvane-check run as a program: for each command line its exit status, standard output and
// standard error. The tool is built on Linux only, beside this suite (build/.../tools).
#include "compiler_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace {

std::string toolDirectory() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string directory(self, length > 0 ? length : 0);
  directory.erase(directory.rfind('/'));  // .../tests
  return directory.substr(0, directory.rfind('/')) + "/tools";
}

std::string readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

// Does the text consist of the pattern's pieces between "…", in order, with anything between?
bool matches(const std::string& text, const std::string& pattern) {
  std::string expression;
  for (char c : pattern) {
    if (c && strchr("\\^$.|?*+()[]{}", c)) expression += '\\';
    expression += c;
  }
  replaceAll(expression, "…", "[\\s\\S]*");
  return std::regex_match(text, std::regex(expression));
}

}  // namespace

// Scripts are written to S in a story folder D holding the files they name; S and D stand for
// those paths in the output. Each message box the player would show is one line of standard
// error; warnings follow, and only --werror lets them change the exit status. --list prints
// each node as its argument count and arguments.
TEST(TorvaneCheck, CommandLinesAndWhatTheyPrint) {
  std::string story = tempDirectory() + "/story", script = story + "/s.spt";
  mkdir(story.c_str(), 0755);
  mkdir((story + "/画像").c_str(), 0755);
  const std::pair<const char*, std::string> files[] = {{"画像/表.BMP", solidBmp(4, 4, 0xFF00FF)},
                                                       {"ok.wav", wavFile(400)},
                                                       {"bad.bmp", "BM not a picture"},
                                                       {"bad.wav", "RIFF not a sound"}};
  for (const auto& file : files)
    std::ofstream((story + "/" + file.first).c_str(), std::ios::binary) << file.second;
  const std::string beside =
      cp932("script_start\r\nbitmap_load 0 画像\\表.bmp\r\njmp $x\r\nscript_end\r\n");
  const std::string noLabel = "S:3: warning: …`$x`… [missing-label]\n";
  const struct {
    std::string arguments;  // %s: the script's path
    std::string script;
    int status;
    std::string out, err;
  } runs[] = {
      // clang-format off
      {"--list %s", "script_start\r\nbitmap_load A a.bmp\r\nbitmap_show 0\r\n", 1,
       "1\tscript_start\n", "エラー: 数値データではありません\nエラー: 引数の数が足りません\\n"
       "エラー命令：bitmap_show\\nエラー行：3行目\\n作業中のファイル名：S\n"
       "S:2: warning: …`A`, is not a number… [not-a-number]\n"},
      {"%s", cp932("script_start\r\njmp $nowhere\r\n$a\r\n$a\r\nse_play 010 1\r\n"
                   "bitmap_lod 0 a.bmp\r\n") + std::string(300, 'a') +
                 cp932("\r\nscript_end\r\n四\r\n"), 0, "",
       "S:2: warning: …`$nowhere`… [missing-label]\nS:4: warning: …line 3… [duplicate-label]\n"
       "S:5: warning: …slot 010… [slot-range]\nS:6: warning: …`bitmap_load`… [unknown-command]\n"
       "S:7: warning: …302 bytes… [long-line]\nS:9: warning: …line 8… [unreachable]\n"},
      {"%s", cp932("script_start\r\nbitmap_load 1 bad.bmp\r\nse_load 2 OK.WAV\r\n"
                   "se_load 3 bad.wav\r\nse_load 4 音\\ソ.wav\r\nscript_end\r\n"), 0, "",
       "S:2: warning: …picture… [bad-file]\nS:4: warning: …WAV sound… [bad-file]\n"
       "S:5: warning: …`音\\\\ソ.wav` does not exist in D… [missing-file]\n"},
      {"%s", cp932("script_start\nscript_end\n"), 0, "", "S:1: warning: …CR LF… [line-ends]\n…"},
      // Options. Files are looked for beside the script unless --base says where.
      {"%s", beside, 0, "", noLabel},
      {"--werror %s", beside, 1, "", noLabel},
      {"--werror --no-warn=missing-label --base / %s", beside, 1, "",
       "S:2: warning: …`画像\\\\表.bmp`… [missing-file]\n"},
      {"--no-warn=no-such-kind %s", beside, 2, "", "torvane-check: no warning is called …"},
      {"--list '" + story + "/none.spt'", "", 2, "", "torvane-check: D/none.spt: cannot open: …"},
      {"", "", 2, "", "usage: …\n"},
      {"--werror '" + toolDirectory() + "/demo.spt'", "", 0, "", ""},
      // clang-format on
  };
  for (const auto& r : runs) {
    std::string arguments = r.arguments, out = story + "/out.txt", err = story + "/err.txt";
    size_t at = arguments.find("%s");
    if (at != std::string::npos) {
      std::ofstream(script.c_str(), std::ios::binary) << r.script;
      arguments.replace(at, 2, "'" + script + "'");
    }
    SCOPED_TRACE(arguments.substr(0, 60) + " " + r.script.substr(0, 40));
    int result = system(
        ("'" + toolDirectory() + "/torvane-check' " + arguments + " >'" + out + "' 2>'" + err + "'")
            .c_str());
    EXPECT_EQ(WIFEXITED(result) ? WEXITSTATUS(result) : -1, r.status);
    EXPECT_PRED2(matches, readWhole(out), r.out);
    std::string errText = readWhole(err);
    replaceAll(errText, script, "S");
    replaceAll(errText, story, "D");
    EXPECT_PRED2(matches, errText, r.err);
  }
}

#endif
