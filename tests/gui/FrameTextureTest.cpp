#include <gtest/gtest.h>

#include <typeinfo>

#include "GuiTest.h"
#include "TestUtil.h"
#include "platform/Form3D.h"
#include "stb_image.h"
#include "video/FMXTextureBitmap.h"

using namespace kva;
using namespace kva::test;

namespace {

class FrameTextureTest : public GuiTest {
protected:
  void SetUp() override {
    GuiTest::SetUp();
    if (IsSkipped()) return;
    Form = std::make_unique<TForm3D>("test", 320, 240);
  }
  void TearDown() override {
    Form.reset();
    GuiTest::TearDown();
  }
  std::unique_ptr<TForm3D> Form;
};

class TOtherContext : public TContext3D {
public:
  int Width() const override { return 1; }
  int Height() const override { return 1; }
};

TEST_F(FrameTextureTest, SizesAndTheGLTexture) {
  TFMXTextureBitmap Bitmap(PIXELFORMAT_ABGR, true, TMultisample::None);
  EXPECT_EQ(Bitmap.BitmapData().Width(), 720);
  EXPECT_EQ(Bitmap.BitmapData().Height(), 240);
  EXPECT_EQ(Bitmap.BitmapData().PixelFormat(), PIXELFORMAT_ABGR);
  EXPECT_EQ(Bitmap.Texture2D(), 0u) << "no GL texture before ApplyContext";

  Bitmap.ApplyContext(Form->Context());
  const GLuint Texture = Bitmap.Texture2D();
  EXPECT_NE(Texture, 0u);
  Bitmap.SetSize(720, 240);
  EXPECT_EQ(Bitmap.Texture2D(), Texture) << "the same size changes nothing";

  Bitmap.SetSize(1280, 640);
  EXPECT_EQ(Bitmap.NV12Frame().size(), 1228800u);
  EXPECT_EQ(Bitmap.Texture2D(), 0u) << "a new size drops the GL texture until ApplyContext";
  EXPECT_EQ(Bitmap.Texture().Width(), 1280);
  EXPECT_EQ(Bitmap.BitmapData().BytesPerPixel(), 4);
  EXPECT_NE(Bitmap.RenderTargetContext(), nullptr);
  Bitmap.ApplyContext(Form->Context());
  EXPECT_NE(Bitmap.Texture2D(), 0u);

  TOtherContext Other;
  EXPECT_THROW(Bitmap.ApplyContext(Other), std::bad_cast);
  EXPECT_EQ(Bitmap.Texture2D(), 0u);
}

TEST_F(FrameTextureTest, BitmapRecordsAndSurfaces) {
  EXPECT_EQ(TBitmapData(4, 4, nullptr, 0, 32, PIXELFORMAT_ABGR).BytesPerPixel(), 4);
  EXPECT_EQ(TBitmapData(4, 4, nullptr, 0, 12, PIXELFORMAT_NV12).BytesPerPixel(), 1);
  EXPECT_EQ(PIXELFORMAT_YV12, 0x32315659u);
  TBitmapSurface Surface;
  EXPECT_EQ(Surface.GetPixels(0, 0), 0u);
  EXPECT_EQ(Surface.GetPixels(100, -5), 0u);
}

TEST_F(FrameTextureTest, TheProcessorSidePictureIsUploadedAndSaved) {
  TTempDir Dir;
  TFMXTextureBitmap Bitmap(PIXELFORMAT_ABGR, false, TMultisample::None);
  Bitmap.SetSize(64, 32);
  Bitmap.ApplyContext(Form->Context());
  Bitmap.LockTexture();
  TBitmapData& Data = Bitmap.BitmapData();
  ASSERT_NE(Data.Data, nullptr);
  EXPECT_EQ(Data.Pitch, 64 * 4);
  for (int Y = 0; Y < 32; ++Y) {
    for (int X = 0; X < 64; ++X) {
      uint8_t* Pixel = Data.Data + Y * Data.Pitch + X * 4;
      Pixel[0] = 10;                      // B
      Pixel[1] = static_cast<uint8_t>(X); // G
      Pixel[2] = static_cast<uint8_t>(Y); // R
      Pixel[3] = 255;
    }
  }
  Bitmap.UnlockTexture();
  EXPECT_EQ(Bitmap.BitmapData().Data, nullptr);
  EXPECT_EQ(Bitmap.BitmapData().Pitch, 0);

  // The texture holds the picture.
  std::vector<uint8_t> Read(64 * 32 * 4);
  glBindTexture(GL_TEXTURE_2D, Bitmap.Texture2D());
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, Read.data());
  EXPECT_EQ(Read[(5 * 64 + 7) * 4 + 1], 7);
  EXPECT_EQ(Read[(5 * 64 + 7) * 4 + 2], 5);

  for (const char* Name : {"frame.png", "FRAME.BMP"}) {
    Bitmap.SaveToFile(Dir.File(Name));
    int Width = 0, Height = 0, Channels = 0;
    stbi_uc* Image = stbi_load(Dir.File(Name).c_str(), &Width, &Height, &Channels, 4);
    ASSERT_NE(Image, nullptr) << Name;
    EXPECT_EQ(Width, 64);
    EXPECT_EQ(Height, 32);
    const stbi_uc* Pixel = Image + (5 * 64 + 7) * 4;
    EXPECT_EQ(std::vector<int>({Pixel[0], Pixel[1], Pixel[2]}), std::vector<int>({5, 7, 10})) << Name;
    stbi_image_free(Image);
  }
  EXPECT_THROW(Bitmap.SaveToFile(Dir.File("frame.xyz")), std::invalid_argument);
}

}  // namespace
