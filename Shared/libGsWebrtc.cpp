#include "libGsWebrtc.h"

#include <cinttypes>

#include "platform/Assert.h"
#include "platform/Lifetime.h"
#include "platform/MainThread.h"

namespace kva {

namespace {

constexpr const char* Source = "Shared/libGsWebrtc";

// A failed check inside Init: the pipeline is dropped quietly.
struct TInitFailure {
  std::string Message;
};

void Check(bool ACondition, const char* AMessage) {
  if (!ACondition) throw TInitFailure{AMessage};
}

// A failed check on a library thread has nobody to catch it: it is error-printed and the
// handler returns.
bool Checked(bool ACondition, const char* AMessage = "Assertion failure") {
  if (!ACondition) g_printerr("%s (%s)\n", AMessage, Source);
  return ACondition;
}

std::string ChannelLabel(GstWebRTCDataChannel* AChannel, gint& AId) {
  gchar* Label = nullptr;
  g_object_get(AChannel, "id", &AId, "label", &Label, nullptr);
  const TGCharPtr Owned(Label);
  return Label ? Label : "";
}

std::string PadName(GstPad* APad) {
  const TGCharPtr Name(gst_pad_get_name(APad));
  return Name ? Name.get() : "";
}

void PrintCaps(const GstCaps* ACaps, const char* APrefix) {
  if (gst_caps_is_any(ACaps)) {
    g_print("%sANY\r\n", APrefix);
    return;
  }
  if (gst_caps_is_empty(ACaps)) {
    g_print("%sEMPTY\r\n", APrefix);
    return;
  }
  for (guint I = 0; I < gst_caps_get_size(ACaps); ++I) {
    const GstStructure* Structure = gst_caps_get_structure(ACaps, I);
    g_print("%s%s\r\n", APrefix, gst_structure_get_name(Structure));
    gst_structure_foreach(
        Structure,
        [](GQuark AField, const GValue* AValue, gpointer APrefix) -> gboolean {
          const TGCharPtr Text(gst_value_serialize(AValue));
          g_print("%s  %15s: %s\r\n", static_cast<const char*>(APrefix), g_quark_to_string(AField), Text.get());
          return TRUE;
        },
        const_cast<char*>(APrefix));
  }
}

}  // namespace

struct TGSWebRtcPipeline::TLink {
  TLifetime Lifetime;
  TGSWebRtcPipeline* Pipeline;
};

// The library's callbacks: each takes the link as its data and reaches the pipeline only while
// it lives.
struct TGSWebRtcPipeline::THandlers {
  template <typename F>
  static void With(gpointer AData, F&& ACall) {
    auto& Link = *static_cast<std::shared_ptr<TLink>*>(AData);
    Link->Lifetime.Run([&] {
      // Nothing may unwind into the library's C code.
      try {
        ACall(*Link->Pipeline);
      } catch (const std::exception& E) {
        g_printerr("%s (%s)\n", E.what(), Source);
      }
    });
  }
  static void FreeLink(gpointer AData) { delete static_cast<std::shared_ptr<TLink>*>(AData); }
  static void FreeLinkClosure(gpointer AData, GClosure*) { FreeLink(AData); }

  static void NegotiationNeeded(GstElement*, gpointer AData) {
    With(AData, [](TGSWebRtcPipeline& APipeline) {
      // Only from UNKNOWN or ERROR; in any other state the signal is ignored.
      TAppState State = APipeline.FAppState;
      while (State < TAppState::APP_STATE_NEGOTIATION_NEEDED) {
        if (APipeline.FAppState.compare_exchange_weak(State, TAppState::APP_STATE_NEGOTIATION_NEEDED)) {
          APipeline.FOnAppStateChanged(&APipeline);
          break;
        }
      }
    });
  }
  static void IceCandidate(GstElement*, guint AMLineIndex, gchar* ACandidate, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      APipeline.FOnIceCandidate(&APipeline, static_cast<int32_t>(AMLineIndex), ACandidate ? ACandidate : "");
    });
  }
  static void IceGatheringStateChanged(gpointer AData, GParamSpec*, GstElement*) {
    With(AData, [](TGSWebRtcPipeline& APipeline) {
      g_print("ice_gathering_state_changed %d\r\n", APipeline.ReadState("ice-gathering-state"));
      APipeline.FOnIceGatheringStateChanged(&APipeline);
    });
  }
  static void IceConnectionStateChanged(gpointer AData, GParamSpec*, GstElement*) {
    With(AData, [](TGSWebRtcPipeline& APipeline) {
      g_print("ice_connection_state_changed %d\r\n", APipeline.ReadState("ice-connection-state"));
      APipeline.FOnIceConnectionStateChanged(&APipeline);
    });
  }
  static void PeerConnectionStateChanged(gpointer AData, GParamSpec*, GstElement*) {
    With(AData, [](TGSWebRtcPipeline& APipeline) {
      // The ICE connection state, also here.
      const uint32_t State = APipeline.ReadState("ice-connection-state");
      g_print("notify::connection-state: ice_connection_state_changed %d\r\n", State);
      if (State >= GST_WEBRTC_ICE_CONNECTION_STATE_FAILED) g_print("Closing connection\r\n");
      APipeline.FOnPeerConnectionStateChanged(&APipeline);
    });
  }
  static void SdpCreated(GstPromise* APromise, gpointer AData, const char* AKind) {
    const TGstPromisePtr Promise(APromise);  // the reference the pipeline made it with
    With(AData, [&](TGSWebRtcPipeline& APipeline) { APipeline.HandleSdpCreated(APromise, AKind); });
  }
  static void OfferCreated(GstPromise* APromise, gpointer AData) { SdpCreated(APromise, AData, "offer"); }
  static void AnswerCreated(GstPromise* APromise, gpointer AData) { SdpCreated(APromise, AData, "answer"); }

  static void DataChannelAnnounced(GstElement*, GstWebRTCDataChannel* AChannel, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      gint Id = 0;
      const std::string Label = ChannelLabel(AChannel, Id);
      g_print("Data-channel created %d, %s\r\n", Id, Label.c_str());
      if (AChannel == APipeline.FSendChannel) return;
      {
        std::lock_guard Lock(APipeline.FReceiveChannelLock);
        if (APipeline.FReceiveChannel) g_object_unref(APipeline.FReceiveChannel);
        APipeline.FReceiveChannel = GST_WEBRTC_DATA_CHANNEL(g_object_ref(AChannel));
      }
      APipeline.connect_data_channel_signals(AChannel);
    });
  }
  static void DataChannelError(GstWebRTCDataChannel* AChannel, GError*, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      gint Id = 0;
      const std::string Label = ChannelLabel(AChannel, Id);
      g_print("Data-channel error %d, %s\r\n", Id, Label.c_str());
      APipeline.cleanup_and_quit_loop("Data channel error", TAppState::APP_STATE_UNKNOWN);
    });
  }
  static void DataChannelOpen(GstWebRTCDataChannel* AChannel, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      gint Id = 0;
      const std::string Label = ChannelLabel(AChannel, Id);
      g_print("Data-channel opened %d, %s\r\n", Id, Label.c_str());
      // The graph is written on the main thread, and only while the pipeline still exists.
      MainThread().Queue(&APipeline, [Link = APipeline.FLink] {
        Link->Lifetime.Run([&] {
          if (Link->Pipeline->FGstPipeline) {
            GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(Link->Pipeline->FGstPipeline.get()), GST_DEBUG_GRAPH_SHOW_ALL,
                                      "pipeline-datachannel");
          }
        });
      });
      if (AChannel == APipeline.FSendChannel) APipeline.FSendChannelOpened = true;
    });
  }
  static void DataChannelClose(GstWebRTCDataChannel* AChannel, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      APipeline.cleanup_and_quit_loop("Data-channel closed", TAppState::APP_STATE_UNKNOWN);
      if (AChannel == APipeline.FSendChannel) APipeline.FSendChannelOpened = false;
    });
  }
  static void DataChannelString(GstWebRTCDataChannel* AChannel, gchar* AText, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      APipeline.FOnDataChannelString(&APipeline, AChannel, AText ? AText : "");
    });
  }
  static void DataChannelData(GstWebRTCDataChannel* AChannel, GBytes* ABytes, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) {
      gsize Size = 0;
      const auto* Bytes = ABytes ? static_cast<const uint8_t*>(g_bytes_get_data(ABytes, &Size)) : nullptr;
      g_print("Received data channel bytes: %" G_GSIZE_FORMAT "\r\n", Size);
      APipeline.FOnDataChannelData(&APipeline, AChannel, Bytes, static_cast<int32_t>(Size));
    });
  }
  static void PadAdded(GstElement*, GstPad* APad, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) { APipeline.HandleIncomingStream(APad); });
  }
  static void DecodedPadAdded(GstElement*, GstPad* APad, gpointer AData) {
    With(AData, [&](TGSWebRtcPipeline& APipeline) { APipeline.HandleDecodedStream(APad); });
  }
  static GstFlowReturn Preroll(GstAppSink*, gpointer) { return GST_FLOW_OK; }
  static GstFlowReturn NewSample(GstAppSink* AAppSink, gpointer AData) {
    GstFlowReturn Result = GST_FLOW_OK;
    With(AData, [&](TGSWebRtcPipeline& APipeline) { Result = APipeline.HandleNewSample(AAppSink); });
    return Result;
  }
};

TGSWebRtcPipeline::TGSWebRtcPipeline(std::string AStunServer)
    : FStunServer(std::move(AStunServer)), FLink(std::make_shared<TLink>()) {
  FLink->Pipeline = this;
}

TGSWebRtcPipeline::~TGSWebRtcPipeline() {
  Release();
  FLink->Lifetime.End();
}

gpointer TGSWebRtcPipeline::NewLinkRef() const { return new std::shared_ptr<TLink>(FLink); }

void TGSWebRtcPipeline::Init() {
  if (!GStreamerPresent()) return;
  try {
    std::string Launch = "webrtcbin name=webrtcbin bundle-policy=max-bundle";
    if (!FStunServer.empty()) Launch += " stun-server=" + FStunServer;
    Launch +=
        " audiotestsrc is-live=true wave=silence ! audioconvert ! audioresample ! queue ! opusenc ! rtpopuspay !  queue "
        "! application/x-rtp,media=audio,encoding-name=OPUS,payload=97 ! webrtcbin. ";
    GError* Error = nullptr;
    GstElement* Pipeline = gst_parse_launch(astring(Launch).c_str(), &Error);
    if (Error) {
      const TGErrorPtr Owned(Error);
      if (Pipeline) gst_object_unref(gst_object_ref_sink(Pipeline));
      throw TInitFailure{std::string("Pipeline Error ") + Owned->message};
    }
    FGstPipeline.reset(GST_ELEMENT(gst_object_ref_sink(Pipeline)));

    const TGstElementPtr Webrtcbin(gst_bin_get_by_name(GST_BIN(FGstPipeline.get()), "webrtcbin"));
    Check(Webrtcbin != nullptr, "No webrtcbin");
    FWebrtcbin = Webrtcbin.get();

    if (const TGstElementPtr RtpBin{gst_bin_get_by_name(GST_BIN(FWebrtcbin), "rtpbin")}) {
      g_object_set(RtpBin.get(), "latency", 10, nullptr);
    }

    const auto Connect = [&](const char* ASignal, GCallback AHandler) {
      return ConnectSignal(FWebrtcbin, ASignal, AHandler, NewLinkRef(), &THandlers::FreeLinkClosure);
    };
    const auto ConnectSwapped = [&](const char* ASignal, GCallback AHandler) {
      ConnectSignalSwapped(FWebrtcbin, ASignal, AHandler, NewLinkRef(), &THandlers::FreeLinkClosure);
    };
    Check(Connect("on-negotiation-needed", G_CALLBACK(THandlers::NegotiationNeeded)) != 0,
          "Connecting negotiation handler failed");
    Check(Connect("on-ice-candidate", G_CALLBACK(THandlers::IceCandidate)) != 0, "Connecting ICE handler failed");
    ConnectSwapped("notify::ice-gathering-state", G_CALLBACK(THandlers::IceGatheringStateChanged));
    ConnectSwapped("notify::ice-connection-state", G_CALLBACK(THandlers::IceConnectionStateChanged));
    ConnectSwapped("notify::connection-state", G_CALLBACK(THandlers::PeerConnectionStateChanged));
    Check(Connect("on-data-channel", G_CALLBACK(THandlers::DataChannelAnnounced)) != 0,
          "Connecting data channel handler failed");
    Check(Connect("pad-added", G_CALLBACK(THandlers::PadAdded)) != 0, "Connecting incoming stream handler failed");

    gst_element_set_state(FGstPipeline.get(), GST_STATE_READY);

    GstWebRTCDataChannel* Channel = nullptr;
    g_signal_emit_by_name(FWebrtcbin, "create-data-channel", "control", nullptr, &Channel);
    Check(Channel != nullptr, "Could not create data channel, is usrsctp available?");
    FSendChannel = Channel;
    connect_data_channel_signals(FSendChannel);

    Check(gst_element_set_state(FGstPipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE,
          "Starting pipeline failed");
  } catch (const TInitFailure& AFailure) {
    FInitError = AFailure.Message;
    if (FGstPipeline) gst_element_set_state(FGstPipeline.get(), GST_STATE_NULL);
    if (FSendChannel) g_object_unref(std::exchange(FSendChannel, nullptr));
    FGstPipeline.reset();
    FWebrtcbin = nullptr;
  }
}

void TGSWebRtcPipeline::AddVideoTransceiver() {
  if (FVideoTransceiverAdded || !FWebrtcbin) return;
  FVideoTransceiverAdded = true;
  const TGstCapsPtr Caps(gst_caps_from_string(
      "application/x-rtp,media=video,encoding-name=H264,payload=96,clock-rate=90000,"
      "packetization-mode=(string)1,level-asymmetry-allowed=(string)1,profile-level-id=(string)42001f"));
  GstWebRTCRTPTransceiver* Transceiver = nullptr;
  g_signal_emit_by_name(FWebrtcbin, "add-transceiver", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_RECVONLY, Caps.get(),
                        &Transceiver);
  if (Transceiver) {
    g_object_set(Transceiver, "fec-type", GST_WEBRTC_FEC_TYPE_ULP_RED, "fec-percentage", 100, nullptr);
    gst_object_unref(Transceiver);
  }
}

void TGSWebRtcPipeline::Release() {
  if (!GStreamerPresent() || !FGstPipeline) return;
  // Stopping waits for the streaming threads; then no handler may be left running.
  gst_element_set_state(FGstPipeline.get(), GST_STATE_NULL);
  FLink->Lifetime.End();
  MainThread().Withdraw(this);
  if (FSendChannel) g_object_unref(std::exchange(FSendChannel, nullptr));
  {
    std::lock_guard Lock(FReceiveChannelLock);
    if (FReceiveChannel) g_object_unref(std::exchange(FReceiveChannel, nullptr));
  }
  FGstPipeline.reset();
  FWebrtcbin = nullptr;
}

void TGSWebRtcPipeline::SetAppState(TAppState ANewState) {
  if (FAppState.exchange(ANewState) != ANewState) FOnAppStateChanged(this);
}

void TGSWebRtcPipeline::cleanup_and_quit_loop(const std::string& AMessage, TAppState ANewAppState) {
  if (!AMessage.empty()) g_printerr("%s\r", AMessage.c_str());
  if (ANewAppState > TAppState::APP_STATE_UNKNOWN) SetAppState(ANewAppState);
}

void TGSWebRtcPipeline::CreateOffer(TSdpCreatedEvent AOnOfferCreated) {
  StartNegotiation(TAppState::APP_STATE_NEGOTIATION_NEEDED, std::move(AOnOfferCreated), "create-offer", "offer");
}

void TGSWebRtcPipeline::CreateAnswer(TSdpCreatedEvent AOnAnswerCreated) {
  StartNegotiation(TAppState::APP_STATE_NEGOTIATING, std::move(AOnAnswerCreated), "create-answer", "answer");
}

void TGSWebRtcPipeline::StartNegotiation(TAppState ARequired, TSdpCreatedEvent ACallback, const char* ASignal,
                                         const char* AKind) {
  // The state is tested and moved on in one step: two threads cannot both start.
  TAppState Expected = ARequired;
  if (!FAppState.compare_exchange_strong(Expected, TAppState::PEER_CALL_NEGOTIATING)) {
    cleanup_and_quit_loop("Wrong state", TAppState::APP_STATE_ERROR);
    return;
  }
  {
    std::lock_guard Lock(FSdpCallbackLock);
    (std::string_view(AKind) == "offer" ? FOnOfferCreated : FOnAnswerCreated) = std::move(ACallback);
  }
  FOnAppStateChanged(this);
  if (!FWebrtcbin) return;
  const bool Offering = std::string_view(AKind) == "offer";
  // The receive-only video section is added when the agent offers. Added before a car's offer
  // arrives, it keeps webrtcbin (1.22) from bringing up the SCTP association of the answered
  // session, and the data channels stay closed; when the car offers, webrtcbin makes the
  // receiving transceiver for the offered video itself.
  if (Offering) AddVideoTransceiver();
  GstPromise* Promise = gst_promise_new_with_change_func(
      Offering ? &THandlers::OfferCreated : &THandlers::AnswerCreated, NewLinkRef(),
      &THandlers::FreeLink);
  g_signal_emit_by_name(FWebrtcbin, ASignal, nullptr, Promise);
}

void TGSWebRtcPipeline::HandleSdpCreated(GstPromise* APromise, const char* AKind) {
  if (!Checked(FAppState == TAppState::PEER_CALL_NEGOTIATING)) return;
  if (!Checked(gst_promise_wait(APromise) == GST_PROMISE_RESULT_REPLIED)) return;
  GstWebRTCSessionDescription* Description = nullptr;
  if (const GstStructure* Reply = gst_promise_get_reply(APromise)) {
    gst_structure_get(Reply, AKind, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &Description, nullptr);
  }
  const TGstSessionDescriptionPtr Owned(Description);
  const bool IsOffer = std::string_view(AKind) == "offer";
  if (!Checked(Description != nullptr, IsOffer ? "No offer returned by promise" : "No answer returned by promise")) return;
  const TGCharPtr Text(gst_sdp_message_as_text(Description->sdp));
  const std::string Sdp = Text.get();
  TSdpCreatedEvent Callback;
  {
    std::lock_guard Lock(FSdpCallbackLock);
    Callback = IsOffer ? FOnOfferCreated : FOnAnswerCreated;
  }
  Callback(this, AKind, Sdp);
}

TGstSessionDescriptionPtr TGSWebRtcPipeline::CreateSessionDescription(const std::string& ASdpType,
                                                                      const std::string& ASdp) {
  GstSDPMessage* Message = nullptr;
  if (gst_sdp_message_new(&Message) != GST_SDP_OK) throw TAssertionError("Failed to create SDP message", Source);
  TGstSdpMessagePtr Owned(Message);
  const std::string Text = astring(ASdp);
  if (gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(Text.data()), static_cast<guint>(Text.size()),
                                   Message) != GST_SDP_OK) {
    throw TAssertionError("Failed to parse SDP message", Source);
  }
  GstWebRTCSDPType Type;
  if (ASdpType == "answer") {
    Type = GST_WEBRTC_SDP_TYPE_ANSWER;
  } else if (ASdpType == "offer") {
    Type = GST_WEBRTC_SDP_TYPE_OFFER;
  } else {
    throw TAssertionError("Failed to create SDP", Source);
  }
  return TGstSessionDescriptionPtr(gst_webrtc_session_description_new(Type, Owned.release()));
}

void TGSWebRtcPipeline::ApplyDescription(const char* ASignal, const std::string& ASdpType, const std::string& ASdp) {
  const TGstSessionDescriptionPtr Description = CreateSessionDescription(ASdpType, ASdp);
  if (FWebrtcbin) {
    // The outcome is never waited for: the promise is let go at once.
    const TGstPromisePtr Promise(gst_promise_new());
    g_signal_emit_by_name(FWebrtcbin, ASignal, Description.get(), Promise.get());
    gst_promise_interrupt(Promise.get());
  }
  SetAppState(TAppState::APP_STATE_NEGOTIATING);
}

void TGSWebRtcPipeline::SetLocalDescription(const std::string& ASdpType, const std::string& ASdp) {
  ApplyDescription("set-local-description", ASdpType, ASdp);
}

void TGSWebRtcPipeline::SetRemoteDescription(const std::string& ASdpType, const std::string& ASdp) {
  ApplyDescription("set-remote-description", ASdpType, ASdp);
}

void TGSWebRtcPipeline::AddIceCandidate(int32_t AMLineIndex, const std::string& AIceCandidate) {
  if (!FWebrtcbin) return;
  g_signal_emit_by_name(FWebrtcbin, "add-ice-candidate", static_cast<guint>(AMLineIndex), astring(AIceCandidate).c_str());
}

uint32_t TGSWebRtcPipeline::ReadState(const char* AProperty) const {
  if (!FWebrtcbin) return 0;
  guint State = 0;  // the enumerations' values
  g_object_get(FWebrtcbin, AProperty, &State, nullptr);
  return State;
}

uint32_t TGSWebRtcPipeline::IceConnectionState() const { return ReadState("ice-connection-state"); }
uint32_t TGSWebRtcPipeline::IceGatheringState() const { return ReadState("ice-gathering-state"); }
uint32_t TGSWebRtcPipeline::PeerConnectionState() const { return ReadState("connection-state"); }

std::string TGSWebRtcPipeline::GetIceConnectionStateToString(uint32_t AState) {
  static const char* const Names[] = {
      "GST_WEBRTC_ICE_CONNECTION_STATE_NEW",       "GST_WEBRTC_ICE_CONNECTION_STATE_CHECKING",
      "GST_WEBRTC_ICE_CONNECTION_STATE_CONNECTED", "GST_WEBRTC_ICE_CONNECTION_STATE_COMPLETED",
      "GST_WEBRTC_ICE_CONNECTION_STATE_FAILED",    "GST_WEBRTC_ICE_CONNECTION_STATE_DISCONNECTED",
      "GST_WEBRTC_ICE_CONNECTION_STATE_CLOSED"};
  return AState < std::size(Names) ? Names[AState] : "TGstWebRTCICEConnectionState(Unknown)";
}

std::string TGSWebRtcPipeline::GetIceGatheringStateToString(uint32_t AState) {
  static const char* const Names[] = {"GST_WEBRTC_ICE_GATHERING_STATE_NEW", "GST_WEBRTC_ICE_GATHERING_STATE_GATHERING",
                                      "GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE"};
  return AState < std::size(Names) ? Names[AState] : "TGstWebRTCICEGatheringState(Unknown)";
}

std::string TGSWebRtcPipeline::GetPeerConnectionStateToString(uint32_t AState) {
  static const char* const Names[] = {
      "GST_WEBRTC_PEER_CONNECTION_STATE_NEW",          "GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTING",
      "GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED",    "GST_WEBRTC_PEER_CONNECTION_STATE_DISCONNECTED",
      "GST_WEBRTC_PEER_CONNECTION_STATE_FAILED",       "GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED"};
  return AState < std::size(Names) ? Names[AState] : "TGstWebRTCPeerConnectionState(Unknown)";
}

void TGSWebRtcPipeline::connect_data_channel_signals(GstWebRTCDataChannel* AChannel) {
  const auto Connect = [&](const char* ASignal, GCallback AHandler) {
    ConnectSignal(AChannel, ASignal, AHandler, NewLinkRef(), &THandlers::FreeLinkClosure);
  };
  Connect("on-error", G_CALLBACK(THandlers::DataChannelError));
  Connect("on-open", G_CALLBACK(THandlers::DataChannelOpen));
  Connect("on-close", G_CALLBACK(THandlers::DataChannelClose));
  Connect("on-message-string", G_CALLBACK(THandlers::DataChannelString));
  Connect("on-message-data", G_CALLBACK(THandlers::DataChannelData));
}

void TGSWebRtcPipeline::SendDataChannelString(const std::string& ADataString) {
  if (!FSendChannel || !FSendChannelOpened) return;
  GstWebRTCDataChannelState ReadyState = GST_WEBRTC_DATA_CHANNEL_STATE_CLOSED;
  guint64 Buffered = 0;
  g_object_get(FSendChannel, "ready-state", &ReadyState, "buffered-amount", &Buffered, nullptr);
  // Behind a backed-up channel a command would arrive stale: the next pass sends a fresh one.
  if (ReadyState != GST_WEBRTC_DATA_CHANNEL_STATE_OPEN || Buffered > MaxBufferedBytes) return;
  g_signal_emit_by_name(FSendChannel, "send-string", astring(ADataString).c_str());
}

void TGSWebRtcPipeline::HandleIncomingStream(GstPad* APad) {
  if (GST_PAD_DIRECTION(APad) != GST_PAD_SRC) return;
  const auto MediaOf = [](const GstCaps* ACaps) {
    const char* Value = nullptr;
    if (ACaps && !gst_caps_is_any(ACaps) && !gst_caps_is_empty(ACaps)) {
      Value = gst_structure_get_string(gst_caps_get_structure(ACaps, 0), "media");
    }
    return std::string(Value ? Value : "");
  };
  std::string Media;
  if (const TGstCapsPtr Caps{gst_pad_get_current_caps(APad)}) {
    Media = MediaOf(Caps.get());
    PrintCaps(Caps.get(), "    ");
  } else {
    g_print("Pad %s has no caps, can't do anything, ignoring", PadName(APad).c_str());
    // webrtcbin can announce a stream before its caps are set; the caps it can take still
    // name the media, and the car's video must not end in decodebin for want of them.
    const TGstCapsPtr Possible(gst_pad_query_caps(APad, nullptr));
    Media = MediaOf(Possible.get());
  }
  GstElement* Pipeline = FGstPipeline.get();
  if (Media.starts_with("video")) {
    GstElement* Queue = gst_element_factory_make("queue", nullptr);
    GstElement* Depay = gst_element_factory_make("rtph264depay", nullptr);
    GstElement* Parse = gst_element_factory_make("h264parse", nullptr);
    GstElement* Filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* AppSink = gst_element_factory_make("appsink", nullptr);
    if (!Checked(Queue && Depay && Parse && Filter && AppSink)) {
      for (GstElement* Element : {Queue, Depay, Parse, Filter, AppSink}) {
        if (Element) gst_object_unref(gst_object_ref_sink(Element));
      }
      return;
    }
    const TGstCapsPtr Caps(gst_caps_new_simple("video/x-h264", "alignment", G_TYPE_STRING, "au", "stream-format",
                                               G_TYPE_STRING, "byte-stream", nullptr));
    g_object_set(Filter, "caps", Caps.get(), nullptr);
    // Every access unit goes to the owner the moment it is complete: no wait for its time on
    // the clock (the jitter buffer has paced it), and no part in the pipeline's preroll, so a
    // sink added later for another stream cannot hold the video back.
    g_object_set(AppSink, "sync", FALSE, "async", FALSE, nullptr);
    GstAppSinkCallbacks Callbacks{};
    Callbacks.new_preroll = &THandlers::Preroll;
    Callbacks.new_sample = &THandlers::NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(AppSink), &Callbacks, NewLinkRef(), &THandlers::FreeLink);
    gst_bin_add_many(GST_BIN(Pipeline), Queue, Depay, Parse, Filter, AppSink, nullptr);
    for (GstElement* Element : {Queue, Depay, Parse, Filter, AppSink}) gst_element_sync_state_with_parent(Element);
    gst_element_link_many(Queue, Depay, Parse, Filter, AppSink, nullptr);
    const TGstPadPtr QueueSink(gst_element_get_static_pad(Queue, "sink"));
    gst_pad_link(APad, QueueSink.get());
    return;
  }
  GstElement* Decodebin = gst_element_factory_make("decodebin", nullptr);
  if (!Checked(Decodebin != nullptr)) return;
  ConnectSignal(Decodebin, "pad-added", G_CALLBACK(THandlers::DecodedPadAdded), NewLinkRef(),
                &THandlers::FreeLinkClosure);
  gst_bin_add(GST_BIN(Pipeline), Decodebin);
  gst_element_sync_state_with_parent(Decodebin);
  gst_element_link(FWebrtcbin, Decodebin);
}

void TGSWebRtcPipeline::HandleDecodedStream(GstPad* APad) {
  const TGstCapsPtr Caps(gst_pad_get_current_caps(APad));
  if (!Caps) {
    g_print("Pad %s has no caps, can't do anything, ignoring", PadName(APad).c_str());
    return;
  }
  const std::string_view Name = gst_structure_get_name(gst_caps_get_structure(Caps.get(), 0));
  if (Name.starts_with("video")) {
    handle_media_stream(APad, "videoconvert", "autovideosink");
  } else if (Name.starts_with("audio")) {
    handle_media_stream(APad, "audioconvert", "autoaudiosink");
  } else {
    g_printerr("Unknown pad %s, ignoring", PadName(APad).c_str());
  }
}

void TGSWebRtcPipeline::handle_media_stream(GstPad* APad, const char* AConvertName, const char* ASinkName) {
  g_print("Trying to handle stream with %s ! %s", AConvertName, ASinkName);
  GstElement* Queue = gst_element_factory_make("queue", nullptr);
  GstElement* Convert = gst_element_factory_make(AConvertName, nullptr);
  GstElement* Sink = gst_element_factory_make(ASinkName, nullptr);
  GstElement* Resample =
      std::string_view(AConvertName) == "audioconvert" ? gst_element_factory_make("audioresample", nullptr) : nullptr;
  const bool IsAudio = std::string_view(AConvertName) == "audioconvert";
  if (!Checked(Queue && Convert && Sink && (!IsAudio || Resample))) {
    // Left unlinked: nothing more is built for this pad.
    for (GstElement* Element : {Queue, Convert, Sink, Resample}) {
      if (Element) gst_object_unref(gst_object_ref_sink(Element));
    }
    return;
  }
  // A sink added to the playing pipeline would otherwise take the whole pipeline back to
  // preroll until it has prerolled itself, holding the car's video back meanwhile.
  if (GST_IS_BIN(Sink)) g_object_set(Sink, "async-handling", TRUE, nullptr);
  GstBin* Bin = GST_BIN(FGstPipeline.get());
  if (IsAudio) {
    gst_bin_add_many(Bin, Queue, Convert, Resample, Sink, nullptr);
    for (GstElement* Element : {Queue, Convert, Resample, Sink}) gst_element_sync_state_with_parent(Element);
    gst_element_link_many(Queue, Convert, Resample, Sink, nullptr);
  } else {
    gst_bin_add_many(Bin, Queue, Convert, Sink, nullptr);
    for (GstElement* Element : {Queue, Convert, Sink}) gst_element_sync_state_with_parent(Element);
    gst_element_link_many(Queue, Convert, Sink, nullptr);
  }
  const TGstPadPtr QueueSink(gst_element_get_static_pad(Queue, "sink"));
  if (!Checked(gst_pad_link(APad, QueueSink.get()) == GST_PAD_LINK_OK)) return;
  GST_DEBUG_BIN_TO_DOT_FILE_WITH_TS(Bin, GST_DEBUG_GRAPH_SHOW_ALL, "pipeline");
}

GstFlowReturn TGSWebRtcPipeline::HandleNewSample(GstAppSink* AAppSink) {
  if (FOnNewGsSample) return FOnNewGsSample(AAppSink, this);
  const TGstSamplePtr Sample(gst_app_sink_pull_sample(AAppSink));
  if (!Sample) return GST_FLOW_OK;
  if (!FHasFirstFrames.exchange(true)) {
    gint Width = 0, Height = 0;
    if (const GstCaps* Caps = gst_sample_get_caps(Sample.get())) {
      const GstStructure* Structure = gst_caps_get_structure(Caps, 0);
      gst_structure_get_int(Structure, "width", &Width);
      gst_structure_get_int(Structure, "height", &Height);
    }
    FFrameWidth = Width;
    FFrameHeight = Height;
  }
  GstBuffer* Buffer = gst_sample_get_buffer(Sample.get());
  GstMapInfo Map;
  if (!Buffer || !gst_buffer_map(Buffer, &Map, GST_MAP_READ)) return GST_FLOW_OK;
  // Unmapped whatever the owner's handler does.
  struct TUnmap {
    GstBuffer* Buffer;
    GstMapInfo& Map;
    ~TUnmap() { gst_buffer_unmap(Buffer, &Map); }
  } Unmap{Buffer, Map};
  if (FOnNewSample) FOnNewSample(Map.data, static_cast<int32_t>(Map.size));
  return GST_FLOW_OK;
}

}  // namespace kva
