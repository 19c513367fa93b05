// window_egl.cpp: the window layer's back-end without a window system: an
// OpenGL context through EGL, its clock, and no events or keys. GPU
// drivers offer such contexts on the device platform (one display per GPU,
// EGL_EXT_platform_device); Mesa also offers a surfaceless platform, which its
// software rasteriser serves. The context draws into a pbuffer of the film's
// size: that is its default framebuffer, read back and presented to exactly
// as a hidden window's back buffer.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "toolkit/pieces.h"
#include "toolkit/window_backend.h"

namespace {

struct egl_state {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
  char platform[160] = "";
  int width = 0;  // of the pbuffer, while the context is open
  int height = 0;
  std::chrono::steady_clock::time_point start;  // of the clock, at init
};
egl_state state;

bool has_word(const char* list, const char* word) {
  return toolkit_has_word(list, word);
}

const char* egl_error_name(EGLint error) {
  switch (error) {
    case EGL_NOT_INITIALIZED:
      return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS:
      return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC:
      return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE:
      return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG:
      return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT:
      return "EGL_BAD_CONTEXT";
    case EGL_BAD_DISPLAY:
      return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH:
      return "EGL_BAD_MATCH";
    case EGL_BAD_PARAMETER:
      return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE:
      return "EGL_BAD_SURFACE";
    default:
      return "an EGL error";
  }
}

// Makes the context on an initialised display; null, or why not (and the
// display is left for the caller to terminate).
const char* make_context(EGLDisplay display, int width, int height, int depth_bits, bool debug) {
  static char reason[160];
  if (!eglBindAPI(EGL_OPENGL_API)) return "it offers no desktop OpenGL";
  // The depth asked for, else the most common one a driver has.
  EGLConfig config = nullptr;
  EGLint found = 0;
  for (int depth : {depth_bits, 24}) {
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_PBUFFER_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_ALPHA_SIZE,
                             8,
                             EGL_DEPTH_SIZE,
                             depth,
                             EGL_STENCIL_SIZE,
                             0,
                             EGL_NONE};
    if (eglChooseConfig(display, wanted, &config, 1, &found) && found > 0) break;
  }
  if (found < 1) return "no configuration with 8-bit RGBA, depth and pbuffers for OpenGL";
  // Any version: drivers then give their newest compatibility context, as
  // the windowing library's default request does.
  const EGLint context_attributes[] = {EGL_CONTEXT_OPENGL_DEBUG, debug ? EGL_TRUE : EGL_FALSE,
                                       EGL_NONE};
  state.context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
  if (state.context == EGL_NO_CONTEXT) {
    std::snprintf(reason, sizeof reason, "no OpenGL context (%s)", egl_error_name(eglGetError()));
    return reason;
  }
  const EGLint surface_attributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
  state.surface = eglCreatePbufferSurface(display, config, surface_attributes);
  if (state.surface == EGL_NO_SURFACE) {
    std::snprintf(reason, sizeof reason, "no %dx%d pbuffer (%s)", width, height,
                  egl_error_name(eglGetError()));
    return reason;
  }
  if (!eglMakeCurrent(display, state.surface, state.surface, state.context)) {
    std::snprintf(reason, sizeof reason, "the context cannot be made current (%s)",
                  egl_error_name(eglGetError()));
    return reason;
  }
  return nullptr;
}

void release(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY) return;
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (state.surface != EGL_NO_SURFACE) eglDestroySurface(display, state.surface);
  if (state.context != EGL_NO_CONTEXT) eglDestroyContext(display, state.context);
  state.surface = EGL_NO_SURFACE;
  state.context = EGL_NO_CONTEXT;
  eglTerminate(display);
}

// Tries one display; true when it holds the current context. A failure is
// added to *tried.
bool try_display(EGLDisplay display, const char* name, int width, int height, int depth_bits,
                 bool debug, std::string* tried) {
  const char* problem = nullptr;
  if (display == EGL_NO_DISPLAY)
    problem = "no display";
  else if (!eglInitialize(display, nullptr, nullptr))
    problem = "it does not initialise";
  else
    problem = make_context(display, width, height, depth_bits, debug);
  if (!problem) {
    state.display = display;
    std::snprintf(state.platform, sizeof state.platform, "%s", name);
    return true;
  }
  release(display);
  *tried += (tried->empty() ? "" : "; ") + std::string(name) + ": " + problem;
  return false;
}

// Creates the context on the first EGL display that gives one: a hardware
// device of the device platform, then a software device, then Mesa's
// surfaceless platform; makes it current with a pbuffer of the given size.
// Returns null on success, otherwise why none could be made (every try).
const char* open_context(int width, int height, int depth_bits, bool debug) {
  static std::string tried;
  tried.clear();
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  const auto get_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!client || !get_display) return "this EGL has no platform displays (EGL_EXT_platform_base)";

  // The device platform: hardware devices first, Mesa's software one last.
  const auto query_devices =
      reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  const auto device_string = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
      eglGetProcAddress("eglQueryDeviceStringEXT"));
  if (has_word(client, "EGL_EXT_platform_device") && query_devices && device_string) {
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (!query_devices(16, devices, &count)) count = 0;
    for (int software = 0; software < 2; ++software) {
      for (EGLint i = 0; i < count; ++i) {
        const char* extensions = device_string(devices[i], EGL_EXTENSIONS);
        if (has_word(extensions, "EGL_MESA_device_software") != (software == 1)) continue;
        const char* file = has_word(extensions, "EGL_EXT_device_drm")
                               ? device_string(devices[i], EGL_DRM_DEVICE_FILE_EXT)
                               : nullptr;
        char name[128];
        std::snprintf(name, sizeof name, "EGL device %d (%s)", static_cast<int>(i),
                      file       ? file
                      : software ? "software"
                                 : "no file");
        if (try_display(get_display(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr), name, width,
                        height, depth_bits, debug, &tried))
          return nullptr;
      }
    }
    if (count == 0) tried = "EGL device platform: no devices";
  } else {
    tried = "no EGL device platform";
  }

  if (has_word(client, "EGL_MESA_platform_surfaceless")) {
    if (try_display(get_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
                    "EGL surfaceless", width, height, depth_bits, debug, &tried))
      return nullptr;
  } else {
    tried += "; no EGL surfaceless platform";
  }
  return tried.c_str();
}

void close_context() {
  release(state.display);
  state.display = EGL_NO_DISPLAY;
  state.platform[0] = '\0';
  state.width = state.height = 0;
}

int egl_init() {
  state.start = std::chrono::steady_clock::now();
  return 1;
}

int egl_open(int width, int height, int depth_bits, window_mode) {
  if (const char* problem = open_context(width, height, depth_bits, toolkit_gl_checks != 0)) {
    std::fprintf(stderr, "%s: cannot make a %dx%d OpenGL context through EGL: %s\n",
                 system_program_name(), width, height, problem);
    return 0;
  }
  state.width = width;
  state.height = height;
  if (toolkit_gl_checks) toolkit_listen_to_gl_errors(eglGetProcAddress);
  return 1;
}

double egl_time() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - state.start).count();
}

// An off-screen surface has nothing to present, no events and no keys; its
// size is fixed.
void egl_nothing() {}
void egl_wait_events(double) {}
int egl_close_requested() {
  return 0;
}
void egl_set_size(int, int) {}

void egl_framebuffer_size(int* width, int* height) {
  *width = state.width;
  *height = state.height;
}

void egl_terminate() {
  if (state.display != EGL_NO_DISPLAY) close_context();
}

const char* egl_platform() {
  return state.platform;
}

}  // namespace

const window_backend window_egl_backend = {
    egl_init,
    egl_open,
    egl_time,
    egl_nothing,
    egl_nothing,
    egl_wait_events,
    egl_close_requested,
    egl_set_size,
    egl_framebuffer_size,
    egl_terminate,
    egl_terminate,
    egl_platform,
};
