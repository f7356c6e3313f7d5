// OpenGL 3.3 core entry points and one small owner per GL object. GL calls are made on the
// UI thread only, with the window's context current.
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include <string>
#include <utility>

namespace kva {

// Owns one GL object name; ADelete frees it.
template <void (*ADelete)(GLuint)>
class TGLName {
public:
  TGLName() = default;
  explicit TGLName(GLuint AName) : FName(AName) {}
  TGLName(TGLName&& AOther) noexcept : FName(std::exchange(AOther.FName, 0)) {}
  TGLName& operator=(TGLName&& AOther) noexcept {
    if (this != &AOther) {
      Reset();
      FName = std::exchange(AOther.FName, 0);
    }
    return *this;
  }
  ~TGLName() { Reset(); }

  GLuint Get() const { return FName; }
  explicit operator bool() const { return FName != 0; }
  void Reset() {
    if (FName != 0) ADelete(FName);
    FName = 0;
  }

private:
  GLuint FName = 0;
};

namespace gl_detail {
inline void DeleteTexture(GLuint AName) { glDeleteTextures(1, &AName); }
inline void DeleteFramebuffer(GLuint AName) { glDeleteFramebuffers(1, &AName); }
inline void DeleteBuffer(GLuint AName) { glDeleteBuffers(1, &AName); }
inline void DeleteVertexArray(GLuint AName) { glDeleteVertexArrays(1, &AName); }
inline void DeleteProgram(GLuint AName) { glDeleteProgram(AName); }
}  // namespace gl_detail

using TGLTexture = TGLName<gl_detail::DeleteTexture>;
using TGLFramebuffer = TGLName<gl_detail::DeleteFramebuffer>;
using TGLBuffer = TGLName<gl_detail::DeleteBuffer>;
using TGLVertexArray = TGLName<gl_detail::DeleteVertexArray>;
using TGLProgram = TGLName<gl_detail::DeleteProgram>;

// Compiles and links a program; raises std::runtime_error with the compiler's log on failure.
TGLProgram LinkProgram(const char* AVertexSource, const char* AFragmentSource);

}  // namespace kva
