// The command table and the argument parsers: the 29 script commands in index order, the parser
// of each, and the checks of their arguments. A parser turns one script line into one node of a
// fixed number of strings, or reports the error in a message box owned by the main window.
// The tables are constant; the parsers run on the frame thread, inside compileScript.
#include <stdlib.h>
#include <string.h>

#include "compiler/compiler.h"
#include "resources/texts.h"
#include "shell/shell.h"

namespace {

constexpr int maxCommandTokens = 13;  // anim_play's name and its twelve arguments

// The form of a fixed-shape command: how many tokens it takes and which of them are checked.
struct CommandShape {
  int tokens;       // argCount of its nodes, the name included
  bool nameAsRead;  // argument 0 keeps the line's CR LF when the command stands alone
  // One letter for each argument 1 to tokens - 1: '-' taken as it is, 'N' a number,
  // 'S' an image or sound slot (a number below 10).
  const char* checks;
};

// bitmap_delete, bitmap_hide, se_delete, se_stop
constexpr CommandShape slotPairShape = {2, true, "S"};
// bitmap_load, se_load, se_play
constexpr CommandShape slotTripleShape = {3, true, "S-"};
constexpr CommandShape bitmapShowShape = {9, true, "S-------"};
constexpr CommandShape bgmLoadShape = {3, true, "N-"};
// bgm_delete, bgm_play, bgm_stop
constexpr CommandShape bgmPairShape = {2, true, "N"};
constexpr CommandShape menuShape = {3, false, "--"};
// msg_window_open, anim_stop
constexpr CommandShape numberTripleShape = {3, false, "NN"};
// msg_window_close, anim_hide
constexpr CommandShape numberPairShape = {2, false, "N"};
constexpr CommandShape ifShape = {5, false, "--N-"};
// jmp, change_window_icon, change_text_color
constexpr CommandShape namePairShape = {2, false, "-"};
constexpr CommandShape setTextPosShape = {6, false, "NNNNN"};
constexpr CommandShape animPlayShape = {13, false, "NNNNNNNNNNNN"};
constexpr CommandShape windowSizeShape = {5, false, "NNNN"};

// An allocation failed: the line gives no node and no later line is read, so the list holds the
// script's lines up to the one before, whole, and the script runs as far as that.
void endForLackOfMemory(char** args, int n) {
  freeArgArray(args, n);
  compilationEnded = true;
}

// A slot number that passed checkNumber: its value, however many leading zeros, is below 10.
bool isSlotNumber(const char* digits) {
  while (*digits == '0') ++digits;
  return strlen(digits) <= 1;
}

// The missing-argument message, composed whole: the name as stored, the line, the script's path.
void showMissingArgument(const char* name) {
  char path[pathBufferSize];
  snprintf(path, sizeof path, "%.*s", pathBufferSize - 1, scriptPath);
  // The format's own text is under 200 bytes; the name is a token of one read, under 256.
  char text[tokenBufferSize + pathBufferSize + 512];
  snprintf(text, sizeof text, formatMissingArgument, name, scriptLineNumber, path);
  MessageBoxA(mainWindow, text, captionError, MB_OK);
}

void parseFixedShape(char* line, const CommandShape& shape) {
  char* args[maxCommandTokens] = {};
  char buffer[tokenBufferSize];
  char* position = nullptr;
  char* token = takeToken(line, &position);
  if (!token) return;  // the reader never hands over a line without a token
  if (shape.nameAsRead) {
    args[0] = duplicateString(token);
  } else {
    stripLineEnd(token, buffer);
    args[0] = duplicateString(buffer);
  }
  if (!args[0]) return endForLackOfMemory(args, shape.tokens);

  bool rejected = false;
  for (int k = 1; k < shape.tokens; ++k) {
    token = takeToken(nullptr, &position);
    requireArgument(token, args, shape.tokens);
    if (!token) return;  // the program is closing; compilation has ended
    stripLineEnd(token, buffer);
    // Every argument is checked even after one failed, so that each shows its own message.
    char check = shape.checks[k - 1];
    if (check != '-') {
      if (!checkNumber(buffer)) {
        rejected = true;
      } else if (check == 'S' && !isSlotNumber(buffer)) {
        rejected = true;  // a slot of 10 or more is refused without a message
      }
    }
    args[k] = duplicateString(buffer);
    if (!args[k]) return endForLackOfMemory(args, shape.tokens);
  }
  if (!rejected && !appendCommand(commandList, args, shape.tokens)) {
    return endForLackOfMemory(args, shape.tokens);
  }
  freeArgArray(args, shape.tokens);
}

// The one-token parser: script_start, script_end, text_show, text_clear, and every line whose
// first token is no command (a text line, or a label when it begins with '$').
void parseOneToken(char* line) {
  char buffer[tokenBufferSize];
  char* position = nullptr;
  char* token = takeToken(line, &position);
  if (!token) return;
  stripLineEnd(token, buffer);
  char* args[1] = {duplicateString(buffer)};
  if (!args[0] || !appendCommand(commandList, args, 1)) return endForLackOfMemory(args, 1);
  freeArgArray(args, 1);
}

// change_window_caption: a missing caption drops the line, and compilation goes on.
void parseCaption(char* line) {
  char* args[2] = {};
  parseTokens(line, args, 2);
}

// The parser of every command of one shape.
template <const CommandShape& shape>
void parseShape(char* line) {
  parseFixedShape(line, shape);
}

// The shape each fixed-shape parser takes, for commandArgumentChecks.
struct ShapedParser {
  CommandParser parser;
  const CommandShape* shape;
};
const ShapedParser shapedParsers[] = {
    {parseShape<slotPairShape>, &slotPairShape},
    {parseShape<slotTripleShape>, &slotTripleShape},
    {parseShape<bitmapShowShape>, &bitmapShowShape},
    {parseShape<bgmLoadShape>, &bgmLoadShape},
    {parseShape<bgmPairShape>, &bgmPairShape},
    {parseShape<menuShape>, &menuShape},
    {parseShape<numberTripleShape>, &numberTripleShape},
    {parseShape<numberPairShape>, &numberPairShape},
    {parseShape<ifShape>, &ifShape},
    {parseShape<namePairShape>, &namePairShape},
    {parseShape<setTextPosShape>, &setTextPosShape},
    {parseShape<animPlayShape>, &animPlayShape},
    {parseShape<windowSizeShape>, &windowSizeShape},
};

}  // namespace

// The executor table and the interpreter step use the same indices: the order is fixed.
const char* const commandNames[commandCount] = {
    "change_window_caption",  //  0
    "script_start",           //  1
    "script_end",             //  2
    "bitmap_load",            //  3
    "bitmap_delete",          //  4
    "bitmap_show",            //  5
    "bitmap_hide",            //  6
    "se_load",                //  7
    "se_delete",              //  8
    "se_play",                //  9
    "se_stop",                // 10
    "bgm_load",               // 11
    "bgm_delete",             // 12
    "bgm_play",               // 13
    "bgm_stop",               // 14
    "text_show",              // 15  its parser also makes every text and label line
    "text_clear",             // 16
    "menu",                   // 17
    "msg_window_open",        // 18
    "msg_window_close",       // 19
    "if",                     // 20  the interpreter step also handles it
    "jmp",                    // 21  the interpreter step carries it out
    "change_window_icon",     // 22
    "change_text_color",      // 23
    "set_text_pos",           // 24
    "anim_play",              // 25
    "anim_stop",              // 26
    "change_window_size",     // 27
    "anim_hide",              // 28
};
static_assert(sizeof(commandNames) / sizeof(commandNames[0]) == commandCount,
              "one name per command");

const CommandParser commandParsers[commandCount] = {
    parseCaption,                   //  0 change_window_caption  2 tokens, see parseCaption
    parseOneToken,                  //  1 script_start           1 token
    parseOneToken,                  //  2 script_end             1 token
    parseShape<slotTripleShape>,    //  3 bitmap_load            3 tokens, slot
    parseShape<slotPairShape>,      //  4 bitmap_delete          2 tokens, slot
    parseShape<bitmapShowShape>,    //  5 bitmap_show            9 tokens, slot
    parseShape<slotPairShape>,      //  6 bitmap_hide            2 tokens, slot
    parseShape<slotTripleShape>,    //  7 se_load                3 tokens, slot
    parseShape<slotPairShape>,      //  8 se_delete              2 tokens, slot
    parseShape<slotTripleShape>,    //  9 se_play                3 tokens, slot
    parseShape<slotPairShape>,      // 10 se_stop                2 tokens, slot
    parseShape<bgmLoadShape>,       // 11 bgm_load               3 tokens, number
    parseShape<bgmPairShape>,       // 12 bgm_delete             2 tokens, number
    parseShape<bgmPairShape>,       // 13 bgm_play               2 tokens, number
    parseShape<bgmPairShape>,       // 14 bgm_stop               2 tokens, number
    parseOneToken,                  // 15 text_show              1 token
    parseOneToken,                  // 16 text_clear             1 token
    parseShape<menuShape>,          // 17 menu                   3 tokens
    parseShape<numberTripleShape>,  // 18 msg_window_open        3 tokens, 2 numbers
    parseShape<numberPairShape>,    // 19 msg_window_close       2 tokens, number
    parseShape<ifShape>,            // 20 if                     5 tokens, argument 3 a number
    parseShape<namePairShape>,      // 21 jmp                    2 tokens
    parseShape<namePairShape>,      // 22 change_window_icon     2 tokens
    parseShape<namePairShape>,      // 23 change_text_color      2 tokens
    parseShape<setTextPosShape>,    // 24 set_text_pos           6 tokens, 5 numbers
    parseShape<animPlayShape>,      // 25 anim_play              13 tokens, 12 numbers
    parseShape<numberTripleShape>,  // 26 anim_stop              3 tokens, 2 numbers
    parseShape<windowSizeShape>,    // 27 change_window_size     5 tokens, 4 numbers
    parseShape<numberPairShape>,    // 28 anim_hide              2 tokens, number
};
static_assert(sizeof(commandParsers) / sizeof(commandParsers[0]) == commandCount,
              "one parser per command");

int findCommand(const char* name) {
  for (int index = 0; index < commandCount; ++index) {
    if (strcmp(name, commandNames[index]) == 0) return index;
  }
  return -1;
}

const char* commandArgumentChecks(int index) {
  if (index < 0 || index >= commandCount) return nullptr;
  for (const ShapedParser& entry : shapedParsers) {
    if (entry.parser == commandParsers[index]) return entry.shape->checks;
  }
  return nullptr;
}

bool checkNumber(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      MessageBoxA(mainWindow, textNotNumeric, captionError, MB_OK);
      return false;
    }
  }
  return true;  // the empty text too: it counts as 0
}

bool parseTokens(char* line, char** args, int n) {
  char buffer[tokenBufferSize];
  char* position = nullptr;
  char* token = takeToken(line, &position);
  if (!token) return false;
  args[0] = duplicateString(token);
  if (!args[0]) {
    endForLackOfMemory(args, n);
    return false;
  }
  for (int k = 1; k < n; ++k) {
    token = takeToken(nullptr, &position);
    if (!token) {
      showMissingArgument(args[0]);
      freeArgArray(args, n);
      return false;
    }
    stripLineEnd(token, buffer);
    args[k] = duplicateString(buffer);
    if (!args[k]) {
      endForLackOfMemory(args, n);
      return false;
    }
  }
  bool appended = appendCommand(commandList, args, n);
  if (!appended) compilationEnded = true;  // out of memory
  freeArgArray(args, n);
  return appended;
}

void requireArgument(const char* token, char** args, int n) {
  if (token) return;
  showMissingArgument(args[0]);
  freeArgArray(args, n);
  // The main window's WM_CLOSE stops this thread's script run and closes the program; the
  // thread is stopped, not killed, so compilation must end here by itself.
  SendMessageA(mainWindow, WM_CLOSE, 0, 0);
  compilationEnded = true;
}

void freeArgArray(char** args, int n) {
  for (int i = 0; i < n; ++i) {
    free(args[i]);
    args[i] = nullptr;
  }
}
