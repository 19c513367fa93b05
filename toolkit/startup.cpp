// startup.cpp: the toolkit's loader ST664M60, which makes its shared objects
// (shared.cpp), and its unloader TJOZD8F4, which deletes them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "toolkit/toolkit.h"

// The blur programs' kernel, set once each is linked.
static void set_blur_weights(GLuint blur_program) {
  float* weights = generate_gaussian_weights(5.0f);
  glUseProgram(blur_program);
  glUniform1fv(glGetUniformLocation(blur_program, "a"), 15, weights);
  glUseProgram(0);
  std::free(weights);
}

void ST664M60() {
  // GLEW's answer is not the measure: a GLEW built for GLX answers a context
  // made through EGL (Wayland, or X11 with EGL) with "no GLX display" after
  // it has loaded every OpenGL entry point. What decides is whether each
  // entry point the system calls is there.
  glewExperimental = GL_TRUE;
  glewInit();
  glGetError();  // GLEW may leave an error behind on some contexts
  if (const char* missing = toolkit_missing_entry_point()) {
    std::fprintf(stderr, "%s: cannot load the OpenGL entry points: %s is missing\n",
                 system_program_name(), missing);
    std::exit(1);
  }

  glGenFramebuffers(1, &HVATQD0L);
  glBindFramebuffer(GL_FRAMEBUFFER, HVATQD0L);
  for (int i = 0; i < 2; ++i) {
    PXDKBCRM[i] = texture(512, 512, 0, GL_RGB16F, GL_RGB, GL_FLOAT, nullptr);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_TEXTURE_2D, PXDKBCRM[i], 0);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);

  MUANXLC = static_cast<GLuint>(shader(Z886594B[4], GL_VERTEX_SHADER));
  P4E6JEEC = accumulator(static_cast<unsigned>(TVJAYSLH[0]), static_cast<unsigned>(TVJAYSLH[1]));

  // The vertical and horizontal blur lists, then the fBm list, in one array.
  unsigned char lists[7] = {0, 0, 3, 255, 6, 7, 255};
  for (int i = 0; i < 2; ++i) {
    lists[1] = static_cast<unsigned char>(i + 1);
    FOBIMQQB[i] = static_cast<GLuint>(
        program(static_cast<int>(MUANXLC), -1, stitch(lists, GL_FRAGMENT_SHADER)));
    when_program_ready(FOBIMQQB[i], set_blur_weights);
  }
  FOBIMQQB[2] = static_cast<GLuint>(program(-1, -1, shader(Z886594B[5], GL_FRAGMENT_SHADER)));
  FOBIMQQB[3] = static_cast<GLuint>(
      program(static_cast<int>(MUANXLC), -1, stitch(lists + 4, GL_FRAGMENT_SHADER)));
}

void TJOZD8F4() {
  glDeleteTextures(2, PXDKBCRM);
  glDeleteFramebuffers(1, &HVATQD0L);
  free_accumulator(P4E6JEEC);
  P4E6JEEC = nullptr;  // never leave a pointer to freed memory behind
  for (int i = 0; i < 4; ++i) glDeleteProgram(FOBIMQQB[i]);
}
