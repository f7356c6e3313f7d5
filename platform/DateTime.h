// Local date and time, and the day-count date-time values of the described program: a double
// whose whole part counts days from 30 December 1899 and whose fraction is the time of day.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace kva {

using TDateTime = double;

// 1 January 1970 00:00:00 as a date-time value.
inline constexpr TDateTime UnixEpochDateTime = 25569.0;

struct TLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

TLocalTime ToLocalTime(std::chrono::system_clock::time_point ATime);
inline TLocalTime LocalTimeNow() { return ToLocalTime(std::chrono::system_clock::now()); }

// Formats with the tokens yyyy, mm, dd, hh, nn, ss and zzz (any letter case: four-digit year,
// two-digit month, day, hour 00-23, minute, second, three-digit milliseconds); every other
// character is copied. The time separator is the colon.
std::string FormatDateTime(std::string_view AFormat, const TLocalTime& ATime);

// The current local date and time as a date-time value.
TDateTime Now();

}  // namespace kva
