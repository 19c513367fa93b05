// image.cpp: the image record and its TGA and PNG writers.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdio>

#include "tools/assetgen/assetgen.h"

image make_image(int width, int height, int channels) {
  image picture;
  picture.width = width;
  picture.height = height;
  picture.channels = channels;
  picture.pixels.assign(static_cast<size_t>(width) * height * channels, 0);
  return picture;
}

bool write_tga(const image& picture, const std::string& path) {
  stbi_write_tga_with_rle = 0;
  if (!stbi_write_tga(path.c_str(), picture.width, picture.height, picture.channels,
                      picture.pixels.data())) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

std::vector<uint8_t> png_bytes(const image& picture) {
  int size = 0;
  unsigned char* png =
      stbi_write_png_to_mem(picture.pixels.data(), picture.width * picture.channels, picture.width,
                            picture.height, picture.channels, &size);
  std::vector<uint8_t> bytes;
  if (png) bytes.assign(png, png + size);
  STBIW_FREE(png);
  return bytes;
}

bool write_png(const image& picture, const std::string& path) {
  if (!stbi_write_png(path.c_str(), picture.width, picture.height, picture.channels,
                      picture.pixels.data(), picture.width * picture.channels)) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}
