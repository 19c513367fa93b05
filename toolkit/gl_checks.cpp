// gl_checks.cpp: what the toolkit asks of the GL it is given: the reports of
// GL errors after each stage in checking builds (with the driver's own
// explanation where a debug context gives one), and the capability check that
// every program makes before it draws.
#include <cstdio>
#include <cstring>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

#ifndef FILM_GL_DEBUG
#define FILM_GL_DEBUG 0
#endif

int toolkit_gl_checks = FILM_GL_DEBUG;

// The driver's explanation of the last GL error, from the debug output of a
// debug context; empty when the context gives none.
static char last_gl_message[512] = "";

static void GLAPIENTRY remember_gl_message(GLenum, GLenum type, GLuint, GLenum, GLsizei,
                                           const GLchar* message, const void*) {
  if (type == GL_DEBUG_TYPE_ERROR && message)
    std::snprintf(last_gl_message, sizeof last_gl_message, "%s", message);
}

// Asks the current context for synchronous debug output of its errors. Called
// before GLEW is initialised, so the entry points come from GLFW.
void toolkit_listen_to_gl_errors(void (*(*get_proc)(const char* name))()) {
  const auto callback =
      reinterpret_cast<PFNGLDEBUGMESSAGECALLBACKPROC>(get_proc("glDebugMessageCallback"));
  if (!callback) return;
  glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  callback(remember_gl_message, nullptr);
}

static const char* gl_error_name(GLenum error) {
  switch (error) {
    case GL_INVALID_ENUM:
      return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
      return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
      return "GL_INVALID_OPERATION";
    case GL_STACK_OVERFLOW:
      return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW:
      return "GL_STACK_UNDERFLOW";
    case GL_OUT_OF_MEMORY:
      return "GL_OUT_OF_MEMORY";
    case GL_INVALID_FRAMEBUFFER_OPERATION:
      return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default:
      return "an unknown GL error";
  }
}

int toolkit_gl_stage(const char* stage) {
  if (!toolkit_gl_checks) return 0;
  int found = 0;
  // A lost context keeps answering GL_CONTEXT_LOST; the bound keeps this finite.
  for (GLenum error = glGetError(); error != GL_NO_ERROR && found < 16; error = glGetError()) {
    ++found;
    std::fprintf(stderr, "%s: GL error %s in the %s stage%s%s\n", system_program_name(),
                 gl_error_name(error), stage, last_gl_message[0] ? ": " : "", last_gl_message);
    last_gl_message[0] = '\0';
  }
  return found;
}
// Whether the context's version string names at least major.minor. An OpenGL
// ES context (a browser's WebGL among them) says "OpenGL ES" before the
// numbers; *es tells which kind it is.
static bool version_at_least(const char* version, int major, int minor, bool* es) {
  *es = version && std::strncmp(version, "OpenGL ES ", 10) == 0;
  if (*es) version += 10;
  int found_major = 0, found_minor = 0;
  if (!version || std::sscanf(version, "%d.%d", &found_major, &found_minor) != 2) return false;
  return found_major > major || (found_major == major && found_minor >= minor);
}

bool toolkit_has_word(const char* list, const char* word) {
  if (!list) return false;
  const size_t length = std::strlen(word);
  for (const char* at = std::strstr(list, word); at; at = std::strstr(at + 1, word)) {
    const bool starts = at == list || at[-1] == ' ';
    const bool ends = at[length] == ' ' || at[length] == '\0';
    if (starts && ends) return true;
  }
  return false;
}

static bool has_extension(const char* extensions, const char* name) {
  return toolkit_has_word(extensions, name);
}

const char* toolkit_missing_capability() {
#if defined(__EMSCRIPTEN__)
  // In a browser the page has checked WebGL 1 and each extension the film
  // needs before the program starts (webgl.js), by WebGL's own names, which
  // the desktop checks below do not know.
  return nullptr;
#endif
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  bool es = false;
  if (!version_at_least(version, 2, 0, &es)) return "OpenGL 2.0 is not available";
  bool es3 = false;
  const bool gl3 = version_at_least(version, 3, 0, &es3);
  // OpenGL ES 2.0 has framebuffer objects; half floats are its extension.
  if (es)
    return gl3 || has_extension(extensions, "GL_OES_texture_half_float")
               ? nullptr
               : "half-float textures are not available";
  if (!gl3 && !has_extension(extensions, "GL_ARB_framebuffer_object"))
    return "framebuffer objects are not available";
  if (!gl3 && !has_extension(extensions, "GL_ARB_texture_float"))
    return "half-float textures are not available";
  return nullptr;
}

const char* toolkit_missing_entry_point() {
  // Every entry point beyond OpenGL 1.1 that the toolkit and the film call,
  // as the loader left it (GLEW's pointers; a browser's are functions).
  struct entry_point {
    const char* name;
    const void* address;
  };
// clang-format off
#define ENTRY(name) {#name, reinterpret_cast<const void*>(name)}
  // clang-format on
  const entry_point needed[] = {
      ENTRY(glActiveTexture),   ENTRY(glAttachShader),       ENTRY(glBindBuffer),
      ENTRY(glBindFramebuffer), ENTRY(glBufferData),         ENTRY(glCheckFramebufferStatus),
      ENTRY(glCompileShader),   ENTRY(glCreateProgram),      ENTRY(glCreateShader),
      ENTRY(glDeleteBuffers),   ENTRY(glDeleteFramebuffers), ENTRY(glDeleteProgram),
      ENTRY(glDeleteShader),    ENTRY(glDrawBuffers),        ENTRY(glFramebufferTexture2D),
      ENTRY(glGenBuffers),      ENTRY(glGenFramebuffers),    ENTRY(glGetAttachedShaders),
      ENTRY(glGetProgramiv),    ENTRY(glGetShaderiv),        ENTRY(glGetUniformLocation),
      ENTRY(glLinkProgram),     ENTRY(glShaderSource),       ENTRY(glUniform1f),
      ENTRY(glUniform1fv),      ENTRY(glUniform1i),          ENTRY(glUniform2f),
      ENTRY(glUseProgram),
  };
#undef ENTRY
  for (const entry_point& entry : needed)
    if (!entry.address) return entry.name;
  return nullptr;
}
