#include "RealtimeDatabase.h"

#include <chrono>
#include <vector>

namespace kva::sim {

namespace {

std::vector<std::string> Segments(const std::string& APath) {
  std::vector<std::string> Result;
  size_t Start = 0;
  while (Start <= APath.size()) {
    const size_t Slash = APath.find('/', Start);
    const size_t End = Slash == std::string::npos ? APath.size() : Slash;
    if (End > Start) Result.push_back(APath.substr(Start, End - Start));
    if (Slash == std::string::npos) break;
    Start = Slash + 1;
  }
  return Result;
}

bool IsWithin(const std::string& APath, const std::string& ABase) {
  return ABase == "/" || APath == ABase || APath.starts_with(ABase + "/");
}

std::string Relative(const std::string& APath, const std::string& ABase) {
  if (APath == ABase) return "/";
  return ABase == "/" ? APath : APath.substr(ABase.size());
}

}  // namespace

std::string TRealtimeDatabase::Normalise(const std::string& APath) {
  std::string Path;
  for (const std::string& Segment : Segments(APath)) Path += "/" + Segment;
  return Path.empty() ? "/" : Path;
}

nlohmann::json* TRealtimeDatabase::Node(const std::string& APath, bool ACreate) {
  nlohmann::json* Node = &FRoot;
  for (const std::string& Segment : Segments(APath)) {
    if (!Node->is_object()) {
      if (!ACreate) return nullptr;
      *Node = nlohmann::json::object();
    }
    const auto It = Node->find(Segment);
    if (It == Node->end()) {
      if (!ACreate) return nullptr;
      Node = &(*Node)[Segment];
    } else {
      Node = &*It;
    }
  }
  return Node;
}

void TRealtimeDatabase::Prune(const std::string& APath) {
  // A location left without children is removed, as the database does.
  std::vector<std::string> Parts = Segments(APath);
  while (!Parts.empty()) {
    const std::string Child = Parts.back();
    Parts.pop_back();
    std::string Parent;
    for (const std::string& Part : Parts) Parent += "/" + Part;
    nlohmann::json* Node = this->Node(Parent, false);
    if (!Node || !Node->is_object()) return;
    const auto It = Node->find(Child);
    if (It == Node->end() || !(It->is_null() || (It->is_object() && It->empty()))) return;
    Node->erase(It);
  }
}

nlohmann::json TRealtimeDatabase::Get(const std::string& APath) const {
  std::lock_guard Lock(FLock);
  const nlohmann::json* Node = &FRoot;
  for (const std::string& Segment : Segments(APath)) {
    if (!Node->is_object()) return nullptr;
    const auto It = Node->find(Segment);
    if (It == Node->end()) return nullptr;
    Node = &*It;
  }
  return Node->is_object() && Node->empty() ? nlohmann::json() : *Node;
}

void TRealtimeDatabase::Put(const std::string& APath, nlohmann::json AValue) {
  std::lock_guard Lock(FLock);
  const std::string Path = Normalise(APath);
  if (Path == "/") {
    FRoot = AValue.is_null() ? nlohmann::json::object() : AValue;
  } else {
    *Node(Path, true) = AValue;
    if (AValue.is_null() || (AValue.is_object() && AValue.empty())) Prune(Path);
  }
  Notify("put", Path, AValue);
}

void TRealtimeDatabase::Patch(const std::string& APath, const nlohmann::json& AValues) {
  std::lock_guard Lock(FLock);
  const std::string Path = Normalise(APath);
  nlohmann::json* Target = Node(Path, true);
  if (!Target->is_object()) *Target = nlohmann::json::object();
  for (const auto& [Key, Value] : AValues.items()) {
    if (Value.is_null()) {
      Target->erase(Key);
    } else {
      (*Target)[Key] = Value;
    }
  }
  Prune(Path);
  Notify("patch", Path, AValues);
}

std::string TRealtimeDatabase::Push(const std::string& APath, nlohmann::json AValue) {
  std::lock_guard Lock(FLock);
  // Milliseconds and a counter, in a fixed width: keys sort in the order they were made.
  const auto Now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
  char Key[40];
  std::snprintf(Key, sizeof Key, "-K%013lld%08llu", static_cast<long long>(Now),
                static_cast<unsigned long long>(++FPushCount));
  Put(Normalise(APath) + "/" + Key, std::move(AValue));
  return Key;
}

int TRealtimeDatabase::Subscribe(const std::string& APath, TSubscriber ASubscriber) {
  std::lock_guard Lock(FLock);
  const std::string Path = Normalise(APath);
  ASubscriber("put", nlohmann::json{{"path", "/"}, {"data", Get(Path)}});
  const int Id = FNextId++;
  FSubscriptions.emplace(Id, TSubscription{Path, std::move(ASubscriber)});
  return Id;
}

void TRealtimeDatabase::Unsubscribe(int AId) {
  std::lock_guard Lock(FLock);
  FSubscriptions.erase(AId);
}

void TRealtimeDatabase::Notify(const std::string& AEvent, const std::string& APath, const nlohmann::json& AData) {
  for (const auto& [Id, Subscription] : FSubscriptions) {
    if (IsWithin(APath, Subscription.Path)) {
      // The change is at or below the subscriber: sent as it was made.
      Subscription.Call(AEvent, nlohmann::json{{"path", Relative(APath, Subscription.Path)}, {"data", AData}});
    } else if (IsWithin(Subscription.Path, APath)) {
      // The change touched a location above the subscriber: its whole new value, when a patch
      // set the child on the way down to it (a put replaces everything below).
      const std::string Below = Relative(Subscription.Path, APath).substr(1);
      if (AEvent == "patch" && !AData.contains(Below.substr(0, Below.find('/')))) continue;
      Subscription.Call("put", nlohmann::json{{"path", "/"}, {"data", Get(Subscription.Path)}});
    }
  }
}

}  // namespace kva::sim
