// The service client's transport: the round trip of one POST through the HTTP layer to the
// track simulator on loopback, with connection reuse (the shared cache) and without it (a
// new TCP connection per POST); and how long a task queued to the worker pool waits when the
// pool's only worker is idle in its retire wait.
//
//   bench/kva_service_client_bench [POSTs per run]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "platform/HttpClient.h"
#include "platform/WorkerPool.h"
#include "sim/TrackSimulator.h"

using namespace kva;
using Clock = std::chrono::steady_clock;

namespace {

void PostRoundTrips(const sim::TTrackSimulator& ASimulator, int ACount, bool AShare) {
  const std::string Url = ASimulator.BaseUrl() + "/v1/token?key=" + ASimulator.ApiKey();
  std::vector<double> Microseconds;
  int Failed = 0;
  for (int I = 0; I < ACount; ++I) {
    THttpRequest::TOptions Options;
    Options.Method = "POST";
    Options.Url = Url;
    Options.Headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer "}};
    Options.Body = R"({"grant_type":"refresh_token","refresh_token":"bench"})";
    Options.ShareConnections = AShare;
    Options.OnComplete = [&](const THttpResponse& AResponse) { Failed += AResponse.StatusCode != 400; };
    const auto Start = Clock::now();
    THttpRequest::Start(std::move(Options))->Wait();
    Microseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - Start).count());
  }
  const double Median = bench::Percentile(Microseconds, 50), P99 = bench::Percentile(Microseconds, 99);
  std::printf("  %-30s median %7.1f us, p99 %7.1f us (%d POSTs%s)\n",
              AShare ? "reusing the connection:" : "new connection per POST:", Median, P99, ACount,
              Failed ? ", SOME FAILED" : "");
}

void RetireWaitPickup(int ACount) {
  TWorkerPool Pool;
  std::vector<double> Microseconds;
  for (int I = 0; I < ACount; ++I) {
    while (Pool.IdleCount() != 1 && Pool.WorkerCount() != 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(500));  // the worker is deep in its wait
    std::atomic<Clock::rep> StartedAt = 0;
    const auto QueuedAt = Clock::now();
    Pool.Queue([&] { StartedAt = Clock::now().time_since_epoch().count(); });
    while (StartedAt == 0) std::this_thread::yield();
    Microseconds.push_back(
        std::chrono::duration<double, std::micro>(Clock::time_point(Clock::duration(StartedAt.load())) - QueuedAt)
            .count());
  }
  const double Median = bench::Percentile(Microseconds, 50), P99 = bench::Percentile(Microseconds, 99);
  std::printf("  queued while the worker waits to retire: median %.1f us, p99 %.1f us, max %.1f us (%d tasks)\n",
              Median, P99, Microseconds.back(), ACount);
}

}  // namespace

int main(int argc, char** argv) {
  const int Count = argc > 1 ? std::atoi(argv[1]) : 2000;
  sim::TTrackSimulator Simulator({.ApiKey = "BenchKey"});
  Simulator.Start(0);
  std::printf("POST round trip to the simulator on loopback:\n");
  PostRoundTrips(Simulator, 50, true);  // warm-up
  PostRoundTrips(Simulator, Count, true);
  PostRoundTrips(Simulator, Count, false);
  std::printf("Worker pool:\n");
  RetireWaitPickup(1000);
  return 0;
}
