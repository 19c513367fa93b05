// tga.cpp: the TGA decoder behind window_load_texture. It checks the file's
// bytes, decodes them with stb_image, resamples to power-of-two sides and
// builds the whole mipmap chain on the CPU, so that the upload needs no GL
// beyond glTexImage2D and the decoder can be tested and fuzzed without GL.
#include "toolkit/toolkit.h"

#define STBI_ONLY_TGA
#define STB_IMAGE_STATIC
#define STBI_MAX_DIMENSIONS 16384
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// The most pixels an image may declare: 32 Mi (8192 x 4096), 128 MiB at four
// bytes a pixel before its mipmap chain. A few bytes of run-length packets can
// declare 16384 x 16384 pixels, which would take gigabytes to decode.
static const size_t max_tga_pixels = size_t{8192} * 4096;

static int next_power_of_two(int value) {
  int result = 1;
  while (result < value) result <<= 1;
  return result;
}

// Bilinear resampling of an 8-bit image to a new size.
static std::vector<unsigned char> resample(const unsigned char* pixels, int width, int height,
                                           int channels, int new_width, int new_height) {
  std::vector<unsigned char> out(static_cast<size_t>(new_width) * new_height * channels);
  for (int y = 0; y < new_height; ++y) {
    const float fy = (y + 0.5f) * height / new_height - 0.5f;
    const int y0 = fy < 0 ? 0 : static_cast<int>(fy);
    const int y1 = y0 + 1 < height ? y0 + 1 : height - 1;
    const float wy = fy < 0 ? 0.0f : fy - y0;
    for (int x = 0; x < new_width; ++x) {
      const float fx = (x + 0.5f) * width / new_width - 0.5f;
      const int x0 = fx < 0 ? 0 : static_cast<int>(fx);
      const int x1 = x0 + 1 < width ? x0 + 1 : width - 1;
      const float wx = fx < 0 ? 0.0f : fx - x0;
      for (int c = 0; c < channels; ++c) {
        auto at = [&](int px, int py) {
          return static_cast<float>(pixels[(static_cast<size_t>(py) * width + px) * channels + c]);
        };
        const float top = at(x0, y0) * (1 - wx) + at(x1, y0) * wx;
        const float bottom = at(x0, y1) * (1 - wx) + at(x1, y1) * wx;
        out[(static_cast<size_t>(y) * new_width + x) * channels + c] =
            static_cast<unsigned char>(top * (1 - wy) + bottom * wy + 0.5f);
      }
    }
  }
  return out;
}

// Halves an image with a 2 x 2 box filter (a side of 1 stays 1).
static std::vector<unsigned char> halve(const std::vector<unsigned char>& pixels, int width,
                                        int height, int channels) {
  const int new_width = width > 1 ? width / 2 : 1;
  const int new_height = height > 1 ? height / 2 : 1;
  std::vector<unsigned char> out(static_cast<size_t>(new_width) * new_height * channels);
  for (int y = 0; y < new_height; ++y) {
    const int y0 = height > 1 ? 2 * y : 0, y1 = height > 1 ? 2 * y + 1 : 0;
    for (int x = 0; x < new_width; ++x) {
      const int x0 = width > 1 ? 2 * x : 0, x1 = width > 1 ? 2 * x + 1 : 0;
      for (int c = 0; c < channels; ++c) {
        auto at = [&](int px, int py) {
          return static_cast<unsigned>(
              pixels[(static_cast<size_t>(py) * width + px) * channels + c]);
        };
        out[(static_cast<size_t>(y) * new_width + x) * channels + c] =
            static_cast<unsigned char>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4);
      }
    }
  }
  return out;
}

// Checks that a TGA file holds all the pixels its header promises. The
// decoder fills missing bytes with zeros instead of failing, so a cut-off
// file would otherwise load as a black or partly black image.
static const char* tga_problem(const unsigned char* file, size_t size) {
  if (size < 18) return "too short for a TGA header";
  const unsigned id_length = file[0];
  const unsigned map_type = file[1];
  const unsigned image_type = file[2];
  const unsigned map_length = file[5] | (file[6] << 8);
  const unsigned map_bits = file[7];
  const unsigned width = file[12] | (file[13] << 8);
  const unsigned height = file[14] | (file[15] << 8);
  const unsigned bits = file[16];
  if (map_type > 1) return "not a TGA image (unknown colour map type)";
  const unsigned base_type = image_type & ~8u;
  if (base_type < 1 || base_type > 3 || (image_type & ~11u))
    return "not a TGA image (unknown type)";
  if (width == 0 || height == 0) return "the image has no pixels";
  if (static_cast<size_t>(width) * height > max_tga_pixels)
    return "the image is too large (more than 8192 x 4096 pixels)";
  if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32)
    return "unsupported bits per pixel";
  const size_t pixel_bytes = (bits + 7) / 8;
  const size_t pixels = static_cast<size_t>(width) * height;
  size_t at =
      18 + id_length + (map_type ? static_cast<size_t>(map_length) * ((map_bits + 7) / 8) : 0);
  if (at > size) return "the file ends inside its header";
  if (!(image_type & 8)) {
    if (size - at < pixels * pixel_bytes) return "the file holds fewer pixels than its size";
    return nullptr;
  }
  // Run-length packets: a count byte, then one pixel repeated or raw pixels.
  for (size_t done = 0; done < pixels;) {
    if (at >= size) return "the file holds fewer pixels than its size";
    const unsigned packet = file[at++];
    const size_t count = (packet & 0x7f) + 1;
    const size_t bytes = (packet & 0x80) ? pixel_bytes : count * pixel_bytes;
    if (size - at < bytes) return "the file holds fewer pixels than its size";
    at += bytes;
    done += count;
  }
  return nullptr;
}

// The decoding behind window_decode_tga; may throw std::bad_alloc.
static const char* decode_tga(const unsigned char* bytes, size_t size, int max_size,
                              tga_image* out) {
  if (const char* problem = tga_problem(bytes, size)) return problem;
  if (size > static_cast<size_t>(INT32_MAX)) return "the file is too large";
  int width = 0, height = 0, channels = 0;
  stbi_set_flip_vertically_on_load(1);  // bottom row first, as GL stores textures
  unsigned char* decoded =
      stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &channels, 0);
  if (!decoded) {
    const char* reason = stbi_failure_reason();
    if (reason && std::strcmp(reason, "outofmem") == 0) return "not enough memory to decode it";
    return reason ? reason : "not a TGA image";
  }
  if (channels < 1 || channels > 4) {
    stbi_image_free(decoded);
    return "unsupported number of channels";
  }
  int pot_width = next_power_of_two(width), pot_height = next_power_of_two(height);
  while (max_size > 0 && pot_width > max_size) pot_width >>= 1;
  while (max_size > 0 && pot_height > max_size) pot_height >>= 1;
  std::vector<unsigned char> level;
  try {
    if (pot_width == width && pot_height == height)
      level.assign(decoded, decoded + static_cast<size_t>(width) * height * channels);
    else
      level = resample(decoded, width, height, channels, pot_width, pot_height);
  } catch (const std::bad_alloc&) {
    stbi_image_free(decoded);
    throw;
  }
  stbi_image_free(decoded);

  // Every level, largest first, down to 1 x 1, in one block.
  size_t total = 0;
  int levels = 0;
  for (int w = pot_width, h = pot_height;; w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1) {
    total += static_cast<size_t>(w) * h * channels;
    ++levels;
    if (w == 1 && h == 1) break;
  }
  unsigned char* pixels = static_cast<unsigned char*>(std::malloc(total));
  if (!pixels) return "not enough memory to decode it";
  unsigned char* at = pixels;
  int w = pot_width, h = pot_height;
  try {
    for (int mip = 0; mip < levels; ++mip) {
      std::memcpy(at, level.data(), level.size());
      at += level.size();
      if (mip + 1 == levels) break;
      level = halve(level, w, h, channels);
      w = w > 1 ? w / 2 : 1;
      h = h > 1 ? h / 2 : 1;
    }
  } catch (const std::bad_alloc&) {
    std::free(pixels);
    throw;
  }
  out->pixels = pixels;
  out->width = pot_width;
  out->height = pot_height;
  out->channels = channels;
  out->level_count = levels;
  return nullptr;
}

const char* window_decode_tga(const unsigned char* bytes, size_t size, int max_size,
                              tga_image* out) {
  *out = tga_image{};
  try {
    return decode_tga(bytes, size, max_size, out);
  } catch (const std::bad_alloc&) {
    return "not enough memory to decode it";
  }
}

void window_free_tga(tga_image* image) {
  std::free(image->pixels);
  *image = tga_image{};
}
