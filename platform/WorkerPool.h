// The pool of worker threads that carries the agent's background work (HTTP requests and
// their completions). Workers are started on demand up to a limit. An idle worker waits for
// work on the queue's condition, which releases the queue lock for the whole wait, so work
// queued while a worker waits to retire is picked up at once; a worker that finds no work in
// its retire wait (5000 ms) ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace kva {

class TWorkerPool {
public:
  static constexpr std::chrono::milliseconds DefaultRetireWait{5000};

  explicit TWorkerPool(std::chrono::milliseconds ARetireWait = DefaultRetireWait, size_t AMaxWorkers = 64);
  // Drops the work not yet started and waits for the running work to end.
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  // Runs ATask on a worker. A task that raises is reported and the worker goes on.
  void Queue(std::function<void()> ATask);

  size_t WorkerCount() const;
  size_t IdleCount() const;
  // Where the errors of tasks go (std::exception's what()); stderr by default.
  void SetOnError(std::function<void(const char*)> AOnError);

private:
  void Execute();
  void JoinRetired(std::unique_lock<std::mutex>& ALock);

  const std::chrono::milliseconds FRetireWait;
  const size_t FMaxWorkers;
  mutable std::mutex FLock;  // the queue lock
  std::condition_variable FWorkQueued;
  std::condition_variable FWorkerEnded;
  std::deque<std::function<void()>> FQueue;
  std::map<std::thread::id, std::thread> FWorkers;
  std::vector<std::thread> FRetired;  // ended workers, joined by the next Queue or the destructor
  size_t FIdle = 0;
  bool FStopping = false;
  std::function<void(const char*)> FOnError;
};

// The process's pool.
TWorkerPool& WorkerPool();

}  // namespace kva
