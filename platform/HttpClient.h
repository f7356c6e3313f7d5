// Asynchronous HTTP(S) requests over libcurl. Each request owns its curl handles and runs on
// a worker of the pool, where its completion (and, for a streamed response, each piece of
// the body) is delivered. Cancel makes a transfer return promptly, also one blocked in a
// streaming read or still connecting. Requests share one connection cache, so consecutive
// requests to a host reuse the open connection instead of paying for a new TCP and TLS
// set-up. TLS certificates are always verified for https.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kva {

using THttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The outcome of a request: an HTTP status and body, or, when no HTTP response was obtained,
// StatusCode 0 and a non-empty ErrorText.
struct THttpResponse {
  long StatusCode = 0;
  std::string Body;
  std::string ErrorText;
  bool Cancelled = false;
  bool HasResponse() const { return StatusCode != 0; }
};

class THttpRequest : public std::enable_shared_from_this<THttpRequest> {
public:
  using TOnComplete = std::function<void(const THttpResponse& AResponse)>;
  // A piece of the body of a response whose status is below 300, as it arrives.
  using TOnData = std::function<void(std::string_view APiece)>;

  struct TOptions {
    std::string Method = "GET";
    std::string Url;
    THttpHeaders Headers;
    std::string Body;
    TOnData OnData;  // when set, the body is streamed to it instead of kept in the response
    TOnComplete OnComplete;
    bool ShareConnections = true;  // false: a fresh connection, closed afterwards
  };

  // Starts the request on the worker pool.
  static std::shared_ptr<THttpRequest> Start(TOptions AOptions);
  ~THttpRequest();

  // Any thread. The transfer ends promptly; the completion reports Cancelled.
  void Cancel();
  // Waits until the completion has returned.
  void Wait();
  bool Completed() const;

private:
  struct TCurlHandles;
  explicit THttpRequest(TOptions AOptions);
  void Perform();
  static size_t WriteBody(char* AData, size_t ASize, size_t ACount, void* ARequest);

  TOptions FOptions;
  std::unique_ptr<TCurlHandles> FCurl;
  std::mutex FWakeLock;  // guards FCurl's multi handle against Cancel's wake-up
  std::atomic<bool> FCancelled{false};
  THttpResponse FResponse;
  mutable std::mutex FDoneLock;
  std::condition_variable FDoneChanged;
  bool FCompleted = false;
};

}  // namespace kva
