// passes.cpp: ready-made full-screen passes over whole targets, and a timer
// test. Each pass leaves framebuffer 0 bound and program 0 current.
#include "toolkit/toolkit.h"

void generate(const layer_record* target, int program) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glUseProgram(static_cast<GLuint>(program));
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void transform(const layer_record* source, const layer_record* target, int program) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, source->texture);
  glUseProgram(static_cast<GLuint>(program));
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// The fixed-function copy shared by blit and blit_accumulator_to_layer.
static void copy_texture(GLuint source_texture, const layer_record* target) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, source_texture);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);  // the copy multiplies by the current colour
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void blit(const layer_record* source, const layer_record* target) {
  copy_texture(source->texture, target);
}

void blit_accumulator_to_layer(const accumulator_record* source, const layer_record* target) {
  copy_texture(source->color_texture, target);
}

int is_interval_hit(float* timestamp, float interval) {
  if (window_time() - *timestamp >= interval) {
    *timestamp = static_cast<float>(window_time());
    return 1;
  }
  return 0;
}
