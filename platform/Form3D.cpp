#include "Form3D.h"

#include <algorithm>
#include <stdexcept>

#include "backends/imgui_impl_opengl3.h"
#include "backends/imgui_impl_sdl.h"
#include "imgui.h"
#include "platform/MainThread.h"
#include "stb_image_write.h"

namespace kva {

namespace {

[[noreturn]] void RaiseSdlError(const char* AWhat) { throw std::runtime_error(std::string(AWhat) + ": " + SDL_GetError()); }

}  // namespace

TForm3D::TForm3D(std::string ACaption, int AClientWidth, int AClientHeight) : FCaption(std::move(ACaption)) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  FWindow = SDL_CreateWindow(FCaption.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, AClientWidth,
                             AClientHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (!FWindow) RaiseSdlError("Cannot create the window");
  FGLContext = SDL_GL_CreateContext(FWindow);
  if (!FGLContext) {
    SDL_DestroyWindow(FWindow);
    RaiseSdlError("Cannot create the OpenGL 3.3 context");
  }
  SDL_GL_MakeCurrent(FWindow, FGLContext);
  SDL_GL_SetSwapInterval(0);  // never wait for the display: the render handler paces redraws

  IMGUI_CHECKVERSION();
  FImGui = ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;  // Tab moves through every control
  ImGui::StyleColorsDark();
  ImGui_ImplSDL2_InitForOpenGL(FWindow, FGLContext);
  ImGui_ImplOpenGL3_Init("#version 330 core");

  FContext = std::make_unique<TGLContext3D>();
  FContext->SetSize(AClientWidth, AClientHeight);
}

TForm3D::~TForm3D() {
  MainThread().Withdraw(this);
  FContext.reset();
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext(FImGui);
  SDL_GL_DeleteContext(FGLContext);
  SDL_DestroyWindow(FWindow);
}

void TForm3D::Create() {
  if (FCreated) return;
  FCreated = true;
  FOnCreate(this);
}

void TForm3D::Show() {
  SDL_ShowWindow(FWindow);
  Invalidate();
  if (FShown) return;
  FShown = true;
  FOnShow(this);
}

void TForm3D::Destroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  FOnDestroy(this);
}

void TForm3D::InvalidateFromAnyThread() {
  MainThread().Queue(this, [this] { Invalidate(); });
}

void TForm3D::SetCaption(std::string ACaption) {
  FCaption = std::move(ACaption);
  SDL_SetWindowTitle(FWindow, FCaption.c_str());
}

SDL_Point TForm3D::DrawableSize() const {
  SDL_Point Size{0, 0};
  SDL_GL_GetDrawableSize(FWindow, &Size.x, &Size.y);
  return Size;
}

TLayer3D& TForm3D::AddLayer(std::string AName, float AHeight) {
  FLayers.push_back(std::make_unique<TLayer3D>(std::move(AName), AHeight));
  return *FLayers.back();
}

void TForm3D::AddOverlay(IOverlay* AOverlay) { FOverlays.push_back(AOverlay); }

void TForm3D::RemoveOverlay(IOverlay* AOverlay) { std::erase(FOverlays, AOverlay); }

void TForm3D::HandleEvent(const SDL_Event& AEvent) {
  ImGui_ImplSDL2_ProcessEvent(&AEvent);
  if (AEvent.type == SDL_WINDOWEVENT && AEvent.window.windowID == SDL_GetWindowID(FWindow)) {
    if (AEvent.window.event == SDL_WINDOWEVENT_CLOSE) Close();
    if (AEvent.window.event == SDL_WINDOWEVENT_EXPOSED || AEvent.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
      Invalidate();
    }
  }
}

void TForm3D::Redraw() {
  FInvalidated = false;
  ++FRedrawCount;
  SDL_GL_MakeCurrent(FWindow, FGLContext);
  const SDL_Point Size = DrawableSize();  // asked once per redraw
  FContext->SetSize(Size.x, Size.y);
  glViewport(0, 0, FContext->Width(), FContext->Height());
  glClearColor(0.06f, 0.07f, 0.08f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);

  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplSDL2_NewFrame();
  ImGui::NewFrame();
  FOnRender(this, *FContext);
  DrawOverlay();
  ImGui::Render();
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  if (FCaptureRequested) {
    FCaptureRequested = false;
    CaptureBackBuffer();
  }
  SDL_GL_SwapWindow(FWindow);

  // What the user did while this frame was drawn runs now, outside the drawing.
  std::vector<std::function<void()>> Actions;
  Actions.swap(FPostedActions);
  for (auto& Action : Actions) Action();
}

void TForm3D::DrawOverlay() {
  const ImVec2 Size(static_cast<float>(FContext->Width()), static_cast<float>(FContext->Height()));
  ImGui::SetNextWindowPos(ImVec2(0, 0));
  ImGui::SetNextWindowSize(Size);
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  ImGui::Begin("##form", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoMove |
                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus |
                   ImGuiWindowFlags_NoScrollWithMouse);
  ImGui::PopStyleVar();
  TDrawContext Context;
  Context.ParentWidth = Size.x;
  Context.ParentHeight = Size.y;
  Context.PostedActions = &FPostedActions;
  for (const auto& Layer : FLayers) Layer->Draw(Context);
  for (IOverlay* Overlay : FOverlays) Overlay->DrawOverlay(Context);
  ImGui::End();
}

std::vector<uint8_t> TForm3D::ReadPixels() {
  // The front buffer is not kept after presenting, so the pixels come from a redraw's back
  // buffer just before it is presented.
  FCapture.clear();
  FCaptureRequested = true;
  Redraw();
  return std::move(FCapture);
}

void TForm3D::CaptureBackBuffer() {
  const int Width = FContext->Width(), Height = FContext->Height();
  FCapture.resize(static_cast<size_t>(Width) * Height * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, Width, Height, GL_RGBA, GL_UNSIGNED_BYTE, FCapture.data());
  // The window has no meaningful alpha: the picture is opaque.
  for (size_t I = 3; I < FCapture.size(); I += 4) FCapture[I] = 255;
  // GL's rows run bottom to top.
  const size_t Row = static_cast<size_t>(Width) * 4;
  for (int Y = 0; Y < Height / 2; ++Y) {
    std::swap_ranges(FCapture.begin() + Y * Row, FCapture.begin() + (Y + 1) * Row,
                     FCapture.begin() + (Height - 1 - Y) * Row);
  }
}

bool TForm3D::SaveScreenshot(const std::string& AFileName) {
  const std::vector<uint8_t> Pixels = ReadPixels();
  return stbi_write_png(AFileName.c_str(), FContext->Width(), FContext->Height(), 4, Pixels.data(),
                        FContext->Width() * 4) != 0;
}

}  // namespace kva
