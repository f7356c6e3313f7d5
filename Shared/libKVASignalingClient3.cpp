#include "libKVASignalingClient3.h"

#include <algorithm>
#include <limits>

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

// A lifetime in seconds from a JSON number or a string holding a decimal number, kept within
// the width the response's member has; ADefault when absent, null or not a number.
int64_t ReadLifetime(const nlohmann::json& AJson, const char* AMember, int64_t AMin, int64_t AMax, int64_t ADefault) {
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
      const int64_t Lifetime = ReadLifetime(*AJson, "expiresIn", 0, std::numeric_limits<uint16_t>::max(), 3600);
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
      const int64_t Lifetime = ReadLifetime(*AJson, "expires_in", std::numeric_limits<int32_t>::min(),
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
