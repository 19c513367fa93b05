// window.cpp: the small window layer over GLFW 3, the only place that talks
// to the windowing library. It gives the film what it needs and nothing
// more: one window, a clock, swap-then-poll, the Escape key, and TGA images
// read into mipmapped textures; for the viewer a resizable window and a queue
// of key presses.
#include "toolkit/toolkit.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#ifndef FILM_GL_DEBUG
#define FILM_GL_DEBUG 0
#endif

int toolkit_gl_checks = FILM_GL_DEBUG;

static GLFWwindow* window_handle = nullptr;

static_assert(WINDOW_KEY_SPACE == GLFW_KEY_SPACE && WINDOW_KEY_COMMA == GLFW_KEY_COMMA &&
                  WINDOW_KEY_PERIOD == GLFW_KEY_PERIOD && WINDOW_KEY_0 == GLFW_KEY_0 &&
                  WINDOW_KEY_A == GLFW_KEY_A && WINDOW_KEY_ESCAPE == GLFW_KEY_ESCAPE &&
                  WINDOW_KEY_RIGHT == GLFW_KEY_RIGHT && WINDOW_KEY_LEFT == GLFW_KEY_LEFT &&
                  WINDOW_KEY_HOME == GLFW_KEY_HOME && WINDOW_KEY_END == GLFW_KEY_END &&
                  WINDOW_MOD_SHIFT == GLFW_MOD_SHIFT,
              "the window layer's key codes are the windowing library's");

// Key presses not yet taken, oldest first: a ring of the last 64.
static struct {
  window_key keys[64];
  int first;
  int count;
} key_queue = {{}, 0, 0};
// Escape as the players read it: held down now, pressed since the last
// read (however short the press), and a press to leave unread until the key
// is released (window_forget_keys while it is held).
static struct {
  bool down;
  bool pressed;
  bool ignored;
} escape_key = {false, false, false};
static char last_error[256] = "unknown reason";

static const char* program_name() {
  return system_program_name();
}

static void remember_error(int, const char* description) {
  std::snprintf(last_error, sizeof last_error, "%s", description ? description : "unknown reason");
}

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
static void listen_to_gl_errors() {
  const auto callback =
      reinterpret_cast<PFNGLDEBUGMESSAGECALLBACKPROC>(glfwGetProcAddress("glDebugMessageCallback"));
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
    std::fprintf(stderr, "%s: GL error %s in the %s stage%s%s\n", program_name(),
                 gl_error_name(error), stage, last_gl_message[0] ? ": " : "", last_gl_message);
    last_gl_message[0] = '\0';
  }
  return found;
}

int window_init() {
  glfwSetErrorCallback(remember_error);
  if (!glfwInit()) {
    std::fprintf(stderr, "%s: cannot start the window system: %s\n", program_name(), last_error);
    return 0;
  }
  return 1;
}

static void enqueue_key(int key, int mods) {
  if (key_queue.count == 64) {  // full: the oldest press gives way
    key_queue.first = (key_queue.first + 1) % 64;
    --key_queue.count;
  }
  key_queue.keys[(key_queue.first + key_queue.count) % 64] = {key, mods};
  ++key_queue.count;
}

void window_inject_key(int key, int mods) {
  enqueue_key(key, mods);
  if (key == WINDOW_KEY_ESCAPE) escape_key.pressed = true;  // a tap: pressed, and up again
}

static void queue_key(GLFWwindow*, int key, int, int action, int mods) {
  if (action == GLFW_PRESS || action == GLFW_REPEAT) enqueue_key(key, mods);
  if (key != GLFW_KEY_ESCAPE) return;
  if (action == GLFW_PRESS) escape_key.down = escape_key.pressed = true;
  if (action == GLFW_RELEASE) escape_key.down = escape_key.ignored = false;
}

void window_forget_keys() {
  // Presses made while the program was busy (not polling) are still in the
  // window system's queue: take them in first, to forget them too.
  if (window_handle) glfwPollEvents();
  key_queue.first = key_queue.count = 0;
  escape_key.pressed = false;
  escape_key.ignored = escape_key.down;
}

int window_next_key(window_key* out) {
  if (key_queue.count == 0) return 0;
  *out = key_queue.keys[key_queue.first];
  key_queue.first = (key_queue.first + 1) % 64;
  --key_queue.count;
  return 1;
}

int window_open(int width, int height, int depth_bits, window_mode mode) {
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_RED_BITS, 8);
  glfwWindowHint(GLFW_GREEN_BITS, 8);
  glfwWindowHint(GLFW_BLUE_BITS, 8);
  glfwWindowHint(GLFW_ALPHA_BITS, 8);
  glfwWindowHint(GLFW_DEPTH_BITS, depth_bits);
  glfwWindowHint(GLFW_STENCIL_BITS, 0);
  // A debug context makes the driver explain each error it raises.
  if (toolkit_gl_checks) glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, GLFW_TRUE);
  GLFWmonitor* monitor = nullptr;
  if (mode == WINDOW_FULLSCREEN) {
    monitor = glfwGetPrimaryMonitor();
    if (!monitor) {
      std::fprintf(stderr, "%s: cannot open a full-screen window: no monitor found\n",
                   program_name());
      return 0;
    }
  } else if (mode == WINDOW_RESIZABLE) {
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
  } else {
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
  }
  window_handle = glfwCreateWindow(width, height, "", monitor, nullptr);
  if (!window_handle) {
    std::fprintf(stderr, "%s: cannot open a %dx%d window: %s\n", program_name(), width, height,
                 last_error);
    return 0;
  }
  glfwMakeContextCurrent(window_handle);
  if (toolkit_gl_checks) listen_to_gl_errors();
  // Escape is read once a frame, and a frame on a software renderer takes
  // longer than a short tap: the key callback keeps each press until it has
  // been read (escape_key), so a tap at any moment ends the film after the
  // frame in progress.
  // No pointer over the full-screen film and its bars.
  if (mode == WINDOW_FULLSCREEN) glfwSetInputMode(window_handle, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
  key_queue.first = key_queue.count = 0;
  escape_key.down = escape_key.pressed = escape_key.ignored = false;
  glfwSetKeyCallback(window_handle, queue_key);
  return 1;
}

double window_time() {
  return glfwGetTime();
}

void window_swap() {
  glfwSwapBuffers(window_handle);
  glfwPollEvents();
}

void window_wait_events(double seconds) {
  glfwWaitEventsTimeout(seconds);
}

int window_escape_down() {
  const bool read = escape_key.pressed || (escape_key.down && !escape_key.ignored);
  escape_key.pressed = false;
  return read;
}

int window_close_requested() {
  return window_handle && glfwWindowShouldClose(window_handle);
}

void window_set_size(int width, int height) {
  if (window_handle) glfwSetWindowSize(window_handle, width, height);
}

void window_framebuffer_size(int* width, int* height) {
  *width = 0;
  *height = 0;
  if (window_handle) glfwGetFramebufferSize(window_handle, width, height);
}

void window_terminate() {
  glfwTerminate();
  window_handle = nullptr;
}

// Whether the context's version string names at least major.minor.
static bool version_at_least(const char* version, int major, int minor) {
  int found_major = 0, found_minor = 0;
  if (!version || std::sscanf(version, "%d.%d", &found_major, &found_minor) != 2) return false;
  return found_major > major || (found_major == major && found_minor >= minor);
}

static bool has_extension(const char* extensions, const char* name) {
  if (!extensions) return false;
  const size_t length = std::strlen(name);
  for (const char* at = std::strstr(extensions, name); at; at = std::strstr(at + 1, name)) {
    const bool starts = at == extensions || at[-1] == ' ';
    const bool ends = at[length] == ' ' || at[length] == '\0';
    if (starts && ends) return true;
  }
  return false;
}

const char* toolkit_missing_capability() {
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (!version_at_least(version, 2, 0)) return "OpenGL 2.0 is not available";
  const bool gl3 = version_at_least(version, 3, 0);
  if (!gl3 && !has_extension(extensions, "GL_ARB_framebuffer_object"))
    return "framebuffer objects are not available";
  if (!gl3 && !has_extension(extensions, "GL_ARB_texture_float"))
    return "half-float textures are not available";
  return nullptr;
}

// The largest TGA file read: the most pixels an image may hold, four bytes
// each, with a run-length packet byte per pixel and room for the header and
// colour map. A larger file is refused before it is read into memory.
static const long long max_tga_file_bytes = 8192LL * 4096 * 5 + 18 + 255 + 65536 * 4;

const char* window_read_tga(const char* path, int max_size, tga_image* out) {
  *out = tga_image{};
  std::vector<unsigned char> file;
  if (const char* problem = system_read_file(path, max_tga_file_bytes, &file)) return problem;
  return window_decode_tga(file.data(), file.size(), max_size, out);
}

void window_upload_tga(const tga_image* image) {
  static const GLenum formats[5] = {0, GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
  const GLenum format = formats[image->channels];
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const unsigned char* level = image->pixels;
  int w = image->width, h = image->height;
  for (int mip = 0; mip < image->level_count; ++mip) {
    glTexImage2D(GL_TEXTURE_2D, mip, static_cast<GLint>(format), w, h, 0, format, GL_UNSIGNED_BYTE,
                 level);
    level += static_cast<size_t>(w) * h * image->channels;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

int window_load_texture(const char* path) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  tga_image image;
  if (const char* problem = window_read_tga(path, max_size, &image)) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", program_name(), path, problem);
    return 0;
  }
  window_upload_tga(&image);
  window_free_tga(&image);
  return 1;
}
