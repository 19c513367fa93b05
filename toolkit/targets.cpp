// targets.cpp: floating-point render targets, the two projections, the
// screen-covering quad and the copy of a finished layer onto the window.
#include <cstdlib>
#include <cstring>

#include "toolkit/toolkit.h"

int toolkit_present_size[2] = {0, 0};

// The anisotropy every target asks for: 16, except on Mesa's software
// rasterisers. Their elliptical filter blends neighbouring texels even when a
// pass samples texel centres one to one, and inside branches of a shader it
// turns into wide smears (a pass's highlight lines), where a GPU's filter
// leaves screen-aligned passes exact.
static float target_anisotropy() {
  static float value = -1.0f;
  if (value < 0.0f) {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const bool software =
        renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe"));
    value = software ? 1.0f : 16.0f;
  }
  return value;
}

GLuint texture(int width, int height, int level, GLenum internal_format, GLenum pixel_format,
               GLenum pixel_type, const void* pixels) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, level, static_cast<GLint>(internal_format), width, height, 0,
               pixel_format, pixel_type, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  if (GLEW_EXT_texture_filter_anisotropic || GLEW_ARB_texture_filter_anisotropic)
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, target_anisotropy());
  glBindTexture(GL_TEXTURE_2D, 0);
  return name;
}

// A framebuffer with one texture of the given format at the attachment,
// shared by layer and depth.
static layer_record* single_texture_target(unsigned width, unsigned height, GLenum attachment,
                                           GLenum internal_format, GLenum pixel_format) {
  auto* record = static_cast<layer_record*>(toolkit_allocate(sizeof(layer_record)));
  record->width = width;
  record->height = height;
  glGenFramebuffers(1, &record->framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  record->texture = texture(static_cast<int>(width), static_cast<int>(height), 0, internal_format,
                            pixel_format, GL_FLOAT, nullptr);
  glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, record->texture, 0);
  if (attachment == GL_DEPTH_ATTACHMENT) {
    glDrawBuffer(GL_NONE);  // a depth-only target has no colour buffer
    glReadBuffer(GL_NONE);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return record;
}

layer_record* layer(unsigned width, unsigned height) {
  return single_texture_target(width, height, GL_COLOR_ATTACHMENT0, GL_RGBA16F, GL_RGBA);
}

layer_record* depth(unsigned width, unsigned height) {
  return single_texture_target(width, height, GL_DEPTH_ATTACHMENT, GL_DEPTH_COMPONENT,
                               GL_DEPTH_COMPONENT);
}

accumulator_record* accumulator(unsigned width, unsigned height) {
  auto* record = static_cast<accumulator_record*>(toolkit_allocate(sizeof(accumulator_record)));
  record->width = width;
  record->height = height;
  glGenFramebuffers(1, &record->framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, record->framebuffer);
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  record->color_texture = texture(w, h, 0, GL_RGBA16F, GL_RGBA, GL_FLOAT, nullptr);
  record->depth_texture =
      texture(w, h, 0, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, record->color_texture,
                         0);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, record->depth_texture,
                         0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return record;
}

void free_layer(layer_record* target) {
  if (!target) return;
  glDeleteTextures(1, &target->texture);
  glDeleteFramebuffers(1, &target->framebuffer);
  std::free(target);
}

void free_accumulator(accumulator_record* target) {
  if (!target) return;
  glDeleteTextures(1, &target->color_texture);
  glDeleteTextures(1, &target->depth_texture);
  glDeleteFramebuffers(1, &target->framebuffer);
  std::free(target);
}

void perspective(int width, int height, float aspect) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-0.0414213 * aspect, 0.0414213 * aspect, -0.0414213, 0.0414213, 0.1, 15.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void orthographic(unsigned width, unsigned height) {
  glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void quad(float width, float height) {
  glBegin(GL_QUADS);
  glTexCoord2i(0, 0);
  glVertex2f(0.0f, height);
  glTexCoord2i(1, 0);
  glVertex2f(width, height);
  glTexCoord2i(1, 1);
  glVertex2f(width, 0.0f);
  glTexCoord2i(0, 1);
  glVertex2f(0.0f, 0.0f);
  glEnd();
}

void far_plane(uint16_t width, uint16_t height) {
  orthographic(width, height);
  const GLshort w = static_cast<GLshort>(width), h = static_cast<GLshort>(height);
  glBegin(GL_QUADS);
  glTexCoord2f(-19.882f, -12.426f);
  glVertex2s(0, h);
  glTexCoord2f(19.882f, -12.426f);
  glVertex2s(w, h);
  glTexCoord2f(19.882f, 12.426f);
  glVertex2s(w, 0);
  glTexCoord2f(-19.882f, 12.426f);
  glVertex2s(0, 0);
  glEnd();
}

// Where the picture goes in a framebuffer of the given size: its bottom-left
// corner and its size, of the render size's shape, as large as fits.
static void picture_in(int width, int height, int* x, int* y, int* shown_width, int* shown_height) {
  *shown_width = width;
  *shown_height = height;
  const long long across = TVJAYSLH[0], down = TVJAYSLH[1];
  if (across > 0 && down > 0 && width > 0 && height > 0) {
    // Compare the shapes exactly, in integers; round the side that shrinks.
    const long long wide = static_cast<long long>(width) * down;
    const long long tall = static_cast<long long>(height) * across;
    if (wide > tall) *shown_width = static_cast<int>((height * across + down / 2) / down);
    if (wide < tall) *shown_height = static_cast<int>((width * down + across / 2) / across);
  }
  *x = (width - *shown_width) / 2;
  *y = (height - *shown_height) / 2;
}

void blit_to_back_buffer(const layer_record* source) {
  // Present over the framebuffer actually obtained: on a screen without the
  // build's mode the window may be smaller or larger than the render size,
  // and where a full-screen window cannot change the output's mode (Wayland)
  // it has the output's size. The picture keeps the render size's shape,
  // centred, with black bars beside or above and below it.
  const int width = toolkit_present_size[0] > 0 ? toolkit_present_size[0] : TVJAYSLH[0];
  const int height = toolkit_present_size[1] > 0 ? toolkit_present_size[1] : TVJAYSLH[1];
  int x = 0, y = 0, shown_width = width, shown_height = height;
  picture_in(width, height, &x, &y, &shown_width, &shown_height);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (shown_width != width || shown_height != height) {
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
  }
  orthographic(static_cast<unsigned>(shown_width), static_cast<unsigned>(shown_height));
  glViewport(x, y, shown_width, shown_height);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, source->texture);
  glEnable(GL_TEXTURE_2D);
  // Drawing meshes leaves the current colour undefined; the copy multiplies
  // by it, so make it white to copy the layer exactly.
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  quad(static_cast<float>(shown_width), static_cast<float>(shown_height));
  glDisable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
}

const char* target_problem(GLuint framebuffer) {
  // Out of memory first: a texture the driver could not allocate also leaves
  // its framebuffer incomplete, and running out is the better explanation.
  bool out_of_memory = false;
  for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
    if (error == GL_OUT_OF_MEMORY) out_of_memory = true;
    if (error == GL_CONTEXT_LOST) break;
  }
  if (out_of_memory) return "the graphics driver ran out of memory";
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (status == GL_FRAMEBUFFER_COMPLETE) return nullptr;
  if (status == GL_FRAMEBUFFER_UNSUPPORTED) return "the graphics driver cannot draw into it";
  return "the graphics driver could not create it (too large, or out of memory)";
}
