#include "frmKvaAgent3.h"

#include <chrono>

#include "agent/StatusText.h"
#include "agent/frmKvaSignin.h"
#include "infra/LoggingThread.h"
#include "infra/Win.Utils.h"
#include "infra/perfUtils.h"
#include "platform/MainThread.h"

namespace kva {

namespace {

uint64_t MonotonicTicks() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}
constexpr uint64_t TicksPerSecond = 1'000'000'000;

}  // namespace

TfrmKvaAgent3::TfrmKvaAgent3(TApplication& AApplication, TAgentOptions AOptions)
    : TForm3D("Kelvara Agent v3", DesignClientWidth, DesignClientHeight),
      FApplication(AApplication),
      FOptions(std::move(AOptions)) {
  Layer3D1 = &AddLayer("Layer3D1", StripHeight);
  ButtonSignin = &Layer3D1->Add<TButton>("ButtonSignin", 8, 8, 65, 22, "Sign In");
  ButtonSignin->SetOnClick({this, &TfrmKvaAgent3::ButtonSigninClick});
  EditTrack = &Layer3D1->Add<TEdit>("EditTrack", 80, 8, "molvik", "Track");
  EditCar = &Layer3D1->Add<TEdit>("EditCar", 184, 8, "molvik_i8_01");
  ButtonNewSession = &Layer3D1->Add<TButton>("ButtonNewSession", 288, 8, 89, 22, "New Session");
  ButtonNewSession->SetEnabled(false);
  cbZMQ = &Layer3D1->Add<TCheckBox>("cbZMQ", 392, 10, 57, 19, "ZMQ", "Enable ZeroMQ connection with Python application");
  cbAI = &Layer3D1->Add<TCheckBox>("cbAI", 456, 10, 41, 19, "AI",
                                   "Enable AI commands from Python application to drive the car");
  Label1 = &Layer3D1->Add<TLabel>("Label1", 8, 36, 574, 55);
  TrackBarSteering = &Layer3D1->Add<TRangeBar>("TrackBarSteering", TRangeBar::TKind::TrackBar, 0, 96, 225, 19, -1, 1);
  ProgressBarBraking =
      &Layer3D1->Add<TRangeBar>("ProgressBarBraking", TRangeBar::TKind::ProgressBar, 240, 97, 129, 17, 0, 100);
  ProgressBarThrottle =
      &Layer3D1->Add<TRangeBar>("ProgressBarThrottle", TRangeBar::TKind::ProgressBar, 376, 97, 129, 17, 0, 100);
  LabelButtons = &Layer3D1->Add<TLabel>("LabelButtons", 512, 96, 72, 17);
  Timer1 = std::make_unique<TTimer>(FApplication, std::chrono::milliseconds(10));
  Timer1->SetOnTimer({this, &TfrmKvaAgent3::Timer1Timer});

  SetOnCreate({this, &TfrmKvaAgent3::Form3DCreate});
  SetOnShow({this, &TfrmKvaAgent3::Form3DShow});
  SetOnDestroy({this, &TfrmKvaAgent3::Form3DDestroy});
  SetOnRender({this, &TfrmKvaAgent3::Form3DRender});
  Create();
}

TfrmKvaAgent3::~TfrmKvaAgent3() { Destroy(); }

void TfrmKvaAgent3::Form3DCreate(TForm3D* Sender) {
  int Major, Minor, Release, Build;
  if (GetModuleVersion(0, Major, Minor, Release, Build)) {
    FVersionStr = "v" + std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
                  std::to_string(Build);
  }
  UpdateCaption();
  Log("TfrmKvaAgent3", "Started " + FVersionStr);

  FConfig = std::make_unique<TKvaAgentConfig>(FOptions.ConfigFileName);
  FConfig->LoadFromFile("");
  SetUserEmail(FConfig->Email());
  EditTrack->SetText(FConfig->LastTrack());
  EditCar->SetText(FConfig->LastCar());
  if (FConfig->ZmqFrameWidth() < 1 || FConfig->ZmqFrameHeight() < 1) {
    FConfig->SetZmqFrameWidth(160);
    FConfig->SetZmqFrameHeight(80);
  }
  SetTimerResolutionFinest();
  FWaitForFrame = std::make_unique<TAutoResetEvent>();

  FCarBitmap = std::make_unique<TFMXTextureBitmap>(PIXELFORMAT_ABGR, true, TMultisample::None);
  FCarBitmap->SetSize(1280, 640);
  FCarBitmap->ApplyContext(Context());
  FCarBitmap->LockTexture();
  PaintNoVideoPicture(FCarBitmap->BitmapData());
  FCarBitmap->UnlockTexture();

  FApplication.SetOnIdle({this, &TfrmKvaAgent3::DoOnIdle});
  FFrameDelay = 28;
  FSignalingManager = std::make_unique<TKvaSignalingManager>(GetComputerName(), FOptions.Service);
  FSignalingManager->SetOnConnectionChanged({this, &TfrmKvaAgent3::DoOnConnectionStateChanged});
  FSignalingManager->SetOnRefreshTokenChanged({this, &TfrmKvaAgent3::DoOnRefreshTokenChanged});
  cbZMQ->SetIsChecked(FConfig->ZmqEnabled());
  UpdateState();
}

void TfrmKvaAgent3::Form3DShow(TForm3D* Sender) {
  const std::string Token = FConfig->Token();
  if (!Token.empty()) FSignalingManager->ConnectWithRefreshToken(Token);
}

void TfrmKvaAgent3::Form3DDestroy(TForm3D* Sender) {
  FApplication.SetOnIdle({});
  FSignalingManager->Disconnect();
  FSignalingManager.reset();
  FCarBitmap.reset();
  FWaitForFrame.reset();
  MainThread().Withdraw(this);
  FConfig.reset();
}

void TfrmKvaAgent3::Timer1Timer(TTimer* Sender) {
  // Nothing: the timer only keeps the message loop ticking every 10 ms.
}

void TfrmKvaAgent3::DoOnIdle(TApplication* Sender, bool& Done) { Invalidate(); }

void TfrmKvaAgent3::Form3DRender(TForm3D* Sender, TContext3D& Context) {
  auto* GLContext = dynamic_cast<TGLContext3D*>(&Context);
  if (!GLContext) return;
  WaitForFrame();
  GLContext->BeginScene2D();
  RenderVideoFrame(*GLContext, FCarBitmap->TextureMaterial(), Layer3D1->Height());
  GLContext->EndScene2D();
}

void TfrmKvaAgent3::WaitForFrame() {
  const uint64_t Elapsed = (MonotonicTicks() - FLastFrameTime) * 1000 / TicksPerSecond;
  const uint64_t Delay = static_cast<uint64_t>(FFrameDelay);
  const uint64_t Wait = Elapsed >= Delay ? 0 : Delay - Elapsed;
  FWaitForFrame->WaitFor(std::chrono::milliseconds(Wait));
  FLastFrameTime = MonotonicTicks();
}

void TfrmKvaAgent3::RenderVideoFrame(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, float AOffsetY) {
  const TTexture& Texture = *ATextureMaterial.Texture;
  TVideoFit Fit;
  if (!FitVideo(static_cast<float>(Texture.Width()), static_cast<float>(Texture.Height()),
                static_cast<float>(Context.Width()), static_cast<float>(Context.Height()), AOffsetY, Fit)) {
    return;
  }
  RenderTexture(Context, ATextureMaterial, Fit.Source, Fit.Destination);
}

void TfrmKvaAgent3::RenderTexture(TGLContext3D& Context, TTextureMaterial& ATextureMaterial, const TRectF& ASrcRect,
                                  const TRectF& ADstRect) {
  const TTexturedVertex Vertices[4] = {
      {ADstRect.Left, ADstRect.Top, 0, ASrcRect.Left, ASrcRect.Top},
      {ADstRect.Right, ADstRect.Top, 0, ASrcRect.Right, ASrcRect.Top},
      {ADstRect.Right, ADstRect.Bottom, 0, ASrcRect.Right, ASrcRect.Bottom},
      {ADstRect.Left, ADstRect.Bottom, 0, ASrcRect.Left, ASrcRect.Bottom},
  };
  const uint16_t Indices[6] = {0, 1, 3, 3, 1, 2};
  Context.DrawTexturedTriangles(Vertices, Indices, ATextureMaterial.Texture->Handle(), 1.0f);
}

void TfrmKvaAgent3::StateChanged() {
  if (FStateChanged.exchange(true)) return;  // a refresh is queued and will show the newest state
  MainThread().Queue(this, [this] { UpdateState(); });
}

void TfrmKvaAgent3::UpdateState() {
  FStateChanged = false;
  ++FStatusRefreshCount;
  Label1->SetText(BuildStatusText(FSignalingManager->ConnectionState(), std::nullopt, std::nullopt, FLastCommand,
                                  FDataChannelString));
}

void TfrmKvaAgent3::UpdateCaption() { SetCaption(BuildCaption(FVersionStr, UserEmail())); }

std::string TfrmKvaAgent3::UserEmail() const {
  std::lock_guard Lock(FUserEmailLock);
  return FUserEmail;
}

void TfrmKvaAgent3::SetUserEmail(std::string AEmail) {
  std::lock_guard Lock(FUserEmailLock);
  FUserEmail = std::move(AEmail);
}

void TfrmKvaAgent3::ButtonSigninClick(TControl* Sender) {
  if (FSignalingManager->ConnectionState() == TKvaConnectionState::CONNECTED) {
    FSignalingManager->Disconnect();
    FConfig->SetToken("");  // reaches the file with the next save
    ButtonSignin->SetText("Sign in");
    return;
  }
  TFrmKvaSignin Dialog(*this, FApplication);
  Dialog.EditEmail.SetText(FConfig->Email());
  if (Dialog.ShowModal() == TModalResult::mrOk) {
    SetUserEmail(Dialog.EditEmail.Text());
    FSignalingManager->SignInWithEmailAndPassword(Dialog.EditEmail.Text(), Dialog.EditPassword.Text());
  }
}

void TfrmKvaAgent3::DoOnConnectionStateChanged(TKvaSignalingManager* Sender) {
  MainThread().Queue(this, [this] { DoOnConnectionStateChangedSync(); });
}

void TfrmKvaAgent3::DoOnConnectionStateChangedSync() {
  if (FSignalingManager->ConnectionState() == TKvaConnectionState::CONNECTED) {
    ButtonNewSession->SetEnabled(true);
    ButtonSignin->SetText("Sign out");
    UpdateCaption();
  }
  StateChanged();
}

void TfrmKvaAgent3::DoOnRefreshTokenChanged(TKvaSignalingManager* Sender) {
  FConfig->SetEmail(UserEmail());
  FConfig->SetToken(Sender->RefreshToken());
  try {
    FConfig->SaveToFile("");
  } catch (const std::exception& E) {
    Log("TfrmKvaAgent3", std::string("Cannot save the configuration: ") + E.what());
  }
}

}  // namespace kva
