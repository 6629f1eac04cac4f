// The command list: the compiled script as a singly linked list of CommandNode records.
// Owns commandList and the allocator every compiled block comes from. The list keeps only its
// head; nodes are linked only once they are whole, so the list is whole at every moment.
// Appending remembers the last node it linked, so that compiling n lines does not walk the list
// n(n-1)/2 steps; the memory is a shortcut only, checked before each use and dropped whenever
// nodes are released, and the list itself stays a plain head-only list.
#include <stdlib.h>
#include <string.h>

#include "compiler/compiler.h"
#include "shell/shell.h"

CommandNode* commandList = nullptr;
void* (*compilerAllocate)(size_t size) = malloc;

namespace {

// The node appendCommand linked last, and the head (variable and value) of its list then.
struct LastAppend {
  CommandNode** head;
  CommandNode* headNode;
  CommandNode* node;
};
LastAppend lastAppend = {nullptr, nullptr, nullptr};

void forgetLastAppend() {
  lastAppend = {nullptr, nullptr, nullptr};
}

// A node of the list under head from which its tail can be walked to: the node appended last
// when that append went to this same list, else the head.
CommandNode* walkStart(CommandNode** head) {
  if (*head && lastAppend.head == head && lastAppend.headNode == *head) return lastAppend.node;
  return *head;
}

}  // namespace

void resetCommandList(CommandNode*& head) {
  scriptLineNumber = 0;
  head = nullptr;
  forgetLastAppend();
}

void freeCommandList(CommandNode* node) {
  if (node) forgetLastAppend();  // the node remembered may be among those released
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
  node->lineNumber = scriptLineNumber;
  return node;
}

bool appendCommand(CommandNode*& head, char* const* strings, int n) {
  if (n < 1 || n > commandArgCapacity) return false;
  CommandNode* last = walkStart(&head);
  while (last && last->next) last = last->next;

  CommandNode* node = newCommandNode();
  if (!node) return false;
  for (int i = 0; i < n; ++i) {
    node->args[i] = duplicateString(strings[i]);
    if (!node->args[i]) {
      // Out of memory half-way: the node was never linked; dropping it leaves the list as it was.
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
  lastAppend = {&head, head, node};
  return true;
}
