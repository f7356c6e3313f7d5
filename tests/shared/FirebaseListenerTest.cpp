#include "Shared/libFirebase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "platform/Assert.h"

using namespace kva;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

TEST(FirebaseUrlTest, ListenUrls) {
  const std::map<std::string, std::string> Auth = {{"auth", "T"}};
  struct TCase {
    std::string Path, Key;
    std::map<std::string, std::string> Params;
    std::string Url;
  };
  const TCase Cases[] = {
      {"https://db.example/queue/a/b", "", Auth, "https://db.example/queue/a/b.json?auth=T"},
      {"https://db.example/queue/a/b.json", "", Auth, "https://db.example/queue/a/b.json?auth=T"},
      {"https://db.example/queue/", "k", Auth, "https://db.example/queue/k.json?auth=T"},
      {"https://db.example/queue", "k", Auth, "https://db.example/queue/k.json?auth=T"},
      {"https://db.example/x", "", {{"auth", ""}}, "https://db.example/x.json?auth="},
      {"https://db.example/x", "", {{"auth", "a b/c+=&"}}, "https://db.example/x.json?auth=a%20b%2Fc%2B%3D%26"},
      {"https://db.example/x", "", {{"auth", "T"}, {"orderBy", "\"$key\""}},
       "https://db.example/x.json?auth=T&orderBy=%22%24key%22"},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(TFirebaseListener::ListenUrl(Case.Path, Case.Key, Case.Params), Case.Url) << Case.Path;
  }
  EXPECT_EQ(EncodeQueryParams(nullptr), "");
  const std::map<std::string, std::string> None;
  EXPECT_EQ(EncodeQueryParams(&None), "");
  EXPECT_EQ(EncodeResourceParams({".json"}), "/.json");
  EXPECT_EQ(EncodeResourceParams({"a b", "c/d"}), "/a%20b/c%2Fd");
  EXPECT_EQ(EncodeResourceParams({}), "");
}

class FirebaseListenerTest : public ::testing::Test {
protected:
  test::TTestHttpServer Server;
  std::atomic<bool> ServerStop = false;
  ~FirebaseListenerTest() override { ServerStop = true; }
};

TEST_F(FirebaseListenerTest, PutAndPatchEventsReachTheHandlerOnItsThread) {
  std::string Url;
  Server.Server.Get("/db/entry.json", [&](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Url = ARequest.path + "?auth=" + ARequest.get_param_value("auth");
    EXPECT_EQ(ARequest.get_header_value("Accept"), "text/event-stream");
    AResponse.set_content(std::string("event: put\ndata: {\"path\":\"/\",\"data\":{\"a\":1}}\n\n") +
                              "event: keep-alive\ndata: null\n\n" + "event:\ndata: nameless\n\n" +
                              "event: patch\ndata: {\"path\":\"/\",\"data\":{\"b\":2}}\n\n" + "event: cancel\ndata: null\n\n",
                          "text/event-stream");
  });
  Server.Start();
  std::mutex Lock;
  std::vector<std::string> Events;
  std::thread::id Thread;
  {
    TFirebaseListener Listener("tok");
    EXPECT_FALSE(Listener.IsListening());
    Listener.SetOnListenEvent(TFirebaseListenEvent([&](TFirebaseListener*, const std::string& AEvent, const std::string& AData) {
      std::lock_guard Guard(Lock);
      Events.push_back(AEvent + " " + AData);
      Thread = std::this_thread::get_id();
    }));
    Listener.ListenPath(Server.Url("/db/entry"), "");
    EXPECT_TRUE(Listener.IsListening());
    ASSERT_TRUE(test::WaitUntil([&] {
      std::lock_guard Guard(Lock);
      return Events.size() == 3;
    }));
    std::this_thread::sleep_for(50ms);  // the stream has ended: silence, still listening
    EXPECT_TRUE(Listener.IsListening());

    try {
      Listener.ListenPath(Server.Url("/db/other"), "");
      ADD_FAILURE() << "a second ListenPath must be refused";
    } catch (const TAssertionError& E) {
      EXPECT_NE(std::string(E.what()).find("Shared/libFirebase, line 421"), std::string::npos) << E.what();
    }
  }
  EXPECT_EQ(Url, "/db/entry.json?auth=tok");
  EXPECT_EQ(Events, (std::vector<std::string>{R"(put {"path":"/","data":{"a":1}})", R"(patch {"path":"/","data":{"b":2}})",
                                               "cancel null"}))
      << "keep-alive and nameless events are dropped; the data is not examined";
  EXPECT_NE(Thread, std::this_thread::get_id());
}

TEST_F(FirebaseListenerTest, DestructionIsPromptWhetherOrNotTheResponseStarted) {
  Server.Server.Get("/forever.json", [&](const httplib::Request&, httplib::Response& AResponse) {
    AResponse.set_chunked_content_provider("text/event-stream", [&](size_t, httplib::DataSink& ASink) {
      ASink.write("event: put\ndata: {}\n\n", 21);
      while (!ServerStop && ASink.is_writable()) std::this_thread::sleep_for(5ms);
      return false;
    });
  });
  Server.Start();
  int SilentPort;
  const int Silent = test::ListenOnLoopback(SilentPort);  // accepts, never answers

  for (const std::string& Url : {Server.Url("/forever"), "http://127.0.0.1:" + std::to_string(SilentPort) + "/never"}) {
    std::atomic<int> Events = 0;
    auto Listener = std::make_unique<TFirebaseListener>("");
    Listener->SetOnListenEvent(TFirebaseListenEvent([&](TFirebaseListener*, const std::string&, const std::string&) { ++Events; }));
    Listener->ListenPath(Url, "");
    std::this_thread::sleep_for(200ms);
    const auto Start = Clock::now();
    Listener.reset();
    EXPECT_LT(Clock::now() - Start, 500ms) << Url;
  }
  ::close(Silent);
}

TEST(FirebaseMessageTest, MessagesCarryTheirPropertiesWithoutEmptyStrings) {
  EXPECT_EQ(TSdp("answer", "v=0").ToJson(), (nlohmann::json{{"type", "answer"}, {"sdp", "v=0"}, {"timestamp", 0}}));
  EXPECT_EQ(TCandidate("candidate:1", 0, "").ToJson(),
            (nlohmann::json{{"type", "candidate"}, {"candidate", "candidate:1"}, {"sdpMLineIndex", 0}, {"timestamp", 0}}));
  EXPECT_EQ(TCandidate("candidate:2", 1, "0").ToJson(), (nlohmann::json{{"type", "candidate"},
                                                                       {"candidate", "candidate:2"},
                                                                       {"sdpMLineIndex", 1},
                                                                       {"sdpMid", "0"},
                                                                       {"timestamp", 0}}));
  TKvaRtcMessageBase Status("status");
  EXPECT_EQ(Status.ToJson(), (nlohmann::json{{"type", "status"}, {"timestamp", 0}}));
  Status.SetString(0, "id-1");
  EXPECT_EQ(Status.ToJson()["_id"], "id-1");

  struct TCase {
    const char* Json;
    bool Read;
    std::string Candidate, Mid;
    int32_t Index;
  };
  const TCase Cases[] = {
      {R"({"type":"candidate","candidate":"c","sdpMid":"0","sdpMLineIndex":1})", true, "c", "0", 1},
      {R"({"type":"candidate"})", true, "", "", 0},
      {R"({"type":"candidate","candidate":"c","sdpMLineIndex":"1"})", false, "", "", 0},
      {R"({"type":"candidate","candidate":7})", false, "", "", 0},
      {R"({"type":"candidate","candidate":"c","sdpMLineIndex":4294967296})", false, "", "", 0},
  };
  for (const TCase& Case : Cases) {
    const auto Candidate = TCandidate::FromJson(nlohmann::ordered_json::parse(Case.Json));
    ASSERT_EQ(Candidate != nullptr, Case.Read) << Case.Json;
    if (!Candidate) continue;
    EXPECT_EQ(Candidate->candidate(), Case.Candidate);
    EXPECT_EQ(Candidate->sdpMid(), Case.Mid);
    EXPECT_EQ(Candidate->sdpMLineIndex(), Case.Index);
  }
}

}  // namespace
