// png.cpp: the film's images written as PNG files, for the capture tool and
// the tests.
#include <vector>

#include "demo/film.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

bool write_rgb_png(const char* path, int width, int height, const unsigned char* rgb) {
  if (width <= 0 || height <= 0) return false;
  return stbi_write_png(path, width, height, 3, rgb, width * 3) != 0;
}

bool film_write_png(const char* path, film_image image) {
  const int width = static_cast<int>(image.width);
  const int height = static_cast<int>(image.height);
  std::vector<float> pixels(static_cast<size_t>(width) * height * 4);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, image.texture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, pixels.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        float v = pixels[(static_cast<size_t>(height - 1 - y) * width + x) * 4 + c];
        v = v < 0 ? 0 : (v > 1 ? 1 : v);
        rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<unsigned char>(v * 255.0f + 0.5f);
      }
  return write_rgb_png(path, width, height, rgb.data());
}
