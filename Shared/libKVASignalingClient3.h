// The service client: sign-in and the authenticated POST (TKvaSignalingManager), the driving
// queue and the signalling session (TKvaSignalingSession).
#pragma once

#include <cstdint>
#include <string_view>

namespace kva {

enum class TKvaConnectionState : uint8_t { DISCONNECTED, CONNECTING, CONNECTED, DISCONNECTING };

enum class TKvaSignalingSessionState : uint8_t { Uninitialized, Queued, RemoteSession, Closed };

// The member names, as they travel in texts ("connState", the status text).
std::string_view ToString(TKvaConnectionState AState);
std::string_view ToString(TKvaSignalingSessionState AState);

}  // namespace kva
