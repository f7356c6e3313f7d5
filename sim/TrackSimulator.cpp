#include "TrackSimulator.h"

#include <httplib.h>

#include "sim/ServerConnections.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <stdexcept>

namespace kva::sim {

std::string TRecordedRequest::Header(const std::string& ALowerCaseName) const {
  const auto It = Headers.find(ALowerCaseName);
  return It == Headers.end() ? std::string() : It->second;
}

std::string TRecordedRequest::Param(const std::string& AName) const {
  const auto It = Params.find(AName);
  return It == Params.end() ? std::string() : It->second;
}

namespace {

TRecordedRequest RecordOf(const httplib::Request& ARequest) {
  TRecordedRequest Recorded{ARequest.method, ARequest.path, {}, {}, ARequest.body};
  for (const auto& [Name, Value] : ARequest.params) Recorded.Params.emplace(Name, Value);
  for (const auto& [Name, Value] : ARequest.headers) {
    std::string Lower = Name;
    for (char& C : Lower) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    Recorded.Headers[Lower] = Value;
  }
  return Recorded;
}

void Answer(httplib::Response& AResponse, const TSimAnswer& AAnswer) {
  AResponse.status = AAnswer.Status;
  AResponse.set_content(AAnswer.Body, "application/json; charset=UTF-8");
}

std::string BearerToken(const httplib::Request& ARequest) {
  const std::string Header = ARequest.get_header_value("Authorization");
  return Header.starts_with("Bearer ") ? Header.substr(7) : std::string();
}

std::string EventText(const std::string& AEvent, const std::string& AData) {
  return "event: " + AEvent + "\ndata: " + AData + "\n\n";
}

}  // namespace

// One client's event stream: the events waiting to go out.
struct TTrackSimulator::TStream {
  std::mutex Lock;
  std::condition_variable Wake;
  std::string Pending;
  bool Ended = false;

  void Add(const std::string& AText) {
    {
      std::lock_guard Guard(Lock);
      Pending += AText;
    }
    Wake.notify_one();
  }
  void End() {
    {
      std::lock_guard Guard(Lock);
      Ended = true;
    }
    Wake.notify_one();
  }
};

TTrackSimulator::TTrackSimulator(TTrackSimulatorOptions AOptions)
    : FOptions(std::move(AOptions)),
      FIdentity(FOptions.TokenLifetimeSeconds, FOptions.RotateRefreshTokens),
      FQueue(std::make_unique<TQueueService>(FDatabase, FIdentity, FOptions.Queue)),
      FServer(std::make_unique<httplib::Server>()) {
  for (const auto& [Email, Password] : FOptions.Accounts) FIdentity.AddAccount(Email, Password);
  // Small answers go out at once: with Nagle's algorithm a response written in two pieces
  // would wait for the client's delayed acknowledgement (40 ms) on a kept-alive connection.
  FServer->set_tcp_nodelay(true);
  FServer->set_keep_alive_max_count(100000);
  FServer->set_keep_alive_timeout(60);
  // Every event stream holds a thread for as long as it is open.
  FServer->new_task_queue = [] { return new httplib::ThreadPool(64); };
  AddIdentityRoutes();
  AddQueueRoutes();
  AddDatabaseRoutes();
  AddFallbackRoutes();
}

TTrackSimulator::~TTrackSimulator() { Stop(); }

void TTrackSimulator::AddIdentityRoutes() {
  // Every identity call names the web API key; a wrong one is refused as the real API does.
  const auto Route = [this](const char* APath, TSimAnswer (TIdentityService::*AOperation)(const std::string&)) {
    FServer->Post(APath, [this, AOperation](const httplib::Request& ARequest, httplib::Response& AResponse) {
      Record(RecordOf(ARequest));
      std::chrono::milliseconds Delay;
      {
        std::lock_guard Lock(FLock);
        Delay = FIdentityDelay;
      }
      if (Delay.count() > 0) std::this_thread::sleep_for(Delay);
      if (ARequest.get_param_value("key") != FOptions.ApiKey) {
        Answer(AResponse, TIdentityService::Error(400, "API key not valid. Please pass a valid API key.",
                                                  "INVALID_ARGUMENT"));
        return;
      }
      Answer(AResponse, (FIdentity.*AOperation)(ARequest.body));
    });
  };
  Route("/identitytoolkit/v3/relyingparty/verifyPassword", &TIdentityService::VerifyPassword);
  Route("/v1/accounts:signInWithCustomToken", &TIdentityService::SignInWithCustomToken);
  Route("/v1/token", &TIdentityService::RefreshToken);
}

void TTrackSimulator::AddQueueRoutes() {
  FServer->Post("/v1/queue", [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Record(RecordOf(ARequest));
    std::chrono::milliseconds Delay;
    {
      std::lock_guard Lock(FLock);
      Delay = FQueueDelay;
    }
    if (Delay.count() > 0) std::this_thread::sleep_for(Delay);
    Answer(AResponse, FQueue->Join(BearerToken(ARequest), ARequest.body));
  });
  FServer->Post("/v1/queue/agent", [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Record(RecordOf(ARequest));
    Answer(AResponse, FQueue->JoinAgents(BearerToken(ARequest), ARequest.body));
  });
  FServer->Post(R"(/v1/queue/([^/]+)/keepalive)", [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Record(RecordOf(ARequest));
    Answer(AResponse, FQueue->KeepAlive(BearerToken(ARequest), ARequest.matches[1]));
  });
  FServer->Post(R"(/v1/sessions/([^/]+)/messages)", [this](const httplib::Request& ARequest,
                                                          httplib::Response& AResponse) {
    Record(RecordOf(ARequest));
    Answer(AResponse, FQueue->PostMessage(BearerToken(ARequest), ARequest.matches[1], ARequest.body));
  });
}

void TTrackSimulator::AddDatabaseRoutes() {
  // Every call names a location with ".json" and an identity token as "auth", as the REST API
  // wants; a missing, unknown or expired token is refused as it refuses them.
  const auto Authorised = [this](const httplib::Request& ARequest, httplib::Response& AResponse, std::string& APath) {
    Record(RecordOf(ARequest));
    const std::string Location = ARequest.matches[1];
    if (!Location.ends_with(".json")) {
      Answer(AResponse, {404, R"({"error" : "Not found: a location ends with .json"})"});
      return false;
    }
    APath = Location.substr(0, Location.size() - 5);
    switch (FIdentity.CheckIdToken(ARequest.get_param_value("auth"))) {
      case TIdentityService::TTokenStatus::Valid: return true;
      case TIdentityService::TTokenStatus::Expired:
        Answer(AResponse, {401, R"({"error" : "Auth token is expired"})"});
        return false;
      case TIdentityService::TTokenStatus::Invalid: break;
    }
    Answer(AResponse, {401, R"({"error" : "Unauthorized request."})"});
    return false;
  };
  FServer->Get(R"(/db/(.*))", [this, Authorised](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::string Path;
    if (!Authorised(ARequest, AResponse, Path)) return;
    if (ARequest.get_header_value("Accept") != "text/event-stream") {
      Answer(AResponse, {200, FDatabase.Get(Path).dump()});
      return;
    }
    auto Stream = std::make_shared<TStream>();
    {
      std::lock_guard Lock(FLock);
      std::erase_if(FStreams, [](const std::weak_ptr<TStream>& AStream) { return AStream.expired(); });
      FStreams.push_back(Stream);
    }
    const int Subscription = FDatabase.Subscribe(Path, [Stream](const std::string& AEvent, const nlohmann::json& AData) {
      Stream->Add(EventText(AEvent, AData.dump()));
    });
    const std::string Token = ARequest.get_param_value("auth");
    const auto KeepAlive = std::chrono::seconds(FOptions.StreamKeepAliveSeconds);
    AResponse.set_header("Cache-Control", "no-cache");
    AResponse.set_chunked_content_provider(
        "text/event-stream",
        [this, Stream, Token, KeepAlive](size_t, httplib::DataSink& ASink) {
          std::string Text;
          {
            std::unique_lock Lock(Stream->Lock);
            Stream->Wake.wait_for(Lock, KeepAlive, [&] { return !Stream->Pending.empty() || Stream->Ended; });
            if (Stream->Ended) return false;
            Text.swap(Stream->Pending);
          }
          if (Text.empty()) {
            if (FIdentity.CheckIdToken(Token) != TIdentityService::TTokenStatus::Valid) {
              // The token ran out while the stream was open: the database says so and ends it.
              const std::string Revoked = EventText("auth_revoked", "\"credential is no longer valid\"");
              ASink.write(Revoked.data(), Revoked.size());
              ASink.done();
              return true;
            }
            Text = EventText("keep-alive", "null");
          }
          return ASink.write(Text.data(), Text.size());
        },
        [this, Subscription](bool) { FDatabase.Unsubscribe(Subscription); });
  });
  FServer->Put(R"(/db/(.*))", [this, Authorised](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::string Path;
    if (!Authorised(ARequest, AResponse, Path)) return;
    const nlohmann::json Value = nlohmann::json::parse(ARequest.body, nullptr, false);
    if (Value.is_discarded()) return Answer(AResponse, {400, R"({"error" : "Invalid data; couldn't parse JSON object."})"});
    FDatabase.Put(Path, Value);
    Answer(AResponse, {200, Value.dump()});
  });
  FServer->Patch(R"(/db/(.*))", [this, Authorised](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::string Path;
    if (!Authorised(ARequest, AResponse, Path)) return;
    const nlohmann::json Value = nlohmann::json::parse(ARequest.body, nullptr, false);
    if (!Value.is_object()) return Answer(AResponse, {400, R"({"error" : "Invalid data; couldn't parse JSON object."})"});
    FDatabase.Patch(Path, Value);
    Answer(AResponse, {200, Value.dump()});
  });
  FServer->Post(R"(/db/(.*))", [this, Authorised](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::string Path;
    if (!Authorised(ARequest, AResponse, Path)) return;
    const nlohmann::json Value = nlohmann::json::parse(ARequest.body, nullptr, false);
    if (Value.is_discarded()) return Answer(AResponse, {400, R"({"error" : "Invalid data; couldn't parse JSON object."})"});
    Answer(AResponse, {200, nlohmann::json{{"name", FDatabase.Push(Path, Value)}}.dump()});
  });
}

size_t TTrackSimulator::OpenStreams() const {
  std::lock_guard Lock(FLock);
  return static_cast<size_t>(std::count_if(FStreams.begin(), FStreams.end(),
                                           [](const std::weak_ptr<TStream>& AStream) { return !AStream.expired(); }));
}

void TTrackSimulator::AddFallbackRoutes() {
  // Requests that no route takes are recorded too, and refused.
  const auto NotFound = [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Record(RecordOf(ARequest));
    AResponse.status = 404;
    AResponse.set_content(R"({"error":"Not found"})", "application/json");
  };
  FServer->Get(".*", NotFound);
  FServer->Post(".*", NotFound);
  FServer->Put(".*", NotFound);
  FServer->Patch(".*", NotFound);
  FServer->Delete(".*", NotFound);
}

int TTrackSimulator::Start(int APort) {
  FPort = APort == 0 ? FServer->bind_to_any_port("127.0.0.1") : (FServer->bind_to_port("127.0.0.1", APort) ? APort : -1);
  if (FPort <= 0) throw std::runtime_error("kva-tracksim: cannot listen on 127.0.0.1:" + std::to_string(APort));
  FQueue->SetBaseUrl(BaseUrl());
  FListener = std::thread([this] { FServer->listen_after_bind(); });
  // A stop before the server runs would be ignored, and the server would run on.
  while (!FServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return FPort;
}

void TTrackSimulator::Stop() {
  if (!FListener.joinable()) return;
  FServer->stop();
  {
    std::lock_guard Lock(FLock);
    for (const auto& Stream : FStreams) {
      if (const auto Open = Stream.lock()) Open->End();
    }
  }
  ShutDownAcceptedConnections(FPort);
  FListener.join();
}

std::string TTrackSimulator::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(FPort); }

void TTrackSimulator::Record(const TRecordedRequest& ARequest) {
  std::lock_guard Lock(FLock);
  FRequests.push_back(ARequest);
}

std::vector<TRecordedRequest> TTrackSimulator::Requests() const {
  std::lock_guard Lock(FLock);
  return FRequests;
}

std::vector<TRecordedRequest> TTrackSimulator::RequestsTo(const std::string& APath) const {
  std::lock_guard Lock(FLock);
  std::vector<TRecordedRequest> Matching;
  for (const TRecordedRequest& Request : FRequests) {
    if (Request.Path == APath) Matching.push_back(Request);
  }
  return Matching;
}

void TTrackSimulator::ClearRequests() {
  std::lock_guard Lock(FLock);
  FRequests.clear();
}

void TTrackSimulator::SetIdentityDelay(std::chrono::milliseconds ADelay) {
  std::lock_guard Lock(FLock);
  FIdentityDelay = ADelay;
}

void TTrackSimulator::SetQueueDelay(std::chrono::milliseconds ADelay) {
  std::lock_guard Lock(FLock);
  FQueueDelay = ADelay;
}

}  // namespace kva::sim
