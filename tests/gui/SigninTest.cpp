#include <gtest/gtest.h>

#include "GuiTest.h"
#include "TestUtil.h"
#include "agent/frmKvaAgent3.h"
#include "platform/MainThread.h"
#include "sim/TrackSimulator.h"

using namespace kva;
using namespace kva::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* ApiKey = "TestWebApiKey0000000000000000000000000x";

class SigninTest : public GuiTest {
protected:
  void SetUp() override {
    GuiTest::SetUp();
    if (IsSkipped()) return;
    Simulator.Start(0);
  }

  std::unique_ptr<TfrmKvaAgent3> NewForm() {
    const std::string Base = Simulator.BaseUrl();
    auto Form = std::make_unique<TfrmKvaAgent3>(
        *Application, TAgentOptions{Dir.File("KVAAgent.cfg"), {Base, Base, Base, Base + "/db/", "", ApiKey}});
    Application->SetMainForm(Form.get());
    return Form;
  }

  // Runs the UI loop until APredicate holds (at most five seconds).
  bool PumpUntil(const std::function<bool()>& APredicate) {
    const auto Deadline = std::chrono::steady_clock::now() + 5s;
    while (!APredicate()) {
      if (std::chrono::steady_clock::now() > Deadline) return false;
      Application->HandleMessage();
    }
    return true;
  }

  static bool StartsWith(const std::string& AText, const std::string& APrefix) { return AText.rfind(APrefix, 0) == 0; }

  TTempDir Dir;
  sim::TTrackSimulator Simulator{{.ApiKey = ApiKey}};
};

// Keys and text as the user would type them.
void PushText(const char* AText) {
  SDL_Event Event{};
  Event.type = SDL_TEXTINPUT;
  std::strncpy(Event.text.text, AText, sizeof Event.text.text - 1);
  SDL_PushEvent(&Event);
}

// A key goes down now and up a moment later: the UI reads the keys' state once per frame.
void PushKey(SDL_Scancode AScancode, SDL_Keycode AKey) {
  const auto Push = [AScancode, AKey](Uint32 AType) {
    SDL_Event Event{};
    Event.type = AType;
    Event.key.state = AType == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    Event.key.keysym.scancode = AScancode;
    Event.key.keysym.sym = AKey;
    SDL_PushEvent(&Event);
  };
  Push(SDL_KEYDOWN);
  MainThread().QueueDelayed(nullptr, 100, [Push] { Push(SDL_KEYUP); });
}

TEST_F(SigninTest, AStoredRefreshTokenSignsInAtStartAndSigningOutDisconnects) {
  const std::string Token = Simulator.Identity().IssueRefreshToken(sim::DemoEmail);
  WriteFileBytes(Dir.File("KVAAgent.cfg"),
                 nlohmann::json{{"token", Token}, {"email", sim::DemoEmail}}.dump());
  auto Form = NewForm();
  EXPECT_EQ(Form->Caption(), "Kelvara Agent v3.0.0.0");
  Form->Show();
  ASSERT_TRUE(PumpUntil([&] { return StartsWith(Form->Label1->Text(), "CONNECTED; "); })) << Form->Label1->Text();
  EXPECT_EQ(Form->ButtonSignin->Text(), "Sign out");
  EXPECT_TRUE(Form->ButtonNewSession->Enabled());
  EXPECT_EQ(Form->Caption(), std::string("Kelvara Agent v3.0.0.0 - ") + sim::DemoEmail);
  EXPECT_EQ(Simulator.RequestsTo("/v1/token").size(), 1u);

  Form->ButtonSignin->Click();
  EXPECT_EQ(Form->ButtonSignin->Text(), "Sign in");
  ASSERT_TRUE(PumpUntil([&] { return StartsWith(Form->Label1->Text(), "DISCONNECTING; "); })) << Form->Label1->Text();
  EXPECT_EQ(Form->Config().Token(), "");
  EXPECT_NE(ReadFileBytes(Dir.File("KVAAgent.cfg")).find(Token), std::string::npos)
      << "the token leaves the file only with the next save";
  EXPECT_EQ(Form->Caption(), std::string("Kelvara Agent v3.0.0.0 - ") + sim::DemoEmail) << "the address stays";
}

TEST_F(SigninTest, TheDialogSignsInWithTheDemoAccount) {
  WriteFileBytes(Dir.File("KVAAgent.cfg"), nlohmann::json{{"email", sim::DemoEmail}}.dump());
  auto Form = NewForm();
  Form->Show();
  PumpUntil([&] { return Form->RedrawCount() > 2; });

  // The dialog opens with the e-mail filled in and the focus in the password box: typing the
  // password and pressing Enter signs in.
  MainThread().QueueDelayed(this, 300, [] {
    PushText(sim::DemoPassword);
    PushKey(SDL_SCANCODE_RETURN, SDLK_RETURN);
  });
  Form->ButtonSigninClick(Form->ButtonSignin);  // runs the dialog's loop until it closes

  ASSERT_TRUE(PumpUntil([&] { return StartsWith(Form->Label1->Text(), "CONNECTED; "); })) << Form->Label1->Text();
  const auto SignIn = Simulator.RequestsTo("/identitytoolkit/v3/relyingparty/verifyPassword");
  ASSERT_EQ(SignIn.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(SignIn[0].Body)["password"], sim::DemoPassword);
  EXPECT_EQ(Form->Caption(), std::string("Kelvara Agent v3.0.0.0 - ") + sim::DemoEmail);
  ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(Dir.File("KVAAgent.cfg")).find("AMf-") != std::string::npos; }))
      << "the new refresh token is saved";
  const auto Saved = nlohmann::json::parse(ReadFileBytes(Dir.File("KVAAgent.cfg")));
  EXPECT_EQ(Saved["email"], sim::DemoEmail);
  EXPECT_EQ(Saved["token"], Form->SignalingManager().RefreshToken());
}

TEST_F(SigninTest, EscapeCancelsTheDialog) {
  auto Form = NewForm();
  Form->Show();
  PumpUntil([&] { return Form->RedrawCount() > 2; });
  MainThread().QueueDelayed(this, 300, [] {
    PushText("typed but cancelled");
    PushKey(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE);
  });
  Form->ButtonSigninClick(Form->ButtonSignin);
  PumpUntil([&] { return Form->RedrawCount() > 20; });
  EXPECT_TRUE(Simulator.RequestsTo("/identitytoolkit/v3/relyingparty/verifyPassword").empty());
  EXPECT_EQ(Form->SignalingManager().ConnectionState(), TKvaConnectionState::DISCONNECTED);
}

}  // namespace
