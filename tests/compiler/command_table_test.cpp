// The command table and the argument parsers, through compileScript on real files: every
// command's index, token count, checked arguments and the form of its stored name, and what
// compilation does after each kind of bad argument.
#include "compiler_fixture.h"

namespace {

// The 29 commands as script authors know them. checks: one letter per argument after the name,
// '-' taken as it is, 'N' a number, 'S' a slot (a number below 10). nameAsRead: a command alone on
// its line keeps the line's CR LF in its stored name.
struct ExpectedCommand {
  const char* name;
  int tokens;
  const char* checks;
  bool nameAsRead;
};

const ExpectedCommand expectedCommands[] = {
    {"change_window_caption", 2, "-", true},
    {"script_start", 1, "", false},
    {"script_end", 1, "", false},
    {"bitmap_load", 3, "S-", true},
    {"bitmap_delete", 2, "S", true},
    {"bitmap_show", 9, "S-------", true},
    {"bitmap_hide", 2, "S", true},
    {"se_load", 3, "S-", true},
    {"se_delete", 2, "S", true},
    {"se_play", 3, "S-", true},
    {"se_stop", 2, "S", true},
    {"bgm_load", 3, "N-", true},
    {"bgm_delete", 2, "N", true},
    {"bgm_play", 2, "N", true},
    {"bgm_stop", 2, "N", true},
    {"text_show", 1, "", false},
    {"text_clear", 1, "", false},
    {"menu", 3, "--", false},
    {"msg_window_open", 3, "NN", false},
    {"msg_window_close", 2, "N", false},
    {"if", 5, "--N-", false},
    {"jmp", 2, "-", false},
    {"change_window_icon", 2, "-", false},
    {"change_text_color", 2, "-", false},
    {"set_text_pos", 6, "NNNNN", false},
    {"anim_play", 13, "NNNNNNNNNNNN", false},
    {"anim_stop", 3, "NN", false},
    {"change_window_size", 5, "NNNN", false},
    {"anim_hide", 2, "N", false},
};
constexpr int expectedCount = sizeof(expectedCommands) / sizeof(expectedCommands[0]);

// "name 0 0 ... 0" with the argument at position replaced by value (positions from 1).
std::string commandLine(const ExpectedCommand& command, int position = 0, const char* value = "") {
  std::string line = command.name;
  for (int k = 1; k < command.tokens; ++k) line += std::string(" ") + (k == position ? value : "0");
  return line + "\r\n";
}

}  // namespace

TEST_F(CompilerTest, FindCommandKnowsTheTwentyNineNamesInIndexOrder) {
  ASSERT_EQ(expectedCount, commandCount);
  for (int index = 0; index < expectedCount; ++index) {
    EXPECT_EQ(findCommand(expectedCommands[index].name), index) << expectedCommands[index].name;
    EXPECT_STREQ(commandNames[index], expectedCommands[index].name);
  }
  EXPECT_EQ(findCommand("Script_end"), -1);
  EXPECT_EQ(findCommand("script_end\r\n"), -1);
  EXPECT_EQ(findCommand("bitmap"), -1);
  EXPECT_EQ(findCommand("bitmap_loadx"), -1);
  EXPECT_EQ(findCommand(""), -1);
}

TEST_F(CompilerTest, EachCommandTakesItsTokensAndChecksExactlyItsMarkedArguments) {
  for (const ExpectedCommand& command : expectedCommands) {
    SCOPED_TRACE(command.name);
    // Its token count, once as it is and once with extra tokens, which are ignored.
    std::string line = commandLine(command);
    compile(line + line.substr(0, line.size() - 2) + " extra more\r\n");
    std::vector<std::string> zeros(command.tokens, "0");
    zeros[0] = command.name;
    EXPECT_EQ(nodes(), NodeList(2, zeros));
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_EQ(commandList->window, window);

    for (int position = 1; position < command.tokens; ++position) {
      SCOPED_TRACE(std::string(command.name) + " argument " + std::to_string(position));
      char check = command.checks[position - 1];

      compile(commandLine(command, position, "A"));
      if (check == '-') {
        EXPECT_TRUE(boxTexts().empty());
        ASSERT_EQ(nodes().size(), 1u);
        EXPECT_EQ(nodes()[0][position], "A");
      } else {
        EXPECT_EQ(boxTexts(), std::vector<std::string>{notNumericText()});
        EXPECT_TRUE(nodes().empty());
      }

      // 10 is a number but no slot: refused without a message.
      compile(commandLine(command, position, "10"));
      EXPECT_TRUE(boxTexts().empty());
      EXPECT_EQ(nodes().size(), check == 'S' ? 0u : 1u);
      EXPECT_EQ(closeCount(), 0);
    }
  }
}

TEST_F(CompilerTest, AStoredNameKeepsTheLineEndOnlyWhereTheCommandSaysSo) {
  for (const ExpectedCommand& command : expectedCommands) {
    SCOPED_TRACE(command.name);
    compile(std::string(";first\r\n") + command.name + "\r\ntext_show\r\n");
    if (command.tokens == 1) {
      // Alone on its line, a one-token command is whole and stored without the line end.
      EXPECT_EQ(nodes(), (NodeList{{command.name}, {"text_show"}}));
      EXPECT_TRUE(boxTexts().empty());
      continue;
    }
    std::string stored = std::string(command.name) + (command.nameAsRead ? "\r\n" : "");
    EXPECT_EQ(boxTexts(), std::vector<std::string>{missingArgumentText(stored, 2, scriptPath)});
    if (findCommand(command.name) == 0) {
      // A missing caption drops only its line.
      EXPECT_EQ(nodes(), (NodeList{{"text_show"}}));
      EXPECT_EQ(closeCount(), 0);
      EXPECT_EQ(scriptLineNumber, 3);
    } else {
      // Every other command closes the program, and no further line is read.
      EXPECT_TRUE(nodes().empty());
      EXPECT_EQ(closeCount(), 1);
      EXPECT_EQ(scriptLineNumber, 2);
    }
  }
}

TEST_F(CompilerTest, SlotArgumentsAtTheirBoundaries) {
  struct Case {
    const char* slot;
    bool accepted;
    bool message;
  };
  const Case cases[] = {
      // clang-format off
      {"0", true, false}, {"9", true, false}, {"07", true, false},
      {"00000000000000000009", true, false},  // any number of leading zeros
      {"10", false, false},
      {"99999999999999999999", false, false},  // far above 10, no overflow
      {"-1", false, true}, {"+1", false, true}, {"A", false, true}, {"1A", false, true},
      {"\t1", false, true},       // a tab is no delimiter
      {"\x82\x4F", false, true},  // a full-width digit
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    compile(std::string("bitmap_load ") + c.slot + " a.bmp\r\nscript_end\r\n");
    NodeList expected;
    if (c.accepted) expected.push_back({"bitmap_load", c.slot, "a.bmp"});
    expected.push_back({"script_end"});
    EXPECT_EQ(nodes(), expected);
    EXPECT_EQ(boxTexts().size(), c.message ? 1u : 0u);
    EXPECT_EQ(closeCount(), 0);
  }
}

TEST_F(CompilerTest, AMissingArgumentClosesTheWindowOnceAndReadsNoFurtherLine) {
  compile("script_start\r\nbitmap_load 0\r\nbitmap_load 1 b.bmp\r\nbitmap_load\r\n");
  EXPECT_EQ(nodes(), (NodeList{{"script_start"}}));
  EXPECT_EQ(boxTexts(),
            (std::vector<std::string>{missingArgumentText("bitmap_load", 2, scriptPath)}));
  ASSERT_EQ(closeCount(), 1);
  for (const RecordedMessage& message : recordedMessages()) {
    if (message.message != WM_CLOSE) continue;
    EXPECT_EQ(message.window, window);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
  }
  EXPECT_EQ(scriptLineNumber, 2);
  // The file was closed: a file still open could not be removed on Windows.
  EXPECT_EQ(remove(scriptPath), 0);
}

TEST_F(CompilerTest, TheMissingArgumentMessageIsComposedWholeForTheLongestPath) {
  // A real script at a path of 255 bytes, the most scriptPath holds. The line number counts the
  // text, comment and blank lines before the failing one.
  std::string directory = tempDirectory();
  size_t nameLength = 255 - directory.size() - 1;
  ASSERT_GT(nameLength, 4u);
  std::string name(nameLength - 4, 'n');
  name += ".spt";
  std::string path = writeTempFile(name.c_str(), "");
  ASSERT_EQ(path.size(), 255u);

  std::string script =
      std::string(250, 'x') + "\r\n" + cp932("; 表示ソフト\r\n") + "\r\nbitmap_show 0 0 0\r\n";
  compile(script, name.c_str());
  ASSERT_EQ(std::string(scriptPath), path);
  EXPECT_EQ(boxTexts(), (std::vector<std::string>{missingArgumentText("bitmap_show", 4, path)}));
  EXPECT_EQ(nodes(), (NodeList{{std::string(250, 'x')}}));
  EXPECT_EQ(closeCount(), 1);
}

// Scripts, the nodes they give and the messages they show: each failing argument its own "no
// number" message, then a missing argument's message, after which the program closes and no
// further line is read.
TEST_F(CompilerTest, TokensArgumentsAndTheirMessages) {
  const struct {
    std::string script;
    NodeList expected;
    int notNumeric;           // how many "no number" messages
    const char* missingName;  // the command whose argument is missing, or null
    int missingLine;
  } cases[] = {
      // clang-format off
      // Commas and spaces mix freely as delimiters.
      {"bitmap_hide 3\r\nbitmap_hide, 3\r\n ,,bitmap_hide ,, 3 ,\r\nbitmap_hide 3 ;note\r\n",
       NodeList(4, {"bitmap_hide", "3"}), 0, nullptr, 0},
      // A delimiter right before the CR LF leaves the bare CR LF as the last token: zero.
      {"bitmap_hide,\r\nbitmap_hide \r\nanim_hide 12\r\n",
       {{"bitmap_hide", ""}, {"bitmap_hide", ""}, {"anim_hide", "12"}}, 0, nullptr, 0},
      // A command name is never text, and text never a command.
      {"script_end extra\r\nScript_end\r\nbitmap_hide\t3\r\n\tbitmap_hide 3\r\n$label\r\n",
       {{"script_end"}, {"Script_end"}, {"bitmap_hide\t3"}, {"\tbitmap_hide"}, {"$label"}}, 0,
       nullptr, 0},
      // Arguments taken as they are accept any text.
      {cp932("menu はい いいえ\r\nif x y 1 $label\r\nif 1 1 A $label\r\nif 1 1 2\r\nafter\r\n"),
       {{"menu", cp932("はい"), cp932("いいえ")}, {"if", "x", "y", "1", "$label"}}, 1, "if", 4},
      {"set_text_pos 1 A 2 B 3\r\nscript_end\r\n", {{"script_end"}}, 2, nullptr, 0},
      {"set_text_pos 1 A 2\r\nscript_end\r\n", {}, 1, "set_text_pos", 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    compile(c.script);
    EXPECT_EQ(nodes(), c.expected);
    std::vector<std::string> boxes(c.notNumeric, notNumericText());
    if (c.missingName) {
      boxes.push_back(missingArgumentText(c.missingName, c.missingLine, scriptPath));
      EXPECT_EQ(scriptLineNumber, c.missingLine);
    }
    EXPECT_EQ(boxTexts(), boxes);
    EXPECT_EQ(closeCount(), c.missingName ? 1 : 0);
  }
}
