#include "kvaUtils.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace kva {

namespace {

constexpr int64_t MillisecondsPerDay = 86'400'000;

struct TZoneOffset {
  int64_t Seconds;
  bool DaylightSaving;
};

TZoneOffset OffsetAt(int64_t AUtcSeconds) {
  const time_t Instant = static_cast<time_t>(AUtcSeconds);
  tm Parts{};
  localtime_r(&Instant, &Parts);
  return {Parts.tm_gmtoff, Parts.tm_isdst > 0};
}

// The zone's offset that applies at a local wall-clock time, given as seconds since 1970
// counted as if the wall clock were UTC. Of two offsets that both fit (the repeated hour),
// the standard one; in the skipped hour, which no offset fits, also the standard one.
int64_t LocalOffsetAt(int64_t AWallSeconds) {
  // Zone transitions lie far more than a day apart, so the offsets a day either side are the
  // only candidates.
  const TZoneOffset Candidates[2] = {OffsetAt(AWallSeconds - 86400), OffsetAt(AWallSeconds + 86400)};
  const TZoneOffset* Chosen = nullptr;
  for (const TZoneOffset& Candidate : Candidates) {
    const bool Fits = OffsetAt(AWallSeconds - Candidate.Seconds).Seconds == Candidate.Seconds;
    if (Fits && (!Chosen || !Candidate.DaylightSaving)) Chosen = &Candidate;
  }
  if (!Chosen) Chosen = Candidates[0].DaylightSaving ? &Candidates[1] : &Candidates[0];
  return Chosen->Seconds;
}

}  // namespace

int64_t DateTimeToJavascript(TDateTime AValue, bool AInputIsUTC) {
  const int64_t Epoch = std::llround(UnixEpochDateTime * MillisecondsPerDay);
  int64_t Milliseconds = std::llround(AValue * MillisecondsPerDay) - Epoch;
  if (!AInputIsUTC) {
    const int64_t WallSeconds = Milliseconds >= 0 ? Milliseconds / 1000 : (Milliseconds - 999) / 1000;
    Milliseconds -= LocalOffsetAt(WallSeconds) * 1000;
  }
  return Milliseconds;
}

int64_t GetUTCTimestamp() {
  // Read the UTC clock directly: going through local time would give a timestamp an hour off
  // during the repeated hour at the end of daylight saving.
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace kva
