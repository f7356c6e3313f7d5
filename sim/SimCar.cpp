#include "SimCar.h"

namespace kva::sim {

const char* const TScriptedCar::Offer =
    "v=0\r\no=- 4611731400430051336 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
    "m=video 9 UDP/TLS/RTP/SAVPF 96\r\nc=IN IP4 0.0.0.0\r\na=mid:0\r\na=sendonly\r\na=rtpmap:96 H264/90000\r\n"
    "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\nc=IN IP4 0.0.0.0\r\na=mid:1\r\n";
const char* const TScriptedCar::Answer =
    "v=0\r\no=- 4611731400430051337 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1 2\r\n"
    "m=audio 9 UDP/TLS/RTP/SAVPF 97\r\nc=IN IP4 0.0.0.0\r\na=mid:0\r\na=recvonly\r\n"
    "m=video 9 UDP/TLS/RTP/SAVPF 96\r\nc=IN IP4 0.0.0.0\r\na=mid:1\r\na=sendonly\r\n"
    "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\r\nc=IN IP4 0.0.0.0\r\na=mid:2\r\n";
const char* const TScriptedCar::Candidates[2] = {
    "candidate:1 1 UDP 2015363327 127.0.0.1 50000 typ host",
    "candidate:2 1 TCP 1015021823 127.0.0.1 9 typ host tcptype active",
};

void TScriptedCar::SendCandidates(const TSendToAgent& ASend) {
  for (const char* Candidate : Candidates) {
    ASend({{"type", "candidate"}, {"candidate", Candidate}, {"sdpMLineIndex", 0}, {"sdpMid", "0"}});
  }
}

void TScriptedCar::SessionStarted(const std::string& ASessionId, bool AAgentOffers, TSendToAgent ASendToAgent) {
  {
    std::lock_guard Lock(FLock);
    FSessions[ASessionId] = ASendToAgent;
  }
  if (AAgentOffers) return;
  ASendToAgent({{"type", "offer"}, {"sdp", Offer}});
  SendCandidates(ASendToAgent);
}

void TScriptedCar::AgentMessage(const std::string& ASessionId, const nlohmann::json& AMessage) {
  TSendToAgent Send;
  {
    std::lock_guard Lock(FLock);
    const auto It = FSessions.find(ASessionId);
    if (It == FSessions.end()) return;
    Send = It->second;
  }
  if (AMessage.value("type", "") != "offer") return;
  Send({{"type", "answer"}, {"sdp", Answer}});
  SendCandidates(Send);
}

void TScriptedCar::SessionEnded(const std::string& ASessionId) {
  std::lock_guard Lock(FLock);
  FSessions.erase(ASessionId);
}

}  // namespace kva::sim
