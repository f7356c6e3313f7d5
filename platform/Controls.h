// The controls of the window's overlay: labels, buttons, one-line text boxes, check boxes with
// hints, a track bar and progress bars, laid out at fixed positions inside a layer. They are
// drawn with Dear ImGui on every redraw and belong to the UI thread. User actions (a click, a
// changed box) are not handled while drawing: they are posted and run after the frame.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Event.h"

namespace kva {

class TControl;

// What a control's Draw gets: where its parent lies on the screen, and where to post the
// handlers of user actions.
struct TDrawContext {
  float OriginX = 0, OriginY = 0;
  float ParentWidth = 0, ParentHeight = 0;
  std::vector<std::function<void()>>* PostedActions = nullptr;
  void Post(std::function<void()> AAction) const { PostedActions->push_back(std::move(AAction)); }
};

class TControl {
public:
  TControl(std::string AName, float AX, float AY, float AWidth, float AHeight)
      : FName(std::move(AName)), FX(AX), FY(AY), FWidth(AWidth), FHeight(AHeight) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return FName; }
  float X() const { return FX; }
  float Y() const { return FY; }
  float Width() const { return FWidth; }
  float Height() const { return FHeight; }
  void SetSize(float AWidth, float AHeight) {
    FWidth = AWidth;
    FHeight = AHeight;
  }

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AEnabled) { FEnabled = AEnabled; }
  const std::string& Hint() const { return FHint; }
  void SetHint(std::string AHint) { FHint = std::move(AHint); }

  virtual void Draw(const TDrawContext& AContext) = 0;

protected:
  std::string Id() const { return "##" + FName; }
  void ShowHintWhenHovered() const;

private:
  std::string FName;
  float FX, FY, FWidth, FHeight;
  bool FEnabled = true;
  std::string FHint;
};

class TButton : public TControl {
public:
  TButton(std::string AName, float AX, float AY, float AWidth, float AHeight, std::string AText)
      : TControl(std::move(AName), AX, AY, AWidth, AHeight), FText(std::move(AText)) {}
  const std::string& Text() const { return FText; }
  void SetText(std::string AText) { FText = std::move(AText); }
  void SetOnClick(TEvent<void(TControl* Sender)> AHandler) { FOnClick = std::move(AHandler); }
  // What a click does: raises OnClick (enabled buttons only).
  void Click();
  void Draw(const TDrawContext& AContext) override;

private:
  std::string FText;
  TEvent<void(TControl* Sender)> FOnClick;
};

// A one-line text box; the empty-text prompt shows while it is empty; Password masks it.
class TEdit : public TControl {
public:
  static constexpr float DefaultWidth = 100, DefaultHeight = 22;
  TEdit(std::string AName, float AX, float AY, std::string AText, std::string ATextPrompt = {},
        float AWidth = DefaultWidth, float AHeight = DefaultHeight)
      : TControl(std::move(AName), AX, AY, AWidth, AHeight), FText(std::move(AText)), FTextPrompt(std::move(ATextPrompt)) {}
  const std::string& Text() const { return FText; }
  void SetText(std::string AText) { FText = std::move(AText); }
  const std::string& TextPrompt() const { return FTextPrompt; }
  bool Password() const { return FPassword; }
  void SetPassword(bool APassword) { FPassword = APassword; }
  // Keyboard focus goes to this box on the next redraw.
  void SetFocus() { FFocusRequested = true; }
  void Draw(const TDrawContext& AContext) override;

private:
  std::string FText, FTextPrompt;
  bool FPassword = false;
  bool FFocusRequested = false;
};

class TCheckBox : public TControl {
public:
  TCheckBox(std::string AName, float AX, float AY, float AWidth, float AHeight, std::string AText, std::string AHint)
      : TControl(std::move(AName), AX, AY, AWidth, AHeight), FText(std::move(AText)) {
    SetHint(std::move(AHint));
  }
  const std::string& Text() const { return FText; }
  bool IsChecked() const { return FChecked; }
  // A change of state raises OnChange at once, also when made by code.
  void SetIsChecked(bool AChecked);
  void SetOnChange(TEvent<void(TControl* Sender)> AHandler) { FOnChange = std::move(AHandler); }
  void Draw(const TDrawContext& AContext) override;

private:
  std::string FText;
  bool FChecked = false;
  TEvent<void(TControl* Sender)> FOnChange;
};

// Text in a box, top-aligned, broken into lines at its line ends.
class TLabel : public TControl {
public:
  TLabel(std::string AName, float AX, float AY, float AWidth, float AHeight, std::string AText = {})
      : TControl(std::move(AName), AX, AY, AWidth, AHeight), FText(std::move(AText)) {}
  const std::string& Text() const { return FText; }
  void SetText(std::string AText) { FText = std::move(AText); }
  void Draw(const TDrawContext& AContext) override;

private:
  std::string FText;
};

// Horizontal bars showing a value in a range: a track bar (a thumb on a line) or a progress
// bar (a filled part).
class TRangeBar : public TControl {
public:
  enum class TKind { TrackBar, ProgressBar };
  TRangeBar(std::string AName, TKind AKind, float AX, float AY, float AWidth, float AHeight, float AMin, float AMax)
      : TControl(std::move(AName), AX, AY, AWidth, AHeight), FKind(AKind), FMin(AMin), FMax(AMax) {}
  float Min() const { return FMin; }
  float Max() const { return FMax; }
  float Value() const { return FValue; }
  // The value is kept within the range.
  void SetValue(float AValue);
  void Draw(const TDrawContext& AContext) override;

private:
  TKind FKind;
  float FMin, FMax, FValue = 0;
};

// A strip aligned to the top of the window, drawn flat with a background, holding controls.
class TLayer3D : public TControl {
public:
  TLayer3D(std::string AName, float AHeight) : TControl(std::move(AName), 0, 0, 0, AHeight) {}

  template <typename T, typename... Args>
  T& Add(Args&&... AArgs) {
    auto Control = std::make_unique<T>(std::forward<Args>(AArgs)...);
    T& Result = *Control;
    FControls.push_back(std::move(Control));
    return Result;
  }
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return FControls; }
  void Draw(const TDrawContext& AContext) override;

private:
  std::vector<std::unique_ptr<TControl>> FControls;
};

}  // namespace kva
