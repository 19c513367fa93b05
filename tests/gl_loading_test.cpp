// gl_loading_test.cpp: the toolkit loader on a context made through EGL by
// the windowing library, as on Wayland and on X11 with EGL, where a GLEW built
// for GLX answers glewInit with an error after loading every entry point. The
// window comes from GLFW directly, on a private Xvfb screen, so that the
// toolkit's own window layer (which knows nothing of this way) is not in
// between.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "process_helpers.h"
#include "toolkit/toolkit.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

namespace {

// A hidden 64 x 36 GLFW window whose context was made through EGL, current
// while this lives; `window` is null (and `why` says why) when none could be.
struct egl_window {
  private_screen screen{64, 36};
  GLFWwindow* window = nullptr;
  std::string why;
  egl_window() {
    if (screen.display.empty()) {
      why = "cannot start Xvfb";
      return;
    }
    setenv("DISPLAY", screen.display.c_str(), 1);
    if (!glfwInit()) {
      why = "glfwInit failed";
      return;
    }
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_CREATION_API, GLFW_EGL_CONTEXT_API);
    window = glfwCreateWindow(64, 36, "", nullptr, nullptr);
    const char* description = nullptr;
    if (!window) {
      glfwGetError(&description);
      why = description ? description : "no window";
      return;
    }
    glfwMakeContextCurrent(window);
  }
  ~egl_window() {
    if (window) glfwDestroyWindow(window);
    glfwTerminate();
  }
};

}  // namespace

TEST(Loading, TheToolkitLoaderRunsOnAContextMadeThroughEGL) {
  egl_window egl;
  ASSERT_NE(egl.window, nullptr) << egl.why;
  TVJAYSLH[0] = 64;
  TVJAYSLH[1] = 36;
  // The loader ends the program if it takes GLEW's answer for a failure.
  ST664M60();
  EXPECT_NE(P4E6JEEC, nullptr);
  for (GLuint program : FOBIMQQB) EXPECT_NE(program, 0u);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(toolkit_missing_entry_point(), nullptr);
  // The case is the one it stands for: GLEW did answer with an error.
  EXPECT_NE(glewInit(), static_cast<GLenum>(GLEW_OK));
  TJOZD8F4();
}

TEST(Loading, AMissingEntryPointIsNamed) {
  egl_window egl;
  ASSERT_NE(egl.window, nullptr) << egl.why;
  glewExperimental = GL_TRUE;
  glewInit();
  ASSERT_EQ(toolkit_missing_entry_point(), nullptr);
  // As a driver without it would leave GLEW's pointer.
  const PFNGLDRAWBUFFERSPROC draw_buffers = glDrawBuffers;
  glDrawBuffers = nullptr;
  EXPECT_STREQ(toolkit_missing_entry_point(), "glDrawBuffers");
  glDrawBuffers = draw_buffers;
  EXPECT_EQ(toolkit_missing_entry_point(), nullptr);
}
