#include "IdentityService.h"

#include "sim/SimJson.h"

#include <nlohmann/json.hpp>

#include <random>

namespace kva::sim {

namespace {

std::string RandomText(size_t ALength) {
  static thread_local std::mt19937_64 Random{std::random_device{}()};
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string Text(ALength, ' ');
  for (char& C : Text) C = Alphabet[Random() % (sizeof Alphabet - 1)];
  return Text;
}

std::string Base64Url(const std::string& AText) {
  static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string Result;
  uint32_t Bits = 0;
  int Count = 0;
  for (unsigned char C : AText) {
    Bits = (Bits << 8) | C;
    Count += 8;
    while (Count >= 6) {
      Count -= 6;
      Result += Alphabet[(Bits >> Count) & 63];
    }
  }
  if (Count > 0) Result += Alphabet[(Bits << (6 - Count)) & 63];
  return Result;
}

}  // namespace

TIdentityService::TIdentityService(int ATokenLifetimeSeconds, bool ARotateRefreshTokens)
    : FTokenLifetime(ATokenLifetimeSeconds), FRotateRefreshTokens(ARotateRefreshTokens) {
  AddAccount(DemoEmail, DemoPassword);
}

void TIdentityService::AddAccount(const std::string& AEmail, const std::string& APassword) {
  std::lock_guard Lock(FLock);
  FAccounts[AEmail] = TAccount{APassword, "uid" + std::to_string(FAccounts.size() + 1) + RandomText(8)};
}

void TIdentityService::SetTokenLifetime(int ASeconds) {
  std::lock_guard Lock(FLock);
  FTokenLifetime = ASeconds;
}

void TIdentityService::SetRotateRefreshTokens(bool ARotate) {
  std::lock_guard Lock(FLock);
  FRotateRefreshTokens = ARotate;
}

void TIdentityService::RevokeRefreshTokens() {
  std::lock_guard Lock(FLock);
  FRefreshTokens.clear();
}

std::string TIdentityService::IssueRefreshToken(const std::string& AEmail) {
  std::lock_guard Lock(FLock);
  return NewRefreshToken(FAccounts.at(AEmail).LocalId);
}

TSimAnswer TIdentityService::Error(int AStatus, const std::string& AMessage, const char* AStatusText) {
  nlohmann::json Error = {{"code", AStatus},
                          {"message", AMessage},
                          {"errors", nlohmann::json::array({{{"message", AMessage}, {"domain", "global"}, {"reason", "invalid"}}})}};
  if (AStatusText) Error["status"] = AStatusText;
  return {AStatus, nlohmann::json{{"error", Error}}.dump()};
}

std::string TIdentityService::NewIdToken(const std::string& ALocalId) {
  const auto Expires = TClock::now() + std::chrono::seconds(FTokenLifetime);
  const nlohmann::json Header = {{"alg", "RS256"}, {"kid", "kva-sim"}, {"typ", "JWT"}};
  const nlohmann::json Payload = {
      {"user_id", ALocalId},
      {"exp", std::chrono::duration_cast<std::chrono::seconds>(Expires.time_since_epoch()).count()},
      {"n", ++FSerial}};
  std::string Token = Base64Url(Header.dump()) + "." + Base64Url(Payload.dump()) + "." + RandomText(43);
  FIdTokens[Token] = TIdToken{ALocalId, Expires};
  return Token;
}

std::string TIdentityService::NewRefreshToken(const std::string& ALocalId) {
  std::string Token = "AMf-" + RandomText(60);
  FRefreshTokens[Token] = ALocalId;
  return Token;
}

TSimAnswer TIdentityService::VerifyPassword(const std::string& ABody) {
  const auto Body = ParseObject(ABody);
  if (!Body) return Error(400, "INVALID_JSON_PAYLOAD", "INVALID_ARGUMENT");
  const std::string Email = StringMember(*Body, "email"), Password = StringMember(*Body, "password");
  if (Email.empty()) return Error(400, "INVALID_EMAIL");
  if (Password.empty()) return Error(400, "MISSING_PASSWORD");
  std::lock_guard Lock(FLock);
  const auto Account = FAccounts.find(Email);
  if (Account == FAccounts.end()) return Error(400, "EMAIL_NOT_FOUND");
  if (Account->second.Password != Password) return Error(400, "INVALID_PASSWORD");
  const std::string& LocalId = Account->second.LocalId;
  return {200, nlohmann::json{{"kind", "identitytoolkit#VerifyPasswordResponse"},
                              {"localId", LocalId},
                              {"email", Email},
                              {"displayName", ""},
                              {"idToken", NewIdToken(LocalId)},
                              {"registered", true},
                              {"refreshToken", NewRefreshToken(LocalId)},
                              {"expiresIn", std::to_string(FTokenLifetime)}}
                   .dump()};
}

TSimAnswer TIdentityService::SignInWithCustomToken(const std::string& ABody) {
  const auto Body = ParseObject(ABody);
  if (!Body) return Error(400, "INVALID_JSON_PAYLOAD", "INVALID_ARGUMENT");
  // A custom token of this simulator is "custom:" followed by an account's e-mail.
  const std::string Token = StringMember(*Body, "token");
  std::lock_guard Lock(FLock);
  const auto Account = Token.starts_with("custom:") ? FAccounts.find(Token.substr(7)) : FAccounts.end();
  if (Account == FAccounts.end()) return Error(400, "INVALID_CUSTOM_TOKEN");
  const std::string& LocalId = Account->second.LocalId;
  return {200, nlohmann::json{{"kind", "identitytoolkit#VerifyCustomTokenResponse"},
                              {"idToken", NewIdToken(LocalId)},
                              {"refreshToken", NewRefreshToken(LocalId)},
                              {"expiresIn", std::to_string(FTokenLifetime)},
                              {"isNewUser", false}}
                   .dump()};
}

TSimAnswer TIdentityService::RefreshToken(const std::string& ABody) {
  const auto Body = ParseObject(ABody);
  if (!Body) return Error(400, "INVALID_JSON_PAYLOAD", "INVALID_ARGUMENT");
  if (StringMember(*Body, "grant_type") != "refresh_token") return Error(400, "INVALID_GRANT_TYPE", "INVALID_ARGUMENT");
  const std::string Token = StringMember(*Body, "refresh_token");
  if (Token.empty()) return Error(400, "MISSING_REFRESH_TOKEN", "INVALID_ARGUMENT");
  std::lock_guard Lock(FLock);
  const auto Known = FRefreshTokens.find(Token);
  if (Known == FRefreshTokens.end()) return Error(400, "INVALID_REFRESH_TOKEN", "INVALID_ARGUMENT");
  const std::string LocalId = Known->second;
  std::string RefreshToken = Token;
  if (FRotateRefreshTokens) {
    FRefreshTokens.erase(Known);
    RefreshToken = NewRefreshToken(LocalId);
  }
  const std::string IdToken = NewIdToken(LocalId);
  return {200, nlohmann::json{{"access_token", IdToken},
                              {"expires_in", std::to_string(FTokenLifetime)},
                              {"token_type", "Bearer"},
                              {"refresh_token", RefreshToken},
                              {"id_token", IdToken},
                              {"user_id", LocalId},
                              {"project_id", "kva-track-simulator"}}
                   .dump()};
}

TIdentityService::TTokenStatus TIdentityService::CheckIdToken(const std::string& AIdToken, std::string* ALocalId) const {
  std::lock_guard Lock(FLock);
  const auto Token = FIdTokens.find(AIdToken);
  if (Token == FIdTokens.end()) return TTokenStatus::Invalid;
  if (Token->second.Expires <= TClock::now()) return TTokenStatus::Expired;
  if (ALocalId) *ALocalId = Token->second.LocalId;
  return TTokenStatus::Valid;
}

}  // namespace kva::sim
