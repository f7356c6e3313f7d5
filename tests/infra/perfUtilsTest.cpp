#include "infra/perfUtils.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kva;

TEST(TStatsTest, KeepsTheLargestAsideAndAveragesTheRest) {
  struct TCase {
    int IgnoredCount;
    std::vector<int32_t> Samples;
    std::string Top;
    int64_t Sum, Count;
    double Average;
  };
  const TCase Cases[] = {
      {3, {5, 1, 9, 7, 3}, "9,7,5", 4, 2, 2.0},
      {3, {5, 1}, "5,1", 0, 0, 2147483647.0},             // fewer than N + 1: all kept
      {3, {}, "", 0, 0, 2147483647.0},
      {2, {9, 5, 5}, "9,5", 5, 1, 5.0},                   // equal to the smallest kept: one 5 counted
      {0, {4, 8, -2}, "", 10, 3, 10.0 / 3},               // N = 0: every sample counted
      {2, {-5, -1, -9}, "-1,-5", -9, 1, -9.0},
      {1, {INT32_MAX, INT32_MAX, INT32_MAX}, "2147483647", 2 * int64_t{INT32_MAX}, 2, 2147483647.0},
  };
  for (const TCase& Case : Cases) {
    TStats Stats(Case.IgnoredCount);
    for (int32_t Sample : Case.Samples) Stats.Add(Sample);
    SCOPED_TRACE(Case.Top);
    EXPECT_EQ(Stats.TopAsString(","), Case.Top);
    EXPECT_EQ(Stats.Sum(), Case.Sum);
    EXPECT_EQ(Stats.Count(), Case.Count);
    EXPECT_DOUBLE_EQ(Stats.GetAverage(), Case.Average);
  }
}

TEST(TStatsTest, AnEqualSampleIsInsertedBeforeTheEqualKeptValue) {
  TStats Stats(2);
  for (int32_t Sample : {9, 5, 5, 3, 5}) Stats.Add(Sample);
  EXPECT_EQ(Stats.TopAsString(" "), "9 5");
  EXPECT_EQ(Stats.Sum(), 13);
  EXPECT_EQ(Stats.Count(), 3);
  Stats.Clear();
  EXPECT_EQ(Stats.TopAsString(" "), "");
  EXPECT_EQ(Stats.GetAverage(), 2147483647.0);
  EXPECT_EQ(TStats::Compare(1, 3), 2);
  EXPECT_EQ(TStats::Compare(INT32_MIN, INT32_MAX), -1) << "32-bit wrap-around, no overflow";
}

TEST(TPerfManagerTest, NestedWatchesPerThreadAndReport) {
  TPerfManager Perf;
  EXPECT_EQ(Perf.Report(), "");
  EXPECT_EQ(Perf.StopAndReturnTime(), 0) << "no current watch";
  Perf.Start("outer");
  Perf.Start("inner");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(Perf.StopAndReturnTime(), 20);
  Perf.Start("inner");  // the same, stopped watch is reused and counted again
  Perf.Stop();
  Perf.Start("outer");  // "outer" still runs: a second watch of that name
  Perf.Stop();
  Perf.Stop();
  const std::string Report = Perf.Report();
  EXPECT_EQ(Report.substr(0, Report.find(" - ")), "  0: outer");
  EXPECT_NE(Report.find("\r\n  1: inner - (2) "), std::string::npos) << Report;
  EXPECT_NE(Report.find("\r\n  2: outer - (1) 0 ms"), std::string::npos) << Report;
  EXPECT_EQ(Report.find("\r\n", Report.rfind(" ms")), std::string::npos) << "no line break after the last";

  Perf.Reset();
  EXPECT_EQ(Perf.Report(), "");
}

TEST(TPerfManagerTest, AFullTableTimesNothingAndKeepsTheNestingIntact) {
  TPerfManager Perf;
  for (int I = 0; I < TPerfManager::WatchCount; ++I) Perf.Start("w" + std::to_string(I));
  Perf.Start("one too many");  // not timed
  Perf.Start("w0");            // "w0" runs: no free watch of that name either
  EXPECT_EQ(Perf.StopAndReturnTime(), 0);
  EXPECT_EQ(Perf.StopAndReturnTime(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(Perf.StopAndReturnTime(), 5) << "the innermost real watch, w20, is current again";
  const std::string Report = Perf.Report();
  EXPECT_EQ(Report.find("one too many"), std::string::npos);
  EXPECT_NE(Report.find("  20: w20 - (1) "), std::string::npos);
  for (int I = 0; I < TPerfManager::WatchCount - 1; ++I) Perf.Stop();
  EXPECT_EQ(Perf.StopAndReturnTime(), 0) << "back outside every watch";
}

TEST(TPerfManagerTest, ThreadsNestIndependently) {
  TPerfManager Perf;
  Perf.Start("main");
  std::thread([&] {
    EXPECT_EQ(Perf.StopAndReturnTime(), 0) << "another thread has no current watch";
    Perf.Start("worker");
    Perf.Stop();
  }).join();
  Perf.Stop();
  EXPECT_NE(Perf.Report().find("  1: worker - (1)"), std::string::npos);
}
