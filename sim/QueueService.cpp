#include "QueueService.h"

#include "sim/SimJson.h"

#include <algorithm>

namespace kva::sim {

using Clock = std::chrono::steady_clock;

namespace {

TSimAnswer JsonError(int AStatus, const std::string& AMessage) {
  return {AStatus, nlohmann::json{{"error", AMessage}}.dump()};
}

}  // namespace

TQueueService::TQueueService(TRealtimeDatabase& ADatabase, TIdentityService& AIdentity, TQueueOptions AOptions)
    : FDatabase(ADatabase), FIdentity(AIdentity), FOptions(std::move(AOptions)),
      FHousekeeper([this] { Housekeeping(); }) {}

TQueueService::~TQueueService() {
  {
    std::lock_guard Lock(FLock);
    FStopping = true;
  }
  FWake.notify_all();
  FHousekeeper.join();
}

void TQueueService::SetBaseUrl(const std::string& ABaseUrl) {
  std::lock_guard Lock(FLock);
  FBaseUrl = ABaseUrl;
}

void TQueueService::SetCar(const std::string& ACarId, std::shared_ptr<ISimCar> ACar) {
  std::lock_guard Lock(FLock);
  FCars[ACarId] = std::move(ACar);
}

void TQueueService::SetCreateOffer(std::optional<bool> ACreateOffer) {
  std::lock_guard Lock(FLock);
  FOptions.CreateOffer = ACreateOffer;
}

std::shared_ptr<ISimCar> TQueueService::CarLocked(const std::string& ACarId) {
  auto& Car = FCars[ACarId];
  if (!Car) Car = std::make_shared<TScriptedCar>();
  return Car;
}

TSimAnswer TQueueService::Authorise(const std::string& ABearer, std::string& ALocalId) const {
  switch (FIdentity.CheckIdToken(ABearer, &ALocalId)) {
    case TIdentityService::TTokenStatus::Valid: return {200, ""};
    case TIdentityService::TTokenStatus::Expired: return JsonError(401, "Auth token is expired");
    case TIdentityService::TTokenStatus::Invalid: break;
  }
  return JsonError(401, "Unauthorized request.");
}

TSimAnswer TQueueService::Join(const std::string& ABearer, const std::string& ABody) {
  std::string Uid;
  if (TSimAnswer Refused = Authorise(ABearer, Uid); Refused.Status != 200) return Refused;
  const auto Body = ParseObject(ABody);
  if (!Body) return JsonError(400, "Invalid JSON body");
  const std::string Track = StringMember(*Body, "track"), Car = StringMember(*Body, "car"),
                    Client = StringMember(*Body, "client");
  if (Track.empty() || Car.empty() || Client.empty()) return JsonError(400, "track, car and client are required");
  return AddEntry(Uid, Track, Car, Client);
}

TSimAnswer TQueueService::JoinAgents(const std::string& ABearer, const std::string& ABody) {
  std::string Uid;
  if (TSimAnswer Refused = Authorise(ABearer, Uid); Refused.Status != 200) return Refused;
  const auto Body = ParseObject(ABody);
  if (!Body) return JsonError(400, "Invalid JSON body");
  const std::string Sid = StringMember(*Body, "sid"), Track = StringMember(*Body, "track");
  if (Sid.empty() || Track.empty()) return JsonError(400, "sid and track are required");
  const auto Cars = FOptions.Tracks.find(Track);
  if (Cars == FOptions.Tracks.end() || Cars->second.empty()) return JsonError(404, "Unknown track");
  return AddEntry(Uid, Track, Cars->second.front(), "agent/" + Sid);
}

TSimAnswer TQueueService::AddEntry(const std::string& AUid, const std::string& ATrack, const std::string& ACar,
                                   const std::string& AClient) {
  const auto Cars = FOptions.Tracks.find(ATrack);
  if (Cars == FOptions.Tracks.end()) return JsonError(404, "Unknown track");
  if (std::find(Cars->second.begin(), Cars->second.end(), ACar) == Cars->second.end()) {
    return JsonError(404, "Unknown car");
  }
  std::string Id, BaseUrl;
  int Period;
  {
    std::lock_guard Lock(FLock);
    Id = "q" + std::to_string(++FSerial);
    const auto Now = Clock::now();
    FEntries[Id] = TEntry{ATrack, ACar, AUid, Now, Now, 0, {}};
    BaseUrl = FBaseUrl;
    Period = FOptions.KeepAliveSeconds;
  }
  FDatabase.Put("/queue/" + Id, {{"track", ATrack}, {"car", ACar}, {"client", AClient}, {"uid", AUid}});
  FWake.notify_all();
  return {200, nlohmann::json{{"queueUrl", BaseUrl + "/db/queue/" + Id},
                              {"queueUpdateUrl", BaseUrl + "/v1/queue/" + Id + "/keepalive"},
                              {"queueKeepAliveTime", Period}}
                   .dump()};
}

TSimAnswer TQueueService::KeepAlive(const std::string& ABearer, const std::string& AEntryId) {
  std::string Uid;
  if (TSimAnswer Refused = Authorise(ABearer, Uid); Refused.Status != 200) return Refused;
  std::lock_guard Lock(FLock);
  const auto Entry = FEntries.find(AEntryId);
  if (Entry == FEntries.end()) return JsonError(404, "No such queue entry");
  if (Entry->second.Uid != Uid) return JsonError(403, "Not your queue entry");
  Entry->second.LastSeen = Clock::now();
  ++Entry->second.KeepAlives;
  return {200, "{}"};
}

TSimAnswer TQueueService::PostMessage(const std::string& ABearer, const std::string& ASessionId,
                                      const std::string& ABody) {
  std::string Uid;
  if (TSimAnswer Refused = Authorise(ABearer, Uid); Refused.Status != 200) return Refused;
  const auto Message = ParseObject(ABody);
  if (!Message || !Message->contains("type") || !(*Message)["type"].is_string()) {
    return JsonError(400, "A message is a JSON object with a \"type\"");
  }
  std::shared_ptr<ISimCar> Car;
  {
    std::lock_guard Lock(FLock);
    const auto Session = FSessions.find(ASessionId);
    if (Session == FSessions.end()) return JsonError(404, "No such session");
    if (Session->second.Uid != Uid) return JsonError(403, "Not your session");
    Car = CarLocked(Session->second.Car);
  }
  const std::string Key = FDatabase.Push("/sessions/" + ASessionId + "/toCar", *Message);
  Car->AgentMessage(ASessionId, *Message);
  return {200, nlohmann::json{{"name", Key}}.dump()};
}

bool TQueueService::Assign(const std::string& AEntryId) {
  std::unique_lock Lock(FLock);
  return AssignLocked(AEntryId, Lock);
}

bool TQueueService::AssignLocked(const std::string& AEntryId, std::unique_lock<std::mutex>& ALock) {
  const auto Entry = FEntries.find(AEntryId);
  if (Entry == FEntries.end() || !Entry->second.SessionId.empty()) return false;
  for (const auto& [Id, Session] : FSessions) {
    if (Session.Car == Entry->second.Car) return false;  // the car is busy
  }
  const std::string SessionId = "s" + std::to_string(++FSerial);
  Entry->second.SessionId = SessionId;
  FSessions[SessionId] = TSession{AEntryId, Entry->second.Car, Entry->second.Uid};
  const std::shared_ptr<ISimCar> Car = CarLocked(Entry->second.Car);
  const std::optional<bool> CreateOffer = FOptions.CreateOffer;
  nlohmann::json Assignment = {{"rsUrl", FBaseUrl + "/db/sessions/" + SessionId + "/toAgent"},
                               {"rsPostUrl", FBaseUrl + "/v1/sessions/" + SessionId + "/messages"}};
  if (CreateOffer) Assignment["createOffer"] = *CreateOffer;
  ALock.unlock();
  Car->SessionStarted(SessionId, CreateOffer.value_or(true), [this, SessionId](const nlohmann::json& AMessage) {
    FDatabase.Push("/sessions/" + SessionId + "/toAgent", AMessage);
  });
  FDatabase.Patch("/queue/" + AEntryId, Assignment);  // both URLs in one update at the root
  ALock.lock();
  return true;
}

void TQueueService::Drop(const std::string& AEntryId) {
  std::unique_lock Lock(FLock);
  DropLocked(AEntryId, Lock);
}

void TQueueService::DropLocked(const std::string& AEntryId, std::unique_lock<std::mutex>& ALock) {
  const auto Entry = FEntries.find(AEntryId);
  if (Entry == FEntries.end()) return;
  const std::string SessionId = Entry->second.SessionId;
  FEntries.erase(Entry);
  std::shared_ptr<ISimCar> Car;
  if (const auto Session = FSessions.find(SessionId); Session != FSessions.end()) {
    Car = CarLocked(Session->second.Car);
    FSessions.erase(Session);
  }
  ALock.unlock();
  if (Car) {
    Car->SessionEnded(SessionId);
    FDatabase.Put("/sessions/" + SessionId, nullptr);
  }
  FDatabase.Put("/queue/" + AEntryId, nullptr);
  ALock.lock();
}

std::vector<std::string> TQueueService::EntryIds() const {
  std::lock_guard Lock(FLock);
  std::vector<std::string> Ids;
  for (const auto& [Id, Entry] : FEntries) Ids.push_back(Id);
  return Ids;
}

int TQueueService::KeepAlives(const std::string& AEntryId) const {
  std::lock_guard Lock(FLock);
  const auto Entry = FEntries.find(AEntryId);
  return Entry == FEntries.end() ? 0 : Entry->second.KeepAlives;
}

void TQueueService::Housekeeping() {
  std::unique_lock Lock(FLock);
  while (!FStopping) {
    FWake.wait_for(Lock, std::chrono::milliseconds(50));
    if (FStopping) break;
    const auto Now = Clock::now();
    // Entries whose client stopped sending keep-alives for two periods are dropped.
    const auto Period = std::chrono::seconds(FOptions.KeepAliveSeconds);
    std::vector<std::string> Stale;
    for (const auto& [Id, Entry] : FEntries) {
      if (Period.count() > 0 && Now - Entry.LastSeen > 2 * Period) Stale.push_back(Id);
    }
    for (const std::string& Id : Stale) DropLocked(Id, Lock);
    if (FOptions.AssignDelay.count() < 0) continue;
    std::vector<std::string> Due;
    for (const auto& [Id, Entry] : FEntries) {
      if (Entry.SessionId.empty() && Now - Entry.Joined >= FOptions.AssignDelay) Due.push_back(Id);
    }
    for (const std::string& Id : Due) AssignLocked(Id, Lock);
  }
}

}  // namespace kva::sim
