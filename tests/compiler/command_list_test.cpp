// The command list: appending to whichever list is given, ownership of the strings, and what an
// allocation that fails leaves behind (a whole list of the lines before it, and nothing leaked).
#include "compiler_fixture.h"

namespace {

// An allocator that fails its failAt-th call (counting from 1) and every later one.
int allocationCalls = 0, failAt = 0;
void* failingAllocate(size_t size) {
  ++allocationCalls;
  return failAt > 0 && allocationCalls >= failAt ? nullptr : malloc(size);
}

}  // namespace

TEST_F(CompilerTest, AppendingCopiesOneToTwentyStringsAfterTheTailOfTheListGiven) {
  char a[] = "a", b[] = "b";
  char* strings[commandArgCapacity + 1] = {a, b};
  for (int i = 2; i <= commandArgCapacity; ++i) strings[i] = a;
  CommandNode *listA = nullptr, *listB = nullptr;
  EXPECT_FALSE(appendCommand(listA, strings, 0));
  EXPECT_FALSE(appendCommand(listA, strings, commandArgCapacity + 1));
  ASSERT_TRUE(appendCommand(listA, strings, commandArgCapacity));
  EXPECT_EQ(listA->window, window);
  mainWindow = nullptr;  // a node keeps the window of the moment it was made
  appendCommand(listB, strings + 1, 1);
  a[0] = 'c';  // the caller's strings are copied
  appendCommand(listA, strings, 2);
  // A node linked by hand after the last one appended is walked over, not overwritten.
  CommandNode* extra = newCommandNode();
  extra->args[0] = duplicateString("hand");
  extra->argCount = 1;
  listA->next->next = extra;
  appendCommand(listB, strings + 1, 1);
  appendCommand(listA, strings, 1);
  EXPECT_EQ(std::string(listA->args[0]) + listA->args[1] + listA->args[19], "aba");
  EXPECT_EQ(nodes(listA->next), (NodeList{{"c", "b"}, {"hand"}, {"c"}}));
  EXPECT_EQ(listA->next->window, nullptr);
  CommandNode* oldA = listA;
  listA = listB;  // the same head variable, now naming another list
  appendCommand(listA, strings, 1);
  EXPECT_EQ(nodes(listB), (NodeList{{"b"}, {"b"}, {"c"}}));
  freeCommandList(oldA);
  freeCommandList(listB);
}

// Each allocation a compilation makes fails in turn: compilation ends there, silently, with
// the lines before whole and no later line read; the next compilation starts afresh.
TEST_F(CompilerTest, AFailedAllocationEndsCompilationWithTheLinesBeforeItWhole) {
  const std::string script =
      "script_start\r\nbitmap_load 0 a.bmp\r\nchange_window_caption title\r\n"
      "set_text_pos 1 2 3 4 5\r\ntext\r\nanim_play 1 2 3 4 5 6 7 8 9 10 11 12\r\nif 1 2 3 $x\r\n";
  compile(script);
  const NodeList whole = nodes();
  ASSERT_EQ(whole.size(), 7u);
  int callsNeeded = 0;
  for (failAt = 0; failAt <= callsNeeded; ++failAt) {
    SCOPED_TRACE(failAt);
    allocationCalls = 0;
    compilerAllocate = failingAllocate;
    compile(script);
    compilerAllocate = malloc;
    if (failAt == 0) callsNeeded = allocationCalls;
    NodeList got = nodes();
    EXPECT_EQ(compilationEnded, failAt > 0);
    ASSERT_LE(got.size(), whole.size() - (failAt > 0));
    EXPECT_EQ(got, NodeList(whole.begin(), whole.begin() + got.size()));
    EXPECT_EQ(scriptLineNumber, (int)got.size() + (failAt > 0));
    EXPECT_EQ(boxes().size() + closeCount(), 0u);
  }
  failAt = 0;
  compile(script);
  EXPECT_FALSE(compilationEnded);
}
