// The UI application: owns SDL, runs the UI message loop of the main form, its timers, the
// main-thread dispatcher and the idle handler. The loop handles one message at a time: SDL
// events first, then due main-thread calls, then due timers, and a redraw of an invalidated
// form only when nothing else waits (a paint is the lowest-priority message). With nothing to
// do it raises the idle handler and, unless the handler says otherwise, sleeps until the next
// event, timer or due call.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "platform/Event.h"

namespace kva {

class TForm3D;
class TApplication;

class TTimer {
public:
  // Registers with the application; fires OnTimer every AInterval on the UI thread.
  TTimer(TApplication& AApplication, std::chrono::milliseconds AInterval);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  void SetOnTimer(TEvent<void(TTimer* Sender)> AHandler) { FOnTimer = std::move(AHandler); }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AEnabled);
  std::chrono::milliseconds Interval() const { return FInterval; }

private:
  friend class TApplication;
  TApplication& FApplication;
  std::chrono::milliseconds FInterval;
  bool FEnabled = true;
  std::chrono::steady_clock::time_point FDue;
  TEvent<void(TTimer* Sender)> FOnTimer;
};

class TApplication {
public:
  // Initialises SDL's video, events and joystick subsystems and makes the calling thread the
  // main thread. Raises std::runtime_error when there is no display.
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Done starts true; a handler that leaves it true lets the loop sleep until the next message.
  void SetOnIdle(TEvent<void(TApplication* Sender, bool& Done)> AHandler) { FOnIdle = std::move(AHandler); }

  // Shows the main form and runs the loop until the form closes or Terminate is called.
  void Run(TForm3D& AMainForm);
  // Runs the loop until ADone holds (a modal dialog's loop); the main form stays drawn.
  void RunUntil(const std::function<bool()>& ADone);
  // Handles one message, or idles when there is none.
  void HandleMessage();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  TForm3D* MainForm() const { return FMainForm; }
  void SetMainForm(TForm3D* AForm) { FMainForm = AForm; }

private:
  friend class TTimer;
  bool ProcessMessage();
  void Idle();
  void WaitMessage();
  bool FireDueTimer();

  TForm3D* FMainForm = nullptr;
  std::vector<TTimer*> FTimers;
  TEvent<void(TApplication* Sender, bool& Done)> FOnIdle;
  bool FTerminated = false;
  uint32_t FWakeUpEvent = 0;
};

}  // namespace kva
