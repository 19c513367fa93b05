// test_files.h: what tests that write or compare files share, on every system:
// a scratch folder, TGA headers for made-up images, and one PNG reader with the
// peak signal-to-noise ratio that compares two images.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A path in this test program's own scratch folder (made on first use under
// /tmp, removed when the program ends).
std::filesystem::path scratch_file(const std::string& name);
// Writes the bytes to scratch_file(name) and returns its path.
std::string write_file(const std::string& name, const std::string& bytes);

// The names of the entries of a folder, sorted (an empty list if it cannot
// be read).
std::vector<std::string> names_in(const std::filesystem::path& folder);
// The whole content of a file, empty if it cannot be read.
std::string text_of(const std::filesystem::path& path);

// An 18-byte TGA header of the given size, bits per pixel and image type
// (2: uncompressed true colour, 10: run-length true colour); origin at the
// bottom left, no colour map, no identification field.
std::string tga_header(int width, int height, int bits, int image_type = 2);

// An 8-bit RGB image, top row first.
struct rgb_image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// Reads a PNG (or another image stb_image knows) as RGB; false if it cannot.
bool read_png(const std::string& path, rgb_image* out);

// 10 log10(255^2 / mean squared error) over R, G and B of two images of the
// same size; infinite for identical images, 0 for images of different sizes.
double psnr(const rgb_image& a, const rgb_image& b);
