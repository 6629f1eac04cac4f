// torvane-check's warnings: script mistakes the player passes over without a word (labels that
// do not exist, dropped lines, misspelt commands, cut lines, missing or unreadable files, lines
// that never run, the wrong encoding). State: which script read made each compiled node, noted
// while the compiler runs. Deps: the compiler, the Linux layer's file names, LoadImageA and the
// sound service's WAV decoding.
#ifndef TORVANE_TOOLS_SCRIPT_LINT_H
#define TORVANE_TOOLS_SCRIPT_LINT_H

#include <stddef.h>

#include <string>
#include <vector>

enum WarningKind {
  warningMissingLabel,
  warningDuplicateLabel,
  warningSlotRange,
  warningUnknownCommand,
  warningLongLine,
  warningMissingFile,
  warningUndecodableFile,
  warningUnreachable,
  warningMissingEnd,
  warningLineEnds,
  warningEncoding,
  warningNotANumber,
  warningKindCount
};

// The names --no-warn takes and each warning ends with.
extern const char* const warningNames[warningKindCount];
int findWarningKind(const char* name);  // -1 for a name that is none

struct ScriptWarning {
  int line;  // 1-based line of the script file, as an editor counts it
  WarningKind kind;
  std::string text;  // UTF-8
};

// Around compileScript: notes, through the compiler's allocator, which read made each node.
void beginNodeNotes();
void endNodeNotes();

// The warnings about the compiled commandList and the script's bytes, in line order. Relative
// file names are resolved against the current directory, as the player does.
std::vector<ScriptWarning> lintScript(const std::string& bytes, int readsCompiled);

// A CP932 text as one line of UTF-8, with escapes for bytes that would not read back
// (torvane_check.cpp).
std::string escapedUtf8(const char* text, size_t length);

#endif
