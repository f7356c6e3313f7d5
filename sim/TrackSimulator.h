// kva-tracksim: everything the agent talks to, served on loopback by one HTTP server: the
// identity endpoints, the queue API with its remote sessions and simulated cars, and the
// realtime database over REST streaming. Requests are recorded so that tests can check what
// the agent sent. Where the agent is lenient the simulator is strict: it refuses what the real service
// refuses (a wrong API key, an unknown account, a bad refresh token).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/IdentityService.h"
#include "sim/QueueService.h"
#include "sim/RealtimeDatabase.h"

namespace httplib {
class Server;
}

namespace kva::sim {

struct TTrackSimulatorOptions {
  std::string ApiKey;
  int TokenLifetimeSeconds = 3600;
  bool RotateRefreshTokens = false;
  std::vector<std::pair<std::string, std::string>> Accounts;  // e-mail, password (besides the demo account)
  TQueueOptions Queue;
  int StreamKeepAliveSeconds = 30;  // how often an idle event stream sends "keep-alive"
};

struct TRecordedRequest {
  std::string Method;
  std::string Path;
  std::multimap<std::string, std::string> Params;
  std::map<std::string, std::string> Headers;  // names in lower case
  std::string Body;

  std::string Header(const std::string& ALowerCaseName) const;
  std::string Param(const std::string& AName) const;
};

class TTrackSimulator {
public:
  explicit TTrackSimulator(TTrackSimulatorOptions AOptions);
  ~TTrackSimulator();
  TTrackSimulator(const TTrackSimulator&) = delete;
  TTrackSimulator& operator=(const TTrackSimulator&) = delete;

  // Starts serving on 127.0.0.1 (port 0: any free port); returns the port. Raises
  // std::runtime_error when the port cannot be bound.
  int Start(int APort = 0);
  void Stop();
  int Port() const { return FPort; }
  // "http://127.0.0.1:<port>"
  std::string BaseUrl() const;

  TIdentityService& Identity() { return FIdentity; }
  TRealtimeDatabase& Database() { return FDatabase; }
  TQueueService& Queue() { return *FQueue; }
  // Event streams open now.
  size_t OpenStreams() const;
  const std::string& ApiKey() const { return FOptions.ApiKey; }

  std::vector<TRecordedRequest> Requests() const;
  std::vector<TRecordedRequest> RequestsTo(const std::string& APath) const;
  void ClearRequests();
  // Holds every identity (or queue API) answer back for this long (tests of late responses).
  void SetIdentityDelay(std::chrono::milliseconds ADelay);
  void SetQueueDelay(std::chrono::milliseconds ADelay);

private:
  void Record(const TRecordedRequest& ARequest);
  struct TStream;
  void AddIdentityRoutes();
  void AddQueueRoutes();
  void AddDatabaseRoutes();
  void AddFallbackRoutes();

  TTrackSimulatorOptions FOptions;
  TIdentityService FIdentity;
  TRealtimeDatabase FDatabase;
  std::unique_ptr<TQueueService> FQueue;
  std::unique_ptr<httplib::Server> FServer;
  std::vector<std::weak_ptr<TStream>> FStreams;
  std::thread FListener;
  int FPort = 0;
  mutable std::mutex FLock;
  std::vector<TRecordedRequest> FRequests;
  std::chrono::milliseconds FIdentityDelay{0};
  std::chrono::milliseconds FQueueDelay{0};
};

}  // namespace kva::sim
