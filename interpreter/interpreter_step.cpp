// The interpreter step: runs at most one command node per frame tick, and carries out the
// script's control flow itself (text lines and labels, jmp, the pending choice of if, the end).
// Owns the interpreter state. Runs on the frame thread; a click on the main thread sets
// runEnabled.
#include <string.h>

#include "interpreter/interpreter.h"
#include "presentation/presentation.h"
#include "shell/shell.h"

CommandNode* currentCommand = nullptr;
std::atomic<uint8_t> runEnabled{0};
uint8_t scriptFinished = 0;
int32_t lastCommandIndex = 0;

namespace {

constexpr int commandIndexScriptEnd = 2;

// The first node, counted from the head, whose argument 0 equals the label; null when there is
// none. Labels are not indexed: every jump walks the list, and any node can match, command or not.
CommandNode* findLabel(const char* label) {
  for (CommandNode* node = commandList; node; node = node->next) {
    if (strcmp(node->args[0], label) == 0) return node;
  }
  return nullptr;
}

// Where a jump from `from` to `label` continues: after the label node, or after `from` when the
// label is missing.
CommandNode* jumpTarget(CommandNode* from, const char* label) {
  CommandNode* found = findLabel(label);
  return found ? found->next : from->next;
}

}  // namespace

bool interpreterStep(CommandNode** current) {
  // Once script_end has run the script is over: nothing after it may run, however often the
  // frame tick still calls in before the window has closed.
  if (scriptFinished) return true;
  if (!runEnabled) return false;

  // Past the last node, in an empty list, or after a jump to a label on the last line there is
  // nothing to run. The script then stays idle; picture and window stay as they are.
  if (!*current) return false;
  // From here the step runs a node or settles a choice: either may change what the frame draws.
  markPictureChanged();

  if (lastCommandIndex == commandIndexIf) {
    CommandNode* ifNode = *current;
    if (menuSelection == 0) {
      // No choice under the cursor: the if node runs again below, keeping the menu up, and the
      // script waits for a click that finds the cursor on a choice.
      runEnabled = 0;
    } else {
      menuVisible = 0;
      if (scriptNumber(ifNode->args[3]) == (int32_t)menuSelection) {
        *current = jumpTarget(ifNode, ifNode->args[4]);
      } else {
        *current = ifNode->next;
      }
      // runEnabled stays set: the node the choice leads to runs in this same call.
      if (!*current) return false;
    }
  }

  CommandNode* node = *current;
  int index = findCommand(node->args[0]);
  lastCommandIndex = index;

  if (index == -1) {
    textExecutor(node);
    *current = node->next;
  } else if (index == commandIndexIf) {
    // The node stays current; a later call resolves the choice.
    commandExecutors[index](node);
  } else if (index == commandIndexJmp) {
    *current = jumpTarget(node, node->args[1]);
    runEnabled = 0;
  } else {
    commandExecutors[index](node);
    // Executors may send messages to the window (caption, icon, size, message boxes); a stop
    // requested while one was handled ends the script run here, with nothing more changed.
    if (frameStopRequested) return false;
    if (index == commandIndexScriptEnd) scriptFinished = 1;
    *current = node->next;
  }
  return scriptFinished != 0;
}
