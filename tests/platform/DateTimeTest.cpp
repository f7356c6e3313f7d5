#include "platform/DateTime.h"

#include <gtest/gtest.h>

using namespace kva;

TEST(DateTimeTest, FormatTokensInAnyCase) {
  const TLocalTime Time{2024, 1, 31, 9, 15, 2, 120};
  EXPECT_EQ(FormatDateTime("YYYY.MM.DD hh:nn:ss.zzz", Time), "2024.01.31 09:15:02.120");
  EXPECT_EQ(FormatDateTime("yyyymmdd_hhnnsszzz", Time), "20240131_091502120");
  EXPECT_EQ(FormatDateTime("YYYYMMDD-hhnnsszzz", Time), "20240131-091502120");
  EXPECT_EQ(FormatDateTime("[x]", Time), "[x]");
}
