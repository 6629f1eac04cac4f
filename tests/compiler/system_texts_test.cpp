// The system's own texts: every CP932 escape sequence in resources/texts.cpp must be exactly the
// Shift-JIS form of the UTF-8 spelling written beside it.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "resources/texts.h"
#include "support/test_support.h"

TEST(SystemTexts, EachTextIsTheCp932FormOfItsUtf8Spelling) {
  ASSERT_GT(systemTextCount, 0);
  for (int i = 0; i < systemTextCount; ++i) {
    const SystemText& entry = systemTexts[i];
    SCOPED_TRACE(entry.name);
    ASSERT_EQ(entry.bytes[entry.length], '\0');
    // A text may hold zeros of its own (the Open dialog's filter pairs): compare piece by piece.
    const char* utf8 = entry.utf8;
    for (const char* piece = entry.bytes; piece <= entry.bytes + entry.length;
         piece += strlen(piece) + 1, utf8 += strlen(utf8) + 1) {
      EXPECT_EQ(piece, cp932(utf8));
      EXPECT_EQ(utf8FromCp932(piece), utf8);
    }
  }
}
