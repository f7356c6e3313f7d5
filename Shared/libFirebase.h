// The realtime database client side: TFirebaseListener follows one database location as an
// event stream and hands every "put" and "patch" event (name and data text) to its owner; the
// URL helpers; and the message classes that the signalling session posts and reads.
//
// Threads: a listener's events are raised on the worker thread of its GET, one at a time. The
// destructor stops the stream and returns promptly, whether or not the response has started;
// once it has returned no event is raised any more.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Event.h"
#include "platform/HttpClient.h"

namespace kva {

class TFirebaseListener;
using TFirebaseListenEvent =
    TEvent<void(TFirebaseListener* Sender, const std::string& AEvent, const std::string& AData)>;

// Percent-encoding of a URL component (everything but A-Z a-z 0-9 - . _ ~).
std::string UrlEncode(const std::string& AText);
// "key=value" pairs, encoded, joined by "&"; empty for none.
std::string EncodeQueryParams(const std::map<std::string, std::string>* AParams);
// "/" and the encoded element, for every element.
std::string EncodeResourceParams(const std::vector<std::string>& AParams);

class TFirebaseListener {
public:
  explicit TFirebaseListener(std::string AFireBaseToken);
  ~TFirebaseListener();
  TFirebaseListener(const TFirebaseListener&) = delete;
  TFirebaseListener& operator=(const TFirebaseListener&) = delete;

  // The identity token sent as "auth" from the next ListenPath on.
  void SetFirebaseToken(const std::string& AToken);
  // From ListenPath until destruction, also after the stream has ended.
  bool IsListening() const { return FHttpClient != nullptr; }
  // Starts following APath (a full database URL) or its child AKey. Once per listener: a
  // second call raises TAssertionError and leaves the running listen alone.
  void ListenPath(const std::string& APath, const std::string& AKey);
  // Set before ListenPath.
  void SetOnListenEvent(TFirebaseListenEvent AHandler) { FOnListenEvent = std::move(AHandler); }

  // The URL a listen asks for: APath, "/" and AKey when given, ".json" once, "?" and the
  // encoded parameters.
  static std::string ListenUrl(const std::string& APath, const std::string& AKey,
                               const std::map<std::string, std::string>& AParams);

private:
  void DoOnListenEvent(const std::string& AEvent, const std::string& AData);

  std::string FFirebaseToken;
  std::shared_ptr<THttpRequest> FHttpClient;
  std::map<std::string, std::string> FQueryParams;
  std::string FListenKey;
  TFirebaseListenEvent FOnListenEvent;
};

// Extra values of a message kept by index: strings and integers.
class TFbBaseObject {
public:
  virtual ~TFbBaseObject() = default;
  std::string GetString(int AIndex) const;
  void SetString(int AIndex, std::string AValue);
  int64_t GetInteger(int AIndex) const;
  void SetInteger(int AIndex, int64_t AValue);

private:
  std::map<int, std::string> FStrings;
  std::map<int, int64_t> FIntegers;
};

// A signalling message. Serialised as a JSON object of its properties ("_id", "type",
// "timestamp" and those of the subclass), with every empty string left out.
class TKvaRtcMessageBase : public TFbBaseObject {
public:
  TKvaRtcMessageBase() = default;
  explicit TKvaRtcMessageBase(std::string AType) : FType(std::move(AType)) {}

  std::string _id() const { return GetString(0); }
  const std::string& type() const { return FType; }
  uint64_t timestamp() const { return FTimestamp; }

  nlohmann::json ToJson() const;

protected:
  virtual void AddProperties(nlohmann::json& AJson) const {}

  std::string FType;
  std::string FSrc;  // never serialised, never read
  uint64_t FTimestamp = 0;
};

class TSdp : public TKvaRtcMessageBase {
public:
  TSdp(std::string AType, std::string ASdp) : TKvaRtcMessageBase(std::move(AType)), FSdp(std::move(ASdp)) {}
  const std::string& sdp() const { return FSdp; }

protected:
  void AddProperties(nlohmann::json& AJson) const override;

private:
  std::string FSdp;
};

class TCandidate : public TKvaRtcMessageBase {
public:
  TCandidate(std::string ACandidate, int32_t ASdpMLineIndex, std::string ASdpMid)
      : TKvaRtcMessageBase("candidate"), FCandidate(std::move(ACandidate)), FSdpMid(std::move(ASdpMid)),
        FSdpMLineIndex(ASdpMLineIndex) {}
  // Reads a received message member by member: "candidate", "sdpMid", "sdpMLineIndex" (absent
  // ones give "" and 0). None when a member present does not have its type.
  static std::unique_ptr<TCandidate> FromJson(const nlohmann::ordered_json& AMessage);

  const std::string& candidate() const { return FCandidate; }
  int32_t sdpMLineIndex() const { return FSdpMLineIndex; }
  const std::string& sdpMid() const { return FSdpMid; }

protected:
  void AddProperties(nlohmann::json& AJson) const override;

private:
  std::string FCandidate;
  std::string FSdpMid;
  int32_t FSdpMLineIndex;
};

}  // namespace kva
