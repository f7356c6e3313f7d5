#include "Application.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <stdexcept>

#include "platform/Form3D.h"
#include "platform/MainThread.h"

namespace kva {

using Clock = std::chrono::steady_clock;

TTimer::TTimer(TApplication& AApplication, std::chrono::milliseconds AInterval)
    : FApplication(AApplication), FInterval(AInterval), FDue(Clock::now() + AInterval) {
  FApplication.FTimers.push_back(this);
}

TTimer::~TTimer() { std::erase(FApplication.FTimers, this); }

void TTimer::SetEnabled(bool AEnabled) {
  if (AEnabled && !FEnabled) FDue = Clock::now() + FInterval;
  FEnabled = AEnabled;
}

TApplication::TApplication() {
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) != 0) {
    throw std::runtime_error(std::string("Cannot initialise SDL: ") + SDL_GetError());
  }
  FWakeUpEvent = SDL_RegisterEvents(1);
  MainThread().BindToCurrentThread();
  // A call queued from another thread wakes the loop from its sleep.
  MainThread().SetWakeUp([Type = FWakeUpEvent] {
    SDL_Event Event{};
    Event.type = Type;
    SDL_PushEvent(&Event);
  });
}

TApplication::~TApplication() {
  MainThread().SetWakeUp(nullptr);
  MainThread().Shutdown();
  SDL_Quit();
}

void TApplication::Run(TForm3D& AMainForm) {
  FMainForm = &AMainForm;
  AMainForm.Show();
  while (!FTerminated && !AMainForm.Closing()) HandleMessage();
}

void TApplication::RunUntil(const std::function<bool()>& ADone) {
  while (!FTerminated && !ADone() && !(FMainForm && FMainForm->Closing())) HandleMessage();
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) Idle();
}

bool TApplication::ProcessMessage() {
  SDL_Event Event;
  if (SDL_PollEvent(&Event)) {
    if (Event.type == SDL_QUIT) {
      if (FMainForm) FMainForm->Close();
      FTerminated = true;
    } else if (FMainForm && Event.type != FWakeUpEvent) {
      FMainForm->HandleEvent(Event);
    }
    return true;
  }
  if (MainThread().ProcessDue() > 0) return true;
  if (FireDueTimer()) return true;
  if (FMainForm && FMainForm->Invalidated()) {
    FMainForm->Redraw();
    return true;
  }
  return false;
}

bool TApplication::FireDueTimer() {
  const auto Now = Clock::now();
  for (TTimer* Timer : FTimers) {
    if (Timer->FEnabled && Timer->FDue <= Now) {
      Timer->FDue = Now + Timer->FInterval;
      Timer->FOnTimer(Timer);
      return true;
    }
  }
  return false;
}

void TApplication::Idle() {
  bool Done = true;
  FOnIdle(this, Done);
  if (Done) WaitMessage();
}

void TApplication::WaitMessage() {
  if (FMainForm && FMainForm->Invalidated()) return;  // a paint is waiting
  auto Timeout = std::chrono::milliseconds(1000);
  const auto Now = Clock::now();
  for (TTimer* Timer : FTimers) {
    if (Timer->FEnabled) {
      Timeout = std::min(Timeout, std::chrono::ceil<std::chrono::milliseconds>(std::max(Timer->FDue - Now, Clock::duration{})));
    }
  }
  if (const auto NextCall = MainThread().TimeToNextDue()) {
    Timeout = std::min(Timeout, std::chrono::ceil<std::chrono::milliseconds>(*NextCall));
  }
  SDL_WaitEventTimeout(nullptr, static_cast<int>(Timeout.count()));
}

}  // namespace kva
