#include "HttpClient.h"

#include <curl/curl.h>

#include <array>
#include <stdexcept>

#include "platform/WorkerPool.h"

namespace kva {

namespace {

// libcurl's process-wide set-up and the connection cache (with DNS and TLS sessions) shared
// by all requests, behind one owner.
class TCurlShared {
public:
  TCurlShared() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::runtime_error("curl_global_init failed");
    FShare = curl_share_init();
    curl_share_setopt(FShare, CURLSHOPT_LOCKFUNC, &TCurlShared::LockData);
    curl_share_setopt(FShare, CURLSHOPT_UNLOCKFUNC, &TCurlShared::UnlockData);
    curl_share_setopt(FShare, CURLSHOPT_USERDATA, this);
    curl_share_setopt(FShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(FShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(FShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~TCurlShared() {
    curl_share_cleanup(FShare);
    curl_global_cleanup();
  }
  CURLSH* Share() const { return FShare; }

private:
  static void LockData(CURL*, curl_lock_data AData, curl_lock_access, void* AUser) {
    static_cast<TCurlShared*>(AUser)->FLocks[AData % LockCount].lock();
  }
  static void UnlockData(CURL*, curl_lock_data AData, void* AUser) {
    static_cast<TCurlShared*>(AUser)->FLocks[AData % LockCount].unlock();
  }

  static constexpr size_t LockCount = CURL_LOCK_DATA_LAST;
  std::array<std::mutex, LockCount> FLocks;  // one per kind of shared data
  CURLSH* FShare = nullptr;
};

TCurlShared& CurlShared() {
  static TCurlShared Instance;
  return Instance;
}

struct TEasyDeleter {
  void operator()(CURL* AHandle) const { curl_easy_cleanup(AHandle); }
};
struct TMultiDeleter {
  void operator()(CURLM* AHandle) const { curl_multi_cleanup(AHandle); }
};
struct TSlistDeleter {
  void operator()(curl_slist* AList) const { curl_slist_free_all(AList); }
};

}  // namespace

struct THttpRequest::TCurlHandles {
  std::unique_ptr<CURL, TEasyDeleter> Easy{curl_easy_init()};
  std::unique_ptr<CURLM, TMultiDeleter> Multi{curl_multi_init()};
  std::unique_ptr<curl_slist, TSlistDeleter> Headers;
  char Error[CURL_ERROR_SIZE] = {};
};

std::shared_ptr<THttpRequest> THttpRequest::Start(TOptions AOptions) {
  std::shared_ptr<THttpRequest> Request(new THttpRequest(std::move(AOptions)));
  WorkerPool().Queue([Request] { Request->Perform(); });
  return Request;
}

THttpRequest::THttpRequest(TOptions AOptions) : FOptions(std::move(AOptions)) {
  CURLSH* Share = CurlShared().Share();
  FCurl = std::make_unique<TCurlHandles>();
  CURL* Easy = FCurl->Easy.get();
  curl_easy_setopt(Easy, CURLOPT_URL, FOptions.Url.c_str());
  curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
  curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, FCurl->Error);
  curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &THttpRequest::WriteBody);
  curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
  if (FOptions.ShareConnections) {
    curl_easy_setopt(Easy, CURLOPT_SHARE, Share);
  } else {
    curl_easy_setopt(Easy, CURLOPT_FORBID_REUSE, 1L);
  }
  if (FOptions.Method == "POST") {
    curl_easy_setopt(Easy, CURLOPT_POST, 1L);
    curl_easy_setopt(Easy, CURLOPT_POSTFIELDS, FOptions.Body.data());
    curl_easy_setopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FOptions.Body.size()));
  } else if (FOptions.Method != "GET") {
    curl_easy_setopt(Easy, CURLOPT_CUSTOMREQUEST, FOptions.Method.c_str());
  }
  curl_slist* Headers = nullptr;
  // libcurl would otherwise add "Expect: 100-continue" to larger POSTs and wait for it.
  Headers = curl_slist_append(Headers, "Expect:");
  for (const auto& [Name, Value] : FOptions.Headers) Headers = curl_slist_append(Headers, (Name + ": " + Value).c_str());
  FCurl->Headers.reset(Headers);
  curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, Headers);
  curl_multi_add_handle(FCurl->Multi.get(), Easy);
}

THttpRequest::~THttpRequest() = default;

size_t THttpRequest::WriteBody(char* AData, size_t ASize, size_t ACount, void* ARequest) {
  auto* Request = static_cast<THttpRequest*>(ARequest);
  if (Request->FCancelled) return 0;  // ends the transfer at once
  const size_t Size = ASize * ACount;
  long Status = 0;
  curl_easy_getinfo(Request->FCurl->Easy.get(), CURLINFO_RESPONSE_CODE, &Status);
  if (Request->FOptions.OnData && Status < 300) {
    Request->FOptions.OnData(std::string_view(AData, Size));
  } else {
    Request->FResponse.Body.append(AData, Size);
  }
  return Size;
}

void THttpRequest::Perform() {
  CURLM* Multi = FCurl->Multi.get();
  int Running = 1;
  while (Running > 0 && !FCancelled) {
    if (curl_multi_perform(Multi, &Running) != CURLM_OK) break;
    if (Running > 0 && !FCancelled) curl_multi_poll(Multi, nullptr, 0, 1000, nullptr);
  }
  CURLcode Result = CURLE_ABORTED_BY_CALLBACK;
  int Left = 0;
  while (CURLMsg* Message = curl_multi_info_read(Multi, &Left)) {
    if (Message->msg == CURLMSG_DONE) Result = Message->data.result;
  }
  if (FCancelled) {
    FResponse.Cancelled = true;
    FResponse.StatusCode = 0;
    FResponse.ErrorText = "Request cancelled";
  } else if (Result == CURLE_OK) {
    curl_easy_getinfo(FCurl->Easy.get(), CURLINFO_RESPONSE_CODE, &FResponse.StatusCode);
  } else {
    FResponse.StatusCode = 0;
    FResponse.ErrorText = curl_easy_strerror(Result);
    if (FCurl->Error[0] != '\0') FResponse.ErrorText += std::string(": ") + FCurl->Error;
  }
  {
    // The connection goes back to the shared cache (or is closed) before the completion runs.
    std::lock_guard Lock(FWakeLock);
    curl_multi_remove_handle(Multi, FCurl->Easy.get());
    FCurl.reset();
  }
  // Whatever the completion does, waiters learn that the request is over; an error it raises
  // goes on to the worker pool, which reports it.
  struct TMarkCompleted {
    THttpRequest& Self;
    ~TMarkCompleted() {
      Self.FOptions = {};  // release what the callbacks captured
      {
        std::lock_guard Lock(Self.FDoneLock);
        Self.FCompleted = true;
      }
      Self.FDoneChanged.notify_all();
    }
  } MarkCompleted{*this};
  if (FOptions.OnComplete) FOptions.OnComplete(FResponse);
}

void THttpRequest::Cancel() {
  FCancelled = true;
  std::lock_guard Lock(FWakeLock);
  if (FCurl) curl_multi_wakeup(FCurl->Multi.get());
}

void THttpRequest::Wait() {
  std::unique_lock Lock(FDoneLock);
  FDoneChanged.wait(Lock, [this] { return FCompleted; });
}

bool THttpRequest::Completed() const {
  std::lock_guard Lock(FDoneLock);
  return FCompleted;
}

}  // namespace kva
