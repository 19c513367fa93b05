// png.cpp: the film's images written as PNG files, for the capture tool and
// the tests.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "film/film.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

bool write_rgb_png(const char* path, int width, int height, const unsigned char* rgb) {
  if (width <= 0 || height <= 0) {
    errno = EINVAL;
    return false;
  }
  // Encoded in memory, then written with every write and the close checked:
  // a full disk shows up at any of them, often only at the close.
  int size = 0;
  unsigned char* png = stbi_write_png_to_mem(rgb, width * 3, width, height, 3, &size);
  if (!png) {
    errno = ENOMEM;
    return false;
  }
  FILE* file = system_open_file(path, "wb");
  if (!file) {
    const int fault = errno;
    std::free(png);
    errno = fault;
    return false;
  }
  // The flush is checked on its own: one C runtime (Wine's) forgets a failed
  // flush at the close, and a small file is written only then. The size on
  // the disk is checked last, so that no lost error can pass for success.
  bool written = std::fwrite(png, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
  int fault = errno;
  if (written && std::fflush(file) != 0) {
    written = false;
    fault = errno;
  }
  const bool closed = std::fclose(file) == 0;
  if (written && !closed) fault = errno;
  std::free(png);
  if (written && closed) {
    std::error_code error;
    const std::uintmax_t on_disk = std::filesystem::file_size(std::filesystem::u8path(path), error);
    if (error || on_disk == static_cast<std::uintmax_t>(size)) return true;
    fault = ENOSPC;  // cut short with no error said: the file system is full
  }
  // What was written is cut off: removed, unless the name stands for
  // something other than a regular file (a device given as the path).
  std::error_code ignored;
  const std::filesystem::path name = std::filesystem::u8path(path);
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(name, ignored)))
    std::filesystem::remove(name, ignored);
  errno = fault;
  return false;
}

bool film_write_png(const char* path, film_image image) {
  if (image.width == 0 || image.height == 0) {
    errno = EINVAL;
    return false;
  }
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
  const bool written = write_rgb_png(path, width, height, rgb.data());
  const int fault = errno;
  rgb = {};
  pixels = {};
  errno = fault;  // for the caller's error line
  return written;
}
