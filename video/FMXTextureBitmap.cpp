#include "FMXTextureBitmap.h"

#include <algorithm>
#include <cstring>

namespace kva {

TFMXTextureBitmap::TFMXTextureBitmap(uint32_t APixelFormat, bool ARenderTarget, TMultisample AMultisample)
    : FMultisample(AMultisample) {
  SetPixelFormat(APixelFormat);
  SetSize(InitialWidth, InitialHeight);
  FTextureMaterial.Texture = &FTexture;
  if (ARenderTarget) FRenderTargetContext = std::make_unique<TTextureRenderTarget>(FTexture);
}

TFMXTextureBitmap::~TFMXTextureBitmap() = default;

void TFMXTextureBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  if (AWidth == FBitmapData.Width() && AHeight == FBitmapData.Height()) return;
  UpdateBitmapData(AWidth, AHeight, nullptr, 0, 32, FBitmapData.PixelFormat());
  FBitmapSurface.SetSize(AWidth, AHeight);
  const bool HadRenderTarget = FRenderTargetContext != nullptr;
  FRenderTargetContext.reset();
  FTexture2D = 0;
  FTexture.Finalize();
  FTexture.SetSize(AWidth, AHeight);
  if (HadRenderTarget) FRenderTargetContext = std::make_unique<TTextureRenderTarget>(FTexture);
}

void TFMXTextureBitmap::ApplyContext(TContext3D& AContext) {
  FTexture2D = 0;
  (void)dynamic_cast<TGLContext3D&>(AContext);
  FTexture.Initialize();
  FTexture2D = FTexture.Handle();
}

void TFMXTextureBitmap::LockTexture() {
  FBitmapData.Data = FBitmapSurface.Bits();
  FBitmapData.Pitch = FBitmapSurface.Pitch();
}

void TFMXTextureBitmap::UnlockTexture() {
  FTexture.UpdateTexture(FBitmapData.Data, FBitmapData.Pitch);
  FBitmapData.Data = nullptr;
  FBitmapData.Pitch = 0;
}

void TFMXTextureBitmap::SaveToFile(const std::string& AFileName) const { FBitmapSurface.SaveToFile(AFileName); }

namespace {

// 5 x 7 glyphs of the letters the picture needs, one row per byte, bit 4 leftmost.
struct TGlyph {
  char Letter;
  uint8_t Rows[7];
};
constexpr TGlyph Glyphs[] = {
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

void FillRect(TBitmapData& ABitmap, int AX, int AY, int AWidth, int AHeight, uint32_t ABgra) {
  const int Left = std::max(AX, 0), Top = std::max(AY, 0);
  const int Right = std::min(AX + AWidth, ABitmap.Width()), Bottom = std::min(AY + AHeight, ABitmap.Height());
  for (int Y = Top; Y < Bottom; ++Y) {
    auto* Row = reinterpret_cast<uint32_t*>(ABitmap.Data + static_cast<ptrdiff_t>(Y) * ABitmap.Pitch);
    std::fill(Row + Left, Row + std::max(Left, Right), ABgra);
  }
}

}  // namespace

void PaintNoVideoPicture(TBitmapData& ABitmap) {
  if (!ABitmap.Data) return;
  constexpr uint32_t Field = 0xFF202428, Letters = 0xFF5A606A;  // opaque, as BGRA in memory order
  FillRect(ABitmap, 0, 0, ABitmap.Width(), ABitmap.Height(), Field);
  constexpr char Text[] = "NO VIDEO";
  constexpr int Count = sizeof Text - 1;
  const int Scale = std::max(1, ABitmap.Width() / (Count * 6 * 3));
  const int Left = (ABitmap.Width() - (Count * 6 - 1) * Scale) / 2, Top = (ABitmap.Height() - 7 * Scale) / 2;
  for (int I = 0; I < Count; ++I) {
    const TGlyph* Glyph = std::find_if(std::begin(Glyphs), std::end(Glyphs), [&](const TGlyph& G) { return G.Letter == Text[I]; });
    for (int Row = 0; Row < 7; ++Row) {
      for (int Column = 0; Column < 5; ++Column) {
        if (Glyph->Rows[Row] & (0x10 >> Column)) {
          FillRect(ABitmap, Left + (I * 6 + Column) * Scale, Top + Row * Scale, Scale, Scale, Letters);
        }
      }
    }
  }
}

}  // namespace kva
