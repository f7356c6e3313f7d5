// The service client. TKvaSignalingManager signs the user in against the identity service,
// keeps the identity token fresh with the refresh token, publishes the connection state, and
// offers the authenticated JSON POST that every other request of the client goes through.
// TKvaSignalingSession carries one attempt to drive: it joins the queue, keeps its place, and
// once the service assigns a car it relays the signalling messages with the car.
//
// Threads: requests complete on HTTP worker threads, where the response handlers,
// OnConnectionChanged and OnRefreshTokenChanged are raised. The public operations may be
// called from any thread and never wait for the network. A response that arrives after the
// manager was destroyed is dropped without touching it (its destructor waits for a handler
// that is running).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "Shared/KvaServiceSettings.h"
#include "Shared/libFirebase.h"
#include "platform/Event.h"
#include "platform/HttpClient.h"
#include "platform/Lifetime.h"

namespace kva {

enum class TKvaConnectionState : uint8_t { DISCONNECTED, CONNECTING, CONNECTED, DISCONNECTING };

enum class TKvaSignalingSessionState : uint8_t { Uninitialized, Queued, RemoteSession, Closed };

// The member names, as they travel in texts ("connState", the status text).
std::string_view ToString(TKvaConnectionState AState);
std::string_view ToString(TKvaSignalingSessionState AState);

// Called as (JSON object or none, response, error text): success has the object and an empty
// error text; a failure has no object and says what went wrong in the error text (which may
// be empty when the server answered an error status with an empty body).
using TKvaResponseHandler =
    std::function<void(const nlohmann::json* AJson, const THttpResponse& AResponse, const std::string& AErrorText)>;

// Compact JSON in which every character below 32 or above 127 is escaped: 7-bit ASCII.
std::string ToAsciiJson(const nlohmann::json& AJson);

class TKvaSignalingManager {
public:
  using TNotifyEvent = TEvent<void(TKvaSignalingManager* Sender)>;
  using TClock = std::chrono::steady_clock;

  explicit TKvaSignalingManager(std::string ADeviceId,
                                TKvaServiceSettings ASettings = TKvaServiceSettings::FromEnvironment());
  // Signs out locally (Disconnect) and drops every response still to come.
  virtual ~TKvaSignalingManager();
  TKvaSignalingManager(const TKvaSignalingManager&) = delete;
  TKvaSignalingManager& operator=(const TKvaSignalingManager&) = delete;

  TKvaConnectionState ConnectionState() const;
  std::string RefreshToken() const;
  const std::string& DeviceId() const { return FDeviceId; }
  const TKvaServiceSettings& Settings() const { return FSettings; }
  // The realtime database's root URL, ending in "/".
  std::string GetBaseURI() const { return FSettings.DatabaseUrl; }

  // Assigned before the first request.
  void SetOnConnectionChanged(TNotifyEvent AHandler) { FOnConnectionChanged = std::move(AHandler); }
  void SetOnRefreshTokenChanged(TNotifyEvent AHandler) { FOnRefreshTokenChanged = std::move(AHandler); }

  void SignInWithEmailAndPassword(const std::string& AEmail, const std::string& APassword);
  void SignInWithCustomToken(const std::string& ACustomToken);
  // Resumes a signed-in session from a stored refresh token; only from DISCONNECTED.
  void ConnectWithRefreshToken(const std::string& ARefreshToken);
  // The current identity token, after starting a refresh if one is due. Never waits: while a
  // refresh is under way it answers the old token (empty before the first one).
  std::string GetIdToken();

  // Posts AJson ("{}" when none) with the bearer identity token.
  void PostJson(const std::string& AUrl, std::optional<nlohmann::json> AJson, TKvaResponseHandler AResponseHandler);
  // Posts a body that is already JSON text, with the bearer identity token.
  void PostJsonString(const std::string& AUrl, std::string ABody, TKvaResponseHandler AResponseHandler);

  // Signs out locally: the state becomes DISCONNECTING; tokens and requests stay as they are.
  virtual void Disconnect();

  // The three endpoints.
  std::string PasswordSignInUrl() const;
  std::string CustomTokenSignInUrl() const;
  std::string TokenRefreshUrl() const;

private:
  void SetConnectionState(TKvaConnectionState AState);
  void UpdateIdToken();
  void HandleSignInResponse(const nlohmann::json* AJson, const std::string& AErrorText);
  void HandleRefreshResponse(const nlohmann::json* AJson, const std::string& AErrorText);
  // Stores a refresh token that came in a response; true when it differs from the one held.
  bool StoreRefreshToken(const nlohmann::json& AJson, const char* AMember);

  const std::string FDeviceId;
  const TKvaServiceSettings FSettings;
  TNotifyEvent FOnConnectionChanged;
  TNotifyEvent FOnRefreshTokenChanged;

  // The tokens, their due time and the refresh flag are shared by the UI thread and the HTTP
  // workers. The state changes under its own lock, so that events leave in the order of the
  // changes.
  mutable std::mutex FTokenLock;
  std::string FIdToken;
  std::string FRefreshToken;
  // When the identity token must be refreshed: on the monotonic clock, so that a change of
  // the wall clock (daylight saving) cannot make the agent hold an expired token for an hour.
  TClock::time_point FIDTokenNextUpdateTime = TClock::time_point::min();
  bool FUpdatingToken = false;

  mutable std::recursive_mutex FStateLock;
  TKvaConnectionState FConnectionState = TKvaConnectionState::DISCONNECTED;

  std::shared_ptr<TLifetime> FLifetime = std::make_shared<TLifetime>();
};

// One attempt to drive, on the agent's side of the signalling channel.
//
// Threads: constructed, destroyed and its keep-alives run on the main thread; queue events
// arrive on the queue listener's thread and hand the start of the remote session to the main
// thread without waiting for it (the destructor withdraws a start still pending); messages of
// the car arrive on the remote-session listener's thread, where OnRemoteDescription and
// OnIceCandidate are raised under the session's lock; SendSdp and SendIceCandidate may be
// called from any thread.
class TKvaSignalingSession {
public:
  using TNotifyEvent = TEvent<void(TKvaSignalingSession* Sender)>;
  using TOnRemoteDescription =
      TEvent<void(TKvaSignalingSession* Sender, const std::string& AType, const std::string& ASdp)>;
  using TOnIceCandidate = TEvent<void(TKvaSignalingSession* Sender, const std::string& ACandidate,
                                      int32_t ASdpMLineIndex, const std::string& ASdpMid)>;

  // Main thread only (TAssertionError otherwise). The session starts in state Queued.
  explicit TKvaSignalingSession(TKvaSignalingManager& ASignalingManager);
  // Stops both listeners, the keep-alives and a pending start of the remote session; raises
  // nothing. A join answer that arrives later changes nothing.
  ~TKvaSignalingSession();
  TKvaSignalingSession(const TKvaSignalingSession&) = delete;
  TKvaSignalingSession& operator=(const TKvaSignalingSession&) = delete;

  TKvaSignalingSessionState SessionState() const;
  bool IsOfferer() const;
  void SetOnSessionStateChanged(TNotifyEvent AHandler) { FOnSessionStateChanged = std::move(AHandler); }
  void SetOnRemoteDescription(TOnRemoteDescription AHandler) { FOnRemoteDescription = std::move(AHandler); }
  void SetOnIceCandidate(TOnIceCandidate AHandler) { FOnIceCandidate = std::move(AHandler); }

  // The queue: join for a track and a car (only when CONNECTED); the agents' queue.
  void AddClientToQueue(const std::string& ATrack, const std::string& ACar, const std::string& AClient);
  void AddAgentToQueue();
  // Listens to the queue entry and starts the keep-alives; raises std::runtime_error
  // "Queue listener already active" when the queue is listened to already.
  void StartListenQueue(const std::string& AQueueUrl, const std::string& AUpdateUrl, int32_t APeriod);

  // The agent's messages to the car.
  void SendSdp(const std::string& AType, const std::string& ASdp);
  void SendIceCandidate(const std::string& ACandidate, int32_t ASdpMLineIndex, const std::string& ASdpMid);
  void SendConnectionState();

  // The name of the session state.
  std::string GetFullStatus() const;
  // Stops listening (state Closed); only in Queued or RemoteSession.
  void Close();

private:
  void SetSessionState(TKvaSignalingSessionState AState);
  void StopListening();
  void HandleQueueResponse(const nlohmann::json& AResponse);
  void SendKeepAlive();
  void DoOnQueueEvent(TFirebaseListener* Sender, const std::string& AEvent, const std::string& AData);
  void StartRemoteSession(const std::string& ARsUrl, const std::string& ARsPostUrl, bool ACreateOffer);
  void DoOnListenRemoteSessionEvent(TFirebaseListener* Sender, const std::string& AEvent, const std::string& AData);
  void HandleRemoteSessionMessage(const std::string& AKey, const nlohmann::ordered_json& AMessage);
  std::string RsPostUrl() const;
  void PostToCar(nlohmann::json AMessage);
  void PostNextToCar();

  TKvaSignalingManager& FSignalingManager;
  TOnIceCandidate FOnIceCandidate;
  TOnRemoteDescription FOnRemoteDescription;
  TNotifyEvent FOnSessionStateChanged;

  // Serialises the two listeners' handlers and guards the handled messages.
  std::recursive_mutex FLock;
  std::unique_ptr<TFirebaseListener> FSessionListener;
  std::unique_ptr<TFirebaseListener> FQueueListener;
  std::unordered_set<std::string> FHandledMessages;  // keys of the car's messages acted on

  // The rest is shared by the main thread, the HTTP workers and the senders' threads.
  mutable std::mutex FFieldsLock;
  TKvaSignalingSessionState FSessionState = TKvaSignalingSessionState::Uninitialized;
  std::string FRsUrl;
  std::string FRsPostUrl;
  bool FIsOfferer = true;
  int32_t FQueueKeepAliveTime = 0;
  std::string FQueueUpdateUrl;

  // The agent's messages waiting for the one before them to be answered.
  std::mutex FOutboxLock;
  std::deque<std::pair<std::string, nlohmann::json>> FOutbox;  // post URL, message
  bool FPosting = false;

  std::shared_ptr<TLifetime> FLifetime = std::make_shared<TLifetime>();
};

}  // namespace kva
