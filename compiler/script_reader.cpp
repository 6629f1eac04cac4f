// The script file reader: reads a .spt file line by line, skips blank and comment lines and hands
// every other line to its command's parser. Owns scriptLineNumber and compilationEnded.
// Lines are Shift-JIS bytes; only ',' and ' ' separate tokens, and no Shift-JIS trail byte is
// either of them, so splitting never cuts a double-byte character.
#include <stdio.h>
#include <string.h>

#include "compiler/compiler.h"
#include "resources/texts.h"
#include "shell/shell.h"

int scriptLineNumber = 0;
bool compilationEnded = false;

namespace {

bool isDelimiter(char c) {
  return c == ',' || c == ' ';
}

// A script longer than maxScriptLines is no story: what was compiled of it goes, the user is
// told, and the run goes on over an empty list, as for a script that cannot be read.
void refuseLongScript() {
  freeCommandList(commandList);
  resetCommandList(commandList);
  char path[pathBufferSize];
  snprintf(path, sizeof path, "%.*s", pathBufferSize - 1, scriptPath);
  char text[pathBufferSize + 256];  // the format's own text is under 100 bytes
  snprintf(text, sizeof text, formatScriptTooLong, maxScriptLines, path);
  MessageBoxA(mainWindow, text, captionError, MB_OK);
}

}  // namespace

char* takeToken(char* line, char** position) {
  char* p = line ? line : *position;
  if (!p) return nullptr;
  while (isDelimiter(*p)) ++p;
  if (*p == '\0') {
    *position = p;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && !isDelimiter(*p)) ++p;
  if (*p != '\0') *p++ = '\0';  // the next token starts after the delimiter that ended this one
  *position = p;
  return token;
}

void stripLineEnd(const char* token, char* output) {
  size_t length = strlen(token);
  if (length >= 2 && token[length - 2] == '\r' && token[length - 1] == '\n') length -= 2;
  // Tokens come from lines of at most 254 bytes; the bound only keeps other callers in the buffer.
  if (length > static_cast<size_t>(tokenBufferSize - 1)) length = tokenBufferSize - 1;
  memcpy(output, token, length);
  output[length] = '\0';
}

void compileScript(const char* path) {
  compilationEnded = false;
  FILE* file = openNamedFile(path, "rb");
  if (!file) return;

  char lineBuffer[scriptLineBufferSize];
  char lineCopy[tokenBufferSize];
  char name[tokenBufferSize];
  // A stop of the frame thread ends its script run, compilation included: a large file must not
  // keep the thread (and the main thread waiting for it) busy to the end.
  while (!compilationEnded && !frameStopRequested.load() &&
         fgets(lineBuffer, scriptLineBufferSize, file)) {
    if (scriptLineNumber == maxScriptLines) {
      refuseLongScript();
      break;
    }
    ++scriptLineNumber;
    // fgets stops at a zero byte as little as anywhere else, but the line ends there for us.
    strcpy(lineCopy, lineBuffer);

    char* position = nullptr;
    char* token = takeToken(lineBuffer, &position);
    if (!token) continue;                                // only delimiters, no line end
    if (token[0] == '\r' && token[1] == '\n') continue;  // blank line
    if (token[0] == ';') continue;                       // comment line

    stripLineEnd(token, name);
    int index = findCommand(name);
    // A first token that is no command makes a text line, or a label when it begins with '$'.
    commandParsers[index >= 0 ? index : commandIndexTextShow](lineCopy);
  }
  fclose(file);
}
