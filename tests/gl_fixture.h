// gl_fixture.h: one hidden GL window per test binary, and read-back helpers.
//
// The fixture's main opens a small hidden window (the toolkit's size pair is
// FIXTURE_WIDTH x FIXTURE_HEIGHT), runs the toolkit loader ST664M60 so GLEW
// and the shared objects exist, then runs every test. Compare read-back
// floats with a tolerance: half-float targets keep 11 significant bits.
#pragma once

#include <vector>

#include "toolkit/toolkit.h"

constexpr int FIXTURE_WIDTH = 64;
constexpr int FIXTURE_HEIGHT = 36;

// Reads a layer's colour texture as RGBA floats, bottom row first.
std::vector<float> read_layer(const layer_record* target);
// Reads any 2-D texture's level 0 as RGBA floats, bottom row first.
std::vector<float> read_texture(GLuint texture, int* width = nullptr, int* height = nullptr);
// Reads the window's back buffer (framebuffer 0) as RGBA floats.
std::vector<float> read_window(int width, int height);
// Turns anisotropic filtering off on a texture the test samples, so exact
// texel values come back whatever the renderer's anisotropic filter does
// (layer_with does it for the layers it makes).
void sample_exactly(GLuint texture);
// Uploads RGBA floats into a layer's colour texture.
void fill_layer(const layer_record* target, const std::vector<float>& rgba);
// A layer filled with RGBA floats.
layer_record* layer_with(unsigned width, unsigned height, const std::vector<float>& rgba);
// The pixel at (x, y) of an RGBA float image of the given width; channel c.
inline float pixel(const std::vector<float>& image, int width, int x, int y, int c) {
  return image[(static_cast<size_t>(y) * width + x) * 4 + c];
}
// The current GL error, cleared.
GLenum take_gl_error();
// Integer state, e.g. GL_CURRENT_PROGRAM, GL_FRAMEBUFFER_BINDING.
int gl_integer(GLenum name);
// The 2-D texture bound on a texture unit; the active unit is left as it was.
int bound_texture(GLenum unit);
