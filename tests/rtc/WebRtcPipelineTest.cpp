#include "Shared/libGsWebrtc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include "TestUtil.h"
#include "rtc/SdpRewriting.h"
#include "platform/Assert.h"
#include "platform/MainThread.h"
#include "sim/WebRtcPeer.h"

using namespace kva;
using namespace std::chrono_literals;

// The tests need neither a display nor a sound card: CTest runs them with the audio and video
// sinks ranked out (GST_PLUGIN_FEATURE_RANK), so the automatic sinks of decodebin's chains end
// in fake sinks.

namespace {

const std::string Blank = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n";

class WebRtcPipelineTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(GStreamerPresent());
    MainThread().BindToCurrentThread();
  }

  bool Pump(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = 15000ms) {
    return test::PumpUntil(APredicate, ATimeout);
  }

  // Our pipeline with its callbacks recorded; candidates go to APeer.
  void Prepare(TGSWebRtcPipeline& APipeline, sim::TWebRtcPeer& APeer) {
    APipeline.SetOnIceCandidate(TGSWebRtcPipeline::TIceCandidateEvent(
        [&APeer](TGSWebRtcPipeline*, int32_t AIndex, const std::string& ACandidate) { APeer.AddIceCandidate(AIndex, ACandidate); }));
    APeer.SetOnIceCandidate([&APipeline](int AIndex, const std::string& ACandidate) { APipeline.AddIceCandidate(AIndex, ACandidate); });
    APipeline.SetOnNewSample([this](const uint8_t* AData, int32_t ASize) {
      std::lock_guard Lock(FLock);
      ++Samples;
      if (ASize >= 4 && AData[0] == 0 && AData[1] == 0 && AData[2] == 0 && AData[3] == 1) ++ByteStreamSamples;
    });
    APipeline.SetOnDataChannelString(TGSWebRtcPipeline::TDataChannelStringEvent(
        [this](TGSWebRtcPipeline*, GstWebRTCDataChannel*, const std::string& AText) {
          std::lock_guard Lock(FLock);
          Texts.push_back(AText);
        }));
    APipeline.SetOnDataChannelData(TGSWebRtcPipeline::TDataChannelDataEvent(
        [this](TGSWebRtcPipeline*, GstWebRTCDataChannel*, const uint8_t*, int32_t ALength) {
          std::lock_guard Lock(FLock);
          BinaryLengths.push_back(ALength);
        }));
  }

  // The peer offers, we answer. The offer is applied once our own streams are known to
  // webrtcbin (negotiation needed), as with a car whose offer comes over the network.
  std::string AnswerPeersOffer(TGSWebRtcPipeline& APipeline, sim::TWebRtcPeer& APeer) {
    EXPECT_TRUE(Pump([&] { return APipeline.AppState() == TAppState::APP_STATE_NEGOTIATION_NEEDED; }));
    APipeline.SetRemoteDescription("offer", APeer.CreateOffer());
    EXPECT_EQ(APipeline.AppState(), TAppState::APP_STATE_NEGOTIATING);
    std::promise<std::string> Answer;
    APipeline.CreateAnswer(TGSWebRtcPipeline::TSdpCreatedEvent(
        [&](TGSWebRtcPipeline*, const std::string& AType, const std::string& ASdp) {
          EXPECT_EQ(AType, "answer");
          Answer.set_value(ASdp);
        }));
    auto Future = Answer.get_future();
    EXPECT_EQ(Future.wait_for(10s), std::future_status::ready);
    const std::string Sdp = RewriteLocalDescription(Future.get());
    APipeline.SetLocalDescription("answer", Sdp);
    APeer.SetRemoteDescription("answer", Sdp);
    return Sdp;
  }

  // We offer (the rewritten offer on both sides), the peer answers.
  void NegotiateAsOfferer(TGSWebRtcPipeline& APipeline, sim::TWebRtcPeer& APeer) {
    ASSERT_TRUE(Pump([&] { return APipeline.AppState() == TAppState::APP_STATE_NEGOTIATION_NEEDED; }));
    std::promise<std::string> Offer;
    APipeline.CreateOffer(TGSWebRtcPipeline::TSdpCreatedEvent(
        [&](TGSWebRtcPipeline*, const std::string& AType, const std::string& ASdp) {
          EXPECT_EQ(AType, "offer");
          Offer.set_value(ASdp);
        }));
    EXPECT_EQ(APipeline.AppState(), TAppState::PEER_CALL_NEGOTIATING);
    auto Future = Offer.get_future();
    ASSERT_EQ(Future.wait_for(10s), std::future_status::ready);
    const std::string Rewritten = RewriteLocalDescription(Future.get());
    APipeline.SetLocalDescription("offer", Rewritten);
    EXPECT_EQ(APipeline.AppState(), TAppState::APP_STATE_NEGOTIATING);
    APeer.SetRemoteDescription("offer", Rewritten);
    APipeline.SetRemoteDescription("answer", APeer.CreateAnswer());
  }

  // Whether the pipeline holds an element made by AFactory.
  static bool HasElement(TGSWebRtcPipeline& APipeline, const std::string& AFactory) {
    GstElement* Parent = APipeline.Webrtcbin() ? GST_ELEMENT(gst_element_get_parent(APipeline.Webrtcbin())) : nullptr;
    if (!Parent) return false;
    bool Found = false;
    GstIterator* Elements = gst_bin_iterate_elements(GST_BIN(Parent));
    GValue Item = G_VALUE_INIT;
    while (gst_iterator_next(Elements, &Item) == GST_ITERATOR_OK) {
      GstElementFactory* Factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&Item)));
      if (Factory && AFactory == GST_OBJECT_NAME(Factory)) Found = true;
      g_value_reset(&Item);
    }
    g_value_unset(&Item);
    gst_iterator_free(Elements);
    gst_object_unref(Parent);
    return Found;
  }

  // Lets the library's threads and the main thread's calls run a while.
  void PumpFor(TGSWebRtcPipeline&) { Pump([] { return false; }, 300ms); }

  int SampleCount() {
    std::lock_guard Lock(FLock);
    return Samples;
  }
  std::vector<std::string> TextsSeen() {
    std::lock_guard Lock(FLock);
    return Texts;
  }

  std::mutex FLock;
  int Samples = 0, ByteStreamSamples = 0;
  std::vector<std::string> Texts;
  std::vector<int32_t> BinaryLengths;
};

TEST_F(WebRtcPipelineTest, WeOfferThePeerAnswersVideoAndTextFlow) {
  sim::TWebRtcPeer Peer({320, 240, 30, false, true, ""});
  TGSWebRtcPipeline Pipeline("");
  Prepare(Pipeline, Peer);
  EXPECT_EQ(Pipeline.PeerConnectionStateString(), "GST_WEBRTC_PEER_CONNECTION_STATE_NEW");
  Peer.Start();
  Pipeline.Init();
  ASSERT_NE(Pipeline.Webrtcbin(), nullptr) << Pipeline.InitError();
  EXPECT_EQ(Pipeline.IceGatheringStateString(), "GST_WEBRTC_ICE_GATHERING_STATE_NEW");
  Pipeline.SendDataChannelString("before open");  // dropped: the channel is not open yet

  NegotiateAsOfferer(Pipeline, Peer);
  ASSERT_TRUE(Pump([&] { return SampleCount() > 10; })) << "no video";
  EXPECT_EQ(Pipeline.FrameWidth(), 320);
  EXPECT_EQ(Pipeline.FrameHeight(), 240);
  EXPECT_EQ(ByteStreamSamples, Samples) << "every unit starts with a four-byte start code";
  EXPECT_EQ(Pipeline.PeerConnectionStateString(), "GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED");
  EXPECT_TRUE(Pipeline.IceConnectionStateString() == "GST_WEBRTC_ICE_CONNECTION_STATE_CONNECTED" ||
              Pipeline.IceConnectionStateString() == "GST_WEBRTC_ICE_CONNECTION_STATE_COMPLETED");

  // Text both ways on the agent's "control" channel, which the peer received.
  ASSERT_TRUE(Pump([&] { return Peer.ChannelOpen(); }));
  Pipeline.SendDataChannelString("{\"p\":1}");
  ASSERT_TRUE(Pump([&] { return !Peer.ReceivedTexts().empty(); }));
  EXPECT_EQ(Peer.ReceivedTexts(), std::vector<std::string>{"{\"p\":1}"});
  ASSERT_TRUE(Peer.SendText("{\"telemetry\":1}"));
  ASSERT_TRUE(Pump([&] { return !TextsSeen().empty(); }));
  EXPECT_EQ(TextsSeen(), std::vector<std::string>{"{\"telemetry\":1}"});

  // Binary from the peer: reported with its length.
  testing::internal::CaptureStdout();
  Peer.SendBinary(std::vector<uint8_t>(12, 7));
  ASSERT_TRUE(Pump([&] {
    std::lock_guard Lock(FLock);
    return !BinaryLengths.empty();
  }));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Received data channel bytes: 12\r\n"), std::string::npos);
  EXPECT_EQ(BinaryLengths, std::vector<int32_t>{12});

  // After the channel closes, text is dropped again.
  Peer.CloseRemoteChannels();
  PumpFor(Pipeline);
  Pipeline.SendDataChannelString("after close");
  PumpFor(Pipeline);
  EXPECT_EQ(Peer.ReceivedTexts().size(), 1u);
  Pipeline.Release();
  EXPECT_EQ(Pipeline.PeerConnectionStateString(), "GST_WEBRTC_PEER_CONNECTION_STATE_NEW");
}

TEST_F(WebRtcPipelineTest, ThePeerOffersAndWeAnswer) {
  sim::TWebRtcPeer Peer({320, 240, 30, false, true, "telemetry"});  // a channel puts one into the offer
  TGSWebRtcPipeline Pipeline("");
  Prepare(Pipeline, Peer);
  Peer.Start();
  Pipeline.Init();
  ASSERT_NE(Pipeline.Webrtcbin(), nullptr) << Pipeline.InitError();
  AnswerPeersOffer(Pipeline, Peer);

  ASSERT_TRUE(Pump([&] { return SampleCount() > 10; })) << "no video";
  EXPECT_EQ(Pipeline.FrameWidth(), 320);
  EXPECT_EQ(Pipeline.PeerConnectionStateString(), "GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED");

  // Text both ways: the peer's own channel reaches us, ours reaches the peer.
  ASSERT_TRUE(Pump([&] { return Peer.ChannelOpen(); }));
  Peer.SendText("hello from the car");
  ASSERT_TRUE(Pump([&] { return !TextsSeen().empty(); }));
  EXPECT_EQ(TextsSeen().front(), "hello from the car");
  ASSERT_TRUE(Pump([&] {
    Pipeline.SendDataChannelString("{\"p\":2}");
    return !Peer.ReceivedTexts().empty();
  }));
  EXPECT_EQ(Peer.ReceivedTexts().front(), "{\"p\":2}");
}

TEST_F(WebRtcPipelineTest, APeersAudioIsPlayedThroughDecodebin) {
  // Only audio from the peer: the one incoming stream is not the video.
  sim::TWebRtcPeer Peer({160, 120, 15, true, false, ""});
  TGSWebRtcPipeline Pipeline("");
  Prepare(Pipeline, Peer);
  Peer.Start();
  testing::internal::CaptureStdout();
  Pipeline.Init();
  NegotiateAsOfferer(Pipeline, Peer);
  const bool Handled = Pump([&] { return HasElement(Pipeline, "autoaudiosink"); });
  std::this_thread::sleep_for(200ms);
  const std::string Printed = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(Handled) << Printed;
  EXPECT_NE(Printed.find("Trying to handle stream with audioconvert ! autoaudiosink"), std::string::npos) << Printed;
  EXPECT_NE(Printed.find("    application/x-rtp\r\n"), std::string::npos) << "the incoming caps are printed";
  EXPECT_NE(Printed.find("  encoding-name: OPUS\r\n"), std::string::npos);
}

TEST_F(WebRtcPipelineTest, WrongStatesAndBadDescriptions) {
  TGSWebRtcPipeline Fresh("");
  std::vector<TAppState> Changes;
  Fresh.SetOnAppStateChanged(TGSWebRtcPipeline::TNotifyEvent([&](TGSWebRtcPipeline* ASender) { Changes.push_back(ASender->AppState()); }));
  bool Called = false;
  testing::internal::CaptureStderr();
  Fresh.CreateOffer(TGSWebRtcPipeline::TSdpCreatedEvent([&](TGSWebRtcPipeline*, const std::string&, const std::string&) { Called = true; }));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Wrong state\r");
  EXPECT_EQ(Fresh.AppState(), TAppState::APP_STATE_ERROR);
  EXPECT_EQ(Changes, std::vector<TAppState>{TAppState::APP_STATE_ERROR});
  testing::internal::CaptureStderr();
  Fresh.CreateAnswer({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Wrong state\r");
  EXPECT_EQ(Changes.size(), 1u) << "the same state again raises nothing";
  EXPECT_FALSE(Called);
  EXPECT_EQ(Fresh.PeerConnectionStateString(), "GST_WEBRTC_PEER_CONNECTION_STATE_NEW") << "no pipeline: the new texts";

  for (const char* Type : {"Offer", "pranswer", ""}) {
    try {
      Fresh.SetRemoteDescription(Type, Blank);
      ADD_FAILURE() << Type;
    } catch (const TAssertionError& E) {
      EXPECT_EQ(std::string(E.what()), "Failed to create SDP (Shared/libGsWebrtc)") << Type;
    }
  }
  EXPECT_EQ(Fresh.AppState(), TAppState::APP_STATE_ERROR) << "nothing was done";

  // An initialised pipeline: negotiation becomes needed. GStreamer's SDP parser takes any text
  // (what it cannot read it skips), so text that is not SDP is handed on to webrtcbin, which
  // sees a description without media; nothing breaks.
  TGSWebRtcPipeline Pipeline("");
  Pipeline.Init();
  ASSERT_TRUE(Pump([&] { return Pipeline.AppState() == TAppState::APP_STATE_NEGOTIATION_NEEDED; }));
  EXPECT_NO_THROW(Pipeline.SetRemoteDescription("offer", "this is not a session description\r\n\x01"));
  EXPECT_EQ(Pipeline.AppState(), TAppState::APP_STATE_NEGOTIATING);
  std::this_thread::sleep_for(100ms);
  EXPECT_NE(Pipeline.Webrtcbin(), nullptr);
}

TEST_F(WebRtcPipelineTest, StateTextTables) {
  EXPECT_EQ(TGSWebRtcPipeline::GetIceConnectionStateToString(6), "GST_WEBRTC_ICE_CONNECTION_STATE_CLOSED");
  EXPECT_EQ(TGSWebRtcPipeline::GetIceConnectionStateToString(7), "TGstWebRTCICEConnectionState(Unknown)");
  EXPECT_EQ(TGSWebRtcPipeline::GetIceGatheringStateToString(2), "GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE");
  EXPECT_EQ(TGSWebRtcPipeline::GetIceGatheringStateToString(3), "TGstWebRTCICEGatheringState(Unknown)");
  EXPECT_EQ(TGSWebRtcPipeline::GetPeerConnectionStateToString(5), "GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED");
  EXPECT_EQ(TGSWebRtcPipeline::GetPeerConnectionStateToString(6), "TGstWebRTCPeerConnectionState(Unknown)");
}

TEST_F(WebRtcPipelineTest, APadWithoutCapsGoesToDecodebin) {
  TGSWebRtcPipeline Pipeline("");
  Pipeline.Init();
  ASSERT_NE(Pipeline.Webrtcbin(), nullptr);
  GstPad* Pad = gst_pad_new("capsless_src", GST_PAD_SRC);
  testing::internal::CaptureStdout();
  g_signal_emit_by_name(Pipeline.Webrtcbin(), "pad-added", Pad);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Pad capsless_src has no caps, can't do anything, ignoring");
  gst_object_unref(Pad);
  EXPECT_TRUE(HasElement(Pipeline, "decodebin"));
}

TEST_F(WebRtcPipelineTest, ASampleHandlerOfTheOwnerReplacesTheBuiltInOne) {
  sim::TWebRtcPeer Peer({320, 240, 30, false, true, ""});
  TGSWebRtcPipeline Pipeline("");
  Prepare(Pipeline, Peer);
  std::atomic<int> OwnSamples = 0;
  Pipeline.SetOnNewGsSample([&](GstAppSink* AAppSink, gpointer) {
    const TGstSamplePtr Sample(gst_app_sink_pull_sample(AAppSink));
    ++OwnSamples;
    return GST_FLOW_OK;
  });
  Peer.Start();
  Pipeline.Init();
  NegotiateAsOfferer(Pipeline, Peer);
  ASSERT_TRUE(Pump([&] { return OwnSamples > 5; }));
  EXPECT_EQ(SampleCount(), 0) << "OnNewSample is not called";
  EXPECT_EQ(Pipeline.FrameWidth(), 0) << "the frame size is not read";
}

}  // namespace
