// A window whose client area is a 3D scene with an overlay of controls: SDL2 window, OpenGL
// 3.3 core context, Dear ImGui for the controls. The form raises its create, show, render and
// destroy handlers; each redraw raises the render handler with the GL context, then draws the
// overlay and presents the frame. No vsync wait: the render handler alone paces redraws.
// UI thread only, except Invalidate's queued form (InvalidateFromAnyThread).
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Context3D.h"
#include "platform/Controls.h"
#include "platform/Event.h"

struct ImGuiContext;

namespace kva {

// Something drawn over the form's controls, such as a modal dialog.
class IOverlay {
public:
  virtual ~IOverlay() = default;
  virtual void DrawOverlay(const TDrawContext& AContext) = 0;
};

class TForm3D {
public:
  // Creates the window (hidden) and its GL context. Raises std::runtime_error when there is no
  // display or no OpenGL 3.3 core context.
  TForm3D(std::string ACaption, int AClientWidth, int AClientHeight);
  virtual ~TForm3D();
  TForm3D(const TForm3D&) = delete;
  TForm3D& operator=(const TForm3D&) = delete;

  void SetOnCreate(TEvent<void(TForm3D* Sender)> AHandler) { FOnCreate = std::move(AHandler); }
  void SetOnShow(TEvent<void(TForm3D* Sender)> AHandler) { FOnShow = std::move(AHandler); }
  void SetOnDestroy(TEvent<void(TForm3D* Sender)> AHandler) { FOnDestroy = std::move(AHandler); }
  void SetOnRender(TEvent<void(TForm3D* Sender, TContext3D& Context)> AHandler) { FOnRender = std::move(AHandler); }

  // Raises the create handler; called once, after the handlers are bound.
  void Create();
  // Shows the window; the first showing raises the show handler.
  void Show();
  // Raises the destroy handler once; called before the form is freed, while GL still works.
  void Destroy();

  // Asks for a redraw; UI thread.
  void Invalidate() { FInvalidated = true; }
  bool Invalidated() const { return FInvalidated; }
  // Queues Invalidate to the UI thread from any thread (addressed to this form).
  void InvalidateFromAnyThread();
  // One redraw: render handler, overlay, present; then the actions the user posted.
  void Redraw();
  uint64_t RedrawCount() const { return FRedrawCount; }

  // The user asked to close the window (or code did).
  void Close() { FClosing = true; }
  bool Closing() const { return FClosing; }
  void HandleEvent(const SDL_Event& AEvent);

  const std::string& Caption() const { return FCaption; }
  void SetCaption(std::string ACaption);
  int ClientWidth() const { return DrawableSize().x; }
  int ClientHeight() const { return DrawableSize().y; }

  TGLContext3D& Context() { return *FContext; }
  // The controls' strip.
  TLayer3D& AddLayer(std::string AName, float AHeight);
  void AddOverlay(IOverlay* AOverlay);
  void RemoveOverlay(IOverlay* AOverlay);

  // Redraws and returns the client area's pixels as RGBA, top row first.
  std::vector<uint8_t> ReadPixels();
  // Redraws and saves the client area as PNG; false when the file cannot be written.
  bool SaveScreenshot(const std::string& AFileName);

private:
  SDL_Point DrawableSize() const;
  void DrawOverlay();
  void CaptureBackBuffer();

  std::string FCaption;
  SDL_Window* FWindow = nullptr;
  SDL_GLContext FGLContext = nullptr;
  ImGuiContext* FImGui = nullptr;
  std::unique_ptr<TGLContext3D> FContext;
  std::vector<std::unique_ptr<TLayer3D>> FLayers;
  std::vector<IOverlay*> FOverlays;
  std::vector<std::function<void()>> FPostedActions;

  TEvent<void(TForm3D* Sender)> FOnCreate, FOnShow, FOnDestroy;
  TEvent<void(TForm3D* Sender, TContext3D& Context)> FOnRender;
  bool FCreated = false, FShown = false, FDestroyed = false;
  bool FInvalidated = false, FClosing = false;
  uint64_t FRedrawCount = 0;
  bool FCaptureRequested = false;
  std::vector<uint8_t> FCapture;
};

}  // namespace kva
