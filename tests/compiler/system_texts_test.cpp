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
    std::string bytes(entry.bytes, entry.length);
    const char* utf8 = entry.utf8;
    size_t start = 0;
    while (start <= bytes.size()) {
      size_t end = bytes.find('\0', start);
      if (end == std::string::npos) end = bytes.size();
      std::string piece = bytes.substr(start, end - start);
      EXPECT_EQ(piece, cp932(utf8));
      EXPECT_EQ(utf8FromCp932(piece), utf8);
      utf8 += strlen(utf8) + 1;
      start = end + 1;
    }
  }
}
