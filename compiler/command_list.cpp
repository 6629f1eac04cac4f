// The command list: the compiled script as a singly linked list of CommandNode records.
// Owns commandList and the allocator every compiled block comes from. The list keeps only its
// head; nodes are linked only once they are whole, so the list is whole at every moment.
#include <stdlib.h>
#include <string.h>

#include "compiler/compiler.h"
#include "shell/shell.h"

CommandNode* commandList = nullptr;
void* (*compilerAllocate)(size_t size) = malloc;

void resetCommandList(CommandNode*& head) {
  scriptLineNumber = 0;
  head = nullptr;
}

void freeCommandList(CommandNode* node) {
  while (node) {
    CommandNode* next = node->next;
    for (int i = 0; i < node->argCount; ++i) free(node->args[i]);
    free(node);
    node = next;
  }
}

char* duplicateString(const char* text) {
  size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(compilerAllocate(size));
  if (copy) memcpy(copy, text, size);
  return copy;
}

CommandNode* newCommandNode() {
  CommandNode* node = static_cast<CommandNode*>(compilerAllocate(sizeof(CommandNode)));
  if (!node) return nullptr;
  for (char*& slot : node->args) slot = nullptr;
  node->window = mainWindow;
  node->argCount = 0;
  node->next = nullptr;
  return node;
}

bool appendCommand(CommandNode*& head, char* const* strings, int n) {
  if (n < 1 || n > commandArgCapacity) return false;
  CommandNode* last = head;
  while (last && last->next) last = last->next;

  CommandNode* node = newCommandNode();
  if (!node) return false;
  for (int i = 0; i < n; ++i) {
    node->args[i] = duplicateString(strings[i]);
    if (!node->args[i]) {
      // Out of memory half-way: the node was never linked, so dropping it leaves the list as it was.
      for (int j = 0; j < i; ++j) free(node->args[j]);
      free(node);
      return false;
    }
  }
  node->argCount = n;

  if (last) {
    last->next = node;
  } else {
    head = node;
  }
  return true;
}
