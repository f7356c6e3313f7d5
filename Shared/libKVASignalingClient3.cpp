#include "libKVASignalingClient3.h"

namespace kva {

std::string_view ToString(TKvaConnectionState AState) {
  switch (AState) {
    case TKvaConnectionState::DISCONNECTED: return "DISCONNECTED";
    case TKvaConnectionState::CONNECTING: return "CONNECTING";
    case TKvaConnectionState::CONNECTED: return "CONNECTED";
    case TKvaConnectionState::DISCONNECTING: return "DISCONNECTING";
  }
  return "";
}

std::string_view ToString(TKvaSignalingSessionState AState) {
  switch (AState) {
    case TKvaSignalingSessionState::Uninitialized: return "Uninitialized";
    case TKvaSignalingSessionState::Queued: return "Queued";
    case TKvaSignalingSessionState::RemoteSession: return "RemoteSession";
    case TKvaSignalingSessionState::Closed: return "Closed";
  }
  return "";
}

}  // namespace kva
