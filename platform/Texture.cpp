#include "Texture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "stb_image_write.h"

namespace kva {

void TCpuBitmap::SetSize(int AWidth, int AHeight) {
  FWidth = std::max(AWidth, 0);
  FHeight = std::max(AHeight, 0);
  FPixels.assign(static_cast<size_t>(FWidth) * FHeight * 4, 0);
}

void TCpuBitmap::SaveToFile(const std::string& AFileName) const {
  std::string Extension = std::filesystem::path(AFileName).extension().string();
  std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  // The image writers take RGBA.
  std::vector<uint8_t> Rgba(FPixels.size());
  for (size_t I = 0; I < FPixels.size(); I += 4) {
    Rgba[I] = FPixels[I + 2];
    Rgba[I + 1] = FPixels[I + 1];
    Rgba[I + 2] = FPixels[I];
    Rgba[I + 3] = FPixels[I + 3];
  }
  int Written;
  if (Extension == ".png") {
    Written = stbi_write_png(AFileName.c_str(), FWidth, FHeight, 4, Rgba.data(), Pitch());
  } else if (Extension == ".bmp") {
    Written = stbi_write_bmp(AFileName.c_str(), FWidth, FHeight, 4, Rgba.data());
  } else if (Extension == ".jpg" || Extension == ".jpeg") {
    Written = stbi_write_jpg(AFileName.c_str(), FWidth, FHeight, 4, Rgba.data(), 95);
  } else if (Extension == ".tga") {
    Written = stbi_write_tga(AFileName.c_str(), FWidth, FHeight, 4, Rgba.data());
  } else {
    throw std::invalid_argument("No image format for the file name \"" + AFileName + "\"");
  }
  if (!Written) throw std::runtime_error("Cannot write the image \"" + AFileName + "\"");
}

void TTexture::SetSize(int AWidth, int AHeight) {
  FWidth = std::max(AWidth, 0);
  FHeight = std::max(AHeight, 0);
}

void TTexture::Initialize() {
  if (FHandle || FWidth == 0 || FHeight == 0) return;
  GLuint Name = 0;
  glGenTextures(1, &Name);
  FHandle = TGLTexture(Name);
  glBindTexture(GL_TEXTURE_2D, Name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, FWidth, FHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void TTexture::UpdateTexture(const uint8_t* ABits, int APitch) {
  Initialize();
  if (!FHandle || !ABits) return;
  glBindTexture(GL_TEXTURE_2D, FHandle.Get());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, APitch / 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, FWidth, FHeight, GL_BGRA, GL_UNSIGNED_BYTE, ABits);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void TTextureRenderTarget::Bind() {
  FTexture.Initialize();
  if (!FFramebuffer) {
    GLuint Name = 0;
    glGenFramebuffers(1, &Name);
    FFramebuffer = TGLFramebuffer(Name);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer.Get());
  // Attached on every bind: the texture may have been made anew since the last one.
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, FTexture.Handle(), 0);
  glViewport(0, 0, FTexture.Width(), FTexture.Height());
}

}  // namespace kva
