#include "DateTime.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace kva {

TLocalTime ToLocalTime(std::chrono::system_clock::time_point ATime) {
  using namespace std::chrono;
  const auto Milliseconds = floor<milliseconds>(ATime.time_since_epoch()).count();
  const time_t Seconds = static_cast<time_t>(Milliseconds >= 0 ? Milliseconds / 1000 : (Milliseconds - 999) / 1000);
  tm Parts{};
  localtime_r(&Seconds, &Parts);
  return TLocalTime{Parts.tm_year + 1900, Parts.tm_mon + 1, Parts.tm_mday, Parts.tm_hour, Parts.tm_min,
                    Parts.tm_sec, static_cast<int>(Milliseconds - int64_t{Seconds} * 1000)};
}

std::string FormatDateTime(std::string_view AFormat, const TLocalTime& ATime) {
  const auto StartsWith = [&](size_t AAt, std::string_view AToken) {
    if (AFormat.size() - AAt < AToken.size()) return false;
    for (size_t I = 0; I < AToken.size(); ++I) {
      if (std::tolower(static_cast<unsigned char>(AFormat[AAt + I])) != AToken[I]) return false;
    }
    return true;
  };
  std::string Result;
  char Buffer[8];
  for (size_t I = 0; I < AFormat.size();) {
    if (StartsWith(I, "yyyy")) {
      std::snprintf(Buffer, sizeof Buffer, "%04d", ATime.Year);
      I += 4;
    } else if (StartsWith(I, "zzz")) {
      std::snprintf(Buffer, sizeof Buffer, "%03d", ATime.Millisecond);
      I += 3;
    } else if (StartsWith(I, "mm") || StartsWith(I, "dd") || StartsWith(I, "hh") || StartsWith(I, "nn") ||
               StartsWith(I, "ss")) {
      const char Token = static_cast<char>(std::tolower(static_cast<unsigned char>(AFormat[I])));
      const int Value = Token == 'm'   ? ATime.Month
                        : Token == 'd' ? ATime.Day
                        : Token == 'h' ? ATime.Hour
                        : Token == 'n' ? ATime.Minute
                                       : ATime.Second;
      std::snprintf(Buffer, sizeof Buffer, "%02d", Value);
      I += 2;
    } else {
      Buffer[0] = AFormat[I];
      Buffer[1] = '\0';
      I += 1;
    }
    Result += Buffer;
  }
  return Result;
}

TDateTime Now() {
  using namespace std::chrono;
  const auto Nowadays = system_clock::now();
  const auto Milliseconds = duration_cast<milliseconds>(Nowadays.time_since_epoch()).count();
  const time_t Seconds = static_cast<time_t>(Milliseconds / 1000);
  tm Parts{};
  localtime_r(&Seconds, &Parts);
  // Local wall-clock milliseconds since 1970, then as days from 1899-12-30.
  const double LocalMilliseconds = static_cast<double>(Milliseconds) + Parts.tm_gmtoff * 1000.0;
  return UnixEpochDateTime + LocalMilliseconds / 86400000.0;
}

}  // namespace kva
