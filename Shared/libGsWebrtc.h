// One GStreamer pipeline around a "webrtcbin": a live silent Opus stream out, a receive-only
// H.264 transceiver in (added when the agent offers), and the "control" data channel. It negotiates through webrtcbin's
// action signals and promises, carries ICE candidates both ways, hands every received H.264
// access unit to its owner (byte-stream form, on the video streaming thread), plays any other
// incoming stream through decodebin, and carries text on the data channel both ways.
//
// Threads: the operations run on their caller's thread; every signal, promise and appsink
// handler runs on GStreamer's threads and reaches this object only while it lives: Release
// (and the destructor) stops the pipeline and waits for a handler that is running, after
// which none runs. Diagnostics go to standard output and standard error (g_print,
// g_printerr), not to the agent's log.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <gst/app/gstappsink.h>

#include "Shared/KvaServiceSettings.h"
#include "platform/Event.h"
#include "rtc/libGStreamer.h"

namespace kva {

enum class TAppState : uint16_t {
  APP_STATE_UNKNOWN = 0,
  APP_STATE_ERROR = 1,
  APP_STATE_NEGOTIATION_NEEDED = 2,
  APP_STATE_NEGOTIATING = 3,
  SERVER_CONNECTING = 1000,
  SERVER_CONNECTION_ERROR = 1001,
  SERVER_CONNECTED = 1002,
  SERVER_REGISTERING = 2000,
  SERVER_REGISTRATION_ERROR = 2001,
  SERVER_REGISTERED = 2002,
  SERVER_CLOSED = 2003,
  PEER_CONNECTING = 3000,
  PEER_CONNECTION_ERROR = 3001,
  PEER_CONNECTED = 3002,
  PEER_CALL_NEGOTIATING = 4000,
  PEER_CALL_STARTED = 4001,
  PEER_CALL_STOPPING = 4002,
  PEER_CALL_STOPPED = 4003,
  PEER_CALL_ERROR = 4004,
};

class TGSWebRtcPipeline {
public:
  using TNotifyEvent = TEvent<void(TGSWebRtcPipeline* Sender)>;
  using TSdpCreatedEvent = TEvent<void(TGSWebRtcPipeline* Sender, const std::string& AType, const std::string& ASdp)>;
  using TIceCandidateEvent = TEvent<void(TGSWebRtcPipeline* Sender, int32_t AMLineIndex, const std::string& ACandidate)>;
  using TDataChannelStringEvent =
      TEvent<void(TGSWebRtcPipeline* Sender, GstWebRTCDataChannel* AChannel, const std::string& AText)>;
  using TDataChannelDataEvent = TEvent<void(TGSWebRtcPipeline* Sender, GstWebRTCDataChannel* AChannel,
                                            const uint8_t* AData, int32_t ALength)>;
  // One encoded access unit; the bytes are valid during the call only.
  using TNewSampleEvent = std::function<void(const uint8_t* AData, int32_t ASize)>;
  // Replaces the built-in sample handling when set; its result goes back to the appsink.
  using TNewGsSampleEvent = std::function<GstFlowReturn(GstAppSink* AAppSink, gpointer AUserData)>;

  // A data channel holding more than this many bytes not yet sent drops new text: a driving
  // command that waits behind others is stale by the time it leaves.
  static constexpr uint64_t MaxBufferedBytes = 16 * 1024;

  // AStunServer: "stun://host:port", or empty for none.
  explicit TGSWebRtcPipeline(std::string AStunServer = TKvaServiceSettings::FromEnvironment().StunServer);
  virtual ~TGSWebRtcPipeline();
  TGSWebRtcPipeline(const TGSWebRtcPipeline&) = delete;
  TGSWebRtcPipeline& operator=(const TGSWebRtcPipeline&) = delete;

  // Builds and starts the pipeline. Never raises: a failure leaves no pipeline (Webrtcbin()
  // is none) and its text in InitError().
  void Init();
  // Stops and drops the pipeline; afterwards no handler runs.
  void Release();

  void CreateOffer(TSdpCreatedEvent AOnOfferCreated);
  void CreateAnswer(TSdpCreatedEvent AOnAnswerCreated);
  // Apply a description ("offer" or "answer"); raise TAssertionError ("Failed to create SDP
  // message", "Failed to parse SDP message", "Failed to create SDP") before anything is done.
  void SetLocalDescription(const std::string& ASdpType, const std::string& ASdp);
  void SetRemoteDescription(const std::string& ASdpType, const std::string& ASdp);
  void AddIceCandidate(int32_t AMLineIndex, const std::string& AIceCandidate);
  // Sends text on the agent's channel while it is open (dropped otherwise, without a report).
  void SendDataChannelString(const std::string& ADataString);

  TAppState AppState() const { return FAppState; }
  uint32_t IceConnectionState() const;
  uint32_t IceGatheringState() const;
  uint32_t PeerConnectionState() const;
  std::string IceConnectionStateString() const { return GetIceConnectionStateToString(IceConnectionState()); }
  std::string IceGatheringStateString() const { return GetIceGatheringStateToString(IceGatheringState()); }
  std::string PeerConnectionStateString() const { return GetPeerConnectionStateToString(PeerConnectionState()); }
  static std::string GetIceConnectionStateToString(uint32_t AState);
  static std::string GetIceGatheringStateToString(uint32_t AState);
  static std::string GetPeerConnectionStateToString(uint32_t AState);
  // The first received picture's size (0 until then).
  int32_t FrameWidth() const { return FFrameWidth; }
  int32_t FrameHeight() const { return FFrameHeight; }
  GstElement* Webrtcbin() const { return FWebrtcbin; }
  const std::string& InitError() const { return FInitError; }

  // Callbacks: assigned before Init.
  void SetOnNewSample(TNewSampleEvent AValue) { FOnNewSample = std::move(AValue); }
  void SetOnNewGsSample(TNewGsSampleEvent AValue) { FOnNewGsSample = std::move(AValue); }
  void SetOnAppStateChanged(TNotifyEvent AValue) { FOnAppStateChanged = std::move(AValue); }
  void SetOnIceCandidate(TIceCandidateEvent AValue) { FOnIceCandidate = std::move(AValue); }
  void SetOnIceConnectionStateChanged(TNotifyEvent AValue) { FOnIceConnectionStateChanged = std::move(AValue); }
  void SetOnIceGatheringStateChanged(TNotifyEvent AValue) { FOnIceGatheringStateChanged = std::move(AValue); }
  void SetOnPeerConnectionStateChanged(TNotifyEvent AValue) { FOnPeerConnectionStateChanged = std::move(AValue); }
  void SetOnDataChannelString(TDataChannelStringEvent AValue) { FOnDataChannelString = std::move(AValue); }
  void SetOnDataChannelData(TDataChannelDataEvent AValue) { FOnDataChannelData = std::move(AValue); }

private:
  struct TLink;
  struct THandlers;

  void SetAppState(TAppState ANewState);
  void cleanup_and_quit_loop(const std::string& AMessage, TAppState ANewAppState);
  TGstSessionDescriptionPtr CreateSessionDescription(const std::string& ASdpType, const std::string& ASdp);
  void ApplyDescription(const char* ASignal, const std::string& ASdpType, const std::string& ASdp);
  void StartNegotiation(TAppState ARequired, TSdpCreatedEvent ACallback, const char* ASignal, const char* AKind);
  void AddVideoTransceiver();
  void HandleSdpCreated(GstPromise* APromise, const char* AKind);
  uint32_t ReadState(const char* AProperty) const;
  void connect_data_channel_signals(GstWebRTCDataChannel* AChannel);
  void HandleIncomingStream(GstPad* APad);
  void HandleDecodedStream(GstPad* APad);
  void handle_media_stream(GstPad* APad, const char* AConvertName, const char* ASinkName);
  GstFlowReturn HandleNewSample(GstAppSink* AAppSink);
  gpointer NewLinkRef() const;

  const std::string FStunServer;
  TGstElementPtr FGstPipeline;
  GstElement* FWebrtcbin = nullptr;  // held by the pipeline
  std::string FInitError;

  TNewSampleEvent FOnNewSample;
  TNewGsSampleEvent FOnNewGsSample;
  GstWebRTCDataChannel* FSendChannel = nullptr;  // owned
  std::atomic<bool> FSendChannelOpened{false};
  std::mutex FReceiveChannelLock;
  GstWebRTCDataChannel* FReceiveChannel = nullptr;  // owned
  std::atomic<TAppState> FAppState{TAppState::APP_STATE_UNKNOWN};
  TNotifyEvent FOnAppStateChanged;
  std::mutex FSdpCallbackLock;
  TSdpCreatedEvent FOnOfferCreated, FOnAnswerCreated;
  TIceCandidateEvent FOnIceCandidate;
  TNotifyEvent FOnIceConnectionStateChanged, FOnIceGatheringStateChanged, FOnPeerConnectionStateChanged;
  TDataChannelStringEvent FOnDataChannelString;
  TDataChannelDataEvent FOnDataChannelData;
  std::atomic<int32_t> FFrameWidth{0}, FFrameHeight{0};
  std::atomic<bool> FHasFirstFrames{false};
  bool FVideoTransceiverAdded = false;

  // What library callbacks hold instead of this object.
  std::shared_ptr<TLink> FLink;
};

}  // namespace kva
