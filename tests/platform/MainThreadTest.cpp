#include "platform/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace kva;
using namespace std::chrono_literals;

namespace {

class MainThreadTest : public ::testing::Test {
protected:
  void SetUp() override { Dispatcher.BindToCurrentThread(); }

  // Pumps until APredicate holds or a second passes.
  template <typename P>
  bool PumpUntil(P APredicate) {
    const auto Deadline = std::chrono::steady_clock::now() + 1s;
    while (!APredicate()) {
      if (std::chrono::steady_clock::now() > Deadline) return false;
      Dispatcher.WaitAndProcess(5ms);
    }
    return true;
  }

  TMainThreadDispatcher Dispatcher;
  int ReceiverA = 0, ReceiverB = 0;
};

TEST_F(MainThreadTest, QueueRunsAtOnceOnTheMainThreadAndLaterFromOthers) {
  std::vector<std::string> Order;
  Dispatcher.Queue(&ReceiverA, [&] { Order.push_back("main"); });
  EXPECT_EQ(Order, std::vector<std::string>{"main"});

  std::thread::id RanOn;
  std::thread Other([&] {
    Dispatcher.Queue(&ReceiverA, [&] { Order.push_back("first"); });
    Dispatcher.Queue(&ReceiverA, [&] {
      Order.push_back("second");
      RanOn = std::this_thread::get_id();
    });
  });
  Other.join();
  EXPECT_EQ(Order.size(), 1u) << "queued calls wait for the pump";
  EXPECT_EQ(Dispatcher.ProcessDue(), 2u);
  EXPECT_EQ(Order, (std::vector<std::string>{"main", "first", "second"}));
  EXPECT_EQ(RanOn, std::this_thread::get_id());
}

TEST_F(MainThreadTest, DelayedCallsRunWhenDueInDueOrderTiesFirstQueuedFirst) {
  std::vector<int> Order;
  Dispatcher.QueueDelayed(&ReceiverA, 60, [&] { Order.push_back(60); });
  Dispatcher.QueueDelayed(&ReceiverA, 20, [&] { Order.push_back(20); });
  Dispatcher.QueueDelayed(&ReceiverA, 0, [&] { Order.push_back(0); });
  Dispatcher.QueueDelayed(&ReceiverA, 0, [&] { Order.push_back(1); });
  EXPECT_EQ(Dispatcher.ProcessDue(), 2u);
  EXPECT_EQ(Order, (std::vector<int>{0, 1}));
  const auto Start = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return Order.size() == 4; }));
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 50ms) << "a delayed call never runs early";
  EXPECT_EQ(Order, (std::vector<int>{0, 1, 20, 60}));
  EXPECT_FALSE(Dispatcher.TimeToNextDue().has_value());
}

TEST_F(MainThreadTest, WithdrawDropsEveryPendingCallOfThatReceiverOnly) {
  std::vector<std::string> Ran;
  std::thread([&] {
    Dispatcher.Queue(&ReceiverA, [&] { Ran.push_back("A queued"); });
    Dispatcher.Queue(&ReceiverB, [&] { Ran.push_back("B queued"); });
  }).join();
  Dispatcher.QueueDelayed(&ReceiverA, 0, [&] { Ran.push_back("A due now"); });
  Dispatcher.QueueDelayed(&ReceiverA, 10, [&] { Ran.push_back("A delayed"); });
  std::this_thread::sleep_for(15ms);  // every call is due

  Dispatcher.Withdraw(&ReceiverA);
  Dispatcher.WaitAndProcess(20ms);
  EXPECT_EQ(Ran, std::vector<std::string>{"B queued"});
}

TEST_F(MainThreadTest, CallWithdrawnFromAnotherThreadNeverStartsAfterWithdrawReturns) {
  // A worker queues a call and withdraws it while the main thread pumps; the call may run
  // before the withdrawal, never after it has returned.
  std::atomic<int> Violations = 0, RanBefore = 0;
  std::atomic<bool> Stop = false;
  std::thread Worker([&] {
    for (int I = 0; I < 2000; ++I) {
      auto Withdrawn = std::make_shared<std::atomic<bool>>(false);
      Dispatcher.Queue(&ReceiverA, [Withdrawn, &Violations, &RanBefore] {
        if (*Withdrawn) ++Violations;
        ++RanBefore;
      });
      if (I % 2) std::this_thread::yield();
      Dispatcher.Withdraw(&ReceiverA);
      *Withdrawn = true;
    }
    Stop = true;
  });
  while (!Stop) Dispatcher.WaitAndProcess(1ms);
  Worker.join();
  Dispatcher.ProcessDue();
  EXPECT_EQ(Violations, 0);
  RecordProperty("RanBeforeWithdrawal", RanBefore.load());
}

TEST_F(MainThreadTest, RunAndWaitRunsOnTheMainThreadAndReturnsTrue) {
  std::thread::id RanOn;
  bool Result = false;
  std::thread Other([&] { Result = Dispatcher.RunAndWait(&ReceiverA, [&] { RanOn = std::this_thread::get_id(); }); });
  ASSERT_TRUE(PumpUntil([&] { return RanOn != std::thread::id(); }));
  Other.join();
  EXPECT_TRUE(Result);
  EXPECT_EQ(RanOn, std::this_thread::get_id());
  EXPECT_TRUE(Dispatcher.RunAndWait(&ReceiverA, [] {})) << "on the main thread it runs at once";
}

TEST_F(MainThreadTest, RunAndWaitAnswersFalseWhenWithdrawnOrShutDown) {
  struct TCase {
    const char* Name;
    std::function<void()> End;
  };
  const TCase Cases[] = {
      {"withdrawn while waiting", [&] { Dispatcher.Withdraw(&ReceiverA); }},
      {"shut down while waiting", [&] { Dispatcher.Shutdown(); }},
  };
  for (const TCase& Case : Cases) {
    Dispatcher.BindToCurrentThread();
    bool Ran = false;
    std::atomic<int> Result = -1;
    std::thread Other([&] { Result = Dispatcher.RunAndWait(&ReceiverA, [&] { Ran = true; }); });
    while (!Dispatcher.TimeToNextDue()) std::this_thread::sleep_for(1ms);
    Case.End();
    Other.join();
    Dispatcher.ProcessDue();
    EXPECT_EQ(Result, 0) << Case.Name;
    EXPECT_FALSE(Ran) << Case.Name;
  }
  // Once shut down, a call from another thread is refused at once instead of hanging.
  Dispatcher.Shutdown();
  bool Result = true;
  std::thread([&] { Result = Dispatcher.RunAndWait(&ReceiverA, [] {}); }).join();
  EXPECT_FALSE(Result);
}

TEST_F(MainThreadTest, ACallThatQueuesItselfWaitsForTheNextPass) {
  int Runs = 0;
  std::function<void()> Again = [&] {
    ++Runs;
    Dispatcher.QueueDelayed(&ReceiverA, 0, Again);
  };
  Dispatcher.QueueDelayed(&ReceiverA, 0, Again);
  EXPECT_EQ(Dispatcher.ProcessDue(), 1u);
  EXPECT_EQ(Runs, 1);
  Dispatcher.Withdraw(&ReceiverA);
}

TEST_F(MainThreadTest, WakeUpIsCalledForCallsFromOtherThreadsAndErrorsAreReported) {
  std::atomic<int> WakeUps = 0;
  std::string Error;
  Dispatcher.SetWakeUp([&] { ++WakeUps; });
  Dispatcher.SetOnError([&](const char* AMessage) { Error = AMessage; });
  std::thread([&] { Dispatcher.Queue(&ReceiverA, [] { throw std::runtime_error("boom"); }); }).join();
  EXPECT_EQ(WakeUps, 1);
  Dispatcher.ProcessDue();
  EXPECT_EQ(Error, "boom");
}

}  // namespace
