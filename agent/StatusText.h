// The texts of the main window: the three-line status text and the caption.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Shared/libKVASignalingClient3.h"

namespace kva {

// "<connection state>; [<session state>; ][<WebRTC states>]" CR LF "Cmd: <last command>" CR LF
// "Telmetry: <text from the car>". The session and WebRTC parts are left out while those
// sessions do not exist.
std::string BuildStatusText(TKvaConnectionState AConnectionState,
                            std::optional<TKvaSignalingSessionState> ASessionState,
                            std::optional<std::string_view> ARtcStates, std::string_view ALastCommand,
                            std::string_view ADataChannelString);

// "Kelvara Agent <version>[ - <e-mail>]".
std::string BuildCaption(std::string_view AVersion, std::string_view AUserEmail);

}  // namespace kva
