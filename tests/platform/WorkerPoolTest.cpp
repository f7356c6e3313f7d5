#include "platform/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "TestUtil.h"

using namespace kva;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs a task and waits until its worker is back in its retire wait.
std::thread::id RunOneAndWaitIdle(TWorkerPool& APool) {
  std::atomic<std::thread::id> Worker{};
  APool.Queue([&] { Worker = std::this_thread::get_id(); });
  EXPECT_TRUE(test::WaitUntil([&] { return APool.IdleCount() == 1; }));
  return Worker.load();
}

TEST(WorkerPoolTest, WorkQueuedDuringARetireWaitIsPickedUpAtOnceByThatWorker) {
  TWorkerPool Pool;
  const std::thread::id First = RunOneAndWaitIdle(Pool);

  // Queuing does not wait for the idle worker, and the worker takes the task at once.
  std::atomic<Clock::rep> RanAt = 0;
  std::atomic<std::thread::id> Second{};
  const auto QueuedAt = Clock::now();
  Pool.Queue([&] {
    Second = std::this_thread::get_id();
    RanAt = Clock::now().time_since_epoch().count();
  });
  const auto QueueTook = Clock::now() - QueuedAt;
  ASSERT_TRUE(test::WaitUntil([&] { return RanAt != 0; }, 1000ms));
  const auto Waited = Clock::time_point(Clock::duration(RanAt.load())) - QueuedAt;
  EXPECT_LT(QueueTook, 100ms);
  EXPECT_LT(Waited, 1000ms) << "not after the 5000 ms retire wait";
  EXPECT_EQ(Second.load(), First) << "the woken worker stays and does the work";
  EXPECT_EQ(Pool.WorkerCount(), 1u);
}

TEST(WorkerPoolTest, AnIdleWorkerRetiresAfterItsFirstRetireWait) {
  TWorkerPool Pool;  // the 5000 ms of the platform's pool
  RunOneAndWaitIdle(Pool);
  const auto IdleSince = Clock::now();
  ASSERT_TRUE(test::WaitUntil([&] { return Pool.WorkerCount() == 0; }, 8000ms));
  const auto Lived = Clock::now() - IdleSince;
  EXPECT_GE(Lived, 4500ms);
  EXPECT_LT(Lived, 7000ms);

  // A pool whose workers retired starts a new one for new work.
  std::atomic<bool> Ran = false;
  Pool.Queue([&] { Ran = true; });
  EXPECT_TRUE(test::WaitUntil([&] { return Ran.load(); }));
}

TEST(WorkerPoolTest, BusyWorkersAreJoinedByNewOnesUpToTheLimit) {
  TWorkerPool Pool(5000ms, 3);
  std::atomic<int> Running = 0, Done = 0;
  std::atomic<bool> Release = false;
  for (int I = 0; I < 5; ++I) {
    Pool.Queue([&] {
      ++Running;
      while (!Release) std::this_thread::sleep_for(1ms);
      ++Done;
    });
  }
  ASSERT_TRUE(test::WaitUntil([&] { return Running == 3; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Running, 3) << "no more than three workers";
  EXPECT_EQ(Pool.WorkerCount(), 3u);
  Release = true;
  EXPECT_TRUE(test::WaitUntil([&] { return Done == 5; }));
}

TEST(WorkerPoolTest, AFailingTaskIsReportedAndTheWorkerGoesOn) {
  TWorkerPool Pool;
  std::string Error;
  std::atomic<bool> After = false;
  Pool.SetOnError([&](const char* AMessage) { Error = AMessage; });
  Pool.Queue([] { throw std::runtime_error("task failed"); });
  Pool.Queue([&] { After = true; });
  ASSERT_TRUE(test::WaitUntil([&] { return After.load(); }));
  EXPECT_EQ(Error, "task failed");
}

TEST(WorkerPoolTest, DestructionDropsWaitingWorkAndWaitsForRunningWork) {
  std::atomic<bool> Finished = false, Dropped = true;
  {
    TWorkerPool Pool(5000ms, 1);
    Pool.Queue([&] {
      std::this_thread::sleep_for(50ms);
      Finished = true;
    });
    Pool.Queue([&] { Dropped = false; });
    ASSERT_TRUE(test::WaitUntil([&] { return Pool.WorkerCount() == 1; }));
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(Finished);
  EXPECT_TRUE(Dropped);
}

}  // namespace
