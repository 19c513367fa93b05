// shaders.cpp: building shaders from whole texts or from numbered pieces, and
// linking programs. A compile or link failure prints the info log on stderr;
// the name is returned all the same, as GL makes it.
#include <cerrno>
#include <cstdio>
#include <vector>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

// Every shader is vertex processing copying texture coordinate sets 0 to 3
// and transforming the position by the fixed-function matrices.
const char pass_through_vertex[] = R"glsl(
void main()
{
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_MultiTexCoord1;
  gl_TexCoord[2] = gl_MultiTexCoord2;
  gl_TexCoord[3] = gl_MultiTexCoord3;
  gl_Position = ftransform();
}
)glsl";

static const int piece_count = 8;
static const int most_pieces = 64;
// The joining array shared by every call of stitch.
static const char* joined[most_pieces];

static void report_shader_log(GLuint name, GLenum type) {
  GLint status = GL_FALSE;
  glGetShaderiv(name, GL_COMPILE_STATUS, &status);
  if (status == GL_TRUE) return;
  GLint length = 0;
  glGetShaderiv(name, GL_INFO_LOG_LENGTH, &length);
  std::vector<char> log(length > 1 ? length : 1, '\0');
  glGetShaderInfoLog(name, static_cast<GLsizei>(log.size()), nullptr, log.data());
  std::fprintf(stderr, "%s: %s shader %u does not compile:\n%s\n", system_program_name(),
               type == GL_VERTEX_SHADER ? "vertex" : "fragment", name, log.data());
}

int shader(const char* source, GLenum type) {
  const GLuint name = glCreateShader(type);
  gl_shader_source(name, type, 1, &source);
  glCompileShader(name);
  report_shader_log(name, type);
  return static_cast<int>(name);
}

int stitch(const unsigned char* index_list, GLenum type) {
  int count = 0;
  for (; index_list[count] != 255; ++count) {
    if (count == most_pieces) {
      std::fprintf(stderr, "%s: cannot stitch a shader of more than %d pieces\n",
                   system_program_name(), most_pieces);
      return 0;
    }
    if (index_list[count] >= piece_count) {
      std::fprintf(stderr, "%s: cannot stitch a shader from piece %u: there are %d pieces\n",
                   system_program_name(), index_list[count], piece_count);
      return 0;
    }
    joined[count] = Z886594B[index_list[count]];
  }
  const GLuint name = glCreateShader(type);
  gl_shader_source(name, type, count, joined);
  glCompileShader(name);
  report_shader_log(name, type);
  return static_cast<int>(name);
}

int program(int first, int second, int third) {
  const GLuint name = glCreateProgram();
  if (second != -1) glAttachShader(name, static_cast<GLuint>(second));
  if (first != -1) glAttachShader(name, static_cast<GLuint>(first));
  glAttachShader(name, static_cast<GLuint>(third));
  gl_link_program(name);
  GLint status = GL_FALSE;
  glGetProgramiv(name, GL_LINK_STATUS, &status);
  if (status != GL_TRUE) {
    GLint length = 0;
    glGetProgramiv(name, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(length > 1 ? length : 1, '\0');
    glGetProgramInfoLog(name, static_cast<GLsizei>(log.size()), nullptr, log.data());
    std::fprintf(stderr, "%s: program %u does not link:\n%s\n", system_program_name(), name,
                 log.data());
  }
  return static_cast<int>(name);
}
