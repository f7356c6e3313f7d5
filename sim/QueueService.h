// The simulator's queue API and remote sessions. A client joins the queue of a track for a
// car and gets its entry in the database, a keep-alive URL and a period; an entry that misses
// two periods of keep-alives is dropped (and its session ended). When the car is free (after a
// set wait), the service assigns it: it writes "rsUrl", "rsPostUrl" and "createOffer" into the
// entry in one update at its root. Messages posted to "rsPostUrl" go into the car's list and to
// the car; the car's messages go into the list at "rsUrl". Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/IdentityService.h"
#include "sim/RealtimeDatabase.h"
#include "sim/SimCar.h"

namespace kva::sim {

struct TQueueOptions {
  int KeepAliveSeconds = 30;
  // How long a joined client waits before its car is assigned; negative: only Assign does it.
  std::chrono::milliseconds AssignDelay{1000};
  // What the entry says about the offer: the agent makes it (true), the car does (false), or
  // the member is left out (none, which means the agent).
  std::optional<bool> CreateOffer = true;
  std::map<std::string, std::vector<std::string>> Tracks = {{"molvik", {"molvik_i8_01", "molvik_i8_02"}},
                                                            {"arvel", {"arvel_01"}}};
};

class TQueueService {
public:
  TQueueService(TRealtimeDatabase& ADatabase, TIdentityService& AIdentity, TQueueOptions AOptions);
  ~TQueueService();

  // Where the service's URLs point (set once the server knows its port).
  void SetBaseUrl(const std::string& ABaseUrl);
  // The car that takes the sessions of a car id (a scripted car unless another is set).
  void SetCar(const std::string& ACarId, std::shared_ptr<ISimCar> ACar);
  void SetCreateOffer(std::optional<bool> ACreateOffer);

  // The HTTP calls; ABearer is the Authorization header's token.
  TSimAnswer Join(const std::string& ABearer, const std::string& ABody);
  TSimAnswer JoinAgents(const std::string& ABearer, const std::string& ABody);
  TSimAnswer KeepAlive(const std::string& ABearer, const std::string& AEntryId);
  TSimAnswer PostMessage(const std::string& ABearer, const std::string& ASessionId, const std::string& ABody);

  // Assigns the car of an entry now (when it is free); false when there is no such entry.
  bool Assign(const std::string& AEntryId);
  // Takes an entry out of the queue and ends its session, freeing the car.
  void Drop(const std::string& AEntryId);
  std::vector<std::string> EntryIds() const;
  // Keep-alives received for an entry.
  int KeepAlives(const std::string& AEntryId) const;

private:
  struct TEntry {
    std::string Track, Car, Uid;
    std::chrono::steady_clock::time_point Joined, LastSeen;
    int KeepAlives = 0;
    std::string SessionId;  // once assigned
  };
  struct TSession {
    std::string EntryId, Car, Uid;
  };

  TSimAnswer Authorise(const std::string& ABearer, std::string& ALocalId) const;
  TSimAnswer AddEntry(const std::string& AUid, const std::string& ATrack, const std::string& ACar,
                      const std::string& AClient);
  bool AssignLocked(const std::string& AEntryId, std::unique_lock<std::mutex>& ALock);
  void DropLocked(const std::string& AEntryId, std::unique_lock<std::mutex>& ALock);
  std::shared_ptr<ISimCar> CarLocked(const std::string& ACarId);
  void Housekeeping();

  TRealtimeDatabase& FDatabase;
  TIdentityService& FIdentity;
  TQueueOptions FOptions;
  std::string FBaseUrl;

  mutable std::mutex FLock;
  std::map<std::string, TEntry> FEntries;
  std::map<std::string, TSession> FSessions;
  std::map<std::string, std::shared_ptr<ISimCar>> FCars;
  uint64_t FSerial = 0;

  std::condition_variable FWake;
  bool FStopping = false;
  std::thread FHousekeeper;
};

}  // namespace kva::sim
