// libFuzzer target: any bytes as a script file, compiled into the command list and released.
// An input that starts with 0xFF and one more byte N runs with an allocator that fails from its
// (N + 1)-th call on, so that the paths for memory running out are searched too.
// The headless backend only logs the message boxes; the log is cleared every run.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "compiler/compiler.h"
#include "platform/linux/headless.h"
#include "shell/shell.h"

namespace {

int allocationsLeft = -1;  // -1: never fail
char path[64];             // the script file, one per process

void removeScript() {
  remove(path);
}

void* limitedAllocate(size_t size) {
  if (allocationsLeft == 0) return nullptr;
  if (allocationsLeft > 0) --allocationsLeft;
  return malloc(size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!path[0]) {
    snprintf(path, sizeof path, "/tmp/torvane-fuzz-%d.spt", (int)getpid());
    atexit(removeScript);
  }

  allocationsLeft = -1;
  if (size >= 2 && data[0] == 0xFF) {
    allocationsLeft = data[1];
    data += 2;
    size -= 2;
  }

  FILE* file = fopen(path, "wb");
  if (!file) return 0;
  fwrite(data, 1, size, file);
  fclose(file);

  memcpy(scriptPath, path, strlen(path) + 1);
  compilerAllocate = limitedAllocate;
  freeCommandList(commandList);
  resetCommandList(commandList);
  compileScript(scriptPath);

  // The list must be whole: every node holds 1 to 20 strings and nothing after them.
  for (CommandNode* node = commandList; node; node = node->next) {
    if (node->argCount < 1 || node->argCount > commandArgCapacity) abort();
    for (int i = 0; i < commandArgCapacity; ++i) {
      if ((node->args[i] != nullptr) != (i < node->argCount)) abort();
    }
  }
  freeCommandList(commandList);
  resetCommandList(commandList);
  compilerAllocate = malloc;
  headlessClearMessageBoxes();
  return 0;
}
