// The simulator's identity service: e-mail and password sign-in, custom-token sign-in and
// token refresh, answered the way the public identity REST API answers them (error bodies
// {"error":{"code":400,"message":"INVALID_PASSWORD",...}}, "expiresIn" as a string). It
// issues identity tokens that the simulated database accepts as "auth" until they expire.
// Thread-safe.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kva::sim {

struct TSimAnswer {
  int Status = 200;
  std::string Body;
};

inline constexpr const char* DemoEmail = "demo@kelvara.local";
inline constexpr const char* DemoPassword = "demo-driver";

class TIdentityService {
public:
  using TClock = std::chrono::system_clock;

  explicit TIdentityService(int ATokenLifetimeSeconds = 3600, bool ARotateRefreshTokens = false);

  void AddAccount(const std::string& AEmail, const std::string& APassword);
  void SetTokenLifetime(int ASeconds);
  void SetRotateRefreshTokens(bool ARotate);
  // Every refresh token issued so far stops working (the user signed out elsewhere).
  void RevokeRefreshTokens();
  // A refresh token for an account, as if it had signed in before (for a stored sign-in).
  std::string IssueRefreshToken(const std::string& AEmail);

  TSimAnswer VerifyPassword(const std::string& ABody);
  TSimAnswer SignInWithCustomToken(const std::string& ABody);
  TSimAnswer RefreshToken(const std::string& ABody);

  enum class TTokenStatus { Valid, Expired, Invalid };
  // Whether an identity token was issued here and has not expired; ALocalId receives its user.
  TTokenStatus CheckIdToken(const std::string& AIdToken, std::string* ALocalId = nullptr) const;

  static TSimAnswer Error(int AStatus, const std::string& AMessage, const char* AStatusText = nullptr);

private:
  struct TAccount {
    std::string Password;
    std::string LocalId;
  };
  struct TIdToken {
    std::string LocalId;
    TClock::time_point Expires;
  };
  std::string NewIdToken(const std::string& ALocalId);
  std::string NewRefreshToken(const std::string& ALocalId);

  mutable std::mutex FLock;
  int FTokenLifetime;
  bool FRotateRefreshTokens;
  uint64_t FSerial = 0;
  std::map<std::string, TAccount> FAccounts;       // by e-mail
  std::map<std::string, std::string> FRefreshTokens;  // token -> local id
  std::map<std::string, TIdToken> FIdTokens;
};

}  // namespace kva::sim
