// The WebRTC transport on loopback against a webrtcbin peer sending H.264: the time from
// creating the peer connection (the pipeline's Init) to the first access unit at the appsink
// (host candidates only, median of 10 runs), and the delay of each access unit from the
// peer's encoder output to OnNewSample at 720p30 (median, p99).
//
//   bench/kva_webrtc_bench [seconds of 720p]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "BenchUtil.h"
#include "Shared/libGsWebrtc.h"
#include "platform/MainThread.h"
#include "rtc/SdpRewriting.h"
#include "sim/WebRtcPeer.h"

using namespace kva;
using Clock = std::chrono::steady_clock;

namespace {

// The last NAL unit of an access unit (its last slice) identifies it on both sides: the
// encoder hands the payloader length-prefixed units, the agent gets them behind start codes.
std::string Fingerprint(std::string_view ANal) {
  return std::to_string(std::hash<std::string_view>{}(ANal)) + "/" + std::to_string(ANal.size());
}

std::string_view LastNalOfLengthPrefixed(const uint8_t* AData, size_t ASize) {
  std::string_view Last;
  for (size_t At = 0; At + 4 <= ASize;) {
    const size_t Length = (size_t{AData[At]} << 24) | (size_t{AData[At + 1]} << 16) | (size_t{AData[At + 2]} << 8) | AData[At + 3];
    if (At + 4 + Length > ASize) break;
    Last = std::string_view(reinterpret_cast<const char*>(AData + At + 4), Length);
    At += 4 + Length;
  }
  return Last;
}

std::string_view LastNalOfByteStream(const uint8_t* AData, size_t ASize) {
  const std::string_view Unit(reinterpret_cast<const char*>(AData), ASize);
  const size_t LastStart = Unit.rfind(std::string_view("\0\0\1", 3));
  return LastStart == std::string_view::npos ? Unit : Unit.substr(LastStart + 3);
}

struct TRun {
  sim::TWebRtcPeer Peer;
  TGSWebRtcPipeline Pipeline{""};
  explicit TRun(sim::TWebRtcPeerOptions AOptions) : Peer(std::move(AOptions)) {
    Pipeline.SetOnIceCandidate(TGSWebRtcPipeline::TIceCandidateEvent(
        [this](TGSWebRtcPipeline*, int32_t AIndex, const std::string& ACandidate) { Peer.AddIceCandidate(AIndex, ACandidate); }));
    Peer.SetOnIceCandidate([this](int AIndex, const std::string& ACandidate) { Pipeline.AddIceCandidate(AIndex, ACandidate); });
  }
  // We offer, the peer answers.
  void Negotiate() {
    while (Pipeline.AppState() != TAppState::APP_STATE_NEGOTIATION_NEEDED) MainThread().WaitAndProcess(std::chrono::milliseconds(1));
    std::promise<std::string> Offer;
    Pipeline.CreateOffer(TGSWebRtcPipeline::TSdpCreatedEvent(
        [&](TGSWebRtcPipeline*, const std::string&, const std::string& ASdp) { Offer.set_value(ASdp); }));
    const std::string Sdp = RewriteLocalDescription(Offer.get_future().get());
    Pipeline.SetLocalDescription("offer", Sdp);
    Peer.SetRemoteDescription("offer", Sdp);
    Pipeline.SetRemoteDescription("answer", Peer.CreateAnswer());
  }
};

void SetUpTime() {
  std::vector<double> Milliseconds;
  for (int I = 0; I < 10; ++I) {
    TRun Run({640, 360, 30, false, true, ""});
    std::promise<void> First;
    std::once_flag Once;
    Run.Pipeline.SetOnNewSample([&](const uint8_t*, int32_t) { std::call_once(Once, [&] { First.set_value(); }); });
    Run.Peer.Start();
    const auto Start = Clock::now();
    Run.Pipeline.Init();
    Run.Negotiate();
    First.get_future().wait();
    Milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
  }
  const double Median = bench::Percentile(Milliseconds, 50);
  std::printf("Peer connection to first access unit (host candidates, loopback): median %.1f ms, worst %.1f ms (10 runs)\n",
              Median, Milliseconds.back());
}

void UnitDelay(int ASeconds) {
  TRun Run({1280, 720, 30, false, true, ""});
  std::mutex Lock;
  std::map<std::string, Clock::time_point> Sent;
  std::vector<double> Milliseconds;
  int Unmatched = 0;
  Run.Peer.SetOnEncoded([&](const uint8_t* AData, size_t ASize) {
    std::lock_guard Guard(Lock);
    Sent[Fingerprint(LastNalOfLengthPrefixed(AData, ASize))] = Clock::now();
  });
  Run.Pipeline.SetOnNewSample([&](const uint8_t* AData, int32_t ASize) {
    const auto Now = Clock::now();
    std::lock_guard Guard(Lock);
    const auto It = Sent.find(Fingerprint(LastNalOfByteStream(AData, static_cast<size_t>(ASize))));
    if (It == Sent.end()) {
      ++Unmatched;
      return;
    }
    Milliseconds.push_back(std::chrono::duration<double, std::milli>(Now - It->second).count());
    Sent.erase(It);
  });
  Run.Peer.Start();
  Run.Pipeline.Init();
  Run.Negotiate();
  const auto End = Clock::now() + std::chrono::seconds(ASeconds);
  while (Clock::now() < End) MainThread().WaitAndProcess(std::chrono::milliseconds(10));
  Run.Pipeline.Release();
  std::lock_guard Guard(Lock);
  const size_t Count = Milliseconds.size();
  const double Median = bench::Percentile(Milliseconds, 50), P99 = bench::Percentile(Milliseconds, 99);
  std::printf("Access unit delay, peer encoder output to OnNewSample, 1280x720 at 30 fps: median %.2f ms, p99 %.2f ms "
              "(%zu units, %d unmatched)\n",
              Median, P99, Count, Unmatched);
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (!GStreamerPresent()) {
    std::printf("GStreamer is not present\n");
    return 1;
  }
  MainThread().BindToCurrentThread();
  SetUpTime();
  UnitDelay(Seconds);
  return 0;
}
