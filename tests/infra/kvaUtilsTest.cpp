#include "infra/kvaUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

using namespace kva;

namespace {

// Sets the process's time zone for one test.
class TZoneScope {
public:
  explicit TZoneScope(const char* AZone) {
    if (const char* Previous = std::getenv("TZ")) FPrevious = Previous;
    ::setenv("TZ", AZone, 1);
    ::tzset();
  }
  ~TZoneScope() {
    if (FPrevious.empty()) {
      ::unsetenv("TZ");
    } else {
      ::setenv("TZ", FPrevious.c_str(), 1);
    }
    ::tzset();
  }

private:
  std::string FPrevious;
};

// The date-time value of a wall-clock time.
TDateTime Value(int AYear, int AMonth, int ADay, int AHour, int AMinute) {
  tm Parts{};
  Parts.tm_year = AYear - 1900;
  Parts.tm_mon = AMonth - 1;
  Parts.tm_mday = ADay;
  Parts.tm_hour = AHour;
  Parts.tm_min = AMinute;
  return UnixEpochDateTime + static_cast<double>(timegm(&Parts)) / 86400.0;
}

}  // namespace

TEST(DateTimeToJavascriptTest, UtcValues) {
  EXPECT_EQ(DateTimeToJavascript(25569.0, true), 0);
  EXPECT_EQ(DateTimeToJavascript(25570.0, true), 86400000);
  EXPECT_EQ(DateTimeToJavascript(25568.5, true), -43200000);
  EXPECT_EQ(DateTimeToJavascript(Value(2024, 1, 31, 9, 15), true), 1706692500000);
}

TEST(DateTimeToJavascriptTest, LocalValuesUseTheZoneOffsetAtThatLocalTime) {
  struct TCase {
    const char* Zone;
    TDateTime Local;
    TDateTime Utc;
  };
  const TCase Cases[] = {
      {"UTC0", Value(2024, 7, 1, 12, 0), Value(2024, 7, 1, 12, 0)},
      {"XXX-2", Value(2024, 7, 1, 12, 0), Value(2024, 7, 1, 10, 0)},              // UTC+2, no daylight saving
      {"Europe/Berlin", Value(2024, 1, 15, 12, 0), Value(2024, 1, 15, 11, 0)},    // winter
      {"Europe/Berlin", Value(2024, 7, 15, 12, 0), Value(2024, 7, 15, 10, 0)},    // summer
      {"Europe/Berlin", Value(2024, 10, 27, 2, 30), Value(2024, 10, 27, 1, 30)},  // repeated hour: standard
      {"Europe/Berlin", Value(2024, 3, 31, 2, 30), Value(2024, 3, 31, 1, 30)},    // skipped hour: standard
      {"America/New_York", Value(2024, 11, 3, 1, 30), Value(2024, 11, 3, 6, 30)}, // repeated hour: standard
      {"America/New_York", Value(1969, 12, 31, 20, 0), Value(1970, 1, 1, 1, 0)},  // before 1970
      {"CET-1CEST,M3.5.0,M10.5.0/3", Value(2024, 7, 15, 12, 0), Value(2024, 7, 15, 10, 0)},
  };
  for (const TCase& Case : Cases) {
    TZoneScope Zone(Case.Zone);
    EXPECT_EQ(DateTimeToJavascript(Case.Local, false), DateTimeToJavascript(Case.Utc, true)) << Case.Zone;
  }
}

TEST(DateTimeToJavascriptTest, UtcTimestampIsTheSystemClock) {
  TZoneScope Zone("Europe/Berlin");
  const int64_t Before = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
  const int64_t Stamp = GetUTCTimestamp();
  EXPECT_GE(Stamp, Before);
  EXPECT_LT(Stamp - Before, 1000);
  // The local clock, converted, lands on the same instant (outside the repeated hour).
  EXPECT_NEAR(static_cast<double>(DateTimeToJavascript(Now(), false)), static_cast<double>(Stamp), 1000.0);
}
