#include "perfUtils.h"

#include <algorithm>
#include <cstdio>
#include <sys/prctl.h>

namespace kva {

void TStats::Add(int32_t AValue) {
  // First position whose kept value is not greater than AValue.
  const auto Position = std::lower_bound(FTopIgnored.begin(), FTopIgnored.end(), AValue,
                                         [](int32_t AKept, int32_t ANew) { return AKept > ANew; });
  if (Position - FTopIgnored.begin() >= FIgnoredCount) {
    FSum += AValue;
    ++FCount;
    return;
  }
  FTopIgnored.insert(Position, AValue);
  if (static_cast<int>(FTopIgnored.size()) > FIgnoredCount) {
    FSum += FTopIgnored.back();
    ++FCount;
    FTopIgnored.pop_back();
  }
}

void TStats::Clear() {
  FTopIgnored.clear();
  FSum = 0;
  FCount = 0;
}

double TStats::GetAverage() const {
  if (FCount < 1) return 2147483647.0;
  return static_cast<double>(FSum) / static_cast<double>(FCount);
}

std::string TStats::TopAsString(std::string_view ASeparator) const {
  std::string Result;
  for (size_t I = 0; I < FTopIgnored.size(); ++I) {
    if (I > 0) Result += ASeparator;
    Result += std::to_string(FTopIgnored[I]);
  }
  return Result;
}

void SetTimerResolutionFinest() { ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

TPerfManager::TPerfManager() = default;

void TPerfManager::Start(std::string_view AName) {
  std::lock_guard Lock(FLock);
  TThreadState& Thread = FThreads[std::this_thread::get_id()];
  int32_t Id = 0;
  while (Id <= FLastId && (FWatches[Id].Name != AName || FWatches[Id].StopWatch.IsRunning())) ++Id;
  if (Id >= WatchCount) {
    ++Thread.UntimedDepth;
    return;
  }
  FLastId = std::max(FLastId, Id);
  TPerfWatch& Watch = FWatches[Id];
  Watch.PrevId = Thread.CurrentId;
  Thread.CurrentId = Id;
  Watch.Name = AName;
  ++Watch.Count;
  Watch.StopWatch.Start();
}

void TPerfManager::Stop() { StopAndReturnTime(); }

int64_t TPerfManager::StopAndReturnTime() {
  std::lock_guard Lock(FLock);
  TThreadState& Thread = FThreads[std::this_thread::get_id()];
  if (Thread.UntimedDepth > 0) {
    --Thread.UntimedDepth;
    return 0;
  }
  if (Thread.CurrentId < 0) return 0;
  TPerfWatch& Watch = FWatches[Thread.CurrentId];
  Watch.StopWatch.Stop();
  Thread.CurrentId = Watch.PrevId;
  return Watch.StopWatch.ElapsedMilliseconds();
}

std::string TPerfManager::Report() {
  std::lock_guard Lock(FLock);
  std::string Result;
  for (int32_t I = 0; I <= FLastId; ++I) {
    const TPerfWatch& Watch = FWatches[I];
    char Line[64];
    std::snprintf(Line, sizeof Line, " - (%d) %lld ms", Watch.Count,
                  static_cast<long long>(Watch.StopWatch.ElapsedMilliseconds()));
    if (I > 0) Result += "\r\n";
    Result += "  " + std::to_string(I) + ": " + Watch.Name + Line;
  }
  return Result;
}

void TPerfManager::Reset() {
  std::lock_guard Lock(FLock);
  for (TPerfWatch& Watch : FWatches) {
    Watch.StopWatch.Reset();
    Watch.Count = 0;
    Watch.Name.clear();
  }
  FLastId = -1;
  FThreads[std::this_thread::get_id()] = TThreadState{};
}

TPerfManager& gPerf() {
  static TPerfManager Instance;
  return Instance;
}

}  // namespace kva
