#include "frmKvaSignin.h"

#include "imgui.h"

namespace kva {

namespace {
constexpr const char* Caption = "Kelvara Sign in";
}

TFrmKvaSignin::TFrmKvaSignin(TForm3D& AOwner, TApplication& AApplication) : FOwner(AOwner), FApplication(AApplication) {
  EditPassword.SetPassword(true);
  Button1.SetOnClick(TEvent<void(TControl*)>([this](TControl*) { Close(TModalResult::mrOk); }));
  Button2.SetOnClick(TEvent<void(TControl*)>([this](TControl*) { Close(TModalResult::mrCancel); }));
}

TFrmKvaSignin::~TFrmKvaSignin() { FOwner.RemoveOverlay(this); }

TModalResult TFrmKvaSignin::ShowModal() {
  FModalResult = TModalResult::mrNone;
  FShown = FClosed = false;
  EditPassword.SetFocus();
  FOwner.AddOverlay(this);
  FOwner.Invalidate();
  // The loop runs until the dialog has closed on screen, so that no popup stays open behind it.
  FApplication.RunUntil([this] { return FModalResult != TModalResult::mrNone && (FClosed || !FShown); });
  FOwner.RemoveOverlay(this);
  if (FModalResult == TModalResult::mrNone) FModalResult = TModalResult::mrCancel;  // the window closed
  return FModalResult;
}

void TFrmKvaSignin::Close(TModalResult AResult) {
  if (FModalResult == TModalResult::mrNone) FModalResult = AResult;
  FOwner.Invalidate();
}

void TFrmKvaSignin::DrawOverlay(const TDrawContext& AContext) {
  if (!FShown) {
    ImGui::OpenPopup(Caption);
    FShown = true;
  }
  const float TitleHeight = ImGui::GetFrameHeight();
  ImGui::SetNextWindowSize(ImVec2(ClientWidth, ClientHeight + TitleHeight));
  ImGui::SetNextWindowPos(ImVec2(AContext.ParentWidth / 2, AContext.ParentHeight / 2), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
  bool Open = true;
  const bool Visible = ImGui::BeginPopupModal(Caption, &Open, ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                                                  ImGuiWindowFlags_NoSavedSettings |
                                                                  ImGuiWindowFlags_NoScrollbar);
  ImGui::PopStyleVar();
  if (!Visible) {
    FClosed = FShown;
    if (FModalResult == TModalResult::mrNone) FModalResult = TModalResult::mrCancel;  // the close box
    return;
  }
  const ImVec2 Origin = ImGui::GetCursorScreenPos();
  TDrawContext Inner = AContext;
  Inner.OriginX = Origin.x;
  Inner.OriginY = Origin.y;
  Inner.ParentWidth = ClientWidth;
  Inner.ParentHeight = ClientHeight;
  Label1.Draw(Inner);
  Label2.Draw(Inner);
  // Drawn in the order the focus moves.
  EditPassword.Draw(Inner);
  EditEmail.Draw(Inner);
  Button2.Draw(Inner);
  Button1.Draw(Inner);
  const auto Pressed = [](ImGuiKey AKey) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(AKey)); };
  if (Pressed(ImGuiKey_Enter) || Pressed(ImGuiKey_KeyPadEnter)) Close(TModalResult::mrOk);
  if (Pressed(ImGuiKey_Escape)) Close(TModalResult::mrCancel);
  if (FModalResult != TModalResult::mrNone) {
    ImGui::CloseCurrentPopup();
    FClosed = true;
  }
  ImGui::EndPopup();
}

}  // namespace kva
