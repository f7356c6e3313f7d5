#include "TrackSimulator.h"

#include <httplib.h>

#include "sim/ServerConnections.h"

#include <cctype>
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

}  // namespace

TTrackSimulator::TTrackSimulator(TTrackSimulatorOptions AOptions)
    : FOptions(std::move(AOptions)),
      FIdentity(FOptions.TokenLifetimeSeconds, FOptions.RotateRefreshTokens),
      FServer(std::make_unique<httplib::Server>()) {
  for (const auto& [Email, Password] : FOptions.Accounts) FIdentity.AddAccount(Email, Password);
  // Small answers go out at once: with Nagle's algorithm a response written in two pieces
  // would wait for the client's delayed acknowledgement (40 ms) on a kept-alive connection.
  FServer->set_tcp_nodelay(true);
  FServer->set_keep_alive_max_count(100000);
  FServer->set_keep_alive_timeout(60);
  AddIdentityRoutes();
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
  FListener = std::thread([this] { FServer->listen_after_bind(); });
  // A stop before the server runs would be ignored, and the server would run on.
  while (!FServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return FPort;
}

void TTrackSimulator::Stop() {
  if (!FListener.joinable()) return;
  FServer->stop();
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

}  // namespace kva::sim
