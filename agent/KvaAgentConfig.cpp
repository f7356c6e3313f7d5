#include "KvaAgentConfig.h"

namespace kva {

TKvaAgentConfig::TKvaAgentConfig(std::string ADefaultFileName) : FDefaultFileName(std::move(ADefaultFileName)) {}

std::string TKvaAgentConfig::GetAppDefaultConfig() const {
  return FDefaultFileName.empty() ? TConfigBase::GetAppDefaultConfig() : FDefaultFileName;
}

std::vector<TConfigBase::TField> TKvaAgentConfig::Fields() {
  return {
      {"FToken", &FToken},
      {"FEmail", &FEmail},
      {"FLastTrack", &FLastTrack},
      {"FLastCar", &FLastCar},
      {"FZmqEnabled", &FZmqEnabled},
      {"FZmqDataQueue", &FZmqDataQueue},
      {"FZmqControlsQueue", &FZmqControlsQueue},
      {"FZmqFrameWidth", &FZmqFrameWidth},
      {"FZmqFrameHeight", &FZmqFrameHeight},
      {"FZmqScaleLinear", &FZmqScaleLinear},
      {"FZmqScaleLinearSingleStep", &FZmqScaleLinearSingleStep},
  };
}

}  // namespace kva
