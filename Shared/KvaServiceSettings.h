// Where the service lives: the hosts of the identity service, the secure-token service and
// the queue API, the realtime database's root, the STUN server and the web API key. The
// defaults are settings of the build (pointing at the local track simulator unless a
// production build says otherwise); environment variables of the same names override them.
#pragma once

#include <string>

namespace kva {

struct TKvaServiceSettings {
  std::string IdentityHost;     // KVA_IDENTITY_HOST, "http://127.0.0.1:8787"
  std::string SecureTokenHost;  // KVA_SECURE_TOKEN_HOST
  std::string QueueHost;        // KVA_QUEUE_HOST
  std::string DatabaseUrl;      // KVA_DATABASE_URL, ends with "/"
  std::string StunServer;       // KVA_STUN_SERVER, "stun://host:port"
  std::string WebApiKey;        // KVA_WEB_API_KEY

  // The build's settings, each replaced by its environment variable when that is set.
  static TKvaServiceSettings FromEnvironment();
  // The build's settings alone.
  static TKvaServiceSettings BuildDefaults();
};

}  // namespace kva
