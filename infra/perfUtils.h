// Timing aids: TStats (an average that keeps the N largest samples aside), the finest timer
// resolution for the process, and TPerfManager, a table of named, nestable stopwatches.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/StopWatch.h"

namespace kva {

// A running average of integer samples with the N largest kept aside as outliers.
// Not locked: each instance is fed from one thread.
class TStats {
public:
  explicit TStats(int AIgnoredCount) : FIgnoredCount(AIgnoredCount < 0 ? 0 : AIgnoredCount) {}

  void Add(int32_t AValue);
  void Clear();
  // Right - Left: the descending order of the kept samples.
  static int32_t Compare(int32_t ALeft, int32_t ARight) {
    return static_cast<int32_t>(static_cast<uint32_t>(ARight) - static_cast<uint32_t>(ALeft));
  }
  // Average of the samples not kept aside; 2147483647.0 when there are none.
  double GetAverage() const;
  // The kept samples, largest first, joined by ASeparator.
  std::string TopAsString(std::string_view ASeparator) const;

  const std::vector<int32_t>& TopIgnored() const { return FTopIgnored; }
  int64_t Sum() const { return FSum; }
  int64_t Count() const { return FCount; }

private:
  int FIgnoredCount;
  std::vector<int32_t> FTopIgnored;  // descending
  int64_t FSum = 0;
  int64_t FCount = 0;
};

// Asks for the finest timer resolution for the rest of the process's life. On Linux: the
// calling thread's timer slack is lowered to its minimum (1 ns), so short sleeps and timed
// waits wake when they are due instead of up to 50 µs later.
void SetTimerResolutionFinest();

// Named stopwatches shared by all threads; each thread nests its own Start/Stop pairs.
class TPerfManager {
public:
  static constexpr int WatchCount = 21;

  TPerfManager();

  // Starts timing AName on the calling thread, nested inside the thread's current watch.
  // When all 21 watches are in use and none named AName is free, nothing is timed; the
  // matching Stop then returns to the watch that was current before.
  void Start(std::string_view AName);
  void Stop();
  // As Stop; the stopped watch's total elapsed milliseconds (0 when nothing was timed).
  int64_t StopAndReturnTime();
  // One line per watch, "  %d: %s - (%d) %d ms", joined by CR LF.
  std::string Report();
  void Reset();

  void Lock() { FLock.lock(); }
  void UnLock() { FLock.unlock(); }

private:
  struct TPerfWatch {
    TStopwatch StopWatch;
    std::string Name;
    int32_t Count = 0;
    int32_t PrevId = -1;
  };

  // Each thread's nesting: its current watch (-1 for none) and how many of its Starts found
  // the table full and time nothing.
  struct TThreadState {
    int32_t CurrentId = -1;
    int32_t UntimedDepth = 0;
  };

  std::recursive_mutex FLock;
  std::array<TPerfWatch, WatchCount> FWatches;
  int32_t FLastId = -1;
  std::map<std::thread::id, TThreadState> FThreads;
};

// The process's manager (the agent times nothing with it).
TPerfManager& gPerf();

}  // namespace kva
