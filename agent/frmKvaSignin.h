// The sign-in dialog: a modal dialog over the main window asking for e-mail and password.
// Enter answers "Sign in", Esc or the close box "Cancel". The focus starts in the password
// box and moves password, e-mail, Cancel, Sign in. UI thread only.
#pragma once

#include "platform/Application.h"
#include "platform/Controls.h"
#include "platform/Form3D.h"

namespace kva {

enum class TModalResult { mrNone, mrOk, mrCancel };

class TFrmKvaSignin : public IOverlay {
public:
  static constexpr float ClientWidth = 502, ClientHeight = 171;

  TFrmKvaSignin(TForm3D& AOwner, TApplication& AApplication);
  ~TFrmKvaSignin() override;

  // Shows the dialog and runs the UI loop until it closes; the answer.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  // Closes the dialog with a result (what the buttons and keys do).
  void Close(TModalResult AResult);

  void DrawOverlay(const TDrawContext& AContext) override;

  TLabel Label1{"Label1", 16, 16, 105, 17, "Email"};
  TEdit EditEmail{"EditEmail", 16, 40, "", "", 473, 22};
  TLabel Label2{"Label2", 16, 72, 105, 17, "Password"};
  TEdit EditPassword{"EditPassword", 16, 96, "", "", 473, 22};
  TButton Button1{"Button1", 320, 136, 80, 22, "Sign in"};
  TButton Button2{"Button2", 408, 136, 80, 22, "Cancel"};

private:
  TForm3D& FOwner;
  TApplication& FApplication;
  TModalResult FModalResult = TModalResult::mrNone;
  bool FShown = false;    // the dialog has been opened on screen
  bool FClosed = false;   // and closed again
};

}  // namespace kva
