#include "StatusText.h"

namespace kva {

std::string BuildStatusText(TKvaConnectionState AConnectionState,
                            std::optional<TKvaSignalingSessionState> ASessionState,
                            std::optional<std::string_view> ARtcStates, std::string_view ALastCommand,
                            std::string_view ADataChannelString) {
  std::string Sessions(ARtcStates.value_or(""));
  if (ASessionState) Sessions = std::string(ToString(*ASessionState)) + "; " + Sessions;
  std::string Text(ToString(AConnectionState));
  Text += "; " + Sessions;
  Text += "\r\nCmd: ";
  Text += ALastCommand;
  Text += "\r\nTelmetry: ";
  Text += ADataChannelString;
  return Text;
}

std::string BuildCaption(std::string_view AVersion, std::string_view AUserEmail) {
  std::string Caption = "Kelvara Agent ";
  Caption += AVersion;
  if (!AUserEmail.empty()) {
    Caption += " - ";
    Caption += AUserEmail;
  }
  return Caption;
}

}  // namespace kva
