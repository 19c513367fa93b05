// window.cpp: the small window layer over GLFW 3, the only place that talks
// to the windowing library. It gives the film what it needs and nothing
// more: one window, a clock, swap-then-poll, the Escape key; for the viewer a
// resizable window and a queue of key presses.
#include "toolkit/toolkit.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "toolkit/pieces.h"
#if FILM_EGL
#include "toolkit/headless.h"
#endif

static GLFWwindow* window_handle = nullptr;

window_gl toolkit_window_gl = WINDOW_GL_X11;
// Chosen by window_init: the EGL context without a window, its size, and the
// start of its clock.
static struct {
  bool chosen;
  bool open;
  int width;
  int height;
  std::chrono::steady_clock::time_point start;
} headless = {false, false, 0, 0, {}};

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
// Escape as the players read it: held down now, and pressed since the last
// read (however short the press).
static struct {
  bool down;
  bool pressed;
} escape_key = {false, false};
static char last_error[256] = "unknown reason";

static const char* program_name() {
  return system_program_name();
}

static void remember_error(int, const char* description) {
  std::snprintf(last_error, sizeof last_error, "%s", description ? description : "unknown reason");
}

int window_headless() {
  return headless.open;
}

const char* window_gl_platform() {
#if FILM_EGL
  return headless.open ? headless_platform() : "X11";
#else
  return "a window";
#endif
}

int window_gl_uses_egl(window_gl choice) {
#if FILM_EGL
  const char* display = std::getenv("DISPLAY");
  return choice == WINDOW_GL_EGL || (choice == WINDOW_GL_AUTO && (!display || !display[0]));
#else
  return choice == WINDOW_GL_EGL;  // without EGL, automatic is the window system
#endif
}

int window_init() {
  headless.chosen = window_gl_uses_egl(toolkit_window_gl) != 0;
  if (headless.chosen) {
#if FILM_EGL
    headless.start = std::chrono::steady_clock::now();
    return 1;
#else
    std::fprintf(stderr, "%s: cannot start OpenGL without a window: this build has no EGL\n",
                 program_name());
    return 0;
#endif
  }
  glfwSetErrorCallback(remember_error);
  if (!glfwInit()) {
    std::fprintf(stderr, "%s: cannot start the window system: %s\n", program_name(), last_error);
    return 0;
  }
  // glfwTerminate frees the input libraries glfwInit loaded; they stay until
  // the process ends instead (see system_keep_input_libraries).
  system_keep_input_libraries();
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
  if (action == GLFW_RELEASE) escape_key.down = false;
}

void window_forget_keys() {
  // Presses made while the program was busy (not polling) are still in the
  // window system's queue: take them in first, to forget them too.
  if (window_handle) glfwPollEvents();
  key_queue.first = key_queue.count = 0;
  // A press already released is forgotten; a key still held stays down.
  escape_key.pressed = false;
}

int window_next_key(window_key* out) {
  if (key_queue.count == 0) return 0;
  *out = key_queue.keys[key_queue.first];
  key_queue.first = (key_queue.first + 1) % 64;
  --key_queue.count;
  return 1;
}

int window_open(int width, int height, int depth_bits, window_mode mode) {
#if FILM_EGL
  if (headless.chosen) {
    if (const char* problem = headless_open(width, height, depth_bits, toolkit_gl_checks != 0)) {
      std::fprintf(stderr, "%s: cannot make a %dx%d OpenGL context through EGL: %s\n",
                   program_name(), width, height, problem);
      return 0;
    }
    headless.open = true;
    headless.width = width;
    headless.height = height;
    if (toolkit_gl_checks) toolkit_listen_to_gl_errors(headless_proc_address);
    key_queue.first = key_queue.count = 0;
    return 1;
  }
#endif
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
  if (toolkit_gl_checks) toolkit_listen_to_gl_errors(glfwGetProcAddress);
  // Escape is read once a frame, and a frame on a software renderer takes
  // longer than a short tap: the key callback keeps each press until it has
  // been read (escape_key), so a tap at any moment ends the film after the
  // frame in progress.
  // No pointer over the full-screen film and its bars.
  if (mode == WINDOW_FULLSCREEN) glfwSetInputMode(window_handle, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
  key_queue.first = key_queue.count = 0;
  escape_key.down = escape_key.pressed = false;
  glfwSetKeyCallback(window_handle, queue_key);
  return 1;
}

double window_time() {
  if (headless.chosen)
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - headless.start).count();
  return glfwGetTime();
}

// An off-screen surface has nothing to present and no events.
void window_swap() {
  if (headless.chosen) return;
  glfwSwapBuffers(window_handle);
  glfwPollEvents();
}

void window_wait_events(double seconds) {
  if (headless.chosen) return;
  glfwWaitEventsTimeout(seconds);
}

int window_escape_down() {
  const bool read = escape_key.pressed || escape_key.down;
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
  *width = headless.open ? headless.width : 0;
  *height = headless.open ? headless.height : 0;
  if (window_handle) glfwGetFramebufferSize(window_handle, width, height);
}

void window_leave() {
#ifdef _WIN32
  // Windows closes the window and its context with the process, which the
  // program then ends at once (system_end_process). Under Wine, closing them
  // first now and then raised an X error (BadWindow on unmapping the
  // process's first window) that ended the program with status 1.
  window_handle = nullptr;
#else
  window_terminate();
#endif
}

void window_terminate() {
  if (headless.chosen) {
#if FILM_EGL
    if (headless.open) headless_close();
#endif
    headless.open = headless.chosen = false;
    return;
  }
  glfwTerminate();
  window_handle = nullptr;
}
