// A high-resolution stopwatch on the monotonic clock: elapsed time accumulates over
// start/stop pairs until Reset.
#pragma once

#include <chrono>
#include <cstdint>

namespace kva {

class TStopwatch {
public:
  using Clock = std::chrono::steady_clock;

  // Ticks are nanoseconds of the monotonic clock.
  static constexpr int64_t Frequency = 1'000'000'000;

  static TStopwatch StartNew() {
    TStopwatch Watch;
    Watch.Start();
    return Watch;
  }

  void Start() {
    if (FRunning) return;
    FStartTime = Clock::now();
    FRunning = true;
  }

  void Stop() {
    if (!FRunning) return;
    FElapsed += Clock::now() - FStartTime;
    FRunning = false;
  }

  void Reset() {
    FElapsed = Clock::duration::zero();
    FRunning = false;
  }

  void Restart() {
    Reset();
    Start();
  }

  bool IsRunning() const { return FRunning; }

  Clock::duration Elapsed() const { return FRunning ? FElapsed + (Clock::now() - FStartTime) : FElapsed; }
  int64_t ElapsedTicks() const { return std::chrono::duration_cast<std::chrono::nanoseconds>(Elapsed()).count(); }
  int64_t ElapsedMilliseconds() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Elapsed()).count();
  }

private:
  Clock::duration FElapsed{};
  Clock::time_point FStartTime{};
  bool FRunning = false;
};

}  // namespace kva
