// The agent's persistent settings: refresh token and e-mail of the signed-in user, the last
// track and car, and the ZeroMQ bridge settings.
#pragma once

#include "agent/ConfigBase.h"

namespace kva {

class TKvaAgentConfig : public TConfigBase {
public:
  // ADefaultFileName replaces the file beside the executable (tests use it).
  explicit TKvaAgentConfig(std::string ADefaultFileName = {});

  std::string GetAppDefaultConfig() const override;

  std::string Token() const { return Get(FToken); }
  void SetToken(std::string AValue) { Set(FToken, std::move(AValue)); }
  std::string Email() const { return Get(FEmail); }
  void SetEmail(std::string AValue) { Set(FEmail, std::move(AValue)); }
  std::string LastTrack() const { return Get(FLastTrack); }
  void SetLastTrack(std::string AValue) { Set(FLastTrack, std::move(AValue)); }
  std::string LastCar() const { return Get(FLastCar); }
  void SetLastCar(std::string AValue) { Set(FLastCar, std::move(AValue)); }
  bool ZmqEnabled() const { return Get(FZmqEnabled); }
  void SetZmqEnabled(bool AValue) { Set(FZmqEnabled, AValue); }
  std::string ZmqDataQueue() const { return Get(FZmqDataQueue); }
  void SetZmqDataQueue(std::string AValue) { Set(FZmqDataQueue, std::move(AValue)); }
  std::string ZmqControlsQueue() const { return Get(FZmqControlsQueue); }
  void SetZmqControlsQueue(std::string AValue) { Set(FZmqControlsQueue, std::move(AValue)); }
  int32_t ZmqFrameWidth() const { return Get(FZmqFrameWidth); }
  void SetZmqFrameWidth(int32_t AValue) { Set(FZmqFrameWidth, AValue); }
  int32_t ZmqFrameHeight() const { return Get(FZmqFrameHeight); }
  void SetZmqFrameHeight(int32_t AValue) { Set(FZmqFrameHeight, AValue); }
  bool ZmqScaleLinear() const { return Get(FZmqScaleLinear); }
  void SetZmqScaleLinear(bool AValue) { Set(FZmqScaleLinear, AValue); }
  bool ZmqScaleLinearSingleStep() const { return Get(FZmqScaleLinearSingleStep); }
  void SetZmqScaleLinearSingleStep(bool AValue) { Set(FZmqScaleLinearSingleStep, AValue); }

protected:
  std::vector<TField> Fields() override;

private:
  std::string FDefaultFileName;

  std::string FToken;
  std::string FEmail;
  std::string FLastTrack;
  std::string FLastCar;
  bool FZmqEnabled = false;
  std::string FZmqDataQueue = "tcp://*:5551";
  std::string FZmqControlsQueue = "tcp://127.0.0.1:5552";
  int32_t FZmqFrameWidth = 0;
  int32_t FZmqFrameHeight = 0;
  bool FZmqScaleLinear = false;
  bool FZmqScaleLinearSingleStep = false;
};

}  // namespace kva
