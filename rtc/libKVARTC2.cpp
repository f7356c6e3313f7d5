#include "libKVARTC2.h"

namespace kva {

void TKvaRtcSession::SetObserver(std::weak_ptr<IKvaRtcSessionObserver> AObserver) {
  std::lock_guard Lock(FObserverLock);
  FObserver = std::move(AObserver);
}

std::shared_ptr<IKvaRtcSessionObserver> TKvaRtcSession::Observer() const {
  std::lock_guard Lock(FObserverLock);
  return FObserver.lock();
}

void TKvaRtcSession::DoOnSdpReadyToSend(const std::string& AType, const std::string& ASdp) {
  if (const auto Observer = this->Observer()) Observer->SdpReadyToSend(AType, ASdp);
}

void TKvaRtcSession::DoOnIceCandidateReadyToSend(const std::string& ACandidate, int32_t ASdpMLineIndex,
                                                 const std::string& ASdpMid) {
  if (const auto Observer = this->Observer()) Observer->IceCandidateReadyToSend(ACandidate, ASdpMLineIndex, ASdpMid);
}

void TKvaRtcSession::DoOnDataFromDataChannel(const std::string& AMsg) {
  if (const auto Observer = this->Observer()) Observer->DataFromDataChannel(AMsg);
}

void TKvaRtcSession::DoPeerConnectionStatusChanged(TPeerConnectionSignalingState AStatus) {
  if (FPeerConnectionState.exchange(AStatus) == AStatus) return;
  if (const auto Observer = this->Observer()) Observer->PeerConnectionStatusChanged(AStatus);
  FOnPeerConnectionChanged(this);
}

void TKvaRtcSession::DoDataChannelStateChaged(TDataChannelDataState AState) {
  FDataChannelState = AState;
  if (const auto Observer = this->Observer()) Observer->DataChannelStateChanged(AState);
}

}  // namespace kva
