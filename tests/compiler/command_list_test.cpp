// The command list: appending, releasing and resetting, ownership of the strings, and what an
// allocation that fails leaves behind (a whole list of the lines before it, and nothing leaked).
#include <stdlib.h>

#include "compiler_fixture.h"

namespace {

// An allocator that fails its failAt-th call (counting from 1) and every later one.
int allocationCalls = 0;
int failAt = 0;
void* failingAllocate(size_t size) {
  ++allocationCalls;
  if (failAt > 0 && allocationCalls >= failAt) return nullptr;
  return malloc(size);
}

}  // namespace

TEST_F(CompilerTest, AppendingLinksEachNodeAfterTheLastAndCopiesTheStrings) {
  freeCommandList(nullptr);  // does nothing

  char name[] = "bitmap_load";
  char slot[] = "0";
  char file[] = "a.bmp";
  char* strings[] = {name, slot, file};
  CommandNode* head = nullptr;
  ASSERT_TRUE(appendCommand(head, strings, 3));
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->argCount, 3);
  EXPECT_EQ(head->window, window);
  EXPECT_NE(head->args[0], name);
  // The caller may change or release its strings at once.
  name[0] = 'X';
  EXPECT_STREQ(head->args[0], "bitmap_load");

  CommandNode* first = head;
  mainWindow = nullptr;
  ASSERT_TRUE(appendCommand(head, strings, 1));
  ASSERT_TRUE(appendCommand(head, strings + 1, 2));
  mainWindow = window;
  EXPECT_EQ(head, first);
  EXPECT_EQ(listOf(head),
            (NodeList{{"bitmap_load", "0", "a.bmp"}, {"Xitmap_load"}, {"0", "a.bmp"}}));
  EXPECT_EQ(head->next->window, nullptr);  // the window as it was when the node was made
  EXPECT_EQ(head->next->next->next, nullptr);
  freeCommandList(head);
}

TEST_F(CompilerTest, AppendingTakesOneToTwentyStrings) {
  char text[] = "t";
  char* strings[commandArgCapacity + 1];
  for (char*& s : strings) s = text;
  CommandNode* head = nullptr;
  EXPECT_FALSE(appendCommand(head, strings, 0));
  EXPECT_FALSE(appendCommand(head, strings, commandArgCapacity + 1));
  EXPECT_EQ(head, nullptr);
  ASSERT_TRUE(appendCommand(head, strings, commandArgCapacity));
  EXPECT_EQ(head->argCount, commandArgCapacity);
  freeCommandList(head);
}

TEST_F(CompilerTest, AppendingFindsTheTailOfWhicheverListItIsGiven) {
  char a[] = "a", b[] = "b";
  char* sa[] = {a};
  char* sb[] = {b};
  CommandNode* listA = nullptr;
  CommandNode* listB = nullptr;
  appendCommand(listA, sa, 1);
  appendCommand(listB, sb, 1);
  appendCommand(listA, sa, 1);
  // A node linked by hand after the last one appended is walked over, not overwritten.
  CommandNode* extra = newCommandNode();
  ASSERT_NE(extra, nullptr);
  extra->args[0] = duplicateString("hand");
  extra->argCount = 1;
  listA->next->next = extra;
  appendCommand(listA, sa, 1);
  appendCommand(listB, sb, 1);
  appendCommand(listA, sa, 1);
  EXPECT_EQ(listOf(listA), (NodeList{{"a"}, {"a"}, {"hand"}, {"a"}, {"a"}}));
  EXPECT_EQ(listOf(listB), (NodeList{{"b"}, {"b"}}));

  // The same head variable, now naming another list.
  CommandNode* oldA = listA;
  listA = listB;
  appendCommand(listA, sa, 1);
  EXPECT_EQ(listOf(listB), (NodeList{{"b"}, {"b"}, {"a"}}));
  EXPECT_EQ(listOf(oldA), (NodeList{{"a"}, {"a"}, {"hand"}, {"a"}, {"a"}}));
  freeCommandList(oldA);
  freeCommandList(listB);
  resetCommandList(listB);
  appendCommand(listB, sb, 1);
  EXPECT_EQ(listOf(listB), (NodeList{{"b"}}));
  freeCommandList(listB);
}

TEST_F(CompilerTest, AFailedAllocationEndsCompilationWithTheLinesBeforeItWhole) {
  const std::string script =
      "script_start\r\nbitmap_load 0 a.bmp\r\n"
      "change_window_caption title\r\nset_text_pos 1 2 3 4 5\r\ntext\r\n"
      "anim_play 1 2 3 4 5 6 7 8 9 10 11 12\r\nif 1 2 3 $x\r\nscript_end\r\n";
  compile(script);
  const NodeList whole = nodes();
  ASSERT_EQ(whole.size(), 8u);
  EXPECT_FALSE(compilationEnded);

  // failAt 0 counts the calls a whole compilation makes; then each one fails in turn.
  int callsNeeded = 0;
  for (failAt = 0; failAt <= callsNeeded; ++failAt) {
    SCOPED_TRACE(failAt);
    allocationCalls = 0;
    compilerAllocate = failingAllocate;
    compile(script);
    compilerAllocate = malloc;
    if (failAt == 0) {
      callsNeeded = allocationCalls;
      EXPECT_EQ(nodes(), whole);
      continue;
    }
    EXPECT_TRUE(compilationEnded);
    NodeList got = nodes();
    ASSERT_LT(got.size(), whole.size());
    EXPECT_EQ(got, NodeList(whole.begin(), whole.begin() + got.size()));
    // No line after the failing one was read, and nothing was shown.
    EXPECT_EQ(scriptLineNumber, (int)got.size() + 1);
    EXPECT_TRUE(boxTexts().empty());
    EXPECT_EQ(closeCount(), 0);
  }
  failAt = 0;

  // The next compilation starts afresh.
  compile(script);
  EXPECT_FALSE(compilationEnded);
  EXPECT_EQ(nodes(), whole);
}
