// window_backend.h: what a way of reaching OpenGL gives the window layer.
// window.cpp holds the one window interface of toolkit.h, chooses a back-end
// once (window_init) and forwards to it; each back-end lives in a file of its
// own: window_glfw.cpp (a window of the window system, every build) and
// window_egl.cpp (an EGL context without a window system, Linux builds only,
// FILM_EGL). The key queue and the Escape key live in window.cpp; a back-end
// with keys feeds them through window_take_key_event.
#pragma once

#include "toolkit/toolkit.h"

struct window_backend {
  // Starts the library; 1, or 0 with a line on stderr.
  int (*init)();
  // Opens the window or context and makes it current; 1, or 0 with a line.
  int (*open)(int width, int height, int depth_bits, window_mode mode);
  // Seconds since init.
  double (*time)();
  // Presents the back buffer, then processes pending events.
  void (*swap)();
  // Processes pending events without waiting (none before open).
  void (*poll_events)();
  // Processes pending events, waiting up to `seconds` for one.
  void (*wait_events)(double seconds);
  // Non-zero once the system asked the window to close.
  int (*close_requested)();
  void (*set_size)(int width, int height);
  // The framebuffer's size as obtained; 0 x 0 before open.
  void (*framebuffer_size)(int* width, int* height);
  // Closes the window or context and releases the library.
  void (*terminate)();
  // Closes as the program ends (see window_leave).
  void (*leave)();
  // What the open context runs on.
  const char* (*platform)();
};

// The back-end of a window of the window system.
extern const window_backend window_glfw_backend;
#if FILM_EGL
// The back-end of an EGL context without a window system.
extern const window_backend window_egl_backend;
#endif

// A key event of the window system, for the key queue and the Escape key:
// `pressed` for a press or an auto-repeat, else a release.
void window_take_key_event(int key, int mods, bool pressed, bool repeat);
