// Cost of one Log call with 1 and 4 threads logging at once, and the lines per second that
// reach the file. Every line is counted in the file afterwards: none may be lost.
//
//   bench/kva_logging_bench [lines per thread]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "infra/LoggingThread.h"

using namespace kva;
using Clock = std::chrono::steady_clock;

namespace {

size_t CountLines(const std::string& AFileName) {
  std::ifstream File(AFileName, std::ios::binary);
  size_t Lines = 0;
  for (std::string Line; std::getline(File, Line);) ++Lines;
  return Lines;
}

void Run(int AThreads, int ALinesPerThread, const std::string& AFileName) {
  std::vector<std::vector<double>> CallNs(AThreads);
  auto Logger = std::make_unique<TLoggingThread>();
  Logger->SaveToFile(AFileName);
  const auto Start = Clock::now();
  {
    std::vector<std::thread> Threads;
    for (int T = 0; T < AThreads; ++T) {
      Threads.emplace_back([&, T] {
        auto& Samples = CallNs[T];
        Samples.reserve(ALinesPerThread);
        const std::string Component = "Bench" + std::to_string(T);
        for (int I = 0; I < ALinesPerThread; ++I) {
          const std::string Text = "command {\"p\":" + std::to_string(I) + ",\"s\":0.25,\"t\":0.5,\"b\":0}";
          const auto Before = Clock::now();
          Logger->Log(Component, Text);
          Samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - Before).count());
        }
      });
    }
    for (auto& Thread : Threads) Thread.join();
  }
  Logger.reset();  // the last batch reaches the file before the clock stops
  const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  std::vector<double> All;
  for (auto& Samples : CallNs) All.insert(All.end(), Samples.begin(), Samples.end());
  const size_t Expected = static_cast<size_t>(AThreads) * ALinesPerThread;
  const size_t Written = CountLines(AFileName);
  const double Median = bench::Percentile(All, 50), P99 = bench::Percentile(All, 99);
  std::printf("%d thread(s): Log call median %.0f ns, p99 %.0f ns; %.0f lines/s to the file; %zu of %zu lines written%s\n",
              AThreads, Median, P99, static_cast<double>(Expected) / Seconds, Written, Expected,
              Written == Expected ? "" : "  LINES LOST");
}

}  // namespace

int main(int argc, char** argv) {
  const int LinesPerThread = argc > 1 ? std::stoi(argv[1]) : 250000;
  const auto Dir = std::filesystem::temp_directory_path() / "kva-logging-bench";
  std::filesystem::create_directories(Dir);
  const std::string FileName = (Dir / "bench_log.txt").string();
  std::printf("Logging benchmark, %d lines per thread, %u hardware threads\n", LinesPerThread,
              std::thread::hardware_concurrency());
  Run(1, LinesPerThread, FileName);
  Run(4, LinesPerThread, FileName);
  std::filesystem::remove_all(Dir);
  return 0;
}
