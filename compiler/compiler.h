// The script compiler: the command list, the script file reader, the command table and the
// argument parsers. Owns commandList and scriptLineNumber; runs on the frame thread.
#ifndef TORVANE_COMPILER_COMPILER_H
#define TORVANE_COMPILER_COMPILER_H

#include <stddef.h>

#include "platform/windows_api.h"

constexpr int commandArgCapacity = 20;     // argument slots of a node
constexpr int commandCount = 29;           // script commands, indices 0 to 28
constexpr int scriptLineBufferSize = 255;  // one read takes at most 254 bytes and a zero
constexpr int tokenBufferSize = 256;       // a token without its line end, or the line copy
// The most reads a script may take; a longer one is refused before its first extra line is
// compiled. Each line may cost a node of up to about 1 KB, so this keeps a script's list under
// 200 MB and its compilation well under a second, while a story at a click every few seconds
// would take days to read through: no story needs more.
constexpr int maxScriptLines = 200000;

// Command indices the interpreter treats specially.
constexpr int commandIndexTextShow = 15;  // the one-token parser; the text executor
constexpr int commandIndexIf = 20;
constexpr int commandIndexJmp = 21;

// One compiled script line.
struct CommandNode {
  char* args[commandArgCapacity];  // owned strings; slot 0 the command name or the line's text
  HWND window;        // mainWindow when the node was made; the window commands act on it
  int argCount;       // filled slots, 1 to 20; slots from argCount on are null
  CommandNode* next;  // the following node, null at the tail
  int lineNumber;     // the script line the node was read from, for tools that tell where a
                      // story stands (torvane-run); the player never reads it
};

extern CommandNode* commandList;  // head of the compiled script, null when empty
extern int scriptLineNumber;      // reads made from the script file so far
// Set when compilation must read no further line: after a missing argument closed the program,
// or when memory ran out. compileScript clears it when it starts.
extern bool compilationEnded;

// Every block the compiler keeps (nodes, string copies) comes from here; malloc unless a test
// puts an allocator in its place to make allocations fail.
extern void* (*compilerAllocate)(size_t size);

// The command list.
void resetCommandList(CommandNode*& head);
void freeCommandList(CommandNode* node);
// duplicateString and newCommandNode give null, and appendCommand false, when memory runs out;
// appendCommand then links nothing and leaves no block behind.
char* duplicateString(const char* text);
CommandNode* newCommandNode();
bool appendCommand(CommandNode*& head, char* const* strings, int n);

// The script file reader.
// Splits a line at commas and ASCII spaces, as strtok(line, ", ") does, but keeps its running
// position in the caller's variable: pass the line to take the first token, null for the next.
char* takeToken(char* line, char** position);
void stripLineEnd(const char* token, char* output);  // output holds tokenBufferSize bytes
void compileScript(const char* path);

// The command table and its parsers.
typedef void (*CommandParser)(char* line);
extern const char* const commandNames[commandCount];
extern const CommandParser commandParsers[commandCount];
int findCommand(const char* name);
// What a command's parser checks in arguments 1 on, one letter each: '-' nothing, 'N' a number,
// 'S' a slot number below 10; null for the commands whose parser checks none. For tools.
const char* commandArgumentChecks(int index);
bool checkNumber(const char* text);
bool parseTokens(char* line, char** args, int n);
void requireArgument(const char* token, char** args, int n);
void freeArgArray(char** args, int n);

#endif
