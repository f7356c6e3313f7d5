#include "platform/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>

#include "TestHttpServer.h"
#include "TestUtil.h"

using namespace kva;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A socket that accepts connections and never answers.
class TSilentServer {
public:
  TSilentServer() : FSocket(test::ListenOnLoopback(Port)) {}
  ~TSilentServer() { ::close(FSocket); }
  int Port = 0;

private:
  const int FSocket;
};

struct TResult {
  std::atomic<bool> Done = false;
  THttpResponse Response;
  std::thread::id Thread;
  auto Handler() {
    return [this](const THttpResponse& AResponse) {
      Response = AResponse;
      Thread = std::this_thread::get_id();
      Done = true;
    };
  }
};

class HttpClientTest : public ::testing::Test {
protected:
  test::TTestHttpServer Server;
};

TEST_F(HttpClientTest, PostSendsHeadersAndBodyAndCompletesOnAWorker) {
  std::string SeenBody, SeenAuthorization, SeenContentType;
  Server.Server.Post("/echo", [&](const httplib::Request& ARequest, httplib::Response& AResponse) {
    SeenBody = ARequest.body;
    SeenAuthorization = ARequest.get_header_value("Authorization");
    SeenContentType = ARequest.get_header_value("Content-Type");
    AResponse.status = 201;
    AResponse.set_content(R"({"ok":true})", "application/json");
  });
  Server.Start();
  TResult Result;
  THttpRequest::Start({"POST", Server.Url("/echo"), {{"Authorization", "Bearer "}, {"Content-Type", "application/json"}},
                       R"({"a":1})", nullptr, Result.Handler()})
      ->Wait();
  ASSERT_TRUE(Result.Done);
  EXPECT_EQ(Result.Response.StatusCode, 201);
  EXPECT_EQ(Result.Response.Body, R"({"ok":true})");
  EXPECT_TRUE(Result.Response.ErrorText.empty());
  EXPECT_NE(Result.Thread, std::this_thread::get_id());
  EXPECT_EQ(SeenBody, R"({"a":1})");
  EXPECT_EQ(SeenAuthorization, "Bearer") << "the parsing server trims the value";
  EXPECT_EQ(SeenContentType, "application/json");

  // On the wire the value goes out exactly as given, its trailing blank included.
  test::TRawHttpServer Raw;
  THttpRequest::Start({"POST", Raw.Url("/raw"), {{"Authorization", "Bearer "}}, "{}", nullptr, nullptr})->Wait();
  EXPECT_NE(Raw.Request.find("\r\nAuthorization: Bearer \r\n"), std::string::npos) << Raw.Request;
  EXPECT_EQ(Raw.Request.find("Expect:"), std::string::npos);
}

TEST_F(HttpClientTest, NoResponseGivesAnErrorTextAndNoStatus) {
  int Port;
  {
    TSilentServer Gone;  // a port that was free a moment ago; nothing listens on it now
    Port = Gone.Port;
  }
  TResult Result;
  THttpRequest::Start({"POST", "http://127.0.0.1:" + std::to_string(Port) + "/x", {}, "{}", nullptr, Result.Handler()})
      ->Wait();
  EXPECT_EQ(Result.Response.StatusCode, 0);
  EXPECT_FALSE(Result.Response.HasResponse());
  EXPECT_FALSE(Result.Response.ErrorText.empty());
  EXPECT_FALSE(Result.Response.Cancelled);
}

TEST_F(HttpClientTest, AStreamedBodyArrivesInPiecesAndErrorBodiesAreKept) {
  Server.Server.Get("/stream", [](const httplib::Request&, httplib::Response& AResponse) {
    AResponse.set_chunked_content_provider("text/event-stream", [](size_t AOffset, httplib::DataSink& ASink) {
      for (int I = 0; I < 3; ++I) {
        const std::string Piece = "piece " + std::to_string(I) + "\n";
        ASink.write(Piece.data(), Piece.size());
        std::this_thread::sleep_for(20ms);
      }
      ASink.done();
      return true;
    });
  });
  Server.Server.Get("/missing", [](const httplib::Request&, httplib::Response& AResponse) {
    AResponse.status = 404;
    AResponse.set_content("not here", "text/plain");
  });
  Server.Start();

  std::string Streamed;
  TResult Result;
  THttpRequest::Start({"GET", Server.Url("/stream"), {{"Accept", "text/event-stream"}}, "",
                       [&](std::string_view APiece) { Streamed += APiece; }, Result.Handler()})
      ->Wait();
  EXPECT_EQ(Streamed, "piece 0\npiece 1\npiece 2\n");
  EXPECT_EQ(Result.Response.StatusCode, 200);
  EXPECT_EQ(Result.Response.Body, "") << "a streamed body is not kept";

  std::string NotStreamed;
  TResult Missing;
  THttpRequest::Start({"GET", Server.Url("/missing"), {}, "", [&](std::string_view APiece) { NotStreamed += APiece; },
                       Missing.Handler()})
      ->Wait();
  EXPECT_EQ(NotStreamed, "") << "only a response below 300 is streamed";
  EXPECT_EQ(Missing.Response.StatusCode, 404);
  EXPECT_EQ(Missing.Response.Body, "not here");
}

TEST_F(HttpClientTest, CancelEndsABlockedTransferPromptly) {
  std::atomic<bool> ServerStop = false;
  Server.Server.Get("/forever", [&](const httplib::Request&, httplib::Response& AResponse) {
    AResponse.set_chunked_content_provider("text/event-stream", [&](size_t, httplib::DataSink& ASink) {
      ASink.write("event: keep-alive\ndata: null\n\n", 30);
      while (!ServerStop && ASink.is_writable()) std::this_thread::sleep_for(10ms);
      return false;
    });
  });
  Server.Start();
  TSilentServer Silent;

  struct TCase {
    const char* Name;
    std::string Url;
  };
  const TCase Cases[] = {
      {"response streaming", Server.Url("/forever")},
      {"response not started", "http://127.0.0.1:" + std::to_string(Silent.Port) + "/never"},
  };
  for (const TCase& Case : Cases) {
    std::atomic<bool> Received = false;
    TResult Result;
    auto Request = THttpRequest::Start(
        {"GET", Case.Url, {}, "", [&](std::string_view) { Received = true; }, Result.Handler()});
    std::this_thread::sleep_for(200ms);  // the transfer is blocked in its read
    EXPECT_FALSE(Request->Completed()) << Case.Name;
    const auto CancelledAt = Clock::now();
    Request->Cancel();
    Request->Wait();
    EXPECT_LT(Clock::now() - CancelledAt, 500ms) << Case.Name;
    EXPECT_TRUE(Result.Response.Cancelled) << Case.Name;
    EXPECT_FALSE(Result.Response.ErrorText.empty()) << Case.Name;
  }
  ServerStop = true;
}

TEST_F(HttpClientTest, ConsecutiveRequestsReuseTheConnectionUnlessTheyShareNone) {
  std::mutex Lock;
  std::vector<int> RemotePorts;
  Server.Server.Post("/keep-alive", [&](const httplib::Request& ARequest, httplib::Response& AResponse) {
    std::lock_guard Guard(Lock);
    RemotePorts.push_back(ARequest.remote_port);
    AResponse.set_content("{}", "application/json");
  });
  Server.Start();
  for (const bool Share : {true, false}) {
    RemotePorts.clear();
    for (int I = 0; I < 5; ++I) {
      THttpRequest::TOptions Options{"POST", Server.Url("/keep-alive"), {}, "{}", nullptr, nullptr};
      Options.ShareConnections = Share;
      THttpRequest::Start(std::move(Options))->Wait();
    }
    const std::set<int> Connections(RemotePorts.begin(), RemotePorts.end());
    EXPECT_EQ(Connections.size(), Share ? 1u : 5u) << (Share ? "shared" : "not shared");
  }
}

}  // namespace
