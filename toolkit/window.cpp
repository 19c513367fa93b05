// window.cpp: the window layer as the film sees it (toolkit.h). It chooses
// how to reach OpenGL once, in window_init, and forwards every call to that
// back-end (window_backend.h): a window of the window system, or an EGL
// context without one. The key queue and the Escape key, the same for every
// back-end, live here.
#include <cstdio>
#include <cstdlib>

#include "toolkit/pieces.h"
#include "toolkit/window_backend.h"

window_gl toolkit_window_gl = WINDOW_GL_X11;

// The back-end window_init chose; the window system's until then.
static const window_backend* backend = &window_glfw_backend;

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

int window_gl_uses_egl(window_gl choice) {
#if FILM_EGL
  const char* display = std::getenv("DISPLAY");
  return choice == WINDOW_GL_EGL || (choice == WINDOW_GL_AUTO && (!display || !display[0]));
#else
  return choice == WINDOW_GL_EGL;  // without EGL, automatic is the window system
#endif
}

int window_init() {
  if (!window_gl_uses_egl(toolkit_window_gl)) {
    backend = &window_glfw_backend;
  } else {
#if FILM_EGL
    backend = &window_egl_backend;
#else
    std::fprintf(stderr, "%s: cannot start OpenGL without a window: this build has no EGL\n",
                 system_program_name());
    return 0;
#endif
  }
  return backend->init();
}

const char* window_gl_platform() {
  return backend->platform();
}

static void enqueue_key(int key, int mods) {
  if (key_queue.count == 64) {  // full: the oldest press gives way
    key_queue.first = (key_queue.first + 1) % 64;
    --key_queue.count;
  }
  key_queue.keys[(key_queue.first + key_queue.count) % 64] = {key, mods};
  ++key_queue.count;
}

void window_take_key_event(int key, int mods, bool pressed, bool repeat) {
  if (pressed) enqueue_key(key, mods);
  if (key != WINDOW_KEY_ESCAPE) return;
  if (pressed && !repeat) escape_key.down = escape_key.pressed = true;
  if (!pressed) escape_key.down = false;
}

void window_inject_key(int key, int mods) {
  enqueue_key(key, mods);
  if (key == WINDOW_KEY_ESCAPE) escape_key.pressed = true;  // a tap: pressed, and up again
}

void window_forget_keys() {
  // Presses made while the program was busy (not polling) are still in the
  // window system's queue: take them in first, to forget them too.
  backend->poll_events();
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
  if (!backend->open(width, height, depth_bits, mode)) return 0;
  key_queue.first = key_queue.count = 0;
  escape_key.down = escape_key.pressed = false;
  return 1;
}

double window_time() {
  return backend->time();
}

void window_swap() {
  backend->swap();
}

void window_wait_events(double seconds) {
  backend->wait_events(seconds);
}

int window_escape_down() {
  const bool read = escape_key.pressed || escape_key.down;
  escape_key.pressed = false;
  return read;
}

int window_close_requested() {
  return backend->close_requested();
}

void window_set_size(int width, int height) {
  backend->set_size(width, height);
}

void window_framebuffer_size(int* width, int* height) {
  backend->framebuffer_size(width, height);
}

void window_leave() {
  backend->leave();
  backend = &window_glfw_backend;
}

void window_terminate() {
  backend->terminate();
  backend = &window_glfw_backend;
}
