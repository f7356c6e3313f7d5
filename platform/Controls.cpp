#include "Controls.h"

#include <algorithm>

#include "imgui.h"
#include "imgui_stdlib.h"

namespace kva {

namespace {

constexpr ImU32 StripBackground = IM_COL32(28, 32, 40, 235);
constexpr ImU32 TrackColor = IM_COL32(90, 96, 110, 255);
constexpr ImU32 ThumbColor = IM_COL32(120, 170, 255, 255);
constexpr ImU32 BarFrameColor = IM_COL32(52, 58, 70, 255);
constexpr ImU32 BarFillColor = IM_COL32(80, 200, 120, 255);
constexpr ImU32 TextColor = IM_COL32(230, 232, 236, 255);

ImVec2 TopLeft(const TDrawContext& AContext, const TControl& AControl) {
  return ImVec2(AContext.OriginX + AControl.X(), AContext.OriginY + AControl.Y());
}

// Vertical padding that makes a framed widget exactly AHeight high.
ImVec2 FramePaddingFor(float AHeight) {
  const float Vertical = std::max(0.0f, (AHeight - ImGui::GetFontSize()) / 2);
  return ImVec2(ImGui::GetStyle().FramePadding.x, Vertical);
}

}  // namespace

void TControl::ShowHintWhenHovered() const {
  if (!FHint.empty() && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
    ImGui::SetTooltip("%s", FHint.c_str());
  }
}

void TButton::Click() {
  if (Enabled()) FOnClick(this);
}

void TButton::Draw(const TDrawContext& AContext) {
  ImGui::SetCursorScreenPos(TopLeft(AContext, *this));
  ImGui::BeginDisabled(!Enabled());
  if (ImGui::Button((FText + Id()).c_str(), ImVec2(Width(), Height()))) {
    AContext.Post([this] { Click(); });
  }
  ImGui::EndDisabled();
  ShowHintWhenHovered();
}

void TEdit::Draw(const TDrawContext& AContext) {
  ImGui::SetCursorScreenPos(TopLeft(AContext, *this));
  ImGui::SetNextItemWidth(Width());
  if (FFocusRequested) {
    ImGui::SetKeyboardFocusHere();
    FFocusRequested = false;
  }
  ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, FramePaddingFor(Height()));
  ImGui::BeginDisabled(!Enabled());
  ImGui::InputTextWithHint(Id().c_str(), FTextPrompt.c_str(), &FText, FPassword ? ImGuiInputTextFlags_Password : 0);
  ImGui::EndDisabled();
  ImGui::PopStyleVar();
  ShowHintWhenHovered();
}

void TCheckBox::SetIsChecked(bool AChecked) {
  if (FChecked == AChecked) return;
  FChecked = AChecked;
  FOnChange(this);
}

void TCheckBox::Draw(const TDrawContext& AContext) {
  ImGui::SetCursorScreenPos(TopLeft(AContext, *this));
  ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, FramePaddingFor(Height() - 4));
  bool Checked = FChecked;
  ImGui::BeginDisabled(!Enabled());
  if (ImGui::Checkbox((FText + Id()).c_str(), &Checked)) {
    AContext.Post([this, Checked] { SetIsChecked(Checked); });
  }
  ImGui::EndDisabled();
  ImGui::PopStyleVar();
  ShowHintWhenHovered();
}

void TLabel::Draw(const TDrawContext& AContext) {
  const ImVec2 Min = TopLeft(AContext, *this);
  const ImVec4 Clip(Min.x, Min.y, Min.x + Width(), Min.y + Height());
  ImGui::GetWindowDrawList()->AddText(ImGui::GetFont(), ImGui::GetFontSize(), Min, TextColor, FText.data(),
                                      FText.data() + FText.size(), 0.0f, &Clip);
}

void TRangeBar::SetValue(float AValue) { FValue = std::clamp(AValue, FMin, FMax); }

void TRangeBar::Draw(const TDrawContext& AContext) {
  ImDrawList* DrawList = ImGui::GetWindowDrawList();
  const ImVec2 Min = TopLeft(AContext, *this);
  const ImVec2 Max(Min.x + Width(), Min.y + Height());
  const float Fraction = FMax > FMin ? (FValue - FMin) / (FMax - FMin) : 0.0f;
  if (FKind == TKind::ProgressBar) {
    DrawList->AddRectFilled(Min, Max, BarFrameColor, 2.0f);
    if (Fraction > 0) DrawList->AddRectFilled(Min, ImVec2(Min.x + Width() * Fraction, Max.y), BarFillColor, 2.0f);
    return;
  }
  const float Middle = (Min.y + Max.y) / 2;
  const float ThumbHalfWidth = 4.0f;
  DrawList->AddRectFilled(ImVec2(Min.x + ThumbHalfWidth, Middle - 2), ImVec2(Max.x - ThumbHalfWidth, Middle + 2),
                          TrackColor, 2.0f);
  const float ThumbX = Min.x + ThumbHalfWidth + (Width() - 2 * ThumbHalfWidth) * Fraction;
  DrawList->AddRectFilled(ImVec2(ThumbX - ThumbHalfWidth, Min.y + 1), ImVec2(ThumbX + ThumbHalfWidth, Max.y - 1),
                          ThumbColor, 2.0f);
}

void TLayer3D::Draw(const TDrawContext& AContext) {
  SetSize(AContext.ParentWidth, Height());
  const ImVec2 Min = TopLeft(AContext, *this);
  ImGui::GetWindowDrawList()->AddRectFilled(Min, ImVec2(Min.x + Width(), Min.y + Height()), StripBackground);
  TDrawContext Inner = AContext;
  Inner.OriginX = Min.x;
  Inner.OriginY = Min.y;
  Inner.ParentWidth = Width();
  Inner.ParentHeight = Height();
  for (const auto& Control : FControls) Control->Draw(Inner);
}

}  // namespace kva
