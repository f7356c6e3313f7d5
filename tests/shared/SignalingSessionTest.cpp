#include "Shared/libKVASignalingClient3.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "platform/Assert.h"
#include "platform/MainThread.h"
#include "sim/TrackSimulator.h"

using namespace kva;
using namespace std::chrono_literals;

namespace {

constexpr const char* ApiKey = "TestWebApiKey0000000000000000000000000x";
constexpr const char* Client = "KVAAgent.exe/v3.0.0.0";

// What a session raises, from whichever thread.
struct TRecorder {
  std::mutex Lock;
  std::vector<TKvaSignalingSessionState> States;
  std::vector<std::string> Events;

  void Attach(TKvaSignalingSession& ASession) {
    ASession.SetOnSessionStateChanged(TKvaSignalingSession::TNotifyEvent([this](TKvaSignalingSession* ASender) {
      std::lock_guard Guard(Lock);
      States.push_back(ASender->SessionState());
    }));
    ASession.SetOnRemoteDescription(TKvaSignalingSession::TOnRemoteDescription(
        [this](TKvaSignalingSession*, const std::string& AType, const std::string& ASdp) {
          std::lock_guard Guard(Lock);
          Events.push_back(AType + ": " + ASdp);
        }));
    ASession.SetOnIceCandidate(TKvaSignalingSession::TOnIceCandidate(
        [this](TKvaSignalingSession*, const std::string& ACandidate, int32_t AIndex, const std::string& AMid) {
          std::lock_guard Guard(Lock);
          Events.push_back("candidate " + std::to_string(AIndex) + " " + AMid + " " + ACandidate);
        }));
  }
  size_t StateCount() {
    std::lock_guard Guard(Lock);
    return States.size();
  }
  std::vector<std::string> EventsSeen() {
    std::lock_guard Guard(Lock);
    return Events;
  }
};

class SignalingSessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    MainThread().BindToCurrentThread();
    sim::TTrackSimulatorOptions Options{.ApiKey = ApiKey};
    Options.Queue.KeepAliveSeconds = 1;
    Options.Queue.AssignDelay = -1ms;  // the tests assign cars themselves
    Options.StreamKeepAliveSeconds = 1;
    Simulator = std::make_unique<sim::TTrackSimulator>(Options);
    Simulator->Start(0);
    const std::string Base = Simulator->BaseUrl();
    Manager = std::make_unique<TKvaSignalingManager>("test-host",
                                                     TKvaServiceSettings{Base, Base, Base, Base + "/db/", "", ApiKey});
    Manager->SignInWithEmailAndPassword(sim::DemoEmail, sim::DemoPassword);
    ASSERT_TRUE(test::WaitUntil([&] { return Manager->ConnectionState() == TKvaConnectionState::CONNECTED; }));
  }

  void TearDown() override {
    Session.reset();
    Manager.reset();
    Simulator.reset();
  }

  bool Pump(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = 5000ms) {
    return test::PumpUntil(APredicate, ATimeout);
  }
  void PumpFor(std::chrono::milliseconds ADuration) { Pump([] { return false; }, ADuration); }

  TKvaSignalingSession& NewSession() {
    Session = std::make_unique<TKvaSignalingSession>(*Manager);
    Recorder.Attach(*Session);
    return *Session;
  }

  // Joins the queue and waits until the entry is listened to; the entry's id.
  std::string Join() {
    Session->AddClientToQueue("molvik", "molvik_i8_01", Client);
    EXPECT_TRUE(Pump([&] { return Simulator->Queue().EntryIds().size() == 1 && Simulator->OpenStreams() == 1; }));
    const auto Ids = Simulator->Queue().EntryIds();
    return Ids.empty() ? std::string() : Ids.front();
  }

  // Assigns the car and waits for the remote session.
  void Assign(const std::string& AEntryId) {
    ASSERT_TRUE(Simulator->Queue().Assign(AEntryId));
    ASSERT_TRUE(Pump([&] { return Session->SessionState() == TKvaSignalingSessionState::RemoteSession; }));
  }

  // The database location of the assigned session, from the entry's "rsUrl".
  std::string SessionPath() const {
    const std::string RsUrl = Simulator->Database().Get("/queue/" + Simulator->Queue().EntryIds().front())["rsUrl"];
    const size_t Start = RsUrl.find("/db/") + 3;
    return RsUrl.substr(Start, RsUrl.rfind("/toAgent") - Start);
  }

  std::unique_ptr<sim::TTrackSimulator> Simulator;
  std::unique_ptr<TKvaSignalingManager> Manager;
  std::unique_ptr<TKvaSignalingSession> Session;
  TRecorder Recorder;
  test::TLogCapture Log;
};

TEST_F(SignalingSessionTest, ConstructionOnlyOnTheMainThread) {
  std::string Error;
  std::thread([&] {
    try {
      TKvaSignalingSession Session(*Manager);
    } catch (const TAssertionError& E) {
      Error = E.what();
    }
  }).join();
  EXPECT_EQ(Error, "Must be called from main thread (Shared/libKVASignalingClient3, line 916)");
  EXPECT_EQ(NewSession().GetFullStatus(), "Queued");
  EXPECT_EQ(Recorder.StateCount(), 0u) << "no notification for the first state";
}

TEST_F(SignalingSessionTest, JoinListensToTheEntryAndKeepsItAlive) {
  NewSession();
  const std::string Entry = Join();
  const auto Joins = Simulator->RequestsTo("/v1/queue");
  ASSERT_EQ(Joins.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(Joins[0].Body),
            (nlohmann::json{{"track", "molvik"}, {"car", "molvik_i8_01"}, {"client", Client}}));
  EXPECT_EQ(Joins[0].Header("authorization"), "Bearer " + Manager->GetIdToken());
  EXPECT_TRUE(Log.Contains(" AddClientToQueue: track: molvik, car: molvik_i8_01\r\n"));
  EXPECT_TRUE(Log.Contains(" TKvaSignalingManager.AddClientToQueue: Response: {"));
  const auto Listen = Simulator->RequestsTo("/db/queue/" + Entry + ".json");
  ASSERT_EQ(Listen.size(), 1u);
  EXPECT_EQ(Listen[0].Param("auth"), Manager->GetIdToken());

  // A keep-alive ("{}") every second, measured from one to the next.
  PumpFor(2300ms);
  const auto KeepAlives = Simulator->RequestsTo("/v1/queue/" + Entry + "/keepalive");
  EXPECT_EQ(KeepAlives.size(), 2u);
  for (const auto& KeepAlive : KeepAlives) EXPECT_EQ(KeepAlive.Body, "{}");
  EXPECT_EQ(Simulator->Queue().EntryIds().size(), 1u) << "the entry stays while keep-alives come";

  // Destroying the session ends the keep-alives.
  Session.reset();
  PumpFor(1500ms);
  EXPECT_EQ(Simulator->RequestsTo("/v1/queue/" + Entry + "/keepalive").size(), 2u);
  EXPECT_EQ(Simulator->OpenStreams(), 0u);
}

TEST_F(SignalingSessionTest, TheJoinAnswerSetsTheKeepAlivePeriod) {
  // A queue that answers as told, with an entry in the simulator's database.
  nlohmann::json Answer;
  test::TTestHttpServer Queue;
  Queue.Server.Post("/v1/queue", [&](const httplib::Request&, httplib::Response& AResponse) {
    AResponse.set_content(Answer.dump(), "application/json");
  });
  Queue.Start();
  const std::string Base = Simulator->BaseUrl();
  TKvaSignalingManager QueueManager("test-host", {Base, Base, Queue.Url(""), Base + "/db/", "", ApiKey});
  QueueManager.SignInWithEmailAndPassword(sim::DemoEmail, sim::DemoPassword);
  ASSERT_TRUE(test::WaitUntil([&] { return QueueManager.ConnectionState() == TKvaConnectionState::CONNECTED; }));

  const nlohmann::json Urls = {{"queueUrl", Base + "/db/queue/fixed"}, {"queueUpdateUrl", Base + "/v1/queue/x/keepalive"}};
  struct TCase {
    nlohmann::json KeepAliveTime;  // null: left out
    std::optional<std::chrono::seconds> Next;
  };
  const TCase Cases[] = {{10, 10s}, {nlohmann::json(), 30s}, {"7", 7s}, {"x", 30s}, {0, std::nullopt}, {500, 127s}};
  size_t Answered = 0;
  for (const TCase& Case : Cases) {
    Answer = Urls;
    if (!Case.KeepAliveTime.is_null()) Answer["queueKeepAliveTime"] = Case.KeepAliveTime;
    TKvaSignalingSession Session(QueueManager);
    Session.AddClientToQueue("molvik", "molvik_i8_01", Client);
    ++Answered;
    ASSERT_TRUE(Pump([&] { return test::Count(Log.Text(), "AddClientToQueue: Response:") == Answered; }));
    PumpFor(20ms);
    const auto Due = MainThread().TimeToNextDue();
    if (Case.Next) {
      ASSERT_TRUE(Due.has_value()) << Answer.dump();
      EXPECT_GT(*Due, *Case.Next - 500ms) << Answer.dump();
      EXPECT_LE(*Due, *Case.Next) << Answer.dump();
    } else {
      EXPECT_FALSE(Due.has_value()) << "0 switches keep-alives off";
    }
    EXPECT_THROW(Session.StartListenQueue(Base + "/db/queue/fixed", "u", 5), std::runtime_error);
  }
  // An answer without both URLs: logged, nothing started.
  Answer = {{"queueUrl", Base + "/db/queue/fixed"}};
  {
    TKvaSignalingSession Session(QueueManager);
    Session.AddClientToQueue("molvik", "molvik_i8_01", Client);
    ASSERT_TRUE(Pump([&] { return Log.Contains("Response: {\"queueUrl\""); }));
    EXPECT_TRUE(Pump([&] { return Simulator->OpenStreams() == 0; }));
    PumpFor(100ms);
    EXPECT_EQ(Simulator->OpenStreams(), 0u);
  }
}

TEST_F(SignalingSessionTest, AnAssignedCarStartsTheRemoteSessionOnce) {
  struct TCase {
    std::optional<bool> CreateOffer;
    bool IsOfferer;
  };
  for (const TCase& Case : {TCase{std::nullopt, true}, TCase{true, true}, TCase{false, false}}) {
    Simulator->Queue().SetCreateOffer(Case.CreateOffer);
    Recorder.States.clear();
    NewSession();
    const std::string Entry = Join();
    Assign(Entry);
    EXPECT_EQ(Session->IsOfferer(), Case.IsOfferer);
    EXPECT_EQ(Session->GetFullStatus(), "RemoteSession");
    ASSERT_TRUE(Pump([&] { return Simulator->OpenStreams() == 2; }));
    EXPECT_TRUE(Log.Contains(" StartRemoteSession: Started to listen " + Simulator->BaseUrl() + "/db/sessions/"));

    // The entry sent again, as a put and as a patch: no second start.
    const nlohmann::json EntryValue = Simulator->Database().Get("/queue/" + Entry);
    Simulator->Database().Put("/queue/" + Entry, EntryValue);
    Simulator->Database().Patch("/queue/" + Entry, {{"rsUrl", EntryValue["rsUrl"]}, {"rsPostUrl", "other"}});
    PumpFor(200ms);
    EXPECT_EQ(Recorder.StateCount(), 1u);
    EXPECT_EQ(Simulator->OpenStreams(), 2u);
    Session.reset();
  }
}

TEST_F(SignalingSessionTest, QueueUpdatesOfSingleMembersOrWithoutBothUrlsAreIgnored) {
  NewSession();
  const std::string Entry = Join();
  Simulator->Database().Put("/queue/" + Entry + "/rsUrl", "https://elsewhere/x");
  Simulator->Database().Patch("/queue/" + Entry, {{"rsUrl", "https://elsewhere/x"}});
  PumpFor(200ms);
  EXPECT_EQ(Session->SessionState(), TKvaSignalingSessionState::Queued);
  EXPECT_TRUE(Log.Contains(" TKvaSignalingSession: DoOnQueueEvent: put, Data: {\"data\":\"https://elsewhere/x\""));
}

TEST_F(SignalingSessionTest, TheCarsMessagesBecomeEventsOnceEach) {
  NewSession();
  Assign(Join());
  Session->SendSdp("offer", "v=0\r\no=agent\r\n");
  const std::string Answer = sim::TScriptedCar::Answer;
  const std::vector<std::string> Expected = {
      "answer: " + Answer, std::string("candidate 0 0 ") + sim::TScriptedCar::Candidates[0],
      std::string("candidate 0 0 ") + sim::TScriptedCar::Candidates[1]};
  ASSERT_TRUE(Pump([&] { return Recorder.EventsSeen().size() == 3; }));
  EXPECT_EQ(Recorder.EventsSeen(), Expected);

  // The whole list sent again, and one message again under its own path: nothing new.
  const std::string ToAgent = SessionPath() + "/toAgent";
  const nlohmann::json List = Simulator->Database().Get(ToAgent);
  Simulator->Database().Put(ToAgent, List);
  Simulator->Database().Put(ToAgent + "/" + List.begin().key(), List.begin().value());
  // Messages the agent does not act on are recorded and skipped.
  for (const nlohmann::json& Message : {nlohmann::json{{"type", "close"}}, nlohmann::json{{"type", "answer"}},
                                        nlohmann::json{{"sdp", "no type"}}, nlohmann::json{{"type", "Offer"}, {"sdp", "x"}},
                                        nlohmann::json{{"type", "candidate"}, {"sdpMLineIndex", "zero"}}}) {
    Simulator->Database().Push(ToAgent, Message);
  }
  Simulator->Database().Push(ToAgent, {{"type", "candidate"}, {"candidate", "candidate:9"}});
  ASSERT_TRUE(Pump([&] { return Recorder.EventsSeen().size() == 4; }));
  PumpFor(200ms);
  EXPECT_EQ(Recorder.EventsSeen().back(), "candidate 0  candidate:9") << "absent members arrive empty or 0";
  EXPECT_EQ(Recorder.EventsSeen().size(), 4u);
}

TEST_F(SignalingSessionTest, TheCarsOfferArrivesWhenTheCarOffers) {
  Simulator->Queue().SetCreateOffer(false);
  NewSession();
  Assign(Join());
  ASSERT_TRUE(Pump([&] { return Recorder.EventsSeen().size() == 3; }));
  EXPECT_EQ(Recorder.EventsSeen()[0], std::string("offer: ") + sim::TScriptedCar::Offer);
  EXPECT_TRUE(Log.Contains(" WebRTC: ListenRemoteSessionEvent: put, Data: {\"data\":"));
}

TEST_F(SignalingSessionTest, OutgoingMessagesHaveExactlyTheirMembers) {
  NewSession();
  Assign(Join());
  Session->SendSdp("answer", "v=0\r\n");
  Session->SendIceCandidate("candidate:1 1 UDP 1 127.0.0.1 5000 typ host", 0, "");
  Session->SendIceCandidate("candidate:2 1 UDP 1 127.0.0.1 5001 typ host", 1, "0");
  Session->SendConnectionState();
  const std::string ToCar = SessionPath() + "/toCar";
  ASSERT_TRUE(Pump([&] { return Simulator->Database().Get(ToCar).size() == 4; }));
  std::vector<nlohmann::json> Sent;
  const nlohmann::json List = Simulator->Database().Get(ToCar);
  for (const auto& [Key, Message] : List.items()) Sent.push_back(Message);
  EXPECT_EQ(Sent[0], (nlohmann::json{{"type", "answer"}, {"sdp", "v=0\r\n"}, {"timestamp", 0}}));
  EXPECT_EQ(Sent[1], (nlohmann::json{{"type", "candidate"},
                                     {"candidate", "candidate:1 1 UDP 1 127.0.0.1 5000 typ host"},
                                     {"sdpMLineIndex", 0},
                                     {"timestamp", 0}}));
  EXPECT_EQ(Sent[2]["sdpMid"], "0");
  EXPECT_EQ(Sent[2]["sdpMLineIndex"], 1);
  EXPECT_EQ(Sent[3], (nlohmann::json{{"type", "status"}, {"timestamp", 0}, {"connState", "CONNECTED"}}));
  EXPECT_TRUE(Log.Contains(" SendSdp: answer\r\nv=0\r\n"));
  EXPECT_TRUE(Log.Contains(" SendIceCandidate: 1: 0\r\ncandidate:2 "));
  EXPECT_TRUE(Log.Contains(" SendConnectionStatus: RemoteSession\r\n"));
}

TEST_F(SignalingSessionTest, TheAgentsMessagesArriveInTheOrderSent) {
  NewSession();
  Assign(Join());
  Session->SendSdp("offer", "v=0\r\n");
  std::thread Other([&] {
    for (int I = 0; I < 10; ++I) Session->SendIceCandidate("candidate:" + std::to_string(I), 0, "0");
  });
  Other.join();
  const std::string ToCar = SessionPath() + "/toCar";
  ASSERT_TRUE(Pump([&] { return Simulator->Database().Get(ToCar).size() == 11; }));
  const nlohmann::json List = Simulator->Database().Get(ToCar);
  std::vector<std::string> Order;
  for (const auto& [Key, Message] : List.items()) Order.push_back(Message.value("candidate", Message.value("type", "")));
  EXPECT_EQ(Order, (std::vector<std::string>{"offer", "candidate:0", "candidate:1", "candidate:2", "candidate:3",
                                             "candidate:4", "candidate:5", "candidate:6", "candidate:7", "candidate:8",
                                             "candidate:9"}));
}

TEST_F(SignalingSessionTest, ARejectedJoinIsLoggedAndTheSessionStaysQueued) {
  NewSession();
  Session->AddClientToQueue("nowhere", "molvik_i8_01", Client);
  ASSERT_TRUE(Pump([&] { return Log.Contains(" TKvaSignalingManager.AddClientToQueue: Error: "); }));
  EXPECT_TRUE(Log.Contains(" TKvaSignalingManager.AddClientToQueue: Error: {\"error\":\"Unknown track\"}\r\n"));
  EXPECT_EQ(Session->SessionState(), TKvaSignalingSessionState::Queued);
  EXPECT_EQ(Simulator->OpenStreams(), 0u);

  // Not signed in: no request at all.
  Manager->Disconnect();
  Session->AddClientToQueue("molvik", "molvik_i8_01", Client);
  PumpFor(100ms);
  EXPECT_EQ(Simulator->RequestsTo("/v1/queue").size(), 1u);
}

TEST_F(SignalingSessionTest, EndingASessionBeforeTheQueueAnswersChangesNothing) {
  Simulator->SetQueueDelay(300ms);
  NewSession();
  Session->AddClientToQueue("molvik", "molvik_i8_01", Client);
  Session.reset();
  PumpFor(600ms);
  EXPECT_EQ(Simulator->RequestsTo("/v1/queue").size(), 1u);
  EXPECT_EQ(Simulator->OpenStreams(), 0u) << "no listener started";
  EXPECT_FALSE(Log.Contains("AddClientToQueue: Response:"));
  EXPECT_FALSE(MainThread().TimeToNextDue().has_value()) << "no keep-alive scheduled";
}

TEST_F(SignalingSessionTest, EndingASessionWhileTheCarIsAssigned) {
  // The queue's handler hands the start to the main thread while the main thread destroys the
  // session: neither waits for the other, and nothing runs for the destroyed session.
  for (int Round = 0; Round < 10; ++Round) {
    NewSession();
    const std::string Entry = Join();
    std::thread Assigner([&] { Simulator->Queue().Assign(Entry); });
    std::this_thread::sleep_for(std::chrono::microseconds(Round * 300));
    Session.reset();
    Assigner.join();
    PumpFor(50ms);
    EXPECT_EQ(Recorder.StateCount(), 0u) << "round " << Round;
    EXPECT_TRUE(Pump([&] { return Simulator->OpenStreams() == 0; })) << "round " << Round;
    Simulator->Queue().Drop(Entry);
  }
}

TEST_F(SignalingSessionTest, CloseStopsListening) {
  NewSession();
  Assign(Join());
  Session->Close();
  EXPECT_EQ(Session->GetFullStatus(), "Closed");
  EXPECT_EQ(Recorder.StateCount(), 2u);
  EXPECT_TRUE(Pump([&] { return Simulator->OpenStreams() == 0; }));
  Session->Close();  // once closed, nothing more
  EXPECT_EQ(Recorder.StateCount(), 2u);
}

}  // namespace
