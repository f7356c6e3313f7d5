// A simulated car: the far side of a remote session. The queue service tells it when it is
// assigned to a session and hands it every message the agent posts; the car answers through
// the function it was given, which puts its messages into the list the agent listens to.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace kva::sim {

class ISimCar {
public:
  using TSendToAgent = std::function<void(const nlohmann::json& AMessage)>;
  virtual ~ISimCar() = default;
  // AAgentOffers: the agent makes the offer; otherwise the car does.
  virtual void SessionStarted(const std::string& ASessionId, bool AAgentOffers, TSendToAgent ASendToAgent) = 0;
  virtual void AgentMessage(const std::string& ASessionId, const nlohmann::json& AMessage) = 0;
  virtual void SessionEnded(const std::string& ASessionId) = 0;
};

// A car that speaks the signalling with canned texts: it answers an offer with a fixed answer
// and two candidates, or, when it makes the offer, sends a fixed offer and two candidates.
class TScriptedCar : public ISimCar {
public:
  static const char* const Offer;
  static const char* const Answer;
  static const char* const Candidates[2];

  void SessionStarted(const std::string& ASessionId, bool AAgentOffers, TSendToAgent ASendToAgent) override;
  void AgentMessage(const std::string& ASessionId, const nlohmann::json& AMessage) override;
  void SessionEnded(const std::string& ASessionId) override;

private:
  void SendCandidates(const TSendToAgent& ASend);

  std::mutex FLock;
  std::map<std::string, TSendToAgent> FSessions;
};

}  // namespace kva::sim
