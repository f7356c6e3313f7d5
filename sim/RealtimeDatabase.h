// The simulator's realtime database: one JSON tree, changed by put, patch and push, and
// followed by subscribers that receive the changes below their location as the public REST
// streaming API sends them: "put" and "patch" events whose data is {"path": ..., "data": ...},
// the path relative to the subscriber. Thread-safe; events go out in the order of the changes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace kva::sim {

class TRealtimeDatabase {
public:
  // AEvent is "put" or "patch"; AData is {"path", "data"}.
  using TSubscriber = std::function<void(const std::string& AEvent, const nlohmann::json& AData)>;

  // Paths are "/"-separated ("/queue/abc"); "" or "/" is the root.
  nlohmann::json Get(const std::string& APath) const;
  // Replaces the value at APath; null removes it.
  void Put(const std::string& APath, nlohmann::json AValue);
  // Sets the children named in AValues in one update.
  void Patch(const std::string& APath, const nlohmann::json& AValues);
  // Adds AValue under a new child key, never used before and sorting after the earlier ones.
  std::string Push(const std::string& APath, nlohmann::json AValue);

  // Calls ASubscriber with a first "put" of the current value at APath (path "/"), then with
  // every change at or below APath. The first event is delivered before Subscribe returns.
  int Subscribe(const std::string& APath, TSubscriber ASubscriber);
  void Unsubscribe(int AId);

  static std::string Normalise(const std::string& APath);

private:
  struct TSubscription {
    std::string Path;
    TSubscriber Call;
  };
  void Notify(const std::string& AEvent, const std::string& APath, const nlohmann::json& AData);
  nlohmann::json* Node(const std::string& APath, bool ACreate);
  void Prune(const std::string& APath);

  mutable std::recursive_mutex FLock;
  nlohmann::json FRoot = nlohmann::json::object();
  std::map<int, TSubscription> FSubscriptions;
  int FNextId = 1;
  uint64_t FPushCount = 0;
};

}  // namespace kva::sim
