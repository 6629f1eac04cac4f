// The interpreter step and the command executors. Owns the interpreter state; runs on the
// frame thread, except runEnabled, which a click on the main thread also sets.
#ifndef TORVANE_INTERPRETER_INTERPRETER_H
#define TORVANE_INTERPRETER_INTERPRETER_H

#include <stdint.h>

#include <atomic>

#include "compiler/compiler.h"

extern CommandNode* currentCommand;  // the node the next step runs
// 1: the next step may run a node. A click on the main thread sets it: one byte, stored whole.
extern std::atomic<uint8_t> runEnabled;
extern uint8_t scriptFinished;       // 1 once script_end has run
extern int32_t lastCommandIndex;     // index of the node looked up last, -1 for no command; 20: a choice is pending

typedef void (*CommandExecutor)(CommandNode* node);
extern const CommandExecutor commandExecutors[commandCount];

bool interpreterStep(CommandNode** current);
void textExecutor(CommandNode* node);
void noOpExecutor(CommandNode* node);

// A script number as atoi reads it (leading white space, a sign, decimal digits; 0 when there
// are none), converted each time a command runs. A value beyond 32 bits gives INT32_MAX or
// INT32_MIN, as the Windows runtime's atoi does, on every platform.
int32_t scriptNumber(const char* text);

#endif
