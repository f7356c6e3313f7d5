// The picture the window shows: a BGRA texture that the window draws through its material and
// that the video decoder writes each converted picture into (Texture2D, through the render
// target). A bitmap in main memory serves a processor-side picture path (LockTexture,
// UnlockTexture, SaveToFile). UI thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/Context3D.h"
#include "platform/Texture.h"
#include "video/WinUsbVideoCapture.h"

namespace kva {

enum class TMultisample { None, TwoSamples, FourSamples };

class TFMXTextureBitmap : public TUsbVideoCaptureBitmap {
public:
  static constexpr int InitialWidth = 720, InitialHeight = 240;

  TFMXTextureBitmap(uint32_t APixelFormat, bool ARenderTarget, TMultisample AMultisample);
  ~TFMXTextureBitmap() override;

  // Resizes bitmap data, surface and texture; the GL texture is dropped until ApplyContext.
  void SetSize(int32_t AWidth, int32_t AHeight);
  // Makes the texture in the given context and captures its GL name as Texture2D. Raises
  // std::bad_cast for a context other than the window's OpenGL one.
  void ApplyContext(TContext3D& AContext);
  // Points the bitmap data at the main-memory surface for writing a picture.
  void LockTexture();
  // Uploads the picture the bitmap data points at to the texture and forgets the pointer.
  void UnlockTexture();
  // Saves the main-memory surface; the format follows the file name (see TCpuBitmap).
  void SaveToFile(const std::string& AFileName) const;

  TCpuBitmap& BitmapSurface() { return FBitmapSurface; }
  TTexture& Texture() { return FTexture; }
  // The GL texture the decoder writes into; 0 until ApplyContext.
  GLuint Texture2D() const { return FTexture2D; }
  TTextureMaterial& TextureMaterial() { return FTextureMaterial; }
  TTextureRenderTarget* RenderTargetContext() { return FRenderTargetContext.get(); }

private:
  // Destroyed in reverse: render target, material, texture, surface.
  TCpuBitmap FBitmapSurface;
  TTexture FTexture;
  TTextureMaterial FTextureMaterial;
  std::unique_ptr<TTextureRenderTarget> FRenderTargetContext;
  GLuint FTexture2D = 0;
  TMultisample FMultisample;
};

// Paints the picture shown before the first video frame: a dark neutral field with
// "NO VIDEO" in the middle. ABitmap must point at 32-bit BGRA pixels.
void PaintNoVideoPicture(TBitmapData& ABitmap);

}  // namespace kva
