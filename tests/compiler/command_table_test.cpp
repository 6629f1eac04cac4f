// The command table through compileScript on real files: every command's index, token count,
// checked arguments and the form of its stored name, and what each kind of bad argument does;
// and the system's own texts, each the CP932 form of the UTF-8 spelling beside it.
#include "compiler_fixture.h"
#include "resources/texts.h"

namespace {

// The 29 commands. checks: one letter per argument, '-' taken as it is, 'N' a number, 'S' a slot
// (a number below 10). nameAsRead: alone on its line, its stored name keeps the line's CR LF.
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
  EXPECT_EQ(findCommand("script_end\r\n"), -1);
  EXPECT_EQ(commandArgumentChecks(commandCount), nullptr);
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
    EXPECT_TRUE(boxes().empty());
    for (int position = 1; position < command.tokens; ++position) {
      SCOPED_TRACE(position);
      char check = command.checks[position - 1];
      compile(line(position, "A"));  // no number: the line dropped with a message
      EXPECT_EQ(boxes().size(), check == '-' ? 0u : 1u);
      EXPECT_EQ(nodes().size(), check == '-' ? 1u : 0u);
      compile(line(position, "10"));  // a number but no slot: the line dropped silently
      EXPECT_TRUE(boxes().empty());
      EXPECT_EQ(nodes().size(), check == 'S' ? 0u : 1u);
      EXPECT_EQ(closeCount(), 0);
    }
    // Alone on its line: a one-token command is whole; any other shows the missing argument with
    // its name as stored; a missing caption drops its line, any other closes the program.
    compile(std::string(";first\r\n") + command.name + "\r\ntext_show\r\n");
    std::string stored = std::string(command.name) + (command.nameAsRead ? "\r\n" : "");
    bool caption = index == 0, whole = command.tokens == 1;
    EXPECT_EQ(boxes(), errorBoxes(0, whole ? "" : stored, 2));
    EXPECT_EQ(nodes().size(), whole ? 2u : caption ? 1u : 0u);
    EXPECT_EQ(closeCount(), whole || caption ? 0 : 1);
    EXPECT_EQ(scriptLineNumber, whole || caption ? 3 : 2);
  }
}

// A text may hold zeros of its own (the Open dialog's filter pairs): compared piece by piece.
TEST(SystemTexts, EachTextIsTheCp932FormOfItsUtf8Spelling) {
  ASSERT_GT(systemTextCount, 0);
  for (int i = 0; i < systemTextCount; ++i) {
    const SystemText& entry = systemTexts[i];
    SCOPED_TRACE(entry.name);
    ASSERT_EQ(entry.bytes[entry.length], '\0');
    const char* utf8 = entry.utf8;
    for (const char* piece = entry.bytes; piece <= entry.bytes + entry.length;
         piece += strlen(piece) + 1, utf8 += strlen(utf8) + 1) {
      EXPECT_EQ(piece, cp932(utf8));
      EXPECT_EQ(utf8FromCp932(piece), utf8);
    }
  }
}
