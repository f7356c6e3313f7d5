// Bitmaps described in memory: the pixel-format codes and the bitmap record.
#pragma once

#include <cstdint>

namespace kva {

// Four characters in memory order, read as a little-endian 32-bit value.
inline constexpr uint32_t PIXELFORMAT_YV12 = 0x32315659;  // "YV12"
inline constexpr uint32_t PIXELFORMAT_NV12 = 0x3231564E;  // "NV12"
inline constexpr uint32_t PIXELFORMAT_ABGR = 0x52474241;  // "ABGR"

class TBitmapData {
public:
  TBitmapData() = default;
  TBitmapData(int32_t AWidth, int32_t AHeight, uint8_t* AData, int32_t APitch, int32_t ABitsPerPixel,
              uint32_t APixelFormat)
      : FBitsPerPixel(ABitsPerPixel), FBytesPerPixel(ABitsPerPixel / 8), FPixelFormat(APixelFormat), FWidth(AWidth),
        FHeight(AHeight), Data(AData), Pitch(APitch) {}

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t BitsPerPixel() const { return FBitsPerPixel; }
  int32_t BytesPerPixel() const { return FBytesPerPixel; }
  uint32_t PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(uint32_t AValue) { FPixelFormat = AValue; }

private:
  int32_t FBitsPerPixel = 0;
  int32_t FBytesPerPixel = 0;
  uint32_t FPixelFormat = 0;
  int32_t FWidth = 0, FHeight = 0;

public:
  uint8_t* Data = nullptr;  // first pixel row, or none
  int32_t Pitch = 0;        // bytes from one row to the next
};

class TBitmapSurface {
public:
  virtual ~TBitmapSurface() = default;
  virtual void SetPixelFormat(uint32_t AValue) { FBitmapData.SetPixelFormat(AValue); }
  virtual void UpdateBitmapData(int32_t AWidth, int32_t AHeight, uint8_t* AData, int32_t APitch, int32_t ABitsPerPixel,
                                uint32_t APixelFormat) {
    FBitmapData = TBitmapData(AWidth, AHeight, AData, APitch, ABitsPerPixel, APixelFormat);
  }
  uint32_t GetPixels(int32_t AX, int32_t AY) const { return 0; }
  const TBitmapData& BitmapData() const { return FBitmapData; }
  TBitmapData& BitmapData() { return FBitmapData; }

protected:
  TBitmapData FBitmapData;
};

}  // namespace kva
