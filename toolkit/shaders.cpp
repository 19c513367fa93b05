// shaders.cpp: building shaders from whole texts or from numbered pieces (the
// piece table Z886594B), and linking programs. shader, stitch and program print the info log of a
// failure on stderr and return the name all the same, as GL makes it;
// build_shader and build_program hand the log back instead, for a program
// that shows it (the viewer's live shaders).
//
// Where the GL compiles in the background (gl_compiles_in_background), shader,
// stitch and program return without waiting: the shaders and programs they
// made stay pending until programs_pending finds them complete or
// programs_finish waits for them, and only then are their logs checked and a
// failure printed, as it would have been at once.
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

static void report_shader_log(GLuint name) {
  std::string log;
  if (shader_compiled(name, &log)) return;
  GLint type = 0;
  glGetShaderiv(name, GL_SHADER_TYPE, &type);
  std::fprintf(stderr, "%s: %s shader %u does not compile:\n%s\n", system_program_name(),
               type == GL_VERTEX_SHADER ? "vertex" : "fragment", name, log.c_str());
}

static void report_program_log(GLuint name) {
  std::string log;
  if (!program_linked(name, &log))
    std::fprintf(stderr, "%s: program %u does not link:\n%s\n", system_program_name(), name,
                 log.c_str());
}

// Shaders and programs compiling in the background, in the order they were
// made, each program with what to do once it is complete.
struct pending_program {
  GLuint name;
  void (*ready)(GLuint program);
};
static std::vector<GLuint> pending_shaders;
static std::vector<pending_program> pending_programs;
// The query of KHR_parallel_shader_compile: whether a background compile or
// link is over, asked without waiting for it.
static const GLenum completion_status = 0x91B1;

static void compiled(GLuint name) {
  if (gl_compiles_in_background())
    pending_shaders.push_back(name);
  else
    report_shader_log(name);
}

static void linked(GLuint name) {
  if (gl_compiles_in_background())
    pending_programs.push_back({name, nullptr});
  else
    report_program_log(name);
}

// Reports a complete program as program does: first its shaders still
// pending (complete with it), then the link; then runs what waited for it.
static void report_complete(const pending_program& entry) {
  GLuint attached[4];
  GLsizei count = 0;
  glGetAttachedShaders(entry.name, 4, &count, attached);
  for (GLsizei i = 0; i < count; ++i) {
    for (size_t j = 0; j < pending_shaders.size(); ++j) {
      if (pending_shaders[j] != attached[i]) continue;
      report_shader_log(attached[i]);
      pending_shaders.erase(pending_shaders.begin() + static_cast<long>(j));
      break;
    }
  }
  report_program_log(entry.name);
  if (entry.ready) entry.ready(entry.name);
}

int programs_pending() {
  // Taken out of the list first: a program's `ready` may make more.
  std::vector<pending_program> complete;
  for (size_t i = 0; i < pending_programs.size();) {
    GLint done = GL_FALSE;
    glGetProgramiv(pending_programs[i].name, completion_status, &done);
    if (done != GL_TRUE) {
      ++i;
      continue;
    }
    complete.push_back(pending_programs[i]);
    pending_programs.erase(pending_programs.begin() + static_cast<long>(i));
  }
  for (const pending_program& entry : complete) report_complete(entry);
  // Shaders that no pending program holds.
  for (size_t i = 0; i < pending_shaders.size();) {
    GLint done = GL_FALSE;
    glGetShaderiv(pending_shaders[i], completion_status, &done);
    if (done != GL_TRUE) {
      ++i;
      continue;
    }
    report_shader_log(pending_shaders[i]);
    pending_shaders.erase(pending_shaders.begin() + static_cast<long>(i));
  }
  return static_cast<int>(pending_programs.size() + pending_shaders.size());
}

void programs_finish() {
  while (!pending_programs.empty()) {
    const pending_program entry = pending_programs.front();
    pending_programs.erase(pending_programs.begin());
    report_complete(entry);
  }
  for (GLuint name : pending_shaders) report_shader_log(name);
  pending_shaders.clear();
}

void when_program_ready(GLuint program, void (*ready)(GLuint program)) {
  for (pending_program& entry : pending_programs) {
    if (entry.name != program) continue;
    entry.ready = ready;
    return;
  }
  ready(program);
}

int shader(const char* source, GLenum type) {
  const GLuint name = glCreateShader(type);
  gl_shader_source(name, type, 1, &source);
  glCompileShader(name);
  compiled(name);
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
  compiled(name);
  return static_cast<int>(name);
}

int program(int first, int second, int third) {
  const GLuint name = glCreateProgram();
  if (second != -1) glAttachShader(name, static_cast<GLuint>(second));
  if (first != -1) glAttachShader(name, static_cast<GLuint>(first));
  glAttachShader(name, static_cast<GLuint>(third));
  gl_link_program(name);
  linked(name);
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
