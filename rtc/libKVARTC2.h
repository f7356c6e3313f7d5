// The WebRTC session as the main window sees it: an abstract peer connection with its media
// and the "control" data channel. SDP texts and ICE candidates go in and out as strings; the
// session reports back through its observer (held weakly: the session never keeps it alive,
// and skips it once it is gone) and two notification callbacks. Implementations raise the
// events on their own threads; the observer brings work to the main thread itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Event.h"

namespace kva {

class TFMXTextureBitmap;

enum class TPeerConnectionSignalingState : uint8_t {
  Stable,
  HaveLocalOffer,
  HaveLocalPrAnswer,
  HaveRemoteOffer,
  HaveRemotePrAnswer,
  Closed
};

enum class TDataChannelDataState : uint8_t { Connecting, Open, Closing, Closed };

class IKvaRtcSessionObserver {
public:
  virtual ~IKvaRtcSessionObserver() = default;
  virtual void SdpReadyToSend(const std::string& AType, const std::string& ASdp) = 0;
  virtual void IceCandidateReadyToSend(const std::string& ACandidate, int32_t ASdpMLineIndex,
                                       const std::string& ASdpMid) = 0;
  virtual void DataFromDataChannel(const std::string& AMsg) = 0;
  virtual void DataChannelStateChanged(TDataChannelDataState AState) = 0;
  virtual void PeerConnectionStatusChanged(TPeerConnectionSignalingState AStatus) = 0;
};

// The operations of a session that a caller drives.
class IKvaRtcSession {
public:
  virtual ~IKvaRtcSession() = default;
  virtual bool SetLocalDescription(const std::string& AType, const std::string& ASdp) = 0;
  virtual bool SetRemoteDescription(const std::string& AType, const std::string& ASdp) = 0;
  virtual bool AddStream(bool AValue) = 0;
  virtual bool AddDataChannel() = 0;
  virtual bool CreateOffer() = 0;
  virtual bool CreateAnswer() = 0;
  virtual bool AddIceCandidate(const std::string& ASdpMid, int32_t ASdpMLineIndex, const std::string& ACandidate) = 0;
  virtual bool CreatePeerConnection() = 0;
  virtual void ClosePeerConnection() = 0;
  virtual void SendData(const std::string& AData) = 0;
};

class TKvaRtcSession : public IKvaRtcSession {
public:
  using TNotifyEvent = TEvent<void(TKvaRtcSession* Sender)>;

  TKvaRtcSession() = default;
  ~TKvaRtcSession() override = default;
  TKvaRtcSession(const TKvaRtcSession&) = delete;
  TKvaRtcSession& operator=(const TKvaRtcSession&) = delete;

  TPeerConnectionSignalingState PeerConnectionState() const { return FPeerConnectionState; }
  TDataChannelDataState DataChannelState() const { return FDataChannelState; }
  // Replaces any earlier observer; the session only looks at it while it lives.
  void SetObserver(std::weak_ptr<IKvaRtcSessionObserver> AObserver);
  void SetOnPeerConnectionChanged(TNotifyEvent AValue) { FOnPeerConnectionChanged = std::move(AValue); }
  // Raised for every newly decoded frame; assigned right after construction.
  void SetOnNewFrame(TNotifyEvent AValue) { FOnNewFrame = std::move(AValue); }

  // The raisers, for implementations.
  virtual void DoOnSdpReadyToSend(const std::string& AType, const std::string& ASdp);
  virtual void DoOnIceCandidateReadyToSend(const std::string& ACandidate, int32_t ASdpMLineIndex,
                                           const std::string& ASdpMid);
  virtual void DoOnDataFromDataChannel(const std::string& AMsg);
  // Only a change of state is stored and reported: observer first, then OnPeerConnectionChanged.
  virtual void DoPeerConnectionStatusChanged(TPeerConnectionSignalingState AStatus);
  // Stored and reported on every call, also when the state is the same.
  virtual void DoDataChannelStateChaged(TDataChannelDataState AState);

  void SendData(const std::string& AData) override {}
  // A one-line summary of the connection states; empty here.
  virtual std::string GetStatesDebugString() { return {}; }
  virtual void SaveRawVideoToFile(const std::string& AFileName) {}
  // Copies the newest decoded frame into the texture; nothing here (the result says nothing).
  virtual bool CopyFrame(TFMXTextureBitmap* ATextureBitmap, int64_t* ATimeStamp) { return false; }

protected:
  void RaiseNewFrame() { FOnNewFrame(this); }

private:
  std::shared_ptr<IKvaRtcSessionObserver> Observer() const;

  std::atomic<TPeerConnectionSignalingState> FPeerConnectionState{TPeerConnectionSignalingState::Stable};
  TNotifyEvent FOnPeerConnectionChanged;
  std::atomic<TDataChannelDataState> FDataChannelState{TDataChannelDataState::Connecting};
  mutable std::mutex FObserverLock;
  std::weak_ptr<IKvaRtcSessionObserver> FObserver;
  TNotifyEvent FOnNewFrame;
};

}  // namespace kva
