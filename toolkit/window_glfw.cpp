// window_glfw.cpp: the window layer's back-end over GLFW 3, the only place
// that talks to the windowing library: a window of the window system with
// its context, its clock, swap-then-poll and its key events (passed on to
// the key queue in window.cpp).
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <cstdio>

#include "toolkit/pieces.h"
#include "toolkit/window_backend.h"

static_assert(WINDOW_KEY_SPACE == GLFW_KEY_SPACE && WINDOW_KEY_COMMA == GLFW_KEY_COMMA &&
                  WINDOW_KEY_PERIOD == GLFW_KEY_PERIOD && WINDOW_KEY_0 == GLFW_KEY_0 &&
                  WINDOW_KEY_A == GLFW_KEY_A && WINDOW_KEY_ESCAPE == GLFW_KEY_ESCAPE &&
                  WINDOW_KEY_RIGHT == GLFW_KEY_RIGHT && WINDOW_KEY_LEFT == GLFW_KEY_LEFT &&
                  WINDOW_KEY_HOME == GLFW_KEY_HOME && WINDOW_KEY_END == GLFW_KEY_END &&
                  WINDOW_MOD_SHIFT == GLFW_MOD_SHIFT,
              "the window layer's key codes are the windowing library's");

static GLFWwindow* window_handle = nullptr;
static char last_error[256] = "unknown reason";

static const char* program_name() {
  return system_program_name();
}

static void remember_error(int, const char* description) {
  std::snprintf(last_error, sizeof last_error, "%s", description ? description : "unknown reason");
}

static int glfw_init() {
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

static void queue_key(GLFWwindow*, int key, int, int action, int mods) {
  window_take_key_event(key, mods, action != GLFW_RELEASE, action == GLFW_REPEAT);
}

static int glfw_open(int width, int height, int depth_bits, window_mode mode) {
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
  // longer than a short tap: the key callback hands each press to the queue,
  // which keeps it until it has been read, so a tap at any moment ends the
  // film after the frame in progress.
  // No pointer over the full-screen film and its bars.
  if (mode == WINDOW_FULLSCREEN) glfwSetInputMode(window_handle, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
  glfwSetKeyCallback(window_handle, queue_key);
  return 1;
}

static double glfw_time() {
  return glfwGetTime();
}

static void glfw_swap() {
  glfwSwapBuffers(window_handle);
  glfwPollEvents();
}

static void glfw_poll_events() {
  if (window_handle) glfwPollEvents();
}

static void glfw_wait_events(double seconds) {
  glfwWaitEventsTimeout(seconds);
}

static int glfw_close_requested() {
  return window_handle && glfwWindowShouldClose(window_handle);
}

static void glfw_set_size(int width, int height) {
  if (window_handle) glfwSetWindowSize(window_handle, width, height);
}

static void glfw_framebuffer_size(int* width, int* height) {
  *width = *height = 0;
  if (window_handle) glfwGetFramebufferSize(window_handle, width, height);
}

static void glfw_terminate() {
  glfwTerminate();
  window_handle = nullptr;
}

static void glfw_leave() {
#ifdef _WIN32
  // Windows closes the window and its context with the process, which the
  // program then ends at once (system_end_process). Under Wine, closing them
  // first now and then raised an X error (BadWindow on unmapping the
  // process's first window) that ended the program with status 1.
  window_handle = nullptr;
#else
  glfw_terminate();
#endif
}

static const char* glfw_platform() {
#if FILM_EGL
  return "X11";
#else
  return "a window";
#endif
}

const window_backend window_glfw_backend = {
    glfw_init,
    glfw_open,
    glfw_time,
    glfw_swap,
    glfw_poll_events,
    glfw_wait_events,
    glfw_close_requested,
    glfw_set_size,
    glfw_framebuffer_size,
    glfw_terminate,
    glfw_leave,
    glfw_platform,
};
