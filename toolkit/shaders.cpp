// shaders.cpp: building shaders from whole texts or from numbered pieces (the
// piece table Z886594B), and linking programs. shader, stitch and program print the info log of a
// failure on stderr and return the name all the same, as GL makes it;
// build_shader and build_program hand the log back instead, for a program
// that shows it (the viewer's live shaders).
#include <cerrno>
#include <cstdio>
#include <string>
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

// The piece table stitch joins from: the blur's four pieces (blur.cpp), the
// pass-through vertex stage above, the noise programs' three (noise.cpp).
const char* const Z886594B[8] = {
    blur_piece_open,     blur_piece_vertical,  blur_piece_horizontal, blur_piece_main,
    pass_through_vertex, white_noise_fragment, simplex_piece,         fbm_piece_main,
};

static const int piece_count = 8;
static const int most_pieces = 64;
// The joining array shared by every call of stitch.
static const char* joined[most_pieces];

// The info log of a shader or a program, through the matching pair of GL
// queries.
static std::string info_log(GLuint name, PFNGLGETSHADERIVPROC get,
                            PFNGLGETSHADERINFOLOGPROC get_log) {
  GLint length = 0;
  get(name, GL_INFO_LOG_LENGTH, &length);
  std::vector<char> text(length > 1 ? length : 1, '\0');
  get_log(name, static_cast<GLsizei>(text.size()), nullptr, text.data());
  return text.data();
}

std::string shader_info_log(GLuint shader) {
  return info_log(shader, glGetShaderiv, glGetShaderInfoLog);
}

std::string program_info_log(GLuint program) {
  return info_log(program, glGetProgramiv, glGetProgramInfoLog);
}

// Whether the shader compiled; when not, its info log goes into *log.
static bool shader_compiled(GLuint name, std::string* log) {
  GLint ok = GL_FALSE;
  glGetShaderiv(name, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) *log = shader_info_log(name);
  return ok == GL_TRUE;
}

// Whether the program linked; when not, its info log goes into *log.
static bool program_linked(GLuint name, std::string* log) {
  GLint ok = GL_FALSE;
  glGetProgramiv(name, GL_LINK_STATUS, &ok);
  if (ok != GL_TRUE) *log = program_info_log(name);
  return ok == GL_TRUE;
}

static void report_shader_log(GLuint name, GLenum type) {
  std::string log;
  if (shader_compiled(name, &log)) return;
  std::fprintf(stderr, "%s: %s shader %u does not compile:\n%s\n", system_program_name(),
               type == GL_VERTEX_SHADER ? "vertex" : "fragment", name, log.c_str());
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
  std::string log;
  if (!program_linked(name, &log))
    std::fprintf(stderr, "%s: program %u does not link:\n%s\n", system_program_name(), name,
                 log.c_str());
  return static_cast<int>(name);
}

GLuint build_shader(const char* source, GLenum type, std::string* log) {
  const GLuint name = glCreateShader(type);
  gl_shader_source(name, type, 1, &source);
  glCompileShader(name);
  if (shader_compiled(name, log)) return name;
  glDeleteShader(name);
  return 0;
}

GLuint build_program(GLuint vertex, GLuint fragment, std::string* log) {
  const GLuint name = glCreateProgram();
  if (vertex) glAttachShader(name, vertex);
  glAttachShader(name, fragment);
  gl_link_program(name);
  if (program_linked(name, log)) return name;
  glDeleteProgram(name);
  return 0;
}

void delete_program_and_shaders(GLuint program) {
  GLuint shaders[4];
  GLsizei count = 0;
  glGetAttachedShaders(program, 4, &count, shaders);
  glDeleteProgram(program);
  for (GLsizei i = 0; i < count; ++i) glDeleteShader(shaders[i]);
}
