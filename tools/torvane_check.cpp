// torvane-check: compiles a script with the player's own compiler and shows what the player
// would show. Each message box becomes one line "CAPTION: TEXT" on standard error; with --list
// the compiled command list goes to standard output, one node per line. Texts are CP932 inside
// the player and UTF-8 here, with escapes for bytes that would not read back:
//   \\ \t \r \n, and \xNN for any other byte below 0x20 or any byte that is not valid CP932.
// After the messages come the warnings of script_lint.cpp, "FILE:LINE: warning: TEXT [kind]".
// Exit status: 0 no message box, 1 at least one (or a warning under --werror), 2 the script
// could not be opened or the command line is wrong.
// Linux only: it sees the message boxes through the headless window backend.
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "compiler/compiler.h"
#include "platform/linux/headless.h"
#include "platform/linux/layer.h"
#include "shell/shell.h"
#include "tools/script_lint.h"

namespace {

iconv_t fromCp932 = (iconv_t)-1;
int messageBoxCount = 0;

// UTF-8 of one CP932 character of length bytes, or false when it is none.
bool convertCharacter(const char* bytes, size_t length, std::string* out) {
  char buffer[8];
  char* in = const_cast<char*>(bytes);
  size_t inLeft = length;
  char* outPointer = buffer;
  size_t outLeft = sizeof buffer;
  iconv(fromCp932, nullptr, nullptr, nullptr, nullptr);
  if (iconv(fromCp932, &in, &inLeft, &outPointer, &outLeft) == (size_t)-1 || inLeft != 0)
    return false;
  out->append(buffer, outPointer - buffer);
  return true;
}

bool isLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(unsigned char b) {
  return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// The escapes that have a name; null for every other byte.
const char* namedEscape(unsigned char b) {
  switch (b) {
    case '\\':
      return "\\\\";
    case '\t':
      return "\\t";
    case '\r':
      return "\\r";
    case '\n':
      return "\\n";
    default:
      return nullptr;
  }
}

void appendHexEscape(unsigned char b, std::string* out) {
  char escape[5];
  snprintf(escape, sizeof escape, "\\x%02X", b);
  out->append(escape);
}

}  // namespace

std::string escapedUtf8(const char* text, size_t length) {
  std::string out;
  size_t i = 0;
  while (i < length) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (const char* escape = namedEscape(b)) {
      out += escape;
      ++i;
    } else if (b < 0x20) {
      appendHexEscape(b, &out);
      ++i;
    } else if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
    } else if (isLeadByte(b)) {
      // A lead byte and a byte that can trail it are one character, or two escaped bytes when
      // the pair is unassigned; a trail byte of 0x5C is part of its character, never a backslash.
      // Before any other byte the lead byte stands alone, and the next byte is read afresh.
      if (i + 1 < length && isTrailByte(static_cast<unsigned char>(text[i + 1]))) {
        if (!convertCharacter(text + i, 2, &out)) {
          appendHexEscape(b, &out);
          appendHexEscape(static_cast<unsigned char>(text[i + 1]), &out);
        }
        i += 2;
      } else {
        appendHexEscape(b, &out);
        ++i;
      }
    } else {
      if (!convertCharacter(text + i, 1, &out)) appendHexEscape(b, &out);  // half-width katakana
      ++i;
    }
  }
  return out;
}

namespace {

std::string escapedUtf8(const std::string& text) {
  return ::escapedUtf8(text.data(), text.size());
}

void printMessageBox(const HeadlessMessageBox& box) {
  ++messageBoxCount;
  fprintf(stderr, "%s: %s\n", escapedUtf8(box.caption).c_str(), escapedUtf8(box.text).c_str());
  fflush(stderr);
}

void printList() {
  for (CommandNode* node = commandList; node; node = node->next) {
    std::string line = std::to_string(node->argCount);
    for (int i = 0; i < node->argCount; ++i) {
      line += '\t';
      line += ::escapedUtf8(node->args[i], strlen(node->args[i]));
    }
    printf("%s\n", line.c_str());
  }
}

// The command line's path (UTF-8, as the terminal gives it) in the CP932 the player keeps.
bool cp932Path(const char* utf8, std::string* out) {
  iconv_t toCp932 = iconv_open("CP932", "UTF-8");
  if (toCp932 == (iconv_t)-1) return false;
  size_t length = strlen(utf8);
  std::string buffer(length * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8);
  size_t inLeft = length;
  char* outPointer = &buffer[0];
  size_t outLeft = buffer.size();
  bool converted = iconv(toCp932, &in, &inLeft, &outPointer, &outLeft) != (size_t)-1 && inLeft == 0;
  iconv_close(toCp932);
  if (!converted) return false;
  out->assign(&buffer[0], outPointer - &buffer[0]);
  return true;
}

const char* const usageText =
    "usage: torvane-check [--list] [--werror] [--no-warn=KIND]... [--base DIR] FILE.spt\n";

int usage() {
  fputs(usageText, stderr);
  return 2;
}

int help() {
  printf("%s", usageText);
  printf("Compiles a script as the player does. Its messages go to standard error as\n"
         "CAPTION: TEXT, then warnings as FILE:LINE: warning: TEXT [KIND].\n"
         "  --list          print the compiled commands on standard output\n"
         "  --werror        exit 1 when there is a warning\n"
         "  --no-warn=KIND  leave out one kind of warning (all: every kind); kinds:\n"
         "                 ");
  for (int kind = 0; kind < warningKindCount; ++kind) printf(" %s", warningNames[kind]);
  printf("\n"
         "  --base DIR      the folder the script's file names are relative to (default:\n"
         "                  the script's folder)\n"
         "Exit status: 0 no message, 1 a message (or a warning with --werror), 2 the script\n"
         "cannot be opened.\n");
  return 0;
}

// The whole script file, as the reader will read it.
bool readWhole(const char* path, std::string* bytes) {
  FILE* file = openNamedFile(path, "rb");
  if (!file) return false;
  char chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, got);
  fclose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool list = false;
  bool werror = false;
  bool warn[warningKindCount];
  for (bool& on : warn) on = true;
  const char* base = nullptr;
  const char* file = nullptr;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (options && strcmp(argument, "--") == 0) {
      options = false;
    } else if (options && strcmp(argument, "--help") == 0) {
      return help();
    } else if (options && strcmp(argument, "--version") == 0) {
      printf("torvane-check %s\n", TORVANE_VERSION);
      return 0;
    } else if (options && strcmp(argument, "--list") == 0 && !list) {
      list = true;
    } else if (options && strcmp(argument, "--werror") == 0) {
      werror = true;
    } else if (options && strncmp(argument, "--no-warn=", 10) == 0) {
      const char* name = argument + 10;
      int kind = findWarningKind(name);
      if (strcmp(name, "all") == 0) {
        for (bool& on : warn) on = false;
      } else if (kind >= 0) {
        warn[kind] = false;
      } else {
        fprintf(stderr, "torvane-check: no warning is called %s\n", name);
        return usage();
      }
    } else if (options && strcmp(argument, "--base") == 0 && i + 1 < argc && !base) {
      base = argv[++i];
    } else if (!file) {
      file = argument;
    } else {
      return usage();
    }
  }
  if (!file) return usage();

  fromCp932 = iconv_open("UTF-8", "CP932");
  if (fromCp932 == (iconv_t)-1) {
    fprintf(stderr, "torvane-check: this system cannot convert CP932 text\n");
    return 2;
  }

  std::string path;
  if (!cp932Path(file, &path) || path.size() >= sizeof scriptPath) {
    fprintf(stderr, "torvane-check: %s: the player cannot open a script by this name\n", file);
    return 2;
  }
  std::string bytes;
  if (!readWhole(path.c_str(), &bytes)) {
    fprintf(stderr, "torvane-check: %s: cannot open: %s\n", file, strerror(errno));
    return 2;
  }
  // The story's files are looked for where the script is, unless told otherwise; the folder
  // becomes current once the script is compiled, as the player's names are relative to it.
  std::string folder = base ? base : nativePath(path.c_str());
  if (!base) {
    size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
  }
  if (access(folder.c_str(), X_OK) != 0) {
    fprintf(stderr, "torvane-check: %s: cannot use this folder: %s\n", folder.c_str(),
            strerror(errno));
    return 2;
  }

  memcpy(scriptPath, path.c_str(), path.size() + 1);
  headlessSetMessageBoxHandler(printMessageBox);
  resetCommandList(commandList);
  bool linting = false;
  for (bool on : warn) linting |= on;
  if (linting) beginNodeNotes();
  compileScript(scriptPath);
  if (linting) endNodeNotes();
  headlessSetMessageBoxHandler(nullptr);

  if (list) printList();
  fflush(stdout);
  if (chdir(folder.c_str()) != 0) {
    fprintf(stderr, "torvane-check: %s: cannot use this folder: %s\n", folder.c_str(),
            strerror(errno));
    return 2;
  }

  int warnings = 0;
  std::vector<ScriptWarning> found;
  if (linting) found = lintScript(bytes, scriptLineNumber);
  for (const ScriptWarning& warning : found) {
    if (!warn[warning.kind]) continue;
    ++warnings;
    fprintf(stderr, "%s:%d: warning: %s [%s]\n", file, warning.line, warning.text.c_str(),
            warningNames[warning.kind]);
  }
  fflush(stderr);

  freeCommandList(commandList);
  resetCommandList(commandList);
  iconv_close(fromCp932);
  return messageBoxCount > 0 || (werror && warnings > 0) ? 1 : 0;
}
