#include "libKVASignalingClient3.h"

#include <algorithm>
#include <limits>

#include "infra/LoggingThread.h"
#include "platform/Assert.h"
#include "platform/MainThread.h"

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

std::string ToAsciiJson(const nlohmann::json& AJson) {
  return AJson.dump(-1, ' ', /*ensure_ascii=*/true, nlohmann::json::error_handler_t::replace);
}

namespace {

// A token as it stands inside a JSON string: quotes, backslashes and control characters
// escaped, so that any token makes a valid body.
std::string JsonStringContent(const std::string& AText) {
  const std::string Quoted = ToAsciiJson(nlohmann::json(AText));
  return Quoted.substr(1, Quoted.size() - 2);
}

// Seconds from a JSON number or a string holding a decimal number, kept within the width the
// response's member has; ADefault when absent, null or not a number.
int64_t ReadSeconds(const nlohmann::json& AJson, const char* AMember, int64_t AMin, int64_t AMax, int64_t ADefault) {
  const auto It = AJson.find(AMember);
  if (It == AJson.end() || It->is_null()) return ADefault;
  int64_t Value;
  if (It->is_number_integer()) {
    Value = It->is_number_unsigned() ? static_cast<int64_t>(std::min<uint64_t>(It->get<uint64_t>(), INT64_MAX))
                                     : It->get<int64_t>();
  } else if (It->is_number_float()) {
    Value = static_cast<int64_t>(It->get<double>());
  } else if (It->is_string()) {
    try {
      size_t Used = 0;
      const std::string Text = It->get<std::string>();
      Value = std::stoll(Text, &Used);
      if (Used != Text.size()) return ADefault;
    } catch (const std::exception&) {
      return ADefault;
    }
  } else {
    return ADefault;
  }
  return std::clamp(Value, AMin, AMax);
}

const std::string* StringMember(const nlohmann::json& AJson, const char* AMember) {
  const auto It = AJson.find(AMember);
  return It != AJson.end() && It->is_string() ? It->get_ptr<const std::string*>() : nullptr;
}

}  // namespace

TKvaSignalingManager::TKvaSignalingManager(std::string ADeviceId, TKvaServiceSettings ASettings)
    : FDeviceId(std::move(ADeviceId)), FSettings(std::move(ASettings)) {}

TKvaSignalingManager::~TKvaSignalingManager() {
  Disconnect();
  FLifetime->End();
}

TKvaConnectionState TKvaSignalingManager::ConnectionState() const {
  std::lock_guard Lock(FStateLock);
  return FConnectionState;
}

std::string TKvaSignalingManager::RefreshToken() const {
  std::lock_guard Lock(FTokenLock);
  return FRefreshToken;
}

std::string TKvaSignalingManager::PasswordSignInUrl() const {
  return FSettings.IdentityHost + "/identitytoolkit/v3/relyingparty/verifyPassword?key=" + FSettings.WebApiKey;
}

std::string TKvaSignalingManager::CustomTokenSignInUrl() const {
  return FSettings.IdentityHost + "/v1/accounts:signInWithCustomToken?key=" + FSettings.WebApiKey;
}

std::string TKvaSignalingManager::TokenRefreshUrl() const {
  return FSettings.SecureTokenHost + "/v1/token?key=" + FSettings.WebApiKey;
}

void TKvaSignalingManager::SetConnectionState(TKvaConnectionState AState) {
  std::lock_guard Lock(FStateLock);
  if (FConnectionState == AState) return;
  FConnectionState = AState;
  FOnConnectionChanged(this);
}

void TKvaSignalingManager::SignInWithEmailAndPassword(const std::string& AEmail, const std::string& APassword) {
  SetConnectionState(TKvaConnectionState::CONNECTING);
  nlohmann::json Request = {{"email", AEmail}, {"password", APassword}, {"returnSecureToken", "true"}};
  PostJson(PasswordSignInUrl(), std::move(Request),
           [this](const nlohmann::json* AJson, const THttpResponse&, const std::string& AErrorText) {
             HandleSignInResponse(AJson, AErrorText);
           });
}

void TKvaSignalingManager::SignInWithCustomToken(const std::string& ACustomToken) {
  PostJsonString(CustomTokenSignInUrl(),
                 "{\"token\":\"" + JsonStringContent(ACustomToken) + "\",\"returnSecureToken\":true}",
                 [this](const nlohmann::json* AJson, const THttpResponse&, const std::string& AErrorText) {
                   HandleSignInResponse(AJson, AErrorText);
                 });
}

bool TKvaSignalingManager::StoreRefreshToken(const nlohmann::json& AJson, const char* AMember) {
  const std::string* Token = StringMember(AJson, AMember);
  if (!Token || *Token == FRefreshToken) return false;
  FRefreshToken = *Token;
  return true;
}

void TKvaSignalingManager::HandleSignInResponse(const nlohmann::json* AJson, const std::string& AErrorText) {
  bool RefreshTokenChanged = false;
  bool HoldsToken;
  {
    std::lock_guard Lock(FTokenLock);
    // A success without an identity token changes nothing, like a failure.
    const std::string* IdToken = AJson && AErrorText.empty() ? StringMember(*AJson, "idToken") : nullptr;
    if (IdToken) {
      const int64_t Lifetime = ReadSeconds(*AJson, "expiresIn", 0, std::numeric_limits<uint16_t>::max(), 3600);
      FIDTokenNextUpdateTime = TClock::now() + std::chrono::seconds(Lifetime - 300);
      FIdToken = *IdToken;
      RefreshTokenChanged = StoreRefreshToken(*AJson, "refreshToken");
    }
    HoldsToken = !FIdToken.empty();
  }
  if (RefreshTokenChanged) FOnRefreshTokenChanged(this);
  SetConnectionState(HoldsToken ? TKvaConnectionState::CONNECTED : TKvaConnectionState::DISCONNECTED);
}

void TKvaSignalingManager::ConnectWithRefreshToken(const std::string& ARefreshToken) {
  {
    std::lock_guard Lock(FStateLock);
    if (FConnectionState != TKvaConnectionState::DISCONNECTED) return;
    SetConnectionState(TKvaConnectionState::CONNECTING);
  }
  {
    std::lock_guard Lock(FTokenLock);
    FRefreshToken = ARefreshToken;
  }
  if (!GetIdToken().empty()) SetConnectionState(TKvaConnectionState::CONNECTED);
}

std::string TKvaSignalingManager::GetIdToken() {
  UpdateIdToken();
  std::lock_guard Lock(FTokenLock);
  return FIdToken;
}

void TKvaSignalingManager::UpdateIdToken() {
  std::string Body;
  {
    std::lock_guard Lock(FTokenLock);
    if (FIDTokenNextUpdateTime > TClock::now() || FUpdatingToken) return;
    FUpdatingToken = true;  // tested and set under one lock: one refresh at a time
    Body = "{\"grant_type\":\"refresh_token\",\"refresh_token\":\"" + JsonStringContent(FRefreshToken) + "\"}";
  }
  PostJsonString(TokenRefreshUrl(), std::move(Body),
                 [this](const nlohmann::json* AJson, const THttpResponse&, const std::string& AErrorText) {
                   HandleRefreshResponse(AJson, AErrorText);
                 });
}

void TKvaSignalingManager::HandleRefreshResponse(const nlohmann::json* AJson, const std::string& AErrorText) {
  bool Succeeded, RefreshTokenChanged = false, BecameConnected = false;
  {
    std::lock_guard Lock(FTokenLock);
    FUpdatingToken = false;
    const std::string* IdToken = AJson && AErrorText.empty() ? StringMember(*AJson, "id_token") : nullptr;
    Succeeded = IdToken != nullptr;
    if (Succeeded) {
      const int64_t Lifetime = ReadSeconds(*AJson, "expires_in", std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max(), 3600);
      FIDTokenNextUpdateTime = TClock::now() + std::chrono::seconds(Lifetime - 300);
      const bool WasEmpty = FIdToken.empty();
      FIdToken = *IdToken;
      RefreshTokenChanged = StoreRefreshToken(*AJson, "refresh_token");
      BecameConnected = WasEmpty && !FIdToken.empty();
    }
  }
  if (!Succeeded) {
    // Tokens and due time stay: the next GetIdToken tries again at once.
    SetConnectionState(TKvaConnectionState::DISCONNECTED);
    return;
  }
  if (RefreshTokenChanged) FOnRefreshTokenChanged(this);
  if (BecameConnected) SetConnectionState(TKvaConnectionState::CONNECTED);
}

void TKvaSignalingManager::Disconnect() { SetConnectionState(TKvaConnectionState::DISCONNECTING); }

void TKvaSignalingManager::PostJson(const std::string& AUrl, std::optional<nlohmann::json> AJson,
                                    TKvaResponseHandler AResponseHandler) {
  PostJsonString(AUrl, AJson ? ToAsciiJson(*AJson) : std::string("{}"), std::move(AResponseHandler));
}

void TKvaSignalingManager::PostJsonString(const std::string& AUrl, std::string ABody,
                                          TKvaResponseHandler AResponseHandler) {
  std::string Authorization;
  {
    std::lock_guard Lock(FTokenLock);
    Authorization = "Bearer " + FIdToken;
  }
  THttpRequest::TOptions Options;
  Options.Method = "POST";
  Options.Url = AUrl;
  Options.Headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}, {"Authorization", Authorization}};
  Options.Body = std::move(ABody);
  Options.OnComplete = [Lifetime = FLifetime, Handler = std::move(AResponseHandler)](const THttpResponse& AResponse) {
    if (!Handler) return;
    Lifetime->Run([&] {
      if (!AResponse.HasResponse()) {
        Handler(nullptr, AResponse, AResponse.ErrorText);
      } else if (AResponse.StatusCode == 200 || AResponse.StatusCode == 201) {
        const nlohmann::json Json = nlohmann::json::parse(AResponse.Body, nullptr, /*allow_exceptions=*/false);
        if (Json.is_object()) {
          Handler(&Json, AResponse, std::string());
        } else {
          Handler(nullptr, AResponse, "Invalid response: " + AResponse.Body);
        }
      } else {
        Handler(nullptr, AResponse, AResponse.Body);
      }
    });
  };
  THttpRequest::Start(std::move(Options));
}

}  // namespace kva

namespace kva {

namespace {

constexpr const char* JoinSource = "TKvaSignalingManager.AddClientToQueue";

// The keep-alive period in seconds, a number or a string holding one: 30 when absent, null or
// not a number; 0 switches keep-alives off. The queue gives whole seconds up to 127; a larger
// or negative value is kept within 1 to 127 so that the place is kept alive rather than lost.
int32_t ReadKeepAlivePeriod(const nlohmann::json& AResponse) {
  const int64_t Seconds = ReadSeconds(AResponse, "queueKeepAliveTime", INT64_MIN, INT64_MAX, 30);
  return Seconds == 0 ? 0 : static_cast<int32_t>(std::clamp<int64_t>(Seconds, 1, 127));
}

std::string StringOrEmpty(const nlohmann::json& AObject, const char* AMember) {
  const std::string* Value = StringMember(AObject, AMember);
  return Value ? *Value : std::string();
}

}  // namespace

TKvaSignalingSession::TKvaSignalingSession(TKvaSignalingManager& ASignalingManager)
    : FSignalingManager(ASignalingManager) {
  Assert(MainThread().IsMainThread(), "Shared/libKVASignalingClient3", 916, "Must be called from main thread");
  FQueueListener = std::make_unique<TFirebaseListener>("");
  FQueueListener->SetOnListenEvent({this, &TKvaSignalingSession::DoOnQueueEvent});
  SetSessionState(TKvaSignalingSessionState::Queued);
}

TKvaSignalingSession::~TKvaSignalingSession() {
  FLifetime->End();  // a join answer being handled finishes first; later ones are dropped
  StopListening();
  // A start of the remote session that the queue handed over, and the keep-alives.
  MainThread().Withdraw(this);
}

void TKvaSignalingSession::StopListening() {
  std::unique_ptr<TFirebaseListener> QueueListener, SessionListener;
  {
    std::lock_guard Lock(FLock);
    QueueListener = std::move(FQueueListener);
    SessionListener = std::move(FSessionListener);
  }
  // Outside the lock: each waits for its GET to end, and their handlers take the lock.
  QueueListener.reset();
  SessionListener.reset();
}

TKvaSignalingSessionState TKvaSignalingSession::SessionState() const {
  std::lock_guard Lock(FFieldsLock);
  return FSessionState;
}

bool TKvaSignalingSession::IsOfferer() const {
  std::lock_guard Lock(FFieldsLock);
  return FIsOfferer;
}

std::string TKvaSignalingSession::RsPostUrl() const {
  std::lock_guard Lock(FFieldsLock);
  return FRsPostUrl;
}

std::string TKvaSignalingSession::GetFullStatus() const { return std::string(ToString(SessionState())); }

void TKvaSignalingSession::SetSessionState(TKvaSignalingSessionState AState) {
  {
    std::lock_guard Lock(FFieldsLock);
    if (FSessionState == AState) return;
    FSessionState = AState;
  }
  FOnSessionStateChanged(this);
}

void TKvaSignalingSession::AddClientToQueue(const std::string& ATrack, const std::string& ACar,
                                            const std::string& AClient) {
  if (FSignalingManager.ConnectionState() != TKvaConnectionState::CONNECTED) return;
  Log("AddClientToQueue", "track: " + ATrack + ", car: " + ACar);
  FSignalingManager.PostJson(
      FSignalingManager.Settings().QueueHost + "/v1/queue",
      nlohmann::json{{"track", ATrack}, {"car", ACar}, {"client", AClient}},
      [this, Lifetime = FLifetime](const nlohmann::json* AJson, const THttpResponse&, const std::string& AErrorText) {
        Lifetime->Run([&] {
          if (!AErrorText.empty() || !AJson) {
            Log(JoinSource, "Error: " + AErrorText);
            return;
          }
          Log(JoinSource, "Response: " + AJson->dump());
          try {
            HandleQueueResponse(*AJson);
          } catch (const std::exception& E) {
            Log(JoinSource, E.what());
          }
        });
      });
}

void TKvaSignalingSession::AddAgentToQueue() {
  FSignalingManager.PostJson(
      FSignalingManager.Settings().QueueHost + "/v1/queue/agent",
      nlohmann::json{{"sid", FSignalingManager.DeviceId()}, {"track", "arvel"}},
      [this, Lifetime = FLifetime](const nlohmann::json* AJson, const THttpResponse&, const std::string&) {
        if (!AJson) return;
        Lifetime->Run([&] {
          try {
            HandleQueueResponse(*AJson);
          } catch (const std::exception& E) {
            Log(JoinSource, E.what());
          }
        });
      });
}

void TKvaSignalingSession::HandleQueueResponse(const nlohmann::json& AResponse) {
  const int32_t Period = ReadKeepAlivePeriod(AResponse);
  const auto QueueUrl = AResponse.find("queueUrl"), UpdateUrl = AResponse.find("queueUpdateUrl");
  if (QueueUrl == AResponse.end() || !QueueUrl->is_string() || UpdateUrl == AResponse.end() || !UpdateUrl->is_string()) {
    return;
  }
  StartListenQueue(QueueUrl->get<std::string>(), UpdateUrl->get<std::string>(), Period);
}

void TKvaSignalingSession::StartListenQueue(const std::string& AQueueUrl, const std::string& AUpdateUrl,
                                            int32_t APeriod) {
  const std::string Token = FSignalingManager.GetIdToken();
  {
    std::lock_guard Lock(FLock);
    if (!FQueueListener) return;  // closed
    FQueueListener->SetFirebaseToken(Token);
    if (FQueueListener->IsListening()) throw std::runtime_error("Queue listener already active");
    FQueueListener->ListenPath(AQueueUrl, "");
  }
  {
    std::lock_guard Lock(FFieldsLock);
    FQueueKeepAliveTime = APeriod;
    FQueueUpdateUrl = AUpdateUrl;
  }
  MainThread().QueueDelayed(this, APeriod * 1000, [this] { SendKeepAlive(); });
}

void TKvaSignalingSession::SendKeepAlive() {
  std::string Url;
  int32_t Period;
  {
    std::lock_guard Lock(FFieldsLock);
    Url = FQueueUpdateUrl;
    Period = FQueueKeepAliveTime;
  }
  if (Url.empty() || Period <= 0) return;
  FSignalingManager.PostJson(Url, std::nullopt, nullptr);
  MainThread().QueueDelayed(this, Period * 1000, [this] { SendKeepAlive(); });
}

void TKvaSignalingSession::DoOnQueueEvent(TFirebaseListener*, const std::string& AEvent, const std::string& AData) {
  constexpr const char* Source = "TKvaSignalingSession";
  Log(Source, "DoOnQueueEvent: " + AEvent + ", Data: " + AData);
  const nlohmann::json Event = nlohmann::json::parse(AData, nullptr, /*allow_exceptions=*/false);
  if (!Event.is_object()) {
    Log(Source, "Parse JSON failed");
    return;
  }
  const auto Path = Event.find("path"), Data = Event.find("data");
  if (Path == Event.end() || !Path->is_string() || Data == Event.end()) return;
  std::string RsUrl, RsPostUrl;
  bool CreateOffer = true;
  {
    std::lock_guard Lock(FLock);
    if (!Data->is_object() || *Path != "/") return;  // only an update of the whole entry counts
    RsUrl = StringOrEmpty(*Data, "rsUrl");
    RsPostUrl = StringOrEmpty(*Data, "rsPostUrl");
    if (const auto It = Data->find("createOffer"); It != Data->end() && It->is_boolean()) CreateOffer = It->get<bool>();
  }
  if (RsUrl.empty() || RsPostUrl.empty()) return;
  // Handed over without waiting: the main thread may be destroying this session, waiting for
  // this listener's GET to end; the destructor withdraws the start if it has not run.
  MainThread().Queue(this, [this, RsUrl, RsPostUrl, CreateOffer] { StartRemoteSession(RsUrl, RsPostUrl, CreateOffer); });
}

void TKvaSignalingSession::StartRemoteSession(const std::string& ARsUrl, const std::string& ARsPostUrl,
                                              bool ACreateOffer) {
  if (FSessionListener || SessionState() == TKvaSignalingSessionState::Closed) return;  // the first pair counts
  {
    std::lock_guard Lock(FFieldsLock);
    FRsUrl = ARsUrl;
    FRsPostUrl = ARsPostUrl;
    FIsOfferer = ACreateOffer;
  }
  auto Listener = std::make_unique<TFirebaseListener>(FSignalingManager.GetIdToken());
  Listener->SetOnListenEvent({this, &TKvaSignalingSession::DoOnListenRemoteSessionEvent});
  Log("StartRemoteSession", "Started to listen " + ARsUrl);
  Listener->ListenPath(ARsUrl, "");
  {
    std::lock_guard Lock(FLock);
    FSessionListener = std::move(Listener);
  }
  SetSessionState(TKvaSignalingSessionState::RemoteSession);
}

void TKvaSignalingSession::DoOnListenRemoteSessionEvent(TFirebaseListener*, const std::string& AEvent,
                                                        const std::string& AData) {
  constexpr const char* Source = "WebRTC";
  Log(Source, "ListenRemoteSessionEvent: " + AEvent + ", Data: " + AData);
  // Ordered: the messages of a whole list are handled in the order in which they appear.
  const nlohmann::ordered_json Event = nlohmann::ordered_json::parse(AData, nullptr, /*allow_exceptions=*/false);
  if (!Event.is_object()) {
    Log(Source, "Parse JSON failed");
    return;
  }
  const auto Path = Event.find("path"), Data = Event.find("data");
  if (Path == Event.end() || !Path->is_string() || Data == Event.end()) return;
  std::lock_guard Lock(FLock);
  if (!Data->is_object()) return;
  try {
    if (*Path != "/") {
      HandleRemoteSessionMessage(Path->get<std::string>(), *Data);
    } else {
      for (const auto& [Key, Message] : Data->items()) HandleRemoteSessionMessage("/" + Key, Message);
    }
  } catch (const std::exception& E) {
    Log(Source, std::string("Handling a message failed: ") + E.what());  // the listener goes on
  }
}

void TKvaSignalingSession::HandleRemoteSessionMessage(const std::string& AKey, const nlohmann::ordered_json& AMessage) {
  if (!FHandledMessages.insert(AKey).second) return;  // acted on once, whatever is sent again
  if (!AMessage.is_object()) return;
  const auto Type = AMessage.find("type");
  if (Type == AMessage.end() || !Type->is_string()) return;
  const std::string& TypeName = Type->get_ref<const std::string&>();
  if (TypeName == "offer" || TypeName == "answer") {
    const auto Sdp = AMessage.find("sdp");
    if (Sdp != AMessage.end() && Sdp->is_string()) FOnRemoteDescription(this, TypeName, Sdp->get<std::string>());
  } else if (TypeName == "candidate") {
    if (const auto Candidate = TCandidate::FromJson(AMessage)) {
      FOnIceCandidate(this, Candidate->candidate(), Candidate->sdpMLineIndex(), Candidate->sdpMid());
    }
  }
  // "close" and any other type: recorded as handled, nothing else.
}

void TKvaSignalingSession::SendSdp(const std::string& AType, const std::string& ASdp) {
  Log("SendSdp", AType + "\r\n" + ASdp);
  PostToCar(TSdp(AType, ASdp).ToJson());
}

void TKvaSignalingSession::SendIceCandidate(const std::string& ACandidate, int32_t ASdpMLineIndex,
                                            const std::string& ASdpMid) {
  Log("SendIceCandidate", std::to_string(ASdpMLineIndex) + ": " + ASdpMid + "\r\n" + ACandidate);
  PostToCar(TCandidate(ACandidate, ASdpMLineIndex, ASdpMid).ToJson());
}

void TKvaSignalingSession::SendConnectionState() {
  Log("SendConnectionStatus", GetFullStatus());
  nlohmann::json Message = TKvaRtcMessageBase("status").ToJson();
  Message["connState"] = ToString(FSignalingManager.ConnectionState());
  PostToCar(std::move(Message));
}

void TKvaSignalingSession::PostToCar(nlohmann::json AMessage) {
  std::string Url = RsPostUrl();
  if (Url.empty()) return;  // no remote session yet: there is nowhere to post
  {
    std::lock_guard Lock(FOutboxLock);
    FOutbox.emplace_back(std::move(Url), std::move(AMessage));
    if (FPosting) return;  // goes out when the messages before it have been answered
    FPosting = true;
  }
  PostNextToCar();
}

void TKvaSignalingSession::PostNextToCar() {
  std::pair<std::string, nlohmann::json> Next;
  {
    std::lock_guard Lock(FOutboxLock);
    if (FOutbox.empty()) {
      FPosting = false;
      return;
    }
    Next = std::move(FOutbox.front());
    FOutbox.pop_front();
  }
  // Concurrent POSTs could reach the car in any order (a candidate before its description);
  // one at a time they arrive as sent. Failures are not retried.
  FSignalingManager.PostJson(Next.first, std::move(Next.second),
                             [this, Lifetime = FLifetime](const nlohmann::json*, const THttpResponse&, const std::string&) {
                               Lifetime->Run([&] { PostNextToCar(); });
                             });
}

void TKvaSignalingSession::Close() {
  const TKvaSignalingSessionState State = SessionState();
  if (State != TKvaSignalingSessionState::Queued && State != TKvaSignalingSessionState::RemoteSession) return;
  StopListening();
  SetSessionState(TKvaSignalingSessionState::Closed);
}

}  // namespace kva
