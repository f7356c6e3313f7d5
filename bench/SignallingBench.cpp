// The signalling path on loopback: how long after the simulator writes a car's message into
// the database the session raises OnRemoteDescription or OnIceCandidate; and the memory of a
// database listener while 100,000 events stream through it.
//
//   bench/kva_signalling_bench [messages]
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "BenchUtil.h"
#include "Shared/libKVASignalingClient3.h"
#include "infra/LoggingThread.h"
#include "platform/MainThread.h"
#include "sim/TrackSimulator.h"

using namespace kva;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* ApiKey = "BenchWebApiKey000000000000000000000000x";

long ResidentKiB() {
  std::ifstream Status("/proc/self/status");
  for (std::string Line; std::getline(Status, Line);) {
    if (Line.rfind("VmRSS:", 0) == 0) return std::stol(Line.substr(6));
  }
  return 0;
}

template <typename P>
bool Pump(P APredicate) {
  const auto Deadline = Clock::now() + std::chrono::seconds(10);
  while (!APredicate()) {
    if (Clock::now() > Deadline) return false;
    MainThread().WaitAndProcess(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int Messages = argc > 1 ? std::atoi(argv[1]) : 2000;
  MainThread().BindToCurrentThread();
  sim::TTrackSimulatorOptions Options{.ApiKey = ApiKey};
  Options.Queue.AssignDelay = std::chrono::milliseconds(-1);
  sim::TTrackSimulator Simulator(Options);
  Simulator.Start(0);
  const std::string Base = Simulator.BaseUrl();
  {
    TKvaSignalingManager Manager("bench", {Base, Base, Base, Base + "/db/", "", ApiKey});
    Manager.SignInWithEmailAndPassword(sim::DemoEmail, sim::DemoPassword);
    Pump([&] { return Manager.ConnectionState() == TKvaConnectionState::CONNECTED; });

    std::mutex Lock;
    std::condition_variable Arrived;
    int Seen = 0;
    TKvaSignalingSession Session(Manager);
    const auto Count = [&](auto&&...) {
      std::lock_guard Guard(Lock);
      ++Seen;
      Arrived.notify_all();
    };
    Session.SetOnRemoteDescription(TKvaSignalingSession::TOnRemoteDescription(
        [&](TKvaSignalingSession*, const std::string&, const std::string&) { Count(); }));
    Session.SetOnIceCandidate(TKvaSignalingSession::TOnIceCandidate(
        [&](TKvaSignalingSession*, const std::string&, int32_t, const std::string&) { Count(); }));
    Session.AddClientToQueue("molvik", "molvik_i8_01", "bench");
    Pump([&] { return Simulator.Queue().EntryIds().size() == 1 && Simulator.OpenStreams() == 1; });
    const std::string Entry = Simulator.Queue().EntryIds().front();
    Simulator.Queue().Assign(Entry);
    Pump([&] { return Session.SessionState() == TKvaSignalingSessionState::RemoteSession && Simulator.OpenStreams() == 2; });
    const std::string RsUrl = Simulator.Database().Get("/queue/" + Entry)["rsUrl"];
    const std::string ToAgent = RsUrl.substr(RsUrl.find("/db/") + 3);

    std::vector<double> Delays;
    for (int I = 0; I < Messages; ++I) {
      const nlohmann::json Message =
          I % 2 ? nlohmann::json{{"type", "candidate"}, {"candidate", "candidate:" + std::to_string(I) + " 1 UDP 1 127.0.0.1 9 typ host"},
                                 {"sdpMLineIndex", 0}, {"sdpMid", "0"}}
                : nlohmann::json{{"type", "answer"}, {"sdp", "v=0\r\no=- " + std::to_string(I) + " 2 IN IP4 127.0.0.1\r\n"}};
      std::unique_lock Guard(Lock);
      const int Before = Seen;
      const auto Written = Clock::now();
      Guard.unlock();
      Simulator.Database().Push(ToAgent, Message);
      Guard.lock();
      Arrived.wait(Guard, [&] { return Seen > Before; });
      Delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Written).count());
    }
    const double Median = bench::Percentile(Delays, 50), P99 = bench::Percentile(Delays, 99);
    std::printf("Database write to OnRemoteDescription/OnIceCandidate on loopback: median %.3f ms, p99 %.3f ms (%d messages)\n",
                Median, P99, Messages);
  }

  // A listener while 100,000 events go through: its memory must not grow with the events.
  {
    const std::string Token = [&] {
      TKvaSignalingManager Manager("bench", {Base, Base, Base, Base + "/db/", "", ApiKey});
      Manager.SignInWithEmailAndPassword(sim::DemoEmail, sim::DemoPassword);
      Pump([&] { return Manager.ConnectionState() == TKvaConnectionState::CONNECTED; });
      return Manager.GetIdToken();
    }();
    std::atomic<int> Events = 0;
    TFirebaseListener Listener(Token);
    Listener.SetOnListenEvent(TFirebaseListenEvent([&](TFirebaseListener*, const std::string&, const std::string&) { ++Events; }));
    Listener.ListenPath(Base + "/db/bench/stream", "");
    Pump([&] { return Events == 1; });
    std::printf("Listener memory (process RSS) while events stream through:\n");
    const std::string Payload(200, 'x');
    for (int I = 1; I <= 100000; ++I) {
      Simulator.Database().Put("/bench/stream/value", nlohmann::json{{"n", I}, {"payload", Payload}});
      if (I % 20000 == 0) {
        Pump([&] { return Events == I + 1; });
        std::printf("  after %6d events: %ld KiB\n", I, ResidentKiB());
      }
    }
  }
  Simulator.Stop();
  FreeLoggingThread();
  return 0;
}
