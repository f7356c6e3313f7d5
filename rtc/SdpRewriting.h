// The agent's own session descriptions, as it applies and sends them: every video and data
// media line offered with port 0 gets port 9, and "a=bundle-only" lines (ended by CR LF) go;
// nothing else changes (a line ended by LF alone is left). A peer that answers bundled media
// offered with port 0 as rejected (webrtcbin does so for the data channel) then accepts them.
#pragma once

#include <string>

namespace kva {

std::string RewriteLocalDescription(std::string ASdp);

}  // namespace kva
