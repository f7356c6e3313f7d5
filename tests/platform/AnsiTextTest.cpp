#include "platform/AnsiText.h"

#include <gtest/gtest.h>

using namespace kva;

TEST(AnsiTextTest, WellFormedTextPassesAndIllFormedBytesAreSubstituted) {
  struct TCase {
    std::string Input, ToAnsiExpected, FromAnsiExpected;
  };
  const TCase Cases[] = {
      {"plain ASCII\r\n", "plain ASCII\r\n", "plain ASCII\r\n"},
      {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9A\x97", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9A\x97",
       "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x9A\x97"},
      {"a\xFF" "b", "a?b", "a\xEF\xBF\xBD" "b"},                      // not a lead byte
      {"\xC3", "?", "\xEF\xBF\xBD"},                                   // cut short
      {"\xC0\xAF", "??", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong
      {"\xED\xA0\x80", "???", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {std::string("nul\0inside", 10), std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(ToAnsi(Case.Input), Case.ToAnsiExpected);
    EXPECT_EQ(FromAnsi(Case.Input), Case.FromAnsiExpected);
  }
}
