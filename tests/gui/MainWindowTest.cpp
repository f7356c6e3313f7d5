#include <gtest/gtest.h>

#include <thread>

#include "GuiTest.h"
#include "TestUtil.h"
#include "agent/frmKvaAgent3.h"
#include "platform/MainThread.h"

using namespace kva;
using namespace kva::test;

namespace {

class MainWindowTest : public GuiTest {
protected:
  std::string ConfigFile() const { return Dir.File("KVAAgent.cfg"); }
  TTempDir Dir;
};

TEST_F(MainWindowTest, StartsWithTheControlStripAsDesigned) {
  TfrmKvaAgent3 Form(*Application, {ConfigFile()});
  EXPECT_EQ(Form.Caption(), "Kelvara Agent v3.0.0.0");
  EXPECT_EQ(Form.ClientWidth(), 591);
  EXPECT_EQ(Form.ClientHeight(), 480);

  struct TPlace {
    TControl* Control;
    float X, Y, Width, Height;
  };
  const TPlace Places[] = {
      {Form.ButtonSignin, 8, 8, 65, 22},        {Form.EditTrack, 80, 8, 100, 22},
      {Form.EditCar, 184, 8, 100, 22},          {Form.ButtonNewSession, 288, 8, 89, 22},
      {Form.cbZMQ, 392, 10, 57, 19},            {Form.cbAI, 456, 10, 41, 19},
      {Form.Label1, 8, 36, 574, 55},            {Form.TrackBarSteering, 0, 96, 225, 19},
      {Form.ProgressBarBraking, 240, 97, 129, 17}, {Form.ProgressBarThrottle, 376, 97, 129, 17},
      {Form.LabelButtons, 512, 96, 72, 17},
  };
  for (const TPlace& Place : Places) {
    EXPECT_EQ(std::vector<float>({Place.Control->X(), Place.Control->Y(), Place.Control->Width(),
                                  Place.Control->Height()}),
              std::vector<float>({Place.X, Place.Y, Place.Width, Place.Height}))
        << Place.Control->Name();
  }
  EXPECT_EQ(Form.ButtonSignin->Text(), "Sign In");
  EXPECT_EQ(Form.ButtonNewSession->Text(), "New Session");
  EXPECT_FALSE(Form.ButtonNewSession->Enabled());
  // Without a configuration file the boxes start empty: their design texts do not survive.
  EXPECT_EQ(Form.EditTrack->Text(), "");
  EXPECT_EQ(Form.EditTrack->TextPrompt(), "Track");
  EXPECT_EQ(Form.EditCar->Text(), "");
  EXPECT_FALSE(Form.cbZMQ->IsChecked());
  EXPECT_EQ(Form.cbZMQ->Hint(), "Enable ZeroMQ connection with Python application");
  EXPECT_EQ(Form.cbAI->Hint(), "Enable AI commands from Python application to drive the car");
  EXPECT_EQ(Form.TrackBarSteering->Min(), -1);
  EXPECT_EQ(Form.TrackBarSteering->Max(), 1);
  EXPECT_EQ(Form.ProgressBarThrottle->Max(), 100);
  EXPECT_EQ(Form.Label1->Text(), "DISCONNECTED; \r\nCmd: \r\nTelmetry: ");
  EXPECT_EQ(Form.Config().ZmqFrameWidth(), 160);
  EXPECT_EQ(Form.Config().ZmqFrameHeight(), 80);
}

TEST_F(MainWindowTest, LoadsTheSavedSettings) {
  WriteFileBytes(ConfigFile(), R"({"email":"driver@example.com","lastTrack":"arvel","lastCar":"arvel_02",)"
                               R"("zmqFrameWidth":0,"zmqFrameHeight":480})");
  TfrmKvaAgent3 Form(*Application, {ConfigFile()});
  EXPECT_EQ(Form.EditTrack->Text(), "arvel");
  EXPECT_EQ(Form.EditCar->Text(), "arvel_02");
  EXPECT_EQ(Form.Caption(), "Kelvara Agent v3.0.0.0") << "the caption is built before the e-mail is known";
  EXPECT_EQ(Form.Config().ZmqFrameWidth(), 160) << "a bad saved size becomes 160 x 80, not 160 x 480";
  EXPECT_EQ(Form.Config().ZmqFrameHeight(), 80);
}

TEST_F(MainWindowTest, ManyStateChangesFromOtherThreadsMakeOneRefresh) {
  TfrmKvaAgent3 Form(*Application, {ConfigFile()});
  const uint64_t Before = Form.StatusRefreshCount();
  std::vector<std::thread> Threads;
  for (int T = 0; T < 4; ++T) {
    Threads.emplace_back([&] {
      for (int I = 0; I < 100; ++I) Form.StateChanged();
    });
  }
  for (auto& Thread : Threads) Thread.join();
  MainThread().ProcessDue();
  EXPECT_EQ(Form.StatusRefreshCount(), Before + 1);
  Form.StateChanged();  // on the UI thread the refresh runs at once
  EXPECT_EQ(Form.StatusRefreshCount(), Before + 2);
}

TEST_F(MainWindowTest, DrawsTheStripAndTheFrameTextureFittedBelowIt) {
  TfrmKvaAgent3 Form(*Application, {ConfigFile()});
  Form.Show();
  // A test pattern: red with a one-pixel green border, 1280 x 640 (2:1).
  TFMXTextureBitmap& Bitmap = Form.CarBitmap();
  Bitmap.LockTexture();
  TBitmapData& Data = Bitmap.BitmapData();
  for (int Y = 0; Y < Data.Height(); ++Y) {
    auto* Row = reinterpret_cast<uint32_t*>(Data.Data + Y * Data.Pitch);
    for (int X = 0; X < Data.Width(); ++X) {
      const bool Border = X == 0 || Y == 0 || X == Data.Width() - 1 || Y == Data.Height() - 1;
      Row[X] = Border ? 0xFF00FF00 : 0xFFFF0000;  // BGRA in memory: green or red
    }
  }
  Bitmap.UnlockTexture();

  const std::vector<uint8_t> Pixels = Form.ReadPixels();
  ASSERT_EQ(Pixels.size(), size_t{591 * 480 * 4});
  const auto At = [&](int AX, int AY) { return PixelAt(Pixels, 591, AX, AY); };
  const TPixel Red{255, 0, 0}, Background = At(300, 140);

  // The strip: its background, the enabled "Sign In" button, the text of the status line.
  const TPixel Strip = At(540, 60);
  EXPECT_NE(Strip, Background);
  EXPECT_NE(At(12, 12), Strip) << "the Sign In button";
  int TextPixels = 0;
  for (int X = 8; X < 100; ++X) TextPixels += At(X, 42) != Strip;
  EXPECT_GT(TextPixels, 10) << "the status text's first line";
  EXPECT_EQ(At(300, 117), Strip) << "the strip is 118 high";

  // 1280 x 640 in 591 x 362 below the strip: rows 151.25 to 446.75, full width.
  EXPECT_NE(At(300, 149), Red);
  EXPECT_EQ(At(300, 149), Background);
  EXPECT_EQ(At(300, 154), Red);
  EXPECT_EQ(At(300, 444), Red);
  EXPECT_EQ(At(1, 300), Red);
  EXPECT_EQ(At(589, 300), Red);
  EXPECT_EQ(At(300, 449), Background);

}

}  // namespace
