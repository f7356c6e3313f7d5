// Main-thread dispatch: other threads hand calls to the UI thread, which runs them from its
// loop (the window's loop, or a loop that a test pumps). Every call is addressed to a receiver
// so that an object being destroyed can withdraw whatever is still pending for it.
//
// Guarantees:
// - calls run on the main thread, one at a time, in the order of their due time (ties in the
//   order they were queued);
// - once Withdraw(R) has returned, no call addressed to R starts, also one due at that moment;
//   from another thread, Withdraw also waits for a call of R that is running;
// - RunAndWait never hangs on a main thread that has shut down or withdrawn the call: it
//   answers false (the call did not run).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kva {

class TMainThreadDispatcher {
public:
  using TReceiver = const void*;
  using TCall = std::function<void()>;
  using TClock = std::chrono::steady_clock;

  TMainThreadDispatcher() = default;
  TMainThreadDispatcher(const TMainThreadDispatcher&) = delete;
  TMainThreadDispatcher& operator=(const TMainThreadDispatcher&) = delete;
  ~TMainThreadDispatcher();

  // Makes the calling thread the main thread and opens the dispatcher (again after Shutdown).
  void BindToCurrentThread();
  bool IsMainThread() const;

  // Runs ACall at once on the main thread; from any other thread queues it.
  void Queue(TReceiver AReceiver, TCall ACall);
  // Queues ACall to run on the main thread AMilliseconds from now (also from the main thread).
  void QueueDelayed(TReceiver AReceiver, int AMilliseconds, TCall ACall);
  // Runs ACall on the main thread and waits for it. True when it ran; false when it was
  // withdrawn or the dispatcher shut down before it could run.
  bool RunAndWait(TReceiver AReceiver, TCall ACall);
  // Drops every pending call addressed to AReceiver (queued, delayed, or waited for).
  void Withdraw(TReceiver AReceiver);

  // Pump side, main thread only. Runs the calls that are due now; returns how many ran.
  size_t ProcessDue();
  // Time until the earliest pending call is due; none when nothing is pending.
  std::optional<TClock::duration> TimeToNextDue() const;
  // Waits until a call is due, at most ATimeout, then runs what is due.
  size_t WaitAndProcess(TClock::duration ATimeout);

  // Called (from any thread, outside the dispatcher's lock) whenever a call is queued from
  // another thread, so that a UI loop blocked in its own wait wakes up.
  void SetWakeUp(std::function<void()> AWakeUp);
  // Reports an exception that escaped a queued call; by default it is written to stderr.
  void SetOnError(std::function<void(const char*)> AOnError);

  // Ends dispatching: pending calls are dropped, waiting RunAndWait callers get false, and
  // later calls are refused until BindToCurrentThread.
  void Shutdown();

private:
  enum class TWaitState { Pending, Ran, Dropped };
  struct TWaiter {
    TWaitState State = TWaitState::Pending;
  };
  struct TEntry {
    TReceiver Receiver;
    TCall Call;
    std::shared_ptr<TWaiter> Waiter;  // set for RunAndWait
  };
  using TKey = std::pair<TClock::time_point, uint64_t>;

  void Enqueue(TReceiver AReceiver, TClock::time_point ADue, TCall ACall, std::shared_ptr<TWaiter> AWaiter);
  void RunEntry(TEntry& AEntry);
  void Drop(std::map<TKey, TEntry>& AEntries, std::unique_lock<std::mutex>& ALock);

  mutable std::mutex FMutex;
  std::condition_variable FChanged;  // entries added, calls finished, waiters resolved
  std::map<TKey, TEntry> FEntries;
  uint64_t FNextSeq = 0;
  std::thread::id FMainThreadId;
  bool FShutdown = false;
  TReceiver FRunningReceiver = nullptr;
  bool FRunning = false;
  std::function<void()> FWakeUp;
  std::function<void(const char*)> FOnError;
};

// The process's dispatcher.
TMainThreadDispatcher& MainThread();

}  // namespace kva
