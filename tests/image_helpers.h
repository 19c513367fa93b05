// image_helpers.h: PNG files read back as RGB and compared by peak
// signal-to-noise ratio, for the tests that compare what two programs write.
// Include it in one file of a test binary: it defines stb_image's functions.
#pragma once

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

struct rgb_image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // top row first
};

// Reads a PNG (or any image stb_image reads) as 8-bit RGB; false if it cannot.
inline bool load_rgb(const std::filesystem::path& path, rgb_image* out) {
  int channels = 0;
  unsigned char* pixels = stbi_load(path.c_str(), &out->width, &out->height, &channels, 3);
  if (!pixels) return false;
  out->rgb.assign(pixels, pixels + static_cast<size_t>(out->width) * out->height * 3);
  stbi_image_free(pixels);
  return true;
}

// 10 log10(255^2 / mean squared error) over R, G and B; infinite for
// identical images. The images must have the same size.
inline double psnr(const rgb_image& a, const rgb_image& b) {
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const double d = static_cast<double>(a.rgb[i]) - b.rgb[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.rgb.size());
  if (mse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}
