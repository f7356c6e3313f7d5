#include "rtc/libKVARTC2.h"

#include <gtest/gtest.h>

using namespace kva;

namespace {

struct TObserver : IKvaRtcSessionObserver {
  std::vector<std::string> Calls;
  void SdpReadyToSend(const std::string& AType, const std::string& ASdp) override { Calls.push_back("sdp " + AType); }
  void IceCandidateReadyToSend(const std::string& ACandidate, int32_t AIndex, const std::string& AMid) override {
    Calls.push_back("candidate " + ACandidate + " " + std::to_string(AIndex) + " " + AMid);
  }
  void DataFromDataChannel(const std::string& AMsg) override { Calls.push_back("data " + AMsg); }
  void DataChannelStateChanged(TDataChannelDataState AState) override {
    Calls.push_back("channel " + std::to_string(static_cast<int>(AState)));
  }
  void PeerConnectionStatusChanged(TPeerConnectionSignalingState AStatus) override {
    Calls.push_back("peer " + std::to_string(static_cast<int>(AStatus)));
  }
};

// The abstract session with nothing behind it.
struct TBareSession : TKvaRtcSession {
  bool SetLocalDescription(const std::string&, const std::string&) override { return true; }
  bool SetRemoteDescription(const std::string&, const std::string&) override { return true; }
  bool AddStream(bool) override { return true; }
  bool AddDataChannel() override { return true; }
  bool CreateOffer() override { return true; }
  bool CreateAnswer() override { return true; }
  bool AddIceCandidate(const std::string&, int32_t, const std::string&) override { return true; }
  bool CreatePeerConnection() override { return true; }
  void ClosePeerConnection() override {}
};

TEST(RtcSessionTest, RaisersReachTheObserverAndTheCallback) {
  TBareSession Session;
  auto Observer = std::make_shared<TObserver>();
  const std::weak_ptr<TObserver> Watched = Observer;
  int PeerChanges = 0;
  Session.SetOnPeerConnectionChanged(TKvaRtcSession::TNotifyEvent([&](TKvaRtcSession* ASender) {
    const auto Heard = Watched.lock();
    if (Heard && !Heard->Calls.empty()) {
      EXPECT_EQ(Heard->Calls.back(), "peer 1") << "the observer hears it first";
    }
    ++PeerChanges;
  }));

  // Before an observer is set: the state is still stored and the callback still called.
  Session.DoPeerConnectionStatusChanged(TPeerConnectionSignalingState::Stable);
  EXPECT_EQ(PeerChanges, 0) << "Stable is the initial state";
  Session.DoPeerConnectionStatusChanged(TPeerConnectionSignalingState::HaveRemoteOffer);
  EXPECT_EQ(Session.PeerConnectionState(), TPeerConnectionSignalingState::HaveRemoteOffer);
  EXPECT_EQ(PeerChanges, 1);
  PeerChanges = 0;

  Session.SetObserver(Observer);
  Session.DoOnSdpReadyToSend("offer", "v=0");
  Session.DoOnIceCandidateReadyToSend("candidate:1", 0, "");
  Session.DoOnDataFromDataChannel("{\"v\":1}");
  Session.DoPeerConnectionStatusChanged(TPeerConnectionSignalingState::HaveLocalOffer);
  Session.DoPeerConnectionStatusChanged(TPeerConnectionSignalingState::HaveLocalOffer);
  Session.DoDataChannelStateChaged(TDataChannelDataState::Open);
  Session.DoDataChannelStateChaged(TDataChannelDataState::Open);
  EXPECT_EQ(Observer->Calls, (std::vector<std::string>{"sdp offer", "candidate candidate:1 0 ", "data {\"v\":1}",
                                                        "peer 1", "channel 1", "channel 1"}));
  EXPECT_EQ(PeerChanges, 1) << "a peer-connection state is reported on change only";
  EXPECT_EQ(Session.DataChannelState(), TDataChannelDataState::Open);

  // A gone observer is skipped; the rest of the raiser still runs.
  Observer.reset();
  Session.DoOnSdpReadyToSend("answer", "v=0");
  Session.DoPeerConnectionStatusChanged(TPeerConnectionSignalingState::Closed);
  EXPECT_EQ(Session.PeerConnectionState(), TPeerConnectionSignalingState::Closed);
}

TEST(RtcSessionTest, TheAbstractSessionDoesNothingOfItsOwn) {
  TBareSession Session;
  EXPECT_EQ(Session.GetStatesDebugString(), "");
  Session.SendData("x");
  Session.SaveRawVideoToFile("/nonexistent/dir/x.h264");
  int64_t TimeStamp = 42;
  Session.CopyFrame(nullptr, &TimeStamp);
  EXPECT_EQ(TimeStamp, 42) << "the time stamp is left untouched";
  EXPECT_EQ(Session.DataChannelState(), TDataChannelDataState::Connecting);
}

}  // namespace
