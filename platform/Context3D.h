// The render context a window hands to its render handler. The only kind is the window's
// OpenGL 3.3 core context; render code checks that it got that kind before drawing.
#pragma once

#include <cstdint>
#include <span>

#include "platform/GL.h"

namespace kva {

class TContext3D {
public:
  virtual ~TContext3D() = default;
  // Size of the drawing area in pixels.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

// One vertex of a textured mesh: position in pixels (origin top left, y down) and texture
// coordinates.
struct TTexturedVertex {
  float X, Y, Z;
  float U, V;
};

// The window's OpenGL context, with the little 2D drawing the agent needs: textured triangles
// in pixel coordinates.
class TGLContext3D : public TContext3D {
public:
  TGLContext3D();
  ~TGLContext3D() override;
  TGLContext3D(const TGLContext3D&) = delete;
  TGLContext3D& operator=(const TGLContext3D&) = delete;

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  void SetSize(int AWidth, int AHeight);

  // 2D drawing in pixel coordinates over the whole drawing area.
  void BeginScene2D();
  void EndScene2D();
  // Draws indexed triangles with a texture at an opacity, both faces, identity model matrix.
  void DrawTexturedTriangles(std::span<const TTexturedVertex> AVertices, std::span<const uint16_t> AIndices,
                             GLuint ATexture, float AOpacity);

private:
  int FWidth = 0, FHeight = 0;
  TGLProgram FProgram;
  GLint FViewSizeLocation = -1, FOpacityLocation = -1, FTextureLocation = -1;
  TGLVertexArray FVertexArray;
  TGLBuffer FVertexBuffer, FIndexBuffer;
};

}  // namespace kva
