// The script file reader through compileScript on real files: line ends, blank and comment
// lines, text and label lines, reads of at most 254 bytes, zero bytes, Shift-JIS trail bytes,
// and files of any bytes and size.
#include <stdint.h>

#include "compiler_fixture.h"

namespace {

typedef std::vector<std::vector<std::string>> NodeList;

// How many reads of at most 254 bytes, each ending at the first LF, a file of these bytes takes.
int readCount(const std::string& bytes) {
  int reads = 0;
  size_t length = 0;
  for (char c : bytes) {
    ++length;
    if (c == '\n' || length == 254) {
      ++reads;
      length = 0;
    }
  }
  return reads + (length > 0 ? 1 : 0);
}

}  // namespace

TEST_F(CompilerTest, AFileThatCannotBeOpenedOrIsEmptyGivesAnEmptyList) {
  std::string missing = tempDirectory() + "/no-such-script.spt";
  compileScript(missing.c_str());
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(scriptLineNumber, 0);
  compileScript(tempDirectory().c_str());  // a directory is no script either
  EXPECT_EQ(commandList, nullptr);

  compile("");
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(scriptLineNumber, 0);
  EXPECT_TRUE(boxTexts().empty());
}

TEST_F(CompilerTest, BlankAndCommentLinesAreSkippedButCounted) {
  compile(
      cp932("\r\n  \r\n ,, \r\n;comment\r\n  ;comment, too\r\na;b\r\n\t;note\r\n　;note\r\n"
            "bitmap_hide 1 ;note\r\nbitmap_load\r\n"));
  EXPECT_EQ(nodes(), (NodeList{{"a;b"}, {"\t;note"}, {cp932("　;note")}, {"bitmap_hide", "1"}}));
  // The missing argument is reported on the tenth line: every read counts.
  EXPECT_EQ(boxTexts(),
            std::vector<std::string>{missingArgumentText("bitmap_load\r\n", 10, scriptPath)});
}

TEST_F(CompilerTest, ALineOfOnlyDelimitersWithoutALineEndIsSkipped) {
  compile("script_start\r\n , ,");
  EXPECT_EQ(nodes(), (NodeList{{"script_start"}}));
  EXPECT_EQ(scriptLineNumber, 2);
}

TEST_F(CompilerTest, TextAndLabelLinesKeepTheirFirstTokenWithoutTheLineEnd) {
  compile(
      cp932("こんにちは 世界\r\nこんにちは　世界、です\r\n$start\r\n表示ソフト\r\n表 ソ\r\nlast"));
  EXPECT_EQ(nodes(), (NodeList{{cp932("こんにちは")},
                               {cp932("こんにちは　世界、です")},
                               {"$start"},
                               {cp932("表示ソフト")},
                               {cp932("表")},
                               {"last"}}));
  // 表 and ソ end in 0x5C, which must stay a trail byte and never be taken for anything else.
  EXPECT_EQ(nodes()[3][0], "\x95\x5C\x8E\xA6\x83\x5C\x83t\x83g");
  EXPECT_TRUE(boxTexts().empty());
}

TEST_F(CompilerTest, CommandArgumentsCarryShiftJisTextUnchanged) {
  compile(cp932("bitmap_load 0 画像\\表.bmp\r\nchange_window_caption ソフト\r\nmenu はい ソ\r\n"));
  EXPECT_EQ(nodes(), (NodeList{{"bitmap_load", "0", cp932("画像\\表.bmp")},
                               {"change_window_caption", cp932("ソフト")},
                               {"menu", cp932("はい"), cp932("ソ")}}));
}

TEST_F(CompilerTest, LinesThatEndInLfAloneKeepTheLf) {
  compile("script_end\nbitmap_hide 3\n\nhello\nbitmap_hide 3,\n");
  // The LF stays on each line's last token: the command alone is no command, the number is no
  // number, the empty line is a text line of an LF; after a trailing comma the LF is a token of
  // its own, which bitmap_hide never takes.
  EXPECT_EQ(nodes(), (NodeList{{"script_end\n"}, {"\n"}, {"hello\n"}, {"bitmap_hide", "3"}}));
  EXPECT_EQ(boxTexts(), std::vector<std::string>{notNumericText()});
  EXPECT_EQ(scriptLineNumber, 5);
}

TEST_F(CompilerTest, LinesThatEndInCrAloneAreOneLineUpToTheReadLimit) {
  compile("text one\rtext two\rscript_end\r");
  EXPECT_EQ(nodes(), (NodeList{{"text"}}));
  EXPECT_EQ(scriptLineNumber, 1);

  compile("bitmap_hide 3\r\r\nscript_end\r\n");
  // A CR LF that is not the very end stays with the token, so 3\r is no number.
  EXPECT_EQ(nodes(), (NodeList{{"script_end"}}));
  EXPECT_EQ(boxTexts(), std::vector<std::string>{notNumericText()});
}

TEST_F(CompilerTest, TheLastLineNeedsNoLineEnd) {
  compile("bitmap_hide 3\r\nscript_end");
  EXPECT_EQ(nodes(), (NodeList{{"bitmap_hide", "3"}, {"script_end"}}));
  compile("bitmap_hide 3");
  EXPECT_EQ(nodes(), (NodeList{{"bitmap_hide", "3"}}));
}

TEST_F(CompilerTest, LinesAreReadAtMost254BytesAtATime) {
  const std::string a252(252, 'a'), a253(253, 'a'), a254(254, 'a'), a255(255, 'a');
  // 252 bytes and CR LF: one read.
  compile(a252 + "\r\nbitmap_load\r\n");
  EXPECT_EQ(nodes(), (NodeList{{a252}}));
  EXPECT_EQ(boxTexts(),
            std::vector<std::string>{missingArgumentText("bitmap_load\r\n", 2, scriptPath)});

  // 253 bytes: the first read ends with the CR, which stays; the LF is a line of its own.
  compile(a253 + "\r\nbitmap_load\r\n");
  EXPECT_EQ(nodes(), (NodeList{{a253 + "\r"}, {"\n"}}));
  EXPECT_EQ(boxTexts(),
            std::vector<std::string>{missingArgumentText("bitmap_load\r\n", 3, scriptPath)});

  // 254 bytes: the CR LF comes back as a blank line, skipped but counted.
  compile(a254 + "\r\nbitmap_load\r\n");
  EXPECT_EQ(nodes(), (NodeList{{a254}}));
  EXPECT_EQ(boxTexts(),
            std::vector<std::string>{missingArgumentText("bitmap_load\r\n", 3, scriptPath)});

  // 255 bytes: the piece after byte 254 is a text line.
  compile(a255 + "\r\nbitmap_load\r\n");
  EXPECT_EQ(nodes(), (NodeList{{a254}, {"a"}}));
  EXPECT_EQ(boxTexts(),
            std::vector<std::string>{missingArgumentText("bitmap_load\r\n", 3, scriptPath)});
}

TEST_F(CompilerTest, ThePieceOfALongLineIsLookedUpLikeAnyLine) {
  std::string first = "text_show " + std::string(244, 'x');  // 254 bytes
  compile(first + "script_end\r\n" + first + " ;c\r\n" + first + "bitmap_hide 7,x\r\n");
  EXPECT_EQ(
      nodes(),
      (NodeList{
          {"text_show"}, {"script_end"}, {"text_show"}, {"text_show"}, {"bitmap_hide", "7"}}));
  EXPECT_EQ(scriptLineNumber, 6);
}

TEST_F(CompilerTest, AZeroByteEndsTheLine) {
  compile(std::string("bitmap_hide 3\0 garbage\r\n", 24) + std::string("\0abc\r\n", 6) +
          std::string("text_show\0x\r\n", 13) + "next\r\n");
  EXPECT_EQ(nodes(), (NodeList{{"bitmap_hide", "3"}, {"text_show"}, {"next"}}));
  EXPECT_EQ(scriptLineNumber, 4);
  EXPECT_TRUE(boxTexts().empty());
}

TEST_F(CompilerTest, ALineOfAMillionBytesBecomesPiecesOf254) {
  std::string line(1000000, 'a');
  compile(line + "\r\nscript_end\r\n");
  auto list = nodes();
  ASSERT_EQ(list.size(), 3938u + 1u);
  for (size_t i = 0; i < 3937; ++i)
    ASSERT_EQ(list[i], std::vector<std::string>{std::string(254, 'a')});
  EXPECT_EQ(list[3937], std::vector<std::string>{"aa"});
  EXPECT_EQ(list[3938], std::vector<std::string>{"script_end"});
  EXPECT_EQ(scriptLineNumber, 3939);
}

TEST_F(CompilerTest, AHundredMegabytesOfBinaryDataCompile) {
  // Random bytes from a fixed generator: NUL bytes, invalid Shift-JIS, rare line ends.
  std::string bytes(100u << 20, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  compile(bytes, "binary.spt");
  EXPECT_EQ(scriptLineNumber, readCount(bytes));
  size_t count = 0;
  for (CommandNode* node = commandList; node; node = node->next) {
    ASSERT_GE(node->argCount, 1);
    ASSERT_LE(node->argCount, commandArgCapacity);
    ++count;
  }
  EXPECT_GT(count, 0u);
  EXPECT_LE(count, (size_t)scriptLineNumber);
  remove(scriptPath);
}

TEST_F(CompilerTest, AStopOfTheFrameThreadEndsCompilation) {
  frameStopRequested = true;
  compile("script_start\r\nscript_end\r\n");
  frameStopRequested = false;
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(scriptLineNumber, 0);
}
