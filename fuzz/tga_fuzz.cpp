// tga_fuzz.cpp: feeds arbitrary bytes to the window layer's TGA decoder, the
// CPU part of window_load_texture. An accepted image must have power-of-two
// sides within the size limit and a complete mipmap chain.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "toolkit/toolkit.h"

namespace {

// The largest texture side of the software renderer the film is tested on.
constexpr int max_size = 16384;

bool is_power_of_two(int value) {
  return value > 0 && (value & (value - 1)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tga_image image;
  if (window_decode_tga(data, size, max_size, &image)) return 0;
  if (!is_power_of_two(image.width) || !is_power_of_two(image.height) || image.width > max_size ||
      image.height > max_size || image.channels < 1 || image.channels > 4)
    std::abort();
  size_t total = 0;
  int levels = 0;
  for (int w = image.width, h = image.height;; w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1) {
    total += static_cast<size_t>(w) * h * image.channels;
    ++levels;
    if (w == 1 && h == 1) break;
  }
  if (levels != image.level_count) std::abort();
  // Touch the first and last byte of the chain: the sanitizer checks the block.
  volatile unsigned char sink = image.pixels[0];
  sink = image.pixels[total - 1];
  (void)sink;
  window_free_tga(&image);
  return 0;
}
