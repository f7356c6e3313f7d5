#include "Shared/libKVASignalingClient3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "sim/TrackSimulator.h"

using namespace kva;
using namespace std::chrono_literals;
using test::WaitUntil;

namespace {

constexpr const char* ApiKey = "TestWebApiKey0000000000000000000000000x";

// Records what a manager raises.
struct TEvents {
  std::mutex Lock;
  std::vector<TKvaConnectionState> States;
  std::vector<std::string> RefreshTokens;

  void Attach(TKvaSignalingManager& AManager) {
    AManager.SetOnConnectionChanged(TKvaSignalingManager::TNotifyEvent([this](TKvaSignalingManager* ASender) {
      std::lock_guard Guard(Lock);
      States.push_back(ASender->ConnectionState());
    }));
    AManager.SetOnRefreshTokenChanged(TKvaSignalingManager::TNotifyEvent([this](TKvaSignalingManager* ASender) {
      std::lock_guard Guard(Lock);
      RefreshTokens.push_back(ASender->RefreshToken());
    }));
  }
  std::vector<TKvaConnectionState> StatesSeen() {
    std::lock_guard Guard(Lock);
    return States;
  }
  size_t RefreshTokenEvents() {
    std::lock_guard Guard(Lock);
    return RefreshTokens.size();
  }
};

class SignalingManagerTest : public ::testing::Test {
protected:
  void SetUp() override { StartSimulator(3600); }

  void StartSimulator(int ATokenLifetime, bool ARotate = false) {
    Simulator.reset();
    Simulator = std::make_unique<sim::TTrackSimulator>(
        sim::TTrackSimulatorOptions{.ApiKey = ApiKey,
                                     .TokenLifetimeSeconds = ATokenLifetime,
                                     .RotateRefreshTokens = ARotate,
                                     .Accounts = {{"driver@example.com", "secret"}}});
    Simulator->Start(0);
  }

  TKvaServiceSettings Settings(const std::string& ABase) const {
    return {ABase, ABase, ABase, ABase + "/db/", "", ApiKey};
  }

  std::unique_ptr<TKvaSignalingManager> NewManager() {
    auto Manager = std::make_unique<TKvaSignalingManager>("test-host", Settings(Simulator->BaseUrl()));
    Events.Attach(*Manager);
    return Manager;
  }

  bool WaitForState(TKvaSignalingManager& AManager, TKvaConnectionState AState) {
    return WaitUntil([&] { return AManager.ConnectionState() == AState; });
  }

  size_t RefreshRequests() const { return Simulator->RequestsTo("/v1/token").size(); }

  std::unique_ptr<sim::TTrackSimulator> Simulator;
  TEvents Events;
};

TEST_F(SignalingManagerTest, SignInWithEmailAndPassword) {
  auto Manager = NewManager();
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  EXPECT_EQ(Manager->ConnectionState(), TKvaConnectionState::CONNECTING);
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  EXPECT_EQ(Events.StatesSeen(), (std::vector{TKvaConnectionState::CONNECTING, TKvaConnectionState::CONNECTED}));
  EXPECT_EQ(Events.RefreshTokenEvents(), 1u);
  EXPECT_FALSE(Manager->RefreshToken().empty());
  EXPECT_FALSE(Manager->GetIdToken().empty());
  EXPECT_EQ(RefreshRequests(), 0u) << "a fresh token is not refreshed";

  const auto SignIn = Simulator->RequestsTo("/identitytoolkit/v3/relyingparty/verifyPassword");
  ASSERT_EQ(SignIn.size(), 1u);
  EXPECT_EQ(SignIn[0].Param("key"), ApiKey);
  EXPECT_EQ(SignIn[0].Header("authorization"), "Bearer") << "the header goes out before any sign-in too";
  EXPECT_EQ(SignIn[0].Header("content-type"), "application/json");
  EXPECT_EQ(SignIn[0].Header("accept"), "application/json");
  EXPECT_EQ(nlohmann::json::parse(SignIn[0].Body),
            (nlohmann::json{{"email", "driver@example.com"}, {"password", "secret"}, {"returnSecureToken", "true"}}));
}

TEST_F(SignalingManagerTest, FailedSignInsLeaveTheStateDisconnected) {
  struct TCase {
    const char* Email;
    const char* Password;
  };
  for (const TCase& Case : {TCase{"driver@example.com", "wrong"}, TCase{"nobody@example.com", "secret"}}) {
    auto Manager = NewManager();
    Manager->SignInWithEmailAndPassword(Case.Email, Case.Password);
    EXPECT_TRUE(WaitForState(*Manager, TKvaConnectionState::DISCONNECTED)) << Case.Email;
    EXPECT_EQ(Manager->RefreshToken(), "") << Case.Email;
  }
}

TEST_F(SignalingManagerTest, AFailedSignInKeepsAnEarlierToken) {
  auto Manager = NewManager();
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  const std::string Token = Manager->GetIdToken();
  Manager->SignInWithEmailAndPassword("driver@example.com", "wrong");
  ASSERT_TRUE(WaitUntil([&] { return Events.StatesSeen().size() == 4; }));
  EXPECT_EQ(Manager->ConnectionState(), TKvaConnectionState::CONNECTED);
  EXPECT_EQ(Manager->GetIdToken(), Token);
}

TEST_F(SignalingManagerTest, TheTokenIsRefreshedWhenDueAndARotatedRefreshTokenIsReported) {
  StartSimulator(301, /*rotate=*/true);  // due 1 s after sign-in
  auto Manager = NewManager();
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  const std::string First = Manager->GetIdToken();
  EXPECT_EQ(RefreshRequests(), 0u);

  std::this_thread::sleep_for(1100ms);
  EXPECT_EQ(Manager->GetIdToken(), First) << "the call that starts the refresh answers the old token";
  ASSERT_TRUE(WaitUntil([&] { return Manager->GetIdToken() != First; }));
  EXPECT_EQ(RefreshRequests(), 1u);
  EXPECT_EQ(Events.RefreshTokenEvents(), 2u) << "the sign-in's and the rotated one";
  const auto Refresh = Simulator->RequestsTo("/v1/token")[0];
  EXPECT_EQ(nlohmann::json::parse(Refresh.Body)["grant_type"], "refresh_token");
  EXPECT_EQ(Refresh.Header("authorization"), "Bearer " + First);
  EXPECT_EQ(Manager->ConnectionState(), TKvaConnectionState::CONNECTED);
}

TEST_F(SignalingManagerTest, AFailedRefreshDisconnectsAndTheNextRequestForATokenRetries) {
  StartSimulator(0);  // every token is due at once
  auto Manager = NewManager();
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  Simulator->Identity().RevokeRefreshTokens();

  const std::string Token = Manager->GetIdToken();
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::DISCONNECTED));
  EXPECT_EQ(RefreshRequests(), 1u);
  EXPECT_EQ(Manager->GetIdToken(), Token) << "the tokens stay";
  ASSERT_TRUE(WaitUntil([&] { return RefreshRequests() == 2; }));
}

TEST_F(SignalingManagerTest, TwoThreadsAskingAtOnceStartOneRefresh) {
  StartSimulator(0);
  auto Manager = NewManager();
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  Simulator->SetIdentityDelay(300ms);  // the refresh stays in flight while the others ask
  std::atomic<bool> Go = false;
  std::vector<std::thread> Threads;
  for (int I = 0; I < 8; ++I) {
    Threads.emplace_back([&] {
      while (!Go) std::this_thread::yield();
      Manager->GetIdToken();
    });
  }
  Go = true;
  for (auto& Thread : Threads) Thread.join();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(RefreshRequests(), 1u);
}

TEST_F(SignalingManagerTest, ConnectWithAStoredRefreshToken) {
  auto Manager = NewManager();
  Manager->ConnectWithRefreshToken(Simulator->Identity().IssueRefreshToken("driver@example.com"));
  EXPECT_EQ(Manager->ConnectionState(), TKvaConnectionState::CONNECTING);
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));
  EXPECT_EQ(RefreshRequests(), 1u);
  EXPECT_EQ(Events.RefreshTokenEvents(), 0u) << "the same refresh token came back";

  // Only from DISCONNECTED; and after Disconnect only a sign-in leaves DISCONNECTING.
  Manager->ConnectWithRefreshToken("another");
  Manager->Disconnect();
  Manager->ConnectWithRefreshToken("another");
  EXPECT_EQ(Manager->ConnectionState(), TKvaConnectionState::DISCONNECTING);
  EXPECT_EQ(RefreshRequests(), 1u);
  Manager->Disconnect();  // the same state again raises nothing
  EXPECT_EQ(Events.StatesSeen().size(), 3u);
}

TEST_F(SignalingManagerTest, NoServerListeningGivesAnErrorAndLeavesConnecting) {
  int Port;
  {
    sim::TTrackSimulator Gone({.ApiKey = ApiKey});
    Port = Gone.Start(0);
  }
  TKvaSignalingManager Manager("test-host", Settings("http://127.0.0.1:" + std::to_string(Port)));
  Manager.SignInWithEmailAndPassword("driver@example.com", "secret");
  EXPECT_TRUE(WaitForState(Manager, TKvaConnectionState::DISCONNECTED));

  std::atomic<bool> Done = false;
  std::string Error;
  Manager.PostJson("http://127.0.0.1:" + std::to_string(Port) + "/v1/queue", std::nullopt,
                   [&](const nlohmann::json* AJson, const THttpResponse&, const std::string& AErrorText) {
                     EXPECT_EQ(AJson, nullptr);
                     Error = AErrorText;
                     Done = true;
                   });
  ASSERT_TRUE(WaitUntil([&] { return Done.load(); }));
  EXPECT_FALSE(Error.empty());
}

TEST_F(SignalingManagerTest, AResponseAfterTheManagerIsFreedIsDropped) {
  Simulator->SetIdentityDelay(200ms);
  auto Manager = NewManager();
  std::atomic<bool> HandlerCalled = false;
  Manager->SignInWithEmailAndPassword("driver@example.com", "secret");
  Manager->PostJson(Simulator->BaseUrl() + "/v1/token?key=" + ApiKey, nlohmann::json::object(),
                    [&](const nlohmann::json*, const THttpResponse&, const std::string&) { HandlerCalled = true; });
  Manager.reset();
  const size_t EventsAtFree = Events.StatesSeen().size();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(Simulator->RequestsTo("/v1/token").size(), 1u) << "the request went out";
  EXPECT_FALSE(HandlerCalled);
  EXPECT_EQ(Events.StatesSeen().size(), EventsAtFree);
}

TEST_F(SignalingManagerTest, TokensThatNeedEscapingStillMakeValidJson) {
  auto Manager = NewManager();
  Manager->SignInWithCustomToken("custom:driver@example.com");
  ASSERT_TRUE(WaitForState(*Manager, TKvaConnectionState::CONNECTED));

  auto Odd = NewManager();
  Odd->SignInWithCustomToken("a \"quoted\\ token\n");
  Odd->ConnectWithRefreshToken("refresh \"with\" quotes\\");
  ASSERT_TRUE(WaitUntil([&] { return Simulator->RequestsTo("/v1/token").size() == 1 &&
                                     Simulator->RequestsTo("/v1/accounts:signInWithCustomToken").size() == 2; }));
  const auto Custom = nlohmann::json::parse(Simulator->RequestsTo("/v1/accounts:signInWithCustomToken")[1].Body);
  EXPECT_EQ(Custom["token"], "a \"quoted\\ token\n");
  EXPECT_EQ(Custom["returnSecureToken"], true);
  const auto Refresh = nlohmann::json::parse(Simulator->RequestsTo("/v1/token")[0].Body);
  EXPECT_EQ(Refresh["refresh_token"], "refresh \"with\" quotes\\");
}

TEST(PostJsonTest, TheBearerHeaderIsSentBeforeAnySignIn) {
  test::TRawHttpServer Raw;
  TKvaSignalingManager Manager("test-host", {Raw.Url(""), Raw.Url(""), Raw.Url(""), "", "", ApiKey});
  std::atomic<bool> Done = false;
  Manager.PostJson(Raw.Url("/v1/queue"), std::nullopt,
                   [&](const nlohmann::json*, const THttpResponse&, const std::string&) { Done = true; });
  ASSERT_TRUE(WaitUntil([&] { return Done.load(); }));
  EXPECT_NE(Raw.Request.find("\r\nAuthorization: Bearer \r\n"), std::string::npos) << Raw.Request;
  EXPECT_NE(Raw.Request.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
  EXPECT_NE(Raw.Request.find("\r\nAccept: application/json\r\n"), std::string::npos);
}

TEST(PostJsonTest, BodiesAreSevenBitAndResponsesFollowTheRules) {
  test::TTestHttpServer Server;
  std::string Received;
  Server.Server.Post("/echo", [&](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Received = ARequest.body;
    AResponse.set_content(R"({"echo":true})", "application/json");
  });
  Server.Server.Post(R"(/status/(\d+))", [](const httplib::Request& ARequest, httplib::Response& AResponse) {
    AResponse.status = std::stoi(ARequest.matches[1]);
    AResponse.set_content(ARequest.get_param_value("body"), "application/json");
  });
  Server.Start();
  TKvaSignalingManager Manager("test-host", {Server.Url(""), Server.Url(""), Server.Url(""), "", "", ApiKey});

  const auto Post = [&](const std::string& AUrl, std::optional<nlohmann::json> AJson) {
    std::atomic<bool> Done = false;
    std::optional<nlohmann::json> Json;
    std::string Error;
    Manager.PostJson(AUrl, std::move(AJson),
                     [&](const nlohmann::json* AResponse, const THttpResponse&, const std::string& AErrorText) {
                       if (AResponse) Json = *AResponse;
                       Error = AErrorText;
                       Done = true;
                     });
    EXPECT_TRUE(WaitUntil([&] { return Done.load(); }));
    return std::pair(Json, Error);
  };

  const auto [EchoJson, EchoError] = Post(Server.Url("/echo"), nlohmann::json{{"t", "\xC3\xA4\x01\x7F"}});
  EXPECT_EQ(Received, "{\"t\":\"\\u00e4\\u0001\\u007f\"}");
  EXPECT_EQ(EchoJson, (nlohmann::json{{"echo", true}}));
  EXPECT_EQ(EchoError, "");
  Post(Server.Url("/echo"), std::nullopt);
  EXPECT_EQ(Received, "{}");

  struct TCase {
    int Status;
    std::string Body;
    bool Object;
    std::string Error;
  };
  const TCase Cases[] = {
      {200, "[1,2]", false, "Invalid response: [1,2]"},
      {201, "", false, "Invalid response: "},
      {200, "not json", false, "Invalid response: not json"},
      {201, R"({"a":1})", true, ""},
      {403, "", false, ""},
      {400, R"({"error":{"code":400,"message":"INVALID_PASSWORD"}})", false,
       R"({"error":{"code":400,"message":"INVALID_PASSWORD"}})"},
      {500, "boom", false, "boom"},
  };
  for (const TCase& Case : Cases) {
    const auto [Json, Error] =
        Post(Server.Url("/status/" + std::to_string(Case.Status) + "?body=" + httplib::detail::encode_query_param(Case.Body)),
             std::nullopt);
    EXPECT_EQ(Json.has_value(), Case.Object) << Case.Status << " " << Case.Body;
    EXPECT_EQ(Error, Case.Error) << Case.Status << " " << Case.Body;
  }
}

}  // namespace
