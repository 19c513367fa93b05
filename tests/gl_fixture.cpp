#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>

std::vector<float> read_texture(GLuint name, int* width, int* height) {
  GLint active = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
  GLint bound = 0;
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w = 0, h = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  std::vector<float> pixels(static_cast<size_t>(w) * h * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, pixels.data());
  glBindTexture(GL_TEXTURE_2D, bound);
  glActiveTexture(active);
  if (width) *width = w;
  if (height) *height = h;
  return pixels;
}

std::vector<float> read_layer(const layer_record* target) {
  return read_texture(target->texture);
}

std::vector<float> read_window(int width, int height) {
  std::vector<float> pixels(static_cast<size_t>(width) * height * 4);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, pixels.data());
  return pixels;
}

void fill_layer(const layer_record* target, const std::vector<float>& rgba) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, target->texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, target->width, target->height, GL_RGBA, GL_FLOAT,
                  rgba.data());
  glBindTexture(GL_TEXTURE_2D, 0);
}

void sample_exactly(GLuint texture) {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, 1.0f);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

layer_record* layer_with(unsigned width, unsigned height, const std::vector<float>& rgba) {
  layer_record* target = layer(width, height);
  sample_exactly(target->texture);
  fill_layer(target, rgba);
  return target;
}

GLenum take_gl_error() {
  GLenum first = glGetError();
  while (glGetError() != GL_NO_ERROR) {
  }
  return first;
}

int gl_integer(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

int bound_texture(GLenum unit) {
  GLint active = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
  glActiveTexture(unit);
  const int name = gl_integer(GL_TEXTURE_BINDING_2D);
  glActiveTexture(static_cast<GLenum>(active));
  return name;
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  TVJAYSLH[0] = FIXTURE_WIDTH;
  TVJAYSLH[1] = FIXTURE_HEIGHT;
  // No test here needs a visible window: without a display the context is an
  // EGL one with no X server, the same as demo-capture's.
  toolkit_window_gl = WINDOW_GL_AUTO;
  if (!window_init() || !window_open(FIXTURE_WIDTH, FIXTURE_HEIGHT, 32, WINDOW_HIDDEN)) {
    std::fprintf(stderr, "tests: cannot open a GL context (see the line above)\n");
    return 1;
  }
  ST664M60();
  int result = RUN_ALL_TESTS();
  window_terminate();
  return result;
}
