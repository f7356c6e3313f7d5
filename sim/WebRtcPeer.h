// A webrtcbin peer that sends a live H.264 test picture (and, when asked, an Opus test tone),
// the far side of the agent's WebRTC session: the simulated cars are built on it, and the
// tests negotiate with it in one process. Negotiation steps are synchronous calls; received
// streams go to fake sinks; data channels carry text both ways. The payloader's output can
// be watched (OnPayloaded) to measure delays. Thread-safe.
#pragma once

#include <gst/gst.h>
#define GST_USE_UNSTABLE_API
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kva::sim {

struct TWebRtcPeerOptions {
  int Width = 320, Height = 240, Framerate = 30;
  bool SendAudio = false;
  bool SendVideo = true;
  std::string DataChannelLabel;  // a channel of the peer's own, made before negotiation; empty: none
};

class TWebRtcPeer {
public:
  using TOnIceCandidate = std::function<void(int AMLineIndex, const std::string& ACandidate)>;
  // Each access unit as it leaves the encoder for the payloader: its bytes.
  using TOnEncoded = std::function<void(const uint8_t* AData, size_t ASize)>;

  explicit TWebRtcPeer(TWebRtcPeerOptions AOptions);
  ~TWebRtcPeer();
  TWebRtcPeer(const TWebRtcPeer&) = delete;
  TWebRtcPeer& operator=(const TWebRtcPeer&) = delete;

  // Set before Start.
  void SetOnIceCandidate(TOnIceCandidate AHandler) { FOnIceCandidate = std::move(AHandler); }
  void SetOnEncoded(TOnEncoded AHandler) { FOnEncoded = std::move(AHandler); }
  // Starts the pipeline and returns once its streams are flowing into webrtcbin.
  void Start();

  std::string CreateOffer();   // also applied as the local description
  std::string CreateAnswer();  // also applied as the local description
  void SetRemoteDescription(const std::string& AType, const std::string& ASdp);
  void AddIceCandidate(int AMLineIndex, const std::string& ACandidate);

  // Text received on any data channel, in order.
  std::vector<std::string> ReceivedTexts() const;
  // Sizes of binary messages received.
  std::vector<size_t> ReceivedBinary() const;
  // Sends on the peer's own channel (when it has one) or on the first channel it was given.
  bool SendText(const std::string& AText);
  bool SendBinary(const std::vector<uint8_t>& ABytes);
  // Closes the channels the peer was given by the other side.
  void CloseRemoteChannels();
  bool ChannelOpen() const;
  uint32_t PeerConnectionState() const;
  // Media packets received from the other side (its audio).
  uint64_t MediaBuffersReceived() const { return FMediaBuffers; }

private:
  std::string CreateDescription(const char* ASignal, const char* AKind);
  void ApplyDescription(const char* ASignal, GstWebRTCSDPType AType, const std::string& ASdp);
  bool AllStreamsHaveCaps() const;
  void AddChannel(GstWebRTCDataChannel* AChannel, bool AOwn);
  static void OnPadAdded(GstElement* AWebrtcbin, GstPad* APad, TWebRtcPeer* ASelf);

  TWebRtcPeerOptions FOptions;
  GstElement* FPipeline = nullptr;
  GstElement* FWebrtcbin = nullptr;
  TOnIceCandidate FOnIceCandidate;
  TOnEncoded FOnEncoded;
  mutable std::mutex FLock;
  std::vector<GstWebRTCDataChannel*> FChannels;  // owned; the peer's own first when it has one
  std::vector<std::string> FTexts;
  std::vector<size_t> FBinary;
  std::atomic<uint64_t> FMediaBuffers{0};
};

}  // namespace kva::sim
