// window.cpp: the small window layer over GLFW 3, the only place that talks
// to the windowing library. It gives the film what it needs and nothing
// more: one window, a clock, swap-then-poll, the Escape key; for the viewer a
// resizable window and a queue of key presses.
#include "toolkit/toolkit.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "toolkit/pieces.h"

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
static char last_error[256] = "unknown reason";

static const char* program_name() {
  return system_program_name();
}

static void remember_error(int, const char* description) {
  std::snprintf(last_error, sizeof last_error, "%s", description ? description : "unknown reason");
}

int window_init() {
  glfwSetErrorCallback(remember_error);
  if (!glfwInit()) {
    std::fprintf(stderr, "%s: cannot start the window system: %s\n", program_name(), last_error);
    return 0;
  }
  return 1;
}

void window_inject_key(int key, int mods) {
  if (key_queue.count == 64) {  // full: the oldest press gives way
    key_queue.first = (key_queue.first + 1) % 64;
    --key_queue.count;
  }
  key_queue.keys[(key_queue.first + key_queue.count) % 64] = {key, mods};
  ++key_queue.count;
}

static void queue_key(GLFWwindow*, int key, int, int action, int mods) {
  if (action == GLFW_PRESS || action == GLFW_REPEAT) window_inject_key(key, mods);
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
  if (toolkit_gl_checks) toolkit_listen_to_gl_errors(glfwGetProcAddress);
  // The key is read once a frame, and a frame on a software renderer takes
  // longer than a short tap: sticky keys keep a press reported until it has
  // been read, so a tap at any moment ends the film after the frame in progress.
  glfwSetInputMode(window_handle, GLFW_STICKY_KEYS, GLFW_TRUE);
  // No pointer over the full-screen film and its bars.
  if (mode == WINDOW_FULLSCREEN) glfwSetInputMode(window_handle, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
  key_queue.first = key_queue.count = 0;
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
  return window_handle && glfwGetKey(window_handle, GLFW_KEY_ESCAPE) == GLFW_PRESS;
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
