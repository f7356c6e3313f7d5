#include "GL.h"

#include <stdexcept>

namespace kva {

namespace {

// Owns one shader object for the time of the link.
class TGLShader {
public:
  TGLShader(GLenum AType, const char* ASource) : FName(glCreateShader(AType)) {
    glShaderSource(FName, 1, &ASource, nullptr);
    glCompileShader(FName);
    GLint Compiled = GL_FALSE;
    glGetShaderiv(FName, GL_COMPILE_STATUS, &Compiled);
    if (Compiled != GL_TRUE) {
      char Log[1024] = {};
      glGetShaderInfoLog(FName, sizeof Log, nullptr, Log);
      glDeleteShader(FName);
      throw std::runtime_error(std::string("GL shader compilation failed: ") + Log);
    }
  }
  ~TGLShader() { glDeleteShader(FName); }
  TGLShader(const TGLShader&) = delete;
  TGLShader& operator=(const TGLShader&) = delete;
  GLuint Get() const { return FName; }

private:
  GLuint FName;
};

}  // namespace

TGLProgram LinkProgram(const char* AVertexSource, const char* AFragmentSource) {
  const TGLShader Vertex(GL_VERTEX_SHADER, AVertexSource);
  const TGLShader Fragment(GL_FRAGMENT_SHADER, AFragmentSource);
  TGLProgram Program(glCreateProgram());
  glAttachShader(Program.Get(), Vertex.Get());
  glAttachShader(Program.Get(), Fragment.Get());
  glLinkProgram(Program.Get());
  GLint Linked = GL_FALSE;
  glGetProgramiv(Program.Get(), GL_LINK_STATUS, &Linked);
  if (Linked != GL_TRUE) {
    char Log[1024] = {};
    glGetProgramInfoLog(Program.Get(), sizeof Log, nullptr, Log);
    throw std::runtime_error(std::string("GL program link failed: ") + Log);
  }
  return Program;
}

}  // namespace kva
