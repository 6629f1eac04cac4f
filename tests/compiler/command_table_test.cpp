// The command table and the argument parsers, through compileScript on real files: every
// command's index, token count, checked arguments and the form of its stored name, and what
// compilation does after each kind of bad argument.
#include "compiler_fixture.h"

namespace {

// The 29 commands as script authors know them. checks: one letter per argument after the name,
// '-' taken as it is, 'N' a number, 'S' a slot (a number below 10). nameAsRead: a command alone on
// its line keeps the line's CR LF in its stored name.
const struct {
  const char* name;
  int tokens;
  const char* checks;
  bool nameAsRead;
} expectedCommands[] = {
    // clang-format off
    {"change_window_caption", 2, "-", true}, {"script_start", 1, "", false},
    {"script_end", 1, "", false}, {"bitmap_load", 3, "S-", true}, {"bitmap_delete", 2, "S", true},
    {"bitmap_show", 9, "S-------", true}, {"bitmap_hide", 2, "S", true}, {"se_load", 3, "S-", true},
    {"se_delete", 2, "S", true}, {"se_play", 3, "S-", true}, {"se_stop", 2, "S", true},
    {"bgm_load", 3, "N-", true}, {"bgm_delete", 2, "N", true}, {"bgm_play", 2, "N", true},
    {"bgm_stop", 2, "N", true}, {"text_show", 1, "", false}, {"text_clear", 1, "", false},
    {"menu", 3, "--", false}, {"msg_window_open", 3, "NN", false},
    {"msg_window_close", 2, "N", false}, {"if", 5, "--N-", false}, {"jmp", 2, "-", false},
    {"change_window_icon", 2, "-", false}, {"change_text_color", 2, "-", false},
    {"set_text_pos", 6, "NNNNN", false}, {"anim_play", 13, "NNNNNNNNNNNN", false},
    {"anim_stop", 3, "NN", false}, {"change_window_size", 5, "NNNN", false},
    {"anim_hide", 2, "N", false},
    // clang-format on
};
static_assert(sizeof expectedCommands / sizeof expectedCommands[0] == commandCount, "29 commands");

}  // namespace

TEST_F(CompilerTest, EachCommandHasItsIndexTokensAndChecks) {
  EXPECT_EQ(findCommand(""), -1);
  EXPECT_EQ(findCommand("script_end\r\n"), -1);
  EXPECT_EQ(commandArgumentChecks(commandCount), nullptr);
  char whole[] = "change_window_caption x\r\n", missing[] = "change_window_caption\r\n";
  char* args[2] = {};
  EXPECT_TRUE(parseTokens(whole, args, 2));
  EXPECT_FALSE(parseTokens(missing, args, 2));
  for (int index = 0; index < commandCount; ++index) {
    const auto& command = expectedCommands[index];
    SCOPED_TRACE(command.name);
    EXPECT_EQ(findCommand(command.name), index);
    EXPECT_STREQ(commandArgumentChecks(index),
                 command.tokens == 1 || index == 0 ? nullptr : command.checks);
    // "name 0 0 ... 0", with the argument at one position replaced.
    auto line = [&](int position, const char* value) {
      std::string text = command.name;
      for (int k = 1; k < command.tokens; ++k)
        text += std::string(" ") + (k == position ? value : "0");
      return text + "\r\n";
    };
    // Its token count, once as it is and once with extra tokens, which are ignored.
    std::string plain = line(0, "");
    compile(plain + plain.substr(0, plain.size() - 2) + " extra more\r\n");
    std::vector<std::string> zeros(command.tokens, "0");
    zeros[0] = command.name;
    EXPECT_EQ(nodes(), NodeList(2, zeros));
    EXPECT_TRUE(boxTexts().empty());

    for (int position = 1; position < command.tokens; ++position) {
      SCOPED_TRACE(position);
      char check = command.checks[position - 1];
      compile(line(position, "A"));
      EXPECT_EQ(boxTexts().size(), check == '-' ? 0u : 1u);
      EXPECT_EQ(nodes().size(), check == '-' ? 1u : 0u);
      // 10 is a number but no slot: refused without a message.
      compile(line(position, "10"));
      EXPECT_TRUE(boxTexts().empty());
      EXPECT_EQ(nodes().size(), check == 'S' ? 0u : 1u);
      EXPECT_EQ(closeCount(), 0);
    }

    // Alone on its line: a one-token command is whole and stored without the line end; any
    // other shows the missing argument with its name as stored. A missing caption drops only
    // its line; every other command closes the program and no further line is read.
    compile(std::string(";first\r\n") + command.name + "\r\ntext_show\r\n");
    std::string stored = std::string(command.name) + (command.nameAsRead ? "\r\n" : "");
    bool caption = index == 0, whole = command.tokens == 1;
    EXPECT_EQ(boxTexts(),
              whole ? std::vector<std::string>{}
                    : std::vector<std::string>{missingArgumentText(stored, 2, scriptPath)});
    EXPECT_EQ(nodes().size(), whole ? 2u : caption ? 1u : 0u);
    EXPECT_EQ(closeCount(), whole || caption ? 0 : 1);
    EXPECT_EQ(scriptLineNumber, whole || caption ? 3 : 2);
  }
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
      // Slots: any number of leading zeros; 10 and above refused silently, however large;
      // signs, letters, a tab and a full-width digit are no number.
      {"se_stop 07\r\nse_stop 00000000000000000009\r\nse_stop 9\r\nse_stop 10\r\n"
       "se_stop 99999999999999999999\r\nse_stop -1\r\nse_stop +1\r\nse_stop 1A\r\nse_stop \t1\r\n"
       "se_stop \x82\x4F\r\nse_stop /\r\nse_stop :\r\n",
       {{"se_stop", "07"}, {"se_stop", "00000000000000000009"}, {"se_stop", "9"}}, 7, nullptr, 0},
      // Arguments taken as they are accept any text.
      {cp932("menu はい いいえ\r\nif x y 1 $label\r\nif 1 1 A $label\r\nif 1 1 2\r\nafter\r\n"),
       {{"menu", cp932("はい"), cp932("いいえ")}, {"if", "x", "y", "1", "$label"}}, 1, "if", 4},
      {"set_text_pos 1 A 2 B 3\r\nscript_end\r\n", {{"script_end"}}, 2, nullptr, 0},
      {"script_start\r\nset_text_pos 1 A 2\r\nscript_end\r\n", {{"script_start"}}, 1,
       "set_text_pos", 2},
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

TEST_F(CompilerTest, TheMissingArgumentMessageIsComposedWholeForTheLongestPath) {
  // A script at a path of 255 bytes, the most scriptPath holds. The line number counts the
  // text, comment and blank lines before the failing one.
  std::string directory = tempDirectory();
  ASSERT_LT(directory.size(), 240u);
  std::string name = std::string(255 - directory.size() - 5, 'n') + ".spt";
  compile(std::string(250, 'x') + "\r\n" + cp932("; 表示ソフト\r\n") + "\r\nbitmap_show 0 0 0\r\n",
          name.c_str());
  ASSERT_EQ(strlen(scriptPath), 255u);
  EXPECT_EQ(boxTexts(),
            (std::vector<std::string>{missingArgumentText("bitmap_show", 4, scriptPath)}));
  EXPECT_EQ(nodes(), (NodeList{{std::string(250, 'x')}}));
  EXPECT_EQ(closeCount(), 1);
}
