// test_files.cpp: the tests' scratch folder, and reading and comparing the
// images the programs write.
#include "test_files.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace fs = std::filesystem;

namespace {

// The scratch folder, removed when the program ends.
struct scratch_folder {
  fs::path path;
  scratch_folder() {
    // A new folder of a random name in the system's temporary folder.
    std::random_device seed;
    std::mt19937_64 random(seed() ^
                           static_cast<unsigned long long>(
                               std::chrono::steady_clock::now().time_since_epoch().count()));
    do {
      path = fs::temp_directory_path() / ("test-scratch-" + std::to_string(random() % 1000000000));
    } while (!fs::create_directory(path));
  }
  ~scratch_folder() { fs::remove_all(path); }
};

}  // namespace

fs::path scratch_file(const std::string& name) {
  static scratch_folder folder;
  return folder.path / name;
}

std::string write_file(const std::string& name, const std::string& bytes) {
  const fs::path path = scratch_file(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

bool read_png(const std::string& path, rgb_image* out) {
  // Read through a UTF-8 path on every system, then decoded from memory.
  std::ifstream in(fs::u8path(path), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return false;
  int channels = 0;
  unsigned char* pixels = stbi_load_from_memory(
      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()),
      &out->width, &out->height, &channels, 3);
  if (!pixels) return false;
  out->rgb.assign(pixels, pixels + static_cast<size_t>(out->width) * out->height * 3);
  stbi_image_free(pixels);
  return true;
}

double psnr(const rgb_image& a, const rgb_image& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
    return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const double d = static_cast<double>(a.rgb[i]) - b.rgb[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.rgb.size());
  if (mse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string tga_header(int width, int height, int bits, int image_type) {
  unsigned char header[18] = {};
  header[2] = static_cast<unsigned char>(image_type);
  header[12] = static_cast<unsigned char>(width & 255);
  header[13] = static_cast<unsigned char>(width >> 8);
  header[14] = static_cast<unsigned char>(height & 255);
  header[15] = static_cast<unsigned char>(height >> 8);
  header[16] = static_cast<unsigned char>(bits);
  return std::string(reinterpret_cast<char*>(header), sizeof header);
}

std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error))
    names.push_back(entry->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string text_of(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}
