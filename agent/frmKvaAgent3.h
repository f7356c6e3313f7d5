// The agent's one window. It owns every long-lived object of the agent and runs the render
// cycle that drives it: the idle handler invalidates, and each redraw waits for a new video
// frame or the 28 ms frame delay, draws the frame texture below the control strip, then runs
// one pass of the driving command loop. UI thread, except StateChanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Shared/KvaServiceSettings.h"
#include "Shared/libKVASignalingClient3.h"
#include "agent/KvaAgentConfig.h"
#include "agent/VideoFit.h"
#include "platform/Application.h"
#include "platform/Form3D.h"
#include "platform/SyncObjects.h"
#include "video/FMXTextureBitmap.h"

namespace kva {

// What the window is created with; the defaults are those of the installed program.
struct TAgentOptions {
  std::string ConfigFileName;  // empty: the file beside the executable
  TKvaServiceSettings Service = TKvaServiceSettings::FromEnvironment();
};

class TfrmKvaAgent3 : public TForm3D {
public:
  static constexpr int DesignClientWidth = 591, DesignClientHeight = 480;
  static constexpr float StripHeight = 118;

  // Creates the window and runs its creation (Form3DCreate).
  explicit TfrmKvaAgent3(TApplication& AApplication, TAgentOptions AOptions = {});
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

  // Sign in with the dialog, or sign out when connected.
  void ButtonSigninClick(TControl* Sender);

  const std::string& VersionStr() const { return FVersionStr; }
  TKvaAgentConfig& Config() { return *FConfig; }
  TKvaSignalingManager& SignalingManager() { return *FSignalingManager; }
  TFMXTextureBitmap& CarBitmap() { return *FCarBitmap; }
  uint64_t StatusRefreshCount() const { return FStatusRefreshCount; }

private:
  void Form3DCreate(TForm3D* Sender);
  void Form3DShow(TForm3D* Sender);
  void Form3DDestroy(TForm3D* Sender);
  void Form3DRender(TForm3D* Sender, TContext3D& Context);
  void Timer1Timer(TTimer* Sender);
  void DoOnIdle(TApplication* Sender, bool& Done);

  // Service client events: the connection state (any thread, handled on the UI thread) and a
  // new refresh token (saved on the thread that reports it).
  void DoOnConnectionStateChanged(TKvaSignalingManager* Sender);
  void DoOnConnectionStateChangedSync();
  void DoOnRefreshTokenChanged(TKvaSignalingManager* Sender);
  std::string UserEmail() const;
  void SetUserEmail(std::string AEmail);

  // Video presentation.
  void WaitForFrame();
  void RenderVideoFrame(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, float AOffsetY);
  void RenderTexture(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, const TRectF& ASrcRect,
                     const TRectF& ADstRect);

  TApplication& FApplication;
  TAgentOptions FOptions;
  std::unique_ptr<TTimer> Timer1;

  std::unique_ptr<TKvaAgentConfig> FConfig;
  mutable std::mutex FUserEmailLock;  // the e-mail is also read on the thread that saves a new token
  std::string FUserEmail;
  std::string FVersionStr;
  std::unique_ptr<TKvaSignalingManager> FSignalingManager;
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
