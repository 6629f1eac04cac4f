// torvane-check's warnings about a compiled script. The player passes these mistakes over in
// silence, so each check follows what the player really does with the line: the compiled
// command list is the truth, and the script's bytes are split into reads exactly as the
// reader's fgets of 254 bytes splits them. State: the read that allocated each block of the
// compiler, noted between beginNodeNotes and endNodeNotes.
// Deps: the compiler, openNamedFile, LoadImageA, the sound service's WAV decoding.
#include "tools/script_lint.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "compiler/compiler.h"
#include "platform/linux/sound_control.h"
#include "platform/windows_api.h"

const char* const warningNames[warningKindCount] = {
    "missing-label",    // a jmp or if to a label no line defines
    "duplicate-label",  // a label defined again
    "slot-range",       // a slot of 10 or more drops the line
    "unknown-command",  // a misspelt command becomes a message
    "long-line",        // a line longer than one read is cut
    "missing-file",     // a named file is not there
    "bad-file",         // a named file the player cannot load or play
    "unreachable",      // lines after jmp or script_end that nothing jumps to
    "missing-end",      // a path that runs off the end without script_end
    "line-ends",        // LF without CR
    "encoding",         // UTF-8, UTF-16 or a byte-order mark
    "not-a-number",     // where the player's bare message came from
};
static_assert(sizeof(warningNames) / sizeof(warningNames[0]) == warningKindCount,
              "one name per kind");

int findWarningKind(const char* name) {
  for (int kind = 0; kind < warningKindCount; ++kind) {
    if (strcmp(name, warningNames[kind]) == 0) return kind;
  }
  return -1;
}

namespace {

constexpr size_t readSize = scriptLineBufferSize - 1;  // bytes one fgets of the reader takes
constexpr int commandIndexScriptEnd = 2;
constexpr int commandIndexBitmapLoad = 3;
constexpr int commandIndexSeLoad = 7;
constexpr int commandIndexBgmLoad = 11;
constexpr int commandIndexWindowIcon = 22;

// The blocks of a node's size the compiler allocated, with the read (scriptLineNumber) each
// came in, in allocation order. A node is never freed while compiling, so the last note for its
// address is its own; a string of the same size only adds a note that a node may outdate.
std::vector<std::pair<const void*, int>> nodeSizedBlocks;
void* (*previousAllocate)(size_t) = nullptr;

void* notingAllocate(size_t size) {
  void* block = malloc(size);
  if (block && size == sizeof(CommandNode)) nodeSizedBlocks.push_back({block, scriptLineNumber});
  return block;
}

// One read of the reader: where it starts in the file, its length, its line in an editor.
struct ScriptRead {
  size_t start;
  size_t length;
  int line;
};

std::vector<ScriptRead> splitReads(const std::string& bytes) {
  std::vector<ScriptRead> reads;
  int line = 1;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = start;
    while (end < bytes.size() && end - start < readSize) {
      if (bytes[end++] == '\n') break;
    }
    reads.push_back({start, end - start, line});
    if (bytes[end - 1] == '\n') ++line;
    start = end;
  }
  return reads;
}

std::string quoted(const char* text) {
  return "`" + escapedUtf8(text, strlen(text)) + "`";
}

void add(std::vector<ScriptWarning>* out, int line, WarningKind kind, const std::string& text) {
  out->push_back({line, kind, text});
}

// ---- The script's bytes: encoding, line ends, long lines.

bool isUtf8(const std::string& bytes, size_t from, bool* multibyte) {
  *multibyte = false;
  size_t i = from;
  while (i < bytes.size()) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    int more = b < 0x80                   ? 0
               : (b >= 0xC2 && b <= 0xDF) ? 1
               : (b >= 0xE0 && b <= 0xEF) ? 2
               : (b >= 0xF0 && b <= 0xF4) ? 3
                                          : -1;
    if (more < 0 || i + more >= bytes.size()) return false;
    for (int k = 1; k <= more; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    if (more > 0) *multibyte = true;
    i += more + 1;
  }
  return true;
}

// The encoding warning, if any; true when the script is UTF-16, which nothing else can be
// said about.
bool checkEncoding(const std::string& bytes, std::vector<ScriptWarning>* out) {
  const char* const saveAs = "; save it as Shift-JIS (CP932) without a byte-order mark";
  bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                     (bytes[0] == '\xFE' && bytes[1] == '\xFF') ||
                                     (bytes[0] == '\0') != (bytes[1] == '\0'));
  if (utf16) {
    add(out, 1, warningEncoding,
        std::string("the script is saved in UTF-16: the player reads it as Shift-JIS and stops "
                    "each line at its first zero byte") +
            saveAs);
    return true;
  }
  bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  bool multibyte = false;
  bool utf8 = isUtf8(bytes, bom ? 3 : 0, &multibyte) && multibyte;
  if (bom || utf8) {
    std::string text = bom ? "the script begins with a UTF-8 byte-order mark, which the player "
                             "takes as part of the first line"
                           : "the script is saved in UTF-8";
    if (utf8) {
      text += std::string(bom ? ", and its text is UTF-8" : "") +
              ": the player shows its Japanese as garbage and finds no file named in it";
    }
    add(out, 1, warningEncoding, text + saveAs);
  }
  return false;
}

void checkLineEnds(const std::string& bytes, std::vector<ScriptWarning>* out) {
  int line = 1;
  size_t lineStart = 0;
  bool lineEndsWarned = false;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    bool atEnd = i == bytes.size();
    if (!atEnd && bytes[i] != '\n') continue;
    if (!atEnd && !lineEndsWarned && (i == 0 || bytes[i - 1] != '\r')) {
      add(out, line, warningLineEnds,
          "this line ends in LF alone: the player keeps the LF in the last word of every such "
          "line, so each file load fails and a command alone on its line becomes a message; save "
          "the script with CR LF line ends");
      lineEndsWarned = true;
    }
    size_t length = (atEnd ? i : i + 1) - lineStart;
    if (length > readSize) {
      std::string cuts;
      for (size_t cut = readSize; cut < length; cut += readSize) {
        cuts += (cuts.empty() ? "" : ", ") + std::to_string(cut);
      }
      add(out, line, warningLongLine,
          "this line is " + std::to_string(length) + " bytes with its line end; the player reads " +
              std::to_string(readSize) + " at a time, cuts it after byte " + cuts +
              " and runs each piece as a line of its own");
    }
    ++line;
    lineStart = i + 1;
  }
}

// ---- Misspelt commands.

// Edit distance with transpositions between two short ASCII words, lower-cased.
int editDistance(const char* a, const char* b) {
  constexpr int most = 40;
  int n = (int)strlen(a), m = (int)strlen(b);
  if (n >= most || m >= most) return most;
  int d[most + 1][most + 1];
  for (int i = 0; i <= n; ++i) d[i][0] = i;
  for (int j = 0; j <= m; ++j) d[0][j] = j;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= m; ++j) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

// The command a text line's first word was probably meant to be, or -1 when it reads as text:
// an ASCII word that is a command but for letter case, lies one edit from one (two for long
// names), or holds an underscore as only command names do. *close says whether the command is
// near enough to the word to name it.
int probableCommand(const char* word, bool* close) {
  char lower[64];
  size_t length = strlen(word);
  while (length > 0 && (word[length - 1] == '\n' || word[length - 1] == '\r')) --length;
  if (length < 3 || length >= sizeof lower) return -1;
  bool underscore = false;
  for (size_t i = 0; i < length; ++i) {
    char c = word[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && c != '_' && !(c >= '0' && c <= '9')) return -1;
    underscore |= c == '_';
    lower[i] = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
  }
  lower[length] = '\0';
  // A command that kept a lone LF is read as text too; the line-ends warning says why.
  if (length < strlen(word) && findCommand(lower) >= 0 && strncmp(word, lower, length) == 0) {
    return -1;
  }
  int best = -1, bestDistance = 1 << 30;
  for (int index = 0; index < commandCount; ++index) {
    int distance = editDistance(lower, commandNames[index]);
    if (distance < bestDistance) {
      best = index;
      bestDistance = distance;
    }
  }
  int allowed = length >= 8 ? 2 : 1;
  *close = bestDistance <= allowed + 1;
  if (underscore || bestDistance <= allowed) return best;
  return -1;
}

// ---- Files the script names.

enum FileUse { usePicture, useIcon, useSound, useMusic };

// What the player would get from a file: 0 usable, 1 missing, 2 there but not decodable.
int fileState(const char* name, FileUse use) {
  FILE* file = openNamedFile(name, "rb");
  if (!file) return 1;
  bool usable = true;
  if (use == useSound) {
    std::string image;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) image.append(chunk, got);
    usable = soundImageDecodes(image.data(), image.size());
  }
  fclose(file);
  if (use == usePicture) {
    HANDLE bitmap =
        LoadImageA(nullptr, name, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    usable = bitmap != nullptr;
    if (bitmap) DeleteObject(bitmap);
  } else if (use == useIcon) {
    HANDLE icon = LoadImageA(nullptr, name, IMAGE_ICON, 0, 0, LR_LOADFROMFILE);
    usable = icon != nullptr;
    if (icon) DestroyIcon((HICON)icon);
  }
  return usable ? 0 : 2;
}

void checkFile(const char* name, FileUse use, int line, const std::string& folder,
               std::unordered_map<std::string, int>* states, std::vector<ScriptWarning>* out) {
  static const char* const useNames[] = {"picture", "icon", "sound", "music file"};
  static const char* const failures[] = {"the player cannot load it as a picture",
                                         "the player cannot load it as an icon",
                                         "the player cannot play it as a WAV sound", ""};
  std::string key = std::string(1, char('0' + use)) + name;
  auto known = states->find(key);
  int state = known != states->end() ? known->second : (*states)[key] = fileState(name, use);
  if (state == 1) {
    add(out, line, warningMissingFile,
        std::string("the ") + useNames[use] + " " + quoted(name) + " does not exist in " + folder);
  } else if (state == 2 && use != useMusic) {
    add(out, line, warningUndecodableFile, quoted(name) + " exists, but " + failures[use]);
  }
}

// ---- The compiled list.

struct NodeNote {
  CommandNode* node;
  int line;
  int command;  // findCommand of its name without the line end
};

}  // namespace

void beginNodeNotes() {
  nodeSizedBlocks.clear();
  previousAllocate = compilerAllocate;
  compilerAllocate = notingAllocate;
}

void endNodeNotes() {
  compilerAllocate = previousAllocate;
}

std::vector<ScriptWarning> lintScript(const std::string& bytes, int readsCompiled) {
  std::vector<ScriptWarning> out;
  if (checkEncoding(bytes, &out)) return out;
  checkLineEnds(bytes, &out);
  std::vector<ScriptRead> reads = splitReads(bytes);
  if (readsCompiled > (int)reads.size()) readsCompiled = (int)reads.size();

  std::stable_sort(nodeSizedBlocks.begin(), nodeSizedBlocks.end(),
                   [](const std::pair<const void*, int>& a, const std::pair<const void*, int>& b) {
                     return std::less<const void*>()(a.first, b.first);
                   });
  std::vector<NodeNote> nodes;
  std::vector<char> madeNode(reads.size() + 1, 0);  // by read number
  for (CommandNode* node = commandList; node; node = node->next) {
    auto after = std::upper_bound(nodeSizedBlocks.begin(), nodeSizedBlocks.end(), (const void*)node,
                                  [](const void* block, const std::pair<const void*, int>& note) {
                                    return std::less<const void*>()(block, note.first);
                                  });
    int read =
        after != nodeSizedBlocks.begin() && (after - 1)->first == node ? (after - 1)->second : 0;
    int line = read >= 1 && read <= (int)reads.size() ? reads[read - 1].line : 0;
    if (line > 0) madeNode[read] = 1;
    char name[tokenBufferSize];
    stripLineEnd(node->args[0], name);
    nodes.push_back({node, line, findCommand(name)});
  }
  int count = (int)nodes.size();

  // Arguments the parsers check, in the reads they rejected: a line that made a node passed.
  for (int r = 0; r < readsCompiled; ++r) {
    if (madeNode[r + 1]) continue;
    char line[tokenBufferSize];
    char name[tokenBufferSize];
    char argument[tokenBufferSize];
    // The reader copies its buffer as a string: a zero byte ends the line.
    snprintf(line, sizeof line, "%.*s", (int)reads[r].length, bytes.data() + reads[r].start);
    char* position = nullptr;
    char* token = takeToken(line, &position);
    if (!token || (token[0] == '\r' && token[1] == '\n') || token[0] == ';') continue;
    stripLineEnd(token, name);
    int command = findCommand(name);
    const char* checks = commandArgumentChecks(command);
    for (int k = 1; checks && checks[k - 1] != '\0'; ++k) {
      if (!(token = takeToken(nullptr, &position))) break;
      if (checks[k - 1] == '-') continue;
      stripLineEnd(token, argument);
      bool digits = strspn(argument, "0123456789") == strlen(argument);
      if (!digits) {
        add(&out, reads[r].line, warningNotANumber,
            "argument " + std::to_string(k) + " of `" + name + "`, " + quoted(argument) +
                ", is not a number: the player's message names neither line nor command, and "
                "it drops the line");
      } else if (checks[k - 1] == 'S' && strlen(argument + strspn(argument, "0")) > 1) {
        add(&out, reads[r].line, warningSlotRange,
            "slot " + std::string(argument) + " of `" + name +
                "` is not 0 to 9: the player drops this line without a message");
      }
    }
  }

  // Labels: the first node whose text is the name, as a jump searches from the head.
  std::unordered_map<std::string_view, int> firstNode;
  for (int i = 0; i < count; ++i) {
    auto placed = firstNode.emplace(nodes[i].node->args[0], i);
    if (!placed.second && nodes[i].node->args[0][0] == '$' && nodes[i].command < 0) {
      add(&out, nodes[i].line, warningDuplicateLabel,
          "the label " + quoted(nodes[i].node->args[0]) + " is already defined on line " +
              std::to_string(nodes[placed.first->second].line) +
              ": jumps only ever reach that one");
    }
  }
  // Where a jump or a taken choice goes: the index of the node after the label (count for the
  // end of the list), or -1 when it does not jump.
  std::vector<int> jumpTo(count, -1);
  std::vector<char> isTarget(count, 0);  // a jump or choice lands on it
  char folder[4096];
  std::string here = getcwd(folder, sizeof folder) ? folder : ".";
  std::unordered_map<std::string, int> fileStates;
  for (int i = 0; i < count; ++i) {
    CommandNode* node = nodes[i].node;
    int command = nodes[i].command;
    if (command == commandIndexJmp || command == commandIndexIf) {
      const char* label = node->args[command == commandIndexJmp ? 1 : 4];
      auto target = firstNode.find(label);
      if (target == firstNode.end()) {
        add(&out, nodes[i].line, warningMissingLabel,
            "no line defines the label " + quoted(label) + ": `" + commandNames[command] +
                "` goes on with the next line instead");
      } else if (command == commandIndexJmp || atoi(node->args[3]) == 1 ||
                 atoi(node->args[3]) == 2) {
        jumpTo[i] = target->second + 1;
        if (target->second + 1 < count) isTarget[target->second + 1] = 1;
      }
    } else if (command < 0 && node->args[0][0] != '$') {
      bool close = false;
      int meant = probableCommand(node->args[0], &close);
      if (meant >= 0) {
        add(&out, nodes[i].line, warningUnknownCommand,
            quoted(node->args[0]) + " is no command, so the player shows this line as a message" +
                (close ? std::string("; `") + commandNames[meant] + "` was probably meant" : ""));
      }
    }
    if (command == commandIndexBitmapLoad || command == commandIndexSeLoad ||
        command == commandIndexBgmLoad) {
      FileUse use = command == commandIndexBitmapLoad ? usePicture
                    : command == commandIndexSeLoad   ? useSound
                                                      : useMusic;
      checkFile(node->args[2], use, nodes[i].line, here, &fileStates, &out);
    } else if (command == commandIndexWindowIcon) {
      checkFile(node->args[1], useIcon, nodes[i].line, here, &fileStates, &out);
    }
  }

  // Lines after a jump or script_end that nothing jumps to: one warning for each run of them.
  int stopper = -1;
  bool runWarned = false;
  for (int i = 0; i < count; ++i) {
    if (nodes[i].node->args[0][0] == '$' || isTarget[i]) {
      stopper = -1;
    } else if (stopper >= 0) {
      if (!runWarned) {
        add(&out, nodes[i].line, warningUnreachable,
            "this line can never run: it follows `" +
                std::string(commandNames[nodes[stopper].command]) + "` on line " +
                std::to_string(nodes[stopper].line) + " and no label comes before it");
        runWarned = true;
      }
      continue;
    }
    if (nodes[i].command == commandIndexScriptEnd ||
        (nodes[i].command == commandIndexJmp && jumpTo[i] >= 0)) {
      stopper = i;
      runWarned = false;
    }
  }

  // A path that runs off the end of the list without script_end, reported where it leaves the
  // list. A script the compiler gave up on closes the program anyway.
  if (!compilationEnded) {
    std::vector<char> reached(count + 1, 0);
    std::vector<int> pending{0};
    reached[0] = 1;
    int leaves = count;  // the first node from which the run leaves the list
    while (!pending.empty()) {
      int i = pending.back();
      pending.pop_back();
      if (i == count || nodes[i].command == commandIndexScriptEnd) continue;
      bool jumps = nodes[i].command == commandIndexJmp && jumpTo[i] >= 0;
      for (int to : {jumps ? -1 : i + 1, jumpTo[i]}) {
        if (to == count) leaves = std::min(leaves, i);
        if (to >= 0 && !reached[to]) {
          reached[to] = 1;
          pending.push_back(to);
        }
      }
    }
    if (count == 0) {
      add(&out, 1, warningMissingEnd, "the script has no line to run and no `script_end`");
    } else if (leaves < count) {
      add(&out, nodes[leaves].line, warningMissingEnd,
          "from here the script runs past its last line without reaching `script_end`");
    }
  }

  std::stable_sort(out.begin(), out.end(),
                   [](const ScriptWarning& a, const ScriptWarning& b) { return a.line < b.line; });
  return out;
}
