// A guard that callbacks on other threads hold on to their owner: they run only while the
// owner lives, and the owner's end waits for a callback that is running. The owner creates it
// with std::make_shared, hands out copies, and calls End() first in its destructor. An owner
// must not end itself from inside one of its own guarded callbacks.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

namespace kva {

class TLifetime {
public:
  // Runs ACall if the owner still lives; false when it did not run.
  template <typename F>
  bool Run(F&& ACall) {
    {
      std::lock_guard Lock(FLock);
      if (FEnded) return false;
      ++FRunning;
    }
    struct TLeave {
      TLifetime& Self;
      ~TLeave() {
        std::lock_guard Lock(Self.FLock);
        if (--Self.FRunning == 0) Self.FIdle.notify_all();
      }
    } Leave{*this};
    ACall();
    return true;
  }

  // From now on nothing runs; returns once the running calls have returned.
  void End() {
    std::unique_lock Lock(FLock);
    FEnded = true;
    FIdle.wait(Lock, [this] { return FRunning == 0; });
  }

private:
  std::mutex FLock;
  std::condition_variable FIdle;
  int FRunning = 0;
  bool FEnded = false;
};

}  // namespace kva
