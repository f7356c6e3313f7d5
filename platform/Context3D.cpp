#include "Context3D.h"

#include <cstddef>

namespace kva {

namespace {

constexpr const char* VertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec2 aTexCoord;
uniform vec2 uViewSize;
out vec2 vTexCoord;
void main() {
  // Pixels, origin top left, to normalised device coordinates.
  gl_Position = vec4(aPosition.x * 2.0 / uViewSize.x - 1.0, 1.0 - aPosition.y * 2.0 / uViewSize.y, 0.0, 1.0);
  vTexCoord = aTexCoord;
})";

constexpr const char* FragmentShader = R"(#version 330 core
in vec2 vTexCoord;
uniform sampler2D uTexture;
uniform float uOpacity;
out vec4 FragColor;
void main() {
  vec4 Color = texture(uTexture, vTexCoord);
  FragColor = vec4(Color.rgb, Color.a * uOpacity);
})";

}  // namespace

TGLContext3D::TGLContext3D()
    : FProgram(LinkProgram(VertexShader, FragmentShader)) {
  FViewSizeLocation = glGetUniformLocation(FProgram.Get(), "uViewSize");
  FOpacityLocation = glGetUniformLocation(FProgram.Get(), "uOpacity");
  FTextureLocation = glGetUniformLocation(FProgram.Get(), "uTexture");
  GLuint Name = 0;
  glGenVertexArrays(1, &Name);
  FVertexArray = TGLVertexArray(Name);
  glGenBuffers(1, &Name);
  FVertexBuffer = TGLBuffer(Name);
  glGenBuffers(1, &Name);
  FIndexBuffer = TGLBuffer(Name);

  glBindVertexArray(FVertexArray.Get());
  glBindBuffer(GL_ARRAY_BUFFER, FVertexBuffer.Get());
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, FIndexBuffer.Get());
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TTexturedVertex),
                        reinterpret_cast<const void*>(offsetof(TTexturedVertex, X)));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(TTexturedVertex),
                        reinterpret_cast<const void*>(offsetof(TTexturedVertex, U)));
  glBindVertexArray(0);
}

TGLContext3D::~TGLContext3D() = default;

void TGLContext3D::SetSize(int AWidth, int AHeight) {
  FWidth = AWidth;
  FHeight = AHeight;
}

void TGLContext3D::BeginScene2D() {
  glViewport(0, 0, FWidth, FHeight);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void TGLContext3D::EndScene2D() {
  glBindVertexArray(0);
  glUseProgram(0);
}

void TGLContext3D::DrawTexturedTriangles(std::span<const TTexturedVertex> AVertices,
                                         std::span<const uint16_t> AIndices, GLuint ATexture, float AOpacity) {
  glUseProgram(FProgram.Get());
  glUniform2f(FViewSizeLocation, static_cast<float>(FWidth), static_cast<float>(FHeight));
  glUniform1f(FOpacityLocation, AOpacity);
  glUniform1i(FTextureLocation, 0);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, ATexture);
  glBindVertexArray(FVertexArray.Get());
  glBindBuffer(GL_ARRAY_BUFFER, FVertexBuffer.Get());
  // The buffers are refilled for every draw: a mesh of four vertices costs nothing to send.
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(AVertices.size_bytes()), AVertices.data(), GL_STREAM_DRAW);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(AIndices.size_bytes()), AIndices.data(),
               GL_STREAM_DRAW);
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(AIndices.size()), GL_UNSIGNED_SHORT, nullptr);
  glBindVertexArray(0);
}

}  // namespace kva
