// A bitmap that carries the bookkeeping of a captured video frame.
#pragma once

#include <cstdint>
#include <vector>

#include "video/BitmapSurface.h"

namespace kva {

class TUsbVideoCaptureBitmap : public TBitmapSurface {
public:
  int32_t FrameIndex() const { return FFrameIndex; }
  int64_t TimeStamp() const { return FTimeStamp; }
  int32_t Tag() const { return FTag; }
  bool EvenFrame() const { return FEvenFrame; }
  const std::vector<uint8_t>& NV12Frame() const { return FNV12Frame; }

  // Also sizes the NV12 buffer for one picture of that size.
  void UpdateBitmapData(int32_t AWidth, int32_t AHeight, uint8_t* AData, int32_t APitch, int32_t ABitsPerPixel,
                        uint32_t APixelFormat) override {
    TBitmapSurface::UpdateBitmapData(AWidth, AHeight, AData, APitch, ABitsPerPixel, APixelFormat);
    FNV12Frame.resize(static_cast<size_t>(AWidth) * AHeight * 3 / 2);
  }

protected:
  int32_t FFrameIndex = 0;
  int64_t FTimeStamp = 0;
  int32_t FTag = 0;
  bool FEvenFrame = false;
  std::vector<uint8_t> FNV12Frame;
};

}  // namespace kva
