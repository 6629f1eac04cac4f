// Scripts through compileScript on real files: line ends, comments, text and labels, reads of at
// most 254 bytes, zero bytes, Shift-JIS trail bytes, delimiters, messages and the line limit.
#include "compiler_fixture.h"

// Scripts, the nodes they give, the reads made and the messages: each failing argument its own
// "no number" message, then a missing argument's, which closes the program: no further line is
// read. Every read counts, so a missing argument on the last line tells how many were made.
TEST_F(CompilerTest, ScriptsGiveTheirNodesAndMessages) {
  const std::string a252(252, 'a'), a253(253, 'a'), a254(254, 'a'), a255(255, 'a');
  const std::string piece = "text_show " + std::string(244, 'x');  // 254 bytes
  const char* const load = "bitmap_load\r\n";
  const struct {
    int lines;
    std::string script;
    NodeList expected;
    int notNumeric;
    const char* missing;  // the command, as stored, whose argument is missing on the last line
  } cases[] = {
      // clang-format off
      {10, cp932("\r\n  \r\n ,, \r\n;comment\r\n  ;comment, too\r\na;b\r\n\t;note\r\n　;note\r\n"
                 "bitmap_hide 1 ;note\r\n") + load,
       {{"a;b"}, {"\t;note"}, {cp932("　;note")}, {"bitmap_hide", "1"}}, 0, load},
      {0, "", {}, 0, nullptr},
      // The LF stays on each line's last token: the command alone is no command, the number no
      // number, the empty line a text line of an LF; after a trailing comma the LF is a token.
      {5, "script_end\nbitmap_hide 3\n\nhello\nbitmap_hide 3,\n",
       {{"script_end\n"}, {"\n"}, {"hello\n"}, {"bitmap_hide", "3"}}, 1, nullptr},
      {1, "text one\rtext two\rscript_end\r", {{"text"}}, 0, nullptr},  // CR alone ends no line
      {2, "bitmap_hide 3\r\r\nscript_end\r\n", {{"script_end"}}, 1, nullptr},  // 3\r: no number
      // Text and label lines keep their first token; 表 and ソ end in 0x5C, a trail byte.
      {6, cp932("こんにちは 世界\r\nこんにちは　世界、です\r\n$start\r\n表示ソフト\r\n"
                "表 ソ\r\nlast"),
       {{cp932("こんにちは")}, {cp932("こんにちは　世界、です")}, {"$start"},
        {"\x95\x5C\x8E\xA6\x83\x5C\x83t\x83g"}, {cp932("表")}, {"last"}}, 0, nullptr},
      {3, cp932("bitmap_load 0 画像\\表.bmp\r\nchange_window_caption ソフト\r\nmenu はい ソ\r\n"),
       {{"bitmap_load", "0", cp932("画像\\表.bmp")}, {"change_window_caption", cp932("ソフト")},
        {"menu", cp932("はい"), cp932("ソ")}}, 0, nullptr},
      // Reads of at most 254 bytes: 252 and CR LF are one read; at 253 the CR stays and the LF
      // is a line of its own; at 254 the CR LF is a blank line, counted; at 255 the rest is text.
      {2, a252 + "\r\n" + load, {{a252}}, 0, load},
      {3, a253 + "\r\n" + load, {{a253 + "\r"}, {"\n"}}, 0, load},
      {3, a254 + "\r\n" + load, {{a254}}, 0, load},
      {3, a255 + "\r\n" + load, {{a254}, {"a"}}, 0, load},
      // The piece after a long line is looked up like any line.
      {6, piece + "script_end\r\n" + piece + " ;c\r\n" + piece + "bitmap_hide 7,x\r\n",
       {{"text_show"}, {"script_end"}, {"text_show"}, {"text_show"}, {"bitmap_hide", "7"}}, 0,
       nullptr},
      {4, std::string("bitmap_hide 3\0 garbage\r\n\0abc\r\ntext_show\0x\r\nnext\r\n", 49),
       {{"bitmap_hide", "3"}, {"text_show"}, {"next"}}, 0, nullptr},  // a zero ends the line
      // Commas and spaces mix freely; a delimiter before the CR LF leaves it as a token.
      {6, "bitmap_hide, 3\r\n ,,bitmap_hide ,, 3 ,\r\nbitmap_hide 3 ;note\r\nbitmap_hide,\r\n"
          "bitmap_hide \r\nanim_hide 12\r\n",
       {{"bitmap_hide", "3"}, {"bitmap_hide", "3"}, {"bitmap_hide", "3"}, {"bitmap_hide", ""},
        {"bitmap_hide", ""}, {"anim_hide", "12"}}, 0, nullptr},
      // A command name is never text, and text never a command.
      {5, "script_end extra\r\nScript_end\r\nbitmap_hide\t3\r\n\tbitmap_hide 3\r\n$label\r\n",
       {{"script_end"}, {"Script_end"}, {"bitmap_hide\t3"}, {"\tbitmap_hide"}, {"$label"}}, 0,
       nullptr},
      // Slots: any number of leading zeros; 10 and above refused silently, however large;
      // signs, letters, a tab and a full-width digit are no number.
      {12, "se_stop 07\r\nse_stop 00000000000000000009\r\nse_stop 9\r\nse_stop 10\r\n"
           "se_stop 99999999999999999999\r\nse_stop -1\r\nse_stop +1\r\nse_stop 1A\r\n"
           "se_stop \t1\r\nse_stop \x82\x4F\r\nse_stop /\r\nse_stop :\r\n",
       {{"se_stop", "07"}, {"se_stop", "00000000000000000009"}, {"se_stop", "9"}}, 7, nullptr},
      {3, "script_start\r\nset_text_pos 1 A 2 B 3\r\nset_text_pos 1 A 2\r\nscript_end\r\n",
       {{"script_start"}}, 3, "set_text_pos"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 60));
    compile(c.script);
    EXPECT_EQ(nodes(), c.expected);
    EXPECT_EQ(scriptLineNumber, c.lines);
    EXPECT_EQ(boxes(), errorBoxes(c.notNumeric, c.missing ? c.missing : "", c.lines));
    EXPECT_EQ(closeCount(), c.missing ? 1 : 0);
  }
}

// Nothing is read from a file that cannot be opened, nor once the frame thread is to stop. The
// missing-argument message is composed whole for a path of 255 bytes, the most scriptPath holds.
// Beyond the line limit (every read counts) a script is refused whole, with a message.
TEST_F(CompilerTest, FilesThatGiveNothingTheLongestPathAndTheLineLimit) {
  for (std::string path : {tempDirectory() + "/no-such-script.spt", tempDirectory()}) {
    compileScript(path.c_str());
    EXPECT_TRUE(commandList == nullptr && scriptLineNumber == 0);
  }
  frameStopRequested = true;
  compile("script_start\r\nscript_end\r\n");
  EXPECT_TRUE(commandList == nullptr && scriptLineNumber == 0);
  frameStopRequested = false;
  std::string directory = tempDirectory();
  ASSERT_LT(directory.size(), 240u);
  std::string name = std::string(255 - directory.size() - 5, 'n') + ".spt";
  compile(std::string(250, 'x') + "\r\nbitmap_show 0 0 0\r\n", name.c_str());
  ASSERT_EQ(strlen(scriptPath), 255u);
  EXPECT_EQ(boxes(), errorBoxes(0, "bitmap_show", 2));
  std::string longest;
  for (int i = 0; i < maxScriptLines; ++i) longest += "a\r\n";
  compile(longest);
  EXPECT_EQ(nodes().size(), (size_t)maxScriptLines);
  EXPECT_TRUE(boxes().empty());
  compile(longest + "\r\n");
  EXPECT_EQ(commandList, nullptr);
  EXPECT_EQ(boxes(), std::vector<std::string>{cp932("エラー:スクリプトが長すぎます\n行数の上限：") +
                                              std::to_string(maxScriptLines) +
                                              cp932("行\n作業中のファイル名：") + scriptPath});
}
