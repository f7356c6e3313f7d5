#include "KvaServiceSettings.h"

#include <cstdlib>

#include "KvaServiceSettingsDefaults.h"

namespace kva {

namespace {

std::string Setting(const char* AName, const char* ABuildDefault) {
  const char* Value = std::getenv(AName);
  return Value && *Value ? Value : ABuildDefault;
}

}  // namespace

TKvaServiceSettings TKvaServiceSettings::BuildDefaults() {
  return {KVA_DEFAULT_IDENTITY_HOST, KVA_DEFAULT_SECURE_TOKEN_HOST, KVA_DEFAULT_QUEUE_HOST,
          KVA_DEFAULT_DATABASE_URL,  KVA_DEFAULT_STUN_SERVER,       KVA_DEFAULT_WEB_API_KEY};
}

TKvaServiceSettings TKvaServiceSettings::FromEnvironment() {
  return {Setting("KVA_IDENTITY_HOST", KVA_DEFAULT_IDENTITY_HOST),
          Setting("KVA_SECURE_TOKEN_HOST", KVA_DEFAULT_SECURE_TOKEN_HOST),
          Setting("KVA_QUEUE_HOST", KVA_DEFAULT_QUEUE_HOST),
          Setting("KVA_DATABASE_URL", KVA_DEFAULT_DATABASE_URL),
          Setting("KVA_STUN_SERVER", KVA_DEFAULT_STUN_SERVER),
          Setting("KVA_WEB_API_KEY", KVA_DEFAULT_WEB_API_KEY)};
}

}  // namespace kva
