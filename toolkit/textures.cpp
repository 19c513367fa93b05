// textures.cpp: TGA images read from files (through the decoder in tga.cpp)
// and uploaded, with their mipmaps, into the bound texture.
#include <cstdio>
#include <vector>

#include "toolkit/toolkit.h"

// The largest TGA file read: the most pixels an image may hold, four bytes
// each, with a run-length packet byte per pixel and room for the header and
// colour map. A larger file is refused before it is read into memory.
static const long long max_tga_file_bytes = 8192LL * 4096 * 5 + 18 + 255 + 65536 * 4;

const char* window_read_tga(const char* path, int max_size, tga_image* out) {
  *out = tga_image{};
  std::vector<unsigned char> file;
  if (const char* problem = system_read_file(path, max_tga_file_bytes, &file)) return problem;
  return window_decode_tga(file.data(), file.size(), max_size, out);
}

void window_upload_tga(const tga_image* image) {
  static const GLenum formats[5] = {0, GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
  const GLenum format = formats[image->channels];
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const unsigned char* level = image->pixels;
  int w = image->width, h = image->height;
  for (int mip = 0; mip < image->level_count; ++mip) {
    glTexImage2D(GL_TEXTURE_2D, mip, static_cast<GLint>(format), w, h, 0, format, GL_UNSIGNED_BYTE,
                 level);
    level += static_cast<size_t>(w) * h * image->channels;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

int window_load_texture(const char* path) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  tga_image image;
  if (const char* problem = window_read_tga(path, max_size, &image)) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", system_program_name(), path, problem);
    return 0;
  }
  window_upload_tga(&image);
  window_free_tga(&image);
  return 1;
}
