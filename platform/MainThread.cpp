#include "MainThread.h"

#include "platform/TaskErrors.h"

#include <algorithm>
#include <exception>

namespace kva {

TMainThreadDispatcher::~TMainThreadDispatcher() { Shutdown(); }

void TMainThreadDispatcher::BindToCurrentThread() {
  std::lock_guard Lock(FMutex);
  FMainThreadId = std::this_thread::get_id();
  FShutdown = false;
}

bool TMainThreadDispatcher::IsMainThread() const {
  std::lock_guard Lock(FMutex);
  return FMainThreadId == std::this_thread::get_id();
}

void TMainThreadDispatcher::Queue(TReceiver AReceiver, TCall ACall) {
  if (IsMainThread()) {
    TEntry Entry{AReceiver, std::move(ACall), nullptr};
    RunEntry(Entry);
    return;
  }
  Enqueue(AReceiver, TClock::now(), std::move(ACall), nullptr);
}

void TMainThreadDispatcher::QueueDelayed(TReceiver AReceiver, int AMilliseconds, TCall ACall) {
  Enqueue(AReceiver, TClock::now() + std::chrono::milliseconds(std::max(AMilliseconds, 0)), std::move(ACall),
          nullptr);
}

bool TMainThreadDispatcher::RunAndWait(TReceiver AReceiver, TCall ACall) {
  if (IsMainThread()) {
    TEntry Entry{AReceiver, std::move(ACall), nullptr};
    RunEntry(Entry);
    return true;
  }
  auto Waiter = std::make_shared<TWaiter>();
  Enqueue(AReceiver, TClock::now(), std::move(ACall), Waiter);
  std::unique_lock Lock(FMutex);
  FChanged.wait(Lock, [&] { return Waiter->State != TWaitState::Pending; });
  return Waiter->State == TWaitState::Ran;
}

void TMainThreadDispatcher::Enqueue(TReceiver AReceiver, TClock::time_point ADue, TCall ACall,
                                    std::shared_ptr<TWaiter> AWaiter) {
  std::function<void()> WakeUp;
  {
    std::lock_guard Lock(FMutex);
    if (FShutdown) {
      if (AWaiter) AWaiter->State = TWaitState::Dropped;
      return;
    }
    FEntries.emplace(TKey{ADue, FNextSeq++}, TEntry{AReceiver, std::move(ACall), std::move(AWaiter)});
    WakeUp = FWakeUp;
  }
  FChanged.notify_all();
  if (WakeUp) WakeUp();
}

void TMainThreadDispatcher::Withdraw(TReceiver AReceiver) {
  std::map<TKey, TEntry> Withdrawn;
  std::unique_lock Lock(FMutex);
  for (auto It = FEntries.begin(); It != FEntries.end();) {
    if (It->second.Receiver == AReceiver) {
      Withdrawn.insert(FEntries.extract(It++));
    } else {
      ++It;
    }
  }
  if (FMainThreadId != std::this_thread::get_id()) {
    FChanged.wait(Lock, [&] { return !FRunning || FRunningReceiver != AReceiver; });
  }
  Drop(Withdrawn, Lock);
}

void TMainThreadDispatcher::Drop(std::map<TKey, TEntry>& AEntries, std::unique_lock<std::mutex>& ALock) {
  for (auto& [Key, Entry] : AEntries) {
    if (Entry.Waiter) Entry.Waiter->State = TWaitState::Dropped;
  }
  ALock.unlock();
  FChanged.notify_all();
  AEntries.clear();  // what the calls captured is released outside the lock
}

size_t TMainThreadDispatcher::ProcessDue() {
  size_t Count = 0;
  std::unique_lock Lock(FMutex);
  const auto Now = TClock::now();
  // Calls queued while this pass runs wait for the next pass, so a call that queues itself
  // cannot keep the loop here.
  const uint64_t SeqLimit = FNextSeq;
  while (!FShutdown && !FEntries.empty()) {
    auto It = FEntries.begin();
    if (It->first.first > Now || It->first.second >= SeqLimit) break;
    TEntry Entry = std::move(It->second);
    FEntries.erase(It);
    FRunning = true;
    FRunningReceiver = Entry.Receiver;
    Lock.unlock();
    RunEntry(Entry);
    Lock.lock();
    FRunning = false;
    FRunningReceiver = nullptr;
    if (Entry.Waiter) Entry.Waiter->State = TWaitState::Ran;
    FChanged.notify_all();
    ++Count;
  }
  return Count;
}

void TMainThreadDispatcher::RunEntry(TEntry& AEntry) {
  try {
    AEntry.Call();
  } catch (const std::exception& E) {
    std::function<void(const char*)> OnError;
    {
      std::lock_guard Lock(FMutex);
      OnError = FOnError;
    }
    ReportTaskError(OnError, "Main thread: queued call failed", E);
  }
}

std::optional<TMainThreadDispatcher::TClock::duration> TMainThreadDispatcher::TimeToNextDue() const {
  std::lock_guard Lock(FMutex);
  if (FEntries.empty()) return std::nullopt;
  return std::max(FEntries.begin()->first.first - TClock::now(), TClock::duration::zero());
}

size_t TMainThreadDispatcher::WaitAndProcess(TClock::duration ATimeout) {
  {
    const auto Deadline = TClock::now() + ATimeout;
    std::unique_lock Lock(FMutex);
    FChanged.wait_until(Lock, Deadline, [&] {
      return FShutdown || (!FEntries.empty() && FEntries.begin()->first.first <= TClock::now());
    });
    if (!FEntries.empty() && FEntries.begin()->first.first > TClock::now()) {
      // Sleep until the earliest delayed call, but not past the caller's deadline.
      FChanged.wait_until(Lock, std::min(Deadline, FEntries.begin()->first.first));
    }
  }
  return ProcessDue();
}

void TMainThreadDispatcher::SetWakeUp(std::function<void()> AWakeUp) {
  std::lock_guard Lock(FMutex);
  FWakeUp = std::move(AWakeUp);
}

void TMainThreadDispatcher::SetOnError(std::function<void(const char*)> AOnError) {
  std::lock_guard Lock(FMutex);
  FOnError = std::move(AOnError);
}

void TMainThreadDispatcher::Shutdown() {
  std::unique_lock Lock(FMutex);
  FShutdown = true;
  std::map<TKey, TEntry> Pending;
  Pending.swap(FEntries);
  Drop(Pending, Lock);
}

TMainThreadDispatcher& MainThread() {
  static TMainThreadDispatcher Instance;
  return Instance;
}

}  // namespace kva
