// The window layer's pictures: a BGRA texture on the GPU (created in the GL context when first
// applied), the material that draws it, a render target that draws into it, and a bitmap in
// main memory. GL work happens on the UI thread with the window's context current.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/GL.h"

namespace kva {

// A 32-bit BGRA bitmap in main memory, top row first.
class TCpuBitmap {
public:
  void SetSize(int AWidth, int AHeight);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Pitch() const { return FWidth * 4; }
  uint8_t* Bits() { return FPixels.data(); }
  const uint8_t* Bits() const { return FPixels.data(); }
  // Saves in the format the file name's extension names: .png, .bmp, .jpg/.jpeg or .tga (any
  // letter case). Raises std::invalid_argument for another extension and std::runtime_error
  // when the file cannot be written.
  void SaveToFile(const std::string& AFileName) const;

private:
  int FWidth = 0, FHeight = 0;
  std::vector<uint8_t> FPixels;
};

class TTexture {
public:
  TTexture() = default;
  TTexture(const TTexture&) = delete;
  TTexture& operator=(const TTexture&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Drops the GPU texture; the next Initialize makes one of the new size.
  void Finalize() { FHandle.Reset(); }
  void SetSize(int AWidth, int AHeight);
  // Makes the GPU texture if there is none (needs the GL context).
  void Initialize();
  GLuint Handle() const { return FHandle.Get(); }
  // Uploads BGRA pixels (top row first) covering the whole texture.
  void UpdateTexture(const uint8_t* ABits, int APitch);

private:
  int FWidth = 0, FHeight = 0;
  TGLTexture FHandle;
};

// What a draw call uses to paint with a texture.
struct TTextureMaterial {
  TTexture* Texture = nullptr;
};

// Draws into a texture: a framebuffer whose colour attachment is the texture.
class TTextureRenderTarget {
public:
  explicit TTextureRenderTarget(TTexture& ATexture) : FTexture(ATexture) {}
  // Binds the framebuffer (made on first use) with a viewport over the whole texture.
  void Bind();
  static void Unbind() { glBindFramebuffer(GL_FRAMEBUFFER, 0); }

private:
  TTexture& FTexture;
  TGLFramebuffer FFramebuffer;
};

}  // namespace kva
