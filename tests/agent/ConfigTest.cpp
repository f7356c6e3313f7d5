#include "agent/KvaAgentConfig.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <thread>

#include "TestUtil.h"

using namespace kva;
using kva::test::ReadFileBytes;
using kva::test::WriteFileBytes;

namespace {

class ConfigTest : public ::testing::Test {
protected:
  std::string FileName() const { return Dir.File("KVAAgent.cfg"); }
  std::unique_ptr<TKvaAgentConfig> Loaded(const std::string& AContent) {
    WriteFileBytes(FileName(), AContent);
    auto Config = std::make_unique<TKvaAgentConfig>(FileName());
    Config->LoadFromFile("");
    return Config;
  }

  test::TTempDir Dir;
};

const char* const FreshFile =
    "{\r\n"
    "    \"token\": \"\",\r\n"
    "    \"email\": \"\",\r\n"
    "    \"lastTrack\": \"\",\r\n"
    "    \"lastCar\": \"\",\r\n"
    "    \"zmqEnabled\": false,\r\n"
    "    \"zmqDataQueue\": \"tcp://*:5551\",\r\n"
    "    \"zmqControlsQueue\": \"tcp://127.0.0.1:5552\",\r\n"
    "    \"zmqFrameWidth\": 0,\r\n"
    "    \"zmqFrameHeight\": 0,\r\n"
    "    \"zmqScaleLinear\": false,\r\n"
    "    \"zmqScaleLinearSingleStep\": false\r\n"
    "}";

TEST_F(ConfigTest, AFreshConfigurationIsWrittenByteExact) {
  TKvaAgentConfig Config(FileName());
  Config.LoadFromFile("");  // no file: defaults
  Config.SaveToFile("");
  EXPECT_EQ(ReadFileBytes(FileName()), FreshFile);
}

TEST_F(ConfigTest, ValuesAreWrittenAsJsonInTheirPlaces) {
  TKvaAgentConfig Config(FileName());
  Config.SetToken("AMf-\"quoted\"\\token");
  Config.SetEmail("fr\xC3\xA4nzi@example.com");
  Config.SetLastTrack("molvik");
  Config.SetZmqEnabled(true);
  Config.SetZmqFrameWidth(-3);
  Config.SaveToFile("");
  const std::string Text = ReadFileBytes(FileName());
  EXPECT_NE(Text.find("\r\n    \"token\": \"AMf-\\\"quoted\\\"\\\\token\",\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\r\n    \"email\": \"fr\xC3\xA4nzi@example.com\",\r\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\r\n    \"zmqEnabled\": true,\r\n"), std::string::npos);
  EXPECT_NE(Text.find("\r\n    \"zmqFrameWidth\": -3,\r\n"), std::string::npos);

  TKvaAgentConfig Reloaded(FileName());
  Reloaded.LoadFromFile("");
  EXPECT_EQ(Reloaded.Token(), "AMf-\"quoted\"\\token");
  EXPECT_EQ(Reloaded.Email(), "fr\xC3\xA4nzi@example.com");
  EXPECT_EQ(Reloaded.ZmqFrameWidth(), -3);
}

TEST_F(ConfigTest, LoadingOddAndBrokenFiles) {
  struct TCase {
    const char* Name;
    std::string Content;
    std::string Token, DataQueue;
    bool ZmqEnabled;
    int32_t Width;
  };
  const TCase Cases[] = {
      {"only one key", R"({"zmqEnabled": true})", "", "tcp://*:5551", true, 0},
      {"keys in capitals", R"({"TOKEN": "t1", "ZMQDATAQUEUE": "tcp://*:7000", "ZmqFrameWidth": 320})", "t1",
       "tcp://*:7000", false, 320},
      {"unknown keys", R"({"colour": "red", "token": "t2"})", "t2", "tcp://*:5551", false, 0},
      {"wrong types keep the default", R"({"token": 5, "zmqEnabled": "yes", "zmqFrameWidth": "640", "zmqDataQueue": null})",
       "", "tcp://*:5551", false, 0},
      {"numbers outside 32 bits", R"({"zmqFrameWidth": 4294967296})", "", "tcp://*:5551", false, 0},
      {"an array", R"(["token", "x"])", "", "tcp://*:5551", false, 0},
      {"a bare value", R"("token")", "", "tcp://*:5551", false, 0},
      {"malformed JSON", R"({"token": "x", )", "", "tcp://*:5551", false, 0},
      {"an empty file", "", "", "tcp://*:5551", false, 0},
      {"not text", std::string("\xFF\xFE{\0\"", 5), "", "tcp://*:5551", false, 0},
  };
  for (const TCase& Case : Cases) {
    const auto Config = Loaded(Case.Content);
    EXPECT_EQ(Config->Token(), Case.Token) << Case.Name;
    EXPECT_EQ(Config->ZmqDataQueue(), Case.DataQueue) << Case.Name;
    EXPECT_EQ(Config->ZmqEnabled(), Case.ZmqEnabled) << Case.Name;
    EXPECT_EQ(Config->ZmqFrameWidth(), Case.Width) << Case.Name;
    EXPECT_EQ(Config->ZmqControlsQueue(), "tcp://127.0.0.1:5552") << Case.Name;
  }
}

TEST_F(ConfigTest, ABrokenFileIsOverwrittenInCanonicalFormByTheNextSave) {
  Loaded("[1, 2")->SaveToFile("");
  EXPECT_EQ(ReadFileBytes(FileName()), FreshFile);
}

TEST_F(ConfigTest, SaveCreatesMissingFoldersAndRaisesWhenItCannotWrite) {
  TKvaAgentConfig Config(Dir.File("a/b/c/KVAAgent.cfg"));
  Config.SaveToFile("");
  EXPECT_EQ(ReadFileBytes(Dir.File("a/b/c/KVAAgent.cfg")), FreshFile);

  test::WriteFileBytes(Dir.File("plainfile"), "x");
  TKvaAgentConfig Blocked(Dir.File("plainfile/KVAAgent.cfg"));
  EXPECT_ANY_THROW(Blocked.SaveToFile(""));
}

TEST_F(ConfigTest, ConcurrentSavesNeverLeaveATornFile) {
  TKvaAgentConfig Config(FileName());
  Config.SaveToFile("");
  std::atomic<bool> Done = false;
  std::atomic<int> BadReads = 0, Reads = 0;
  std::thread Reader([&] {
    while (!Done) {
      const auto Document = nlohmann::json::parse(ReadFileBytes(FileName()), nullptr, false);
      if (!Document.is_object() || Document.size() != 11) ++BadReads;
      ++Reads;
    }
  });
  // The UI thread and an HTTP worker both change and save the configuration.
  std::thread Ui([&] {
    for (int I = 0; I < 200; ++I) {
      Config.SetLastTrack("track-" + std::to_string(I) + std::string(I % 7 * 50, 'x'));
      Config.SaveToFile("");
    }
  });
  std::thread Worker([&] {
    for (int I = 0; I < 200; ++I) {
      Config.SetToken("token-" + std::to_string(I) + std::string(I % 5 * 80, 'y'));
      Config.SaveToFile("");
    }
  });
  Ui.join();
  Worker.join();
  Done = true;
  Reader.join();
  EXPECT_EQ(BadReads, 0) << "of " << Reads << " reads";
  TKvaAgentConfig Final(FileName());
  Final.LoadFromFile("");
  EXPECT_EQ(Final.Token(), Config.Token()) << "the last change is the one kept";
  EXPECT_EQ(Final.LastTrack(), Config.LastTrack());
  for (const auto& Entry : std::filesystem::directory_iterator(Dir.Path())) {
    EXPECT_EQ(Entry.path().filename(), "KVAAgent.cfg") << "no temporary file is left behind";
  }
}

TEST(ConfigFileForTest, TheExtensionIsReplacedOrAppended) {
  EXPECT_EQ(TConfigBase::ConfigFileFor("/opt/kva/KVAAgent"), "/opt/kva/KVAAgent.cfg");
  EXPECT_EQ(TConfigBase::ConfigFileFor("/opt/kva/KVAAgent.exe"), "/opt/kva/KVAAgent.cfg");
  EXPECT_EQ(TConfigBase::ConfigFileFor("/opt/kva.v2/Renamed.bin"), "/opt/kva.v2/Renamed.cfg");
  EXPECT_EQ(TConfigBase::JsonKey("FZmqScaleLinearSingleStep"), "zmqScaleLinearSingleStep");
  EXPECT_EQ(TKvaAgentConfig().GetAppDefaultConfig().substr(TKvaAgentConfig().GetAppDefaultConfig().rfind('/') + 1),
            "kva_agent_tests.cfg");
}

}  // namespace
