// torvane-check: compiles a script with the player's own compiler and shows what the player
// would show. Each message box becomes one line "CAPTION: TEXT" on standard error; with --list
// the compiled command list goes to standard output, one node per line. Texts are CP932 inside
// the player and UTF-8 here, with escapes for bytes that would not read back:
//   \\ \t \r \n, and \xNN for any other byte below 0x20 or any byte that is not valid CP932.
// Exit status: 0 no message box, 1 at least one, 2 the script could not be opened.
// Linux only: it sees the message boxes through the headless window backend.
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "compiler/compiler.h"
#include "platform/linux/headless.h"
#include "shell/shell.h"

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

// A CP932 text as one line of UTF-8 that cannot be mistaken for another.
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

std::string escapedUtf8(const std::string& text) {
  return escapedUtf8(text.data(), text.size());
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
      line += escapedUtf8(node->args[i], strlen(node->args[i]));
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

int usage() {
  fprintf(stderr, "usage: torvane-check [--list] FILE.spt\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool list = false;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--list") == 0 && !list) {
      list = true;
    } else if (!file) {
      file = argv[i];
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
  FILE* script = openNamedFile(path.c_str(), "rb");
  if (!script) {
    fprintf(stderr, "torvane-check: %s: cannot open: %s\n", file, strerror(errno));
    return 2;
  }
  fclose(script);

  memcpy(scriptPath, path.c_str(), path.size() + 1);
  headlessSetMessageBoxHandler(printMessageBox);
  resetCommandList(commandList);
  compileScript(scriptPath);
  headlessSetMessageBoxHandler(nullptr);

  if (list) printList();
  fflush(stdout);
  freeCommandList(commandList);
  resetCommandList(commandList);
  iconv_close(fromCp932);
  return messageBoxCount > 0 ? 1 : 0;
}
