#include "WorkerPool.h"

#include "platform/TaskErrors.h"

#include <exception>

namespace kva {

TWorkerPool::TWorkerPool(std::chrono::milliseconds ARetireWait, size_t AMaxWorkers)
    : FRetireWait(ARetireWait), FMaxWorkers(AMaxWorkers == 0 ? 1 : AMaxWorkers) {}

TWorkerPool::~TWorkerPool() {
  std::deque<std::function<void()>> Dropped;
  std::unique_lock Lock(FLock);
  FStopping = true;
  Dropped.swap(FQueue);
  FWorkQueued.notify_all();
  FWorkerEnded.wait(Lock, [this] { return FWorkers.empty(); });
  JoinRetired(Lock);
}

void TWorkerPool::Queue(std::function<void()> ATask) {
  std::unique_lock Lock(FLock);
  if (FStopping) return;
  JoinRetired(Lock);
  FQueue.push_back(std::move(ATask));
  if (FIdle > 0) {
    FWorkQueued.notify_one();
  } else if (FWorkers.size() < FMaxWorkers) {
    std::thread Worker([this] { Execute(); });
    const std::thread::id Id = Worker.get_id();
    FWorkers.emplace(Id, std::move(Worker));
  }
}

void TWorkerPool::JoinRetired(std::unique_lock<std::mutex>& ALock) {
  if (FRetired.empty()) return;
  std::vector<std::thread> Retired;
  Retired.swap(FRetired);
  ALock.unlock();
  for (std::thread& Thread : Retired) Thread.join();
  ALock.lock();
}

void TWorkerPool::Execute() {
  std::unique_lock Lock(FLock);
  for (;;) {
    if (FQueue.empty() && !FStopping) {
      // The retire wait: the condition releases the queue lock while it waits.
      ++FIdle;
      const bool Woken = FWorkQueued.wait_for(Lock, FRetireWait, [this] { return !FQueue.empty() || FStopping; });
      --FIdle;
      if (!Woken) break;  // nothing came in the whole wait: retire
    }
    if (FStopping) break;
    std::function<void()> Task = std::move(FQueue.front());
    FQueue.pop_front();
    Lock.unlock();
    try {
      Task();
    } catch (const std::exception& E) {
      std::function<void(const char*)> OnError;
      {
        std::lock_guard ErrorLock(FLock);
        OnError = FOnError;
      }
      ReportTaskError(OnError, "Worker pool: task failed", E);
    }
    Task = nullptr;  // what the task captured goes before the worker waits again
    Lock.lock();
  }
  // Hand this thread over to be joined; the lock is released only on return.
  auto Self = FWorkers.find(std::this_thread::get_id());
  FRetired.push_back(std::move(Self->second));
  FWorkers.erase(Self);
  FWorkerEnded.notify_all();
}

size_t TWorkerPool::WorkerCount() const {
  std::lock_guard Lock(FLock);
  return FWorkers.size();
}

size_t TWorkerPool::IdleCount() const {
  std::lock_guard Lock(FLock);
  return FIdle;
}

void TWorkerPool::SetOnError(std::function<void(const char*)> AOnError) {
  std::lock_guard Lock(FLock);
  FOnError = std::move(AOnError);
}

TWorkerPool& WorkerPool() {
  static TWorkerPool Instance;
  return Instance;
}

}  // namespace kva
