// Waitable objects of the platform layer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kva {

// An event that releases one wait and then resets itself (Windows auto-reset semantics).
class TAutoResetEvent {
public:
  void SetEvent() {
    {
      std::lock_guard Lock(FMutex);
      if (FSignalled) return;  // already due to wake a waiter: spare the system call
      FSignalled = true;
    }
    FCondition.notify_one();
  }

  // Waits without time limit; consumes the signal.
  void WaitFor() {
    std::unique_lock Lock(FMutex);
    FCondition.wait(Lock, [this] { return FSignalled; });
    FSignalled = false;
  }

  // Waits at most ATimeout; true when signalled (the signal is consumed). A zero timeout only tests.
  template <typename Rep, typename Period>
  bool WaitFor(std::chrono::duration<Rep, Period> ATimeout) {
    std::unique_lock Lock(FMutex);
    if (!FCondition.wait_for(Lock, ATimeout, [this] { return FSignalled; })) return false;
    FSignalled = false;
    return true;
  }

private:
  std::mutex FMutex;
  std::condition_variable FCondition;
  bool FSignalled = false;
};

}  // namespace kva
