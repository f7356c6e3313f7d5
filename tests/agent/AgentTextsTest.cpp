#include <gtest/gtest.h>

#include "agent/CommandLine.h"
#include "agent/StatusText.h"
#include "agent/VideoFit.h"

using namespace kva;

TEST(CommandLineTest, DebugSwitchAnywhereKeepsTheConsole) {
  struct TCase {
    std::vector<const char*> Arguments;
    bool Hide;
  };
  const TCase Cases[] = {
      {{"KVAAgent"}, true},
      {{"KVAAgent", "-d"}, false},
      {{"KVAAgent", "-D"}, false},
      {{"KVAAgent", "x", "y", "-d"}, false},
      {{"KVAAgent", "-dd"}, true},
      {{"KVAAgent", "d"}, true},
      {{"KVAAgent", "--d"}, true},
      {{"KVAAgent", "/d"}, true},
      {{"-d"}, true},  // the program's own name is not an argument
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(ShouldHideDebugConsole(static_cast<int>(Case.Arguments.size()), Case.Arguments.data()), Case.Hide)
        << Case.Arguments.back();
  }
}

TEST(StatusTextTest, ThreeLinesForTheStatesThatExist) {
  EXPECT_EQ(BuildStatusText(TKvaConnectionState::DISCONNECTED, std::nullopt, std::nullopt, "", ""),
            "DISCONNECTED; \r\nCmd: \r\nTelmetry: ");
  EXPECT_EQ(BuildStatusText(TKvaConnectionState::CONNECTED, TKvaSignalingSessionState::Queued, std::nullopt, "", ""),
            "CONNECTED; Queued; \r\nCmd: \r\nTelmetry: ");
  EXPECT_EQ(BuildStatusText(TKvaConnectionState::CONNECTED, TKvaSignalingSessionState::RemoteSession,
                            "GST_WEBRTC_PEER_CONNECTION_STATE_NEW", R"({"p":1})", R"({"v":2})"),
            "CONNECTED; RemoteSession; GST_WEBRTC_PEER_CONNECTION_STATE_NEW\r\nCmd: {\"p\":1}\r\nTelmetry: {\"v\":2}");
  EXPECT_EQ(BuildStatusText(TKvaConnectionState::DISCONNECTING, std::nullopt, "Not initialized", "", ""),
            "DISCONNECTING; Not initialized\r\nCmd: \r\nTelmetry: ");
}

TEST(StatusTextTest, CaptionWithVersionAndEmail) {
  EXPECT_EQ(BuildCaption("v3.0.12.0", ""), "Kelvara Agent v3.0.12.0");
  EXPECT_EQ(BuildCaption("v3.0.12.0", "driver@example.com"), "Kelvara Agent v3.0.12.0 - driver@example.com");
  EXPECT_EQ(BuildCaption("", ""), "Kelvara Agent ");
}

TEST(VideoFitTest, FillsTheWidthAndKeepsTheProportions) {
  struct TCase {
    const char* Name;
    float TextureWidth, TextureHeight, ContextWidth, ContextHeight;
    TRectF Source, Destination;
  };
  const TCase Cases[] = {
      // 2:1 picture, area 591 x 362 below the strip: full width, centred, bands above and below.
      {"wider", 1280, 640, 591, 480, {0, 0, 1, 1}, {0, 151.25f, 591, 446.75f}},
      // 4:3 picture in a wide area 800 x 300: full width, the middle band of the picture.
      {"taller", 640, 480, 800, 418, {0, 0.25f, 1, 0.75f}, {0, 118, 800, 418}},
      // Same proportions: the whole picture over the whole area.
      {"equal", 1000, 500, 1000, 618, {0, 0, 1, 1}, {0, 118, 1000, 618}},
  };
  for (const TCase& Case : Cases) {
    TVideoFit Fit;
    ASSERT_TRUE(FitVideo(Case.TextureWidth, Case.TextureHeight, Case.ContextWidth, Case.ContextHeight, 118, Fit));
    const auto Near = [&](const TRectF& A, const TRectF& B) {
      EXPECT_NEAR(A.Left, B.Left, 1e-4) << Case.Name;
      EXPECT_NEAR(A.Top, B.Top, 1e-4) << Case.Name;
      EXPECT_NEAR(A.Right, B.Right, 1e-4) << Case.Name;
      EXPECT_NEAR(A.Bottom, B.Bottom, 1e-4) << Case.Name;
    };
    Near(Fit.Source, Case.Source);
    Near(Fit.Destination, Case.Destination);
  }
}

TEST(VideoFitTest, NothingToDrawIntoOrNoPicture) {
  TVideoFit Fit;
  EXPECT_FALSE(FitVideo(1280, 640, 591, 118, 118, Fit)) << "no room below the strip";
  EXPECT_FALSE(FitVideo(1280, 640, 0, 480, 118, Fit)) << "no width";
  EXPECT_FALSE(FitVideo(0, 0, 591, 480, 118, Fit)) << "no picture";
}
