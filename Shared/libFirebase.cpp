#include "libFirebase.h"

#include <limits>
#include <mutex>

#include "Shared/EventStreamParser.h"
#include "platform/Assert.h"

namespace kva {

std::string UrlEncode(const std::string& AText) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string Encoded;
  for (const unsigned char C : AText) {
    if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
        C == '_' || C == '~') {
      Encoded += static_cast<char>(C);
    } else {
      Encoded += '%';
      Encoded += Hex[C >> 4];
      Encoded += Hex[C & 15];
    }
  }
  return Encoded;
}

std::string EncodeQueryParams(const std::map<std::string, std::string>* AParams) {
  std::string Query;
  if (!AParams) return Query;
  for (const auto& [Key, Value] : *AParams) {
    if (!Query.empty()) Query += '&';
    Query += UrlEncode(Key) + "=" + UrlEncode(Value);
  }
  return Query;
}

std::string EncodeResourceParams(const std::vector<std::string>& AParams) {
  std::string Path;
  for (const std::string& Param : AParams) Path += "/" + UrlEncode(Param);
  return Path;
}

TFirebaseListener::TFirebaseListener(std::string AFireBaseToken) : FFirebaseToken(std::move(AFireBaseToken)) {
  FQueryParams["auth"] = FFirebaseToken;
}

TFirebaseListener::~TFirebaseListener() {
  if (!FHttpClient) return;
  FHttpClient->Cancel();
  FHttpClient->Wait();
}

void TFirebaseListener::SetFirebaseToken(const std::string& AToken) {
  FFirebaseToken = AToken;
  FQueryParams["auth"] = AToken;
}

std::string TFirebaseListener::ListenUrl(const std::string& APath, const std::string& AKey,
                                         const std::map<std::string, std::string>& AParams) {
  std::string Url = APath;
  if (!AKey.empty()) Url += (Url.ends_with('/') ? "" : "/") + AKey;
  if (!Url.ends_with(".json")) Url += ".json";
  return Url + "?" + EncodeQueryParams(&AParams);
}

void TFirebaseListener::ListenPath(const std::string& APath, const std::string& AKey) {
  Assert(!FHttpClient, "Shared/libFirebase", 421);
  FListenKey = AKey;
  // The parser lives with the request: the request calls it on its worker, one piece at a time.
  auto Parser = std::make_shared<TEventStreamParser>(
      [this](const std::string& AEvent, const std::string& AData) { DoOnListenEvent(AEvent, AData); });
  THttpRequest::TOptions Options;
  Options.Url = ListenUrl(APath, AKey, FQueryParams);
  Options.Headers = {{"Content-Type", "application/json"}, {"Accept", "text/event-stream"}};
  Options.OnData = [Parser](std::string_view APiece) { Parser->Feed(APiece); };
  // The end of the stream, whatever ended it, is silent: no reconnection, no event.
  FHttpClient = THttpRequest::Start(std::move(Options));
}

void TFirebaseListener::DoOnListenEvent(const std::string& AEvent, const std::string& AData) {
  if (AEvent.empty() || AEvent == "keep-alive") return;
  FOnListenEvent(this, AEvent, AData);
}

std::string TFbBaseObject::GetString(int AIndex) const {
  const auto It = FStrings.find(AIndex);
  return It == FStrings.end() ? std::string() : It->second;
}

void TFbBaseObject::SetString(int AIndex, std::string AValue) { FStrings[AIndex] = std::move(AValue); }

int64_t TFbBaseObject::GetInteger(int AIndex) const {
  const auto It = FIntegers.find(AIndex);
  return It == FIntegers.end() ? 0 : It->second;
}

void TFbBaseObject::SetInteger(int AIndex, int64_t AValue) { FIntegers[AIndex] = AValue; }

nlohmann::json TKvaRtcMessageBase::ToJson() const {
  nlohmann::json Json = {{"_id", _id()}, {"type", FType}, {"timestamp", FTimestamp}};
  AddProperties(Json);
  for (auto It = Json.begin(); It != Json.end();) {
    if (It->is_string() && It->get_ref<const std::string&>().empty()) {
      It = Json.erase(It);
    } else {
      ++It;
    }
  }
  return Json;
}

void TSdp::AddProperties(nlohmann::json& AJson) const { AJson["sdp"] = FSdp; }

void TCandidate::AddProperties(nlohmann::json& AJson) const {
  AJson["candidate"] = FCandidate;
  AJson["sdpMLineIndex"] = FSdpMLineIndex;
  AJson["sdpMid"] = FSdpMid;
}

std::unique_ptr<TCandidate> TCandidate::FromJson(const nlohmann::ordered_json& AMessage) {
  std::string Candidate, SdpMid;
  int32_t SdpMLineIndex = 0;
  if (const auto It = AMessage.find("candidate"); It != AMessage.end() && !It->is_null()) {
    if (!It->is_string()) return nullptr;
    Candidate = It->get<std::string>();
  }
  if (const auto It = AMessage.find("sdpMid"); It != AMessage.end() && !It->is_null()) {
    if (!It->is_string()) return nullptr;
    SdpMid = It->get<std::string>();
  }
  if (const auto It = AMessage.find("sdpMLineIndex"); It != AMessage.end() && !It->is_null()) {
    if (!It->is_number_integer()) return nullptr;
    const int64_t Index = It->is_number_unsigned() ? static_cast<int64_t>(std::min<uint64_t>(It->get<uint64_t>(), INT64_MAX))
                                                   : It->get<int64_t>();
    if (Index < std::numeric_limits<int32_t>::min() || Index > std::numeric_limits<int32_t>::max()) return nullptr;
    SdpMLineIndex = static_cast<int32_t>(Index);
  }
  return std::make_unique<TCandidate>(std::move(Candidate), SdpMLineIndex, std::move(SdpMid));
}

}  // namespace kva
