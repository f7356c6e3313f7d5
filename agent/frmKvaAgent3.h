// The agent's one window. It owns every long-lived object of the agent and runs the render
// cycle that drives it: the idle handler invalidates, and each redraw waits for a new video
// frame or the 28 ms frame delay, draws the frame texture below the control strip, then runs
// one pass of the driving command loop. UI thread, except StateChanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/KvaAgentConfig.h"
#include "agent/VideoFit.h"
#include "platform/Application.h"
#include "platform/Form3D.h"
#include "platform/SyncObjects.h"
#include "video/FMXTextureBitmap.h"

namespace kva {

class TfrmKvaAgent3 : public TForm3D {
public:
  static constexpr int DesignClientWidth = 591, DesignClientHeight = 480;
  static constexpr float StripHeight = 118;

  // Creates the window and runs its creation (Form3DCreate). AConfigFileName replaces the
  // configuration file beside the executable (tests use it).
  explicit TfrmKvaAgent3(TApplication& AApplication, std::string AConfigFileName = {});
  // Runs the window's destruction (Form3DDestroy) first.
  ~TfrmKvaAgent3() override;

  // Requests a refresh of the status text; any thread. Refreshes requested before the UI
  // thread gets to it are merged into one.
  void StateChanged();
  void UpdateState();
  void UpdateCaption();

  // The controls of the strip.
  TLayer3D* Layer3D1;
  TButton* ButtonSignin;
  TEdit* EditTrack;
  TEdit* EditCar;
  TButton* ButtonNewSession;
  TCheckBox* cbZMQ;
  TCheckBox* cbAI;
  TLabel* Label1;
  TRangeBar* TrackBarSteering;
  TRangeBar* ProgressBarBraking;
  TRangeBar* ProgressBarThrottle;
  TLabel* LabelButtons;

  const std::string& VersionStr() const { return FVersionStr; }
  TKvaAgentConfig& Config() { return *FConfig; }
  TFMXTextureBitmap& CarBitmap() { return *FCarBitmap; }
  uint64_t StatusRefreshCount() const { return FStatusRefreshCount; }

private:
  void Form3DCreate(TForm3D* Sender);
  void Form3DShow(TForm3D* Sender);
  void Form3DDestroy(TForm3D* Sender);
  void Form3DRender(TForm3D* Sender, TContext3D& Context);
  void Timer1Timer(TTimer* Sender);
  void DoOnIdle(TApplication* Sender, bool& Done);

  // Video presentation.
  void WaitForFrame();
  void RenderVideoFrame(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, float AOffsetY);
  void RenderTexture(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, const TRectF& ASrcRect,
                     const TRectF& ADstRect);

  TApplication& FApplication;
  std::string FConfigFileName;
  std::unique_ptr<TTimer> Timer1;

  std::unique_ptr<TKvaAgentConfig> FConfig;
  std::string FUserEmail;
  std::string FVersionStr;
  std::unique_ptr<TFMXTextureBitmap> FCarBitmap;
  std::unique_ptr<TAutoResetEvent> FWaitForFrame;
  int32_t FFrameDelay = 0;
  uint64_t FLastFrameTime = 0;  // monotonic clock, ns, when the previous frame wait ended
  std::atomic<bool> FStateChanged = false;
  uint64_t FStatusRefreshCount = 0;
  std::string FLastCommand;
  std::string FDataChannelString;
};

}  // namespace kva
