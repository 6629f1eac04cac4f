// The script file reader through compileScript on real files: line ends, blank and comment
// lines, text and label lines, reads of at most 254 bytes, zero bytes, Shift-JIS trail bytes,
// and the limit of lines.
#include "compiler_fixture.h"

// Scripts that compile to the nodes given, with the count of lines read. A script that ends in a
// bare "bitmap_load" line must report its missing argument on the last line: every read counts.
TEST_F(CompilerTest, LinesBecomeNodes) {
  const std::string a252(252, 'a'), a253(253, 'a'), a254(254, 'a'), a255(255, 'a');
  const std::string piece = "text_show " + std::string(244, 'x');  // 254 bytes
  const std::string missing = "bitmap_load\r\n";
  const struct {
    const char* what;
    int lines;
    std::string script;
    NodeList expected;
    bool notNumeric = false;  // one "no number" message
  } cases[] = {
      // clang-format off
      {"blank and comment lines are skipped but counted", 10,
       cp932("\r\n  \r\n ,, \r\n;comment\r\n  ;comment, too\r\na;b\r\n\t;note\r\n　;note\r\n"
             "bitmap_hide 1 ;note\r\n") + missing,
       {{"a;b"}, {"\t;note"}, {cp932("　;note")}, {"bitmap_hide", "1"}}},
      {"an empty file", 0, "", {}},
      {"a line of only delimiters without a line end", 2, "script_start\r\n , ,",
       {{"script_start"}}},
      {"the last line needs no line end", 2, "bitmap_hide 3\r\nscript_end",
       {{"bitmap_hide", "3"}, {"script_end"}}},
      // The LF stays on each line's last token: the command alone is no command, the number is
      // no number, the empty line is a text line of an LF; after a trailing comma the LF is a
      // token of its own, which bitmap_hide never takes.
      {"lines ending in LF alone", 5, "script_end\nbitmap_hide 3\n\nhello\nbitmap_hide 3,\n",
       {{"script_end\n"}, {"\n"}, {"hello\n"}, {"bitmap_hide", "3"}}, true},
      {"lines ending in CR alone are one line", 1, "text one\rtext two\rscript_end\r",
       {{"text"}}},
      // A CR LF that is not the very end stays with the token, so 3\r is no number.
      {"CR before CR LF", 2, "bitmap_hide 3\r\r\nscript_end\r\n", {{"script_end"}}, true},
      // Text and label lines keep their first token; 表 and ソ end in 0x5C, a trail byte.
      {"text and labels", 6,
       cp932("こんにちは 世界\r\nこんにちは　世界、です\r\n$start\r\n表示ソフト\r\n表 ソ\r\nlast"),
       {{cp932("こんにちは")}, {cp932("こんにちは　世界、です")}, {"$start"},
        {"\x95\x5C\x8E\xA6\x83\x5C\x83t\x83g"}, {cp932("表")}, {"last"}}},
      {"arguments carry Shift-JIS unchanged", 3,
       cp932("bitmap_load 0 画像\\表.bmp\r\nchange_window_caption ソフト\r\nmenu はい ソ\r\n"),
       {{"bitmap_load", "0", cp932("画像\\表.bmp")}, {"change_window_caption", cp932("ソフト")},
        {"menu", cp932("はい"), cp932("ソ")}}},
      // Reads of at most 254 bytes: 252 and CR LF are one read; at 253 the CR stays and the LF
      // is a line of its own; at 254 the CR LF is a blank line, counted; at 255 the rest is text.
      {"252 bytes", 2, a252 + "\r\n" + missing, {{a252}}},
      {"253 bytes", 3, a253 + "\r\n" + missing, {{a253 + "\r"}, {"\n"}}},
      {"254 bytes", 3, a254 + "\r\n" + missing, {{a254}}},
      {"255 bytes", 3, a255 + "\r\n" + missing, {{a254}, {"a"}}},
      {"the piece after a long line is looked up like any line", 6,
       piece + "script_end\r\n" + piece + " ;c\r\n" + piece + "bitmap_hide 7,x\r\n",
       {{"text_show"}, {"script_end"}, {"text_show"}, {"text_show"}, {"bitmap_hide", "7"}}},
      {"a zero byte ends the line", 4,
       std::string("bitmap_hide 3\0 garbage\r\n\0abc\r\ntext_show\0x\r\nnext\r\n", 49),
       {{"bitmap_hide", "3"}, {"text_show"}, {"next"}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    compile(c.script);
    EXPECT_EQ(nodes(), c.expected);
    EXPECT_EQ(scriptLineNumber, c.lines);
    std::vector<std::string> boxes;
    if (c.notNumeric) boxes.push_back(notNumericText());
    if (c.script.size() > missing.size() &&
        c.script.compare(c.script.size() - missing.size(), missing.size(), missing) == 0)
      boxes.push_back(missingArgumentText(missing, c.lines, scriptPath));
    EXPECT_EQ(boxTexts(), boxes);
  }
}

// Beyond the line limit a script is refused whole, with a message, before it can take more (10 MB
// of one-character lines took over a gigabyte). A blank line counts, as every read does.
TEST_F(CompilerTest, AScriptOfMoreLinesThanTheLimitIsRefusedWithAMessage) {
  std::string longest;
  for (int i = 0; i < maxScriptLines; ++i) longest += "a\r\n";
  const struct {
    std::string script;
    size_t nodes;
  } cases[] = {
      {longest, (size_t)maxScriptLines},
      {longest + "\r\n", 0},
  };
  for (const auto& c : cases) {
    compile(c.script);
    size_t count = 0;
    for (CommandNode* node = commandList; node; node = node->next) ++count;
    EXPECT_EQ(count, c.nodes);
    std::vector<std::string> boxes;
    if (c.nodes == 0)
      boxes.push_back(cp932("スクリプトが長すぎます\n行数の上限：") + std::to_string(maxScriptLines) +
                      cp932("行\n作業中のファイル名：") + scriptPath);
    EXPECT_EQ(boxTexts(), boxes);
  }
}

// Nothing is read from a file that cannot be opened, nor once the frame thread is to stop.
TEST_F(CompilerTest, AMissingFileOrAStopOfTheFrameThreadGivesAnEmptyList) {
  for (std::string path : {tempDirectory() + "/no-such-script.spt", tempDirectory()}) {
    compileScript(path.c_str());
    EXPECT_EQ(commandList, nullptr);
    EXPECT_EQ(scriptLineNumber, 0);
  }
  frameStopRequested = true;
  compile("script_start\r\nscript_end\r\n");
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(scriptLineNumber, 0);
}
