// inputs_test.cpp: the fuzzers' seed files and every input a fuzzer ever
// found troublesome (fuzz/regressions), fed through the same entry points the
// film uses: window_decode_tga and window_load_texture for TGA images,
// load_mesh for OBJ models. None may crash; an accepted image or model must
// be whole; the seeds' known contents come back exactly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "film/assets.h"
#include "gl_fixture.h"
#include "mesh_helpers.h"

namespace fs = std::filesystem;

namespace {

const fs::path fuzz_folder = FUZZ_DIR;

std::vector<fs::path> files_in(const fs::path& folder) {
  std::vector<fs::path> files;
  if (fs::is_directory(folder))
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

std::vector<unsigned char> bytes_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool is_power_of_two(int value) {
  return value > 0 && (value & (value - 1)) == 0;
}

// Seeds that hold no usable image or model; every other seed is usable.
const std::set<std::string> broken_seeds = {
    "cut-pixels.tga", "cut-header.tga",  "zero-width.tga",       "bad-type.tga",    "bad-depth.tga",
    "rle-cut.tga",    "only-lines.obj",  "no-faces.obj",         "empty.obj",       "bad-index.obj",
    "zero-index.obj", "not-numbers.obj", "lines-and-points.obj", "huge-numbers.obj"};

TEST(TgaInputs, EverySeedAndRegressionDecodesWholeOrIsRefusedTheSameWayByTheLoader) {
  std::vector<fs::path> files = files_in(fuzz_folder / "corpus" / "tga");
  const std::vector<fs::path> regressions = files_in(fuzz_folder / "regressions" / "tga");
  ASSERT_FALSE(files.empty()) << fuzz_folder;
  files.insert(files.end(), regressions.begin(), regressions.end());
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    const std::vector<unsigned char> bytes = bytes_of(path);
    tga_image image;
    const char* problem = window_decode_tga(bytes.data(), bytes.size(), 16384, &image);
    if (path.parent_path().filename() == "tga" &&
        path.parent_path().parent_path().filename() == "corpus") {
      EXPECT_EQ(problem != nullptr, broken_seeds.count(path.filename().string()) == 1);
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    testing::internal::CaptureStderr();
    const int loaded = window_load_texture(path.c_str());
    const std::string said = testing::internal::GetCapturedStderr();
    GLint width = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &texture);
    EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
    if (problem) {
      EXPECT_EQ(loaded, 0);
      EXPECT_NE(said.find(path.string() + ": " + problem), std::string::npos) << said;
      continue;
    }
    EXPECT_EQ(loaded, 1) << said;
    EXPECT_EQ(width, image.width);
    EXPECT_TRUE(is_power_of_two(image.width) && is_power_of_two(image.height));
    int levels = 1;
    for (int side = std::max(image.width, image.height); side > 1; side /= 2) ++levels;
    EXPECT_EQ(image.level_count, levels);
    window_free_tga(&image);
  }
}

TEST(TgaInputs, DecodedSeedsHoldTheirPixelsBottomRowFirstWithBoxFilteredLevels) {
  // rgb-2x2.tga: a bottom-left origin, so the first stored row is row 0;
  // pixel byte i is (37 i) mod 256, stored blue, green, red.
  const std::vector<unsigned char> bytes = bytes_of(fuzz_folder / "corpus" / "tga" / "rgb-2x2.tga");
  ASSERT_EQ(bytes.size(), 18u + 12u);
  tga_image image;
  ASSERT_EQ(window_decode_tga(bytes.data(), bytes.size(), 0, &image), nullptr);
  ASSERT_EQ(image.width, 2);
  ASSERT_EQ(image.height, 2);
  ASSERT_EQ(image.channels, 3);
  ASSERT_EQ(image.level_count, 2);
  for (int p = 0; p < 4; ++p)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(image.pixels[p * 3 + c], ((p * 3 + 2 - c) * 37) & 255) << p << " " << c;
  for (int c = 0; c < 3; ++c) {
    int sum = 0;
    for (int p = 0; p < 4; ++p) sum += ((p * 3 + 2 - c) * 37) & 255;
    EXPECT_EQ(image.pixels[12 + c], (sum + 2) / 4) << c;
  }
  window_free_tga(&image);

  // rgba-top-first-3x5.tga: a top-left origin, so its last stored row comes
  // first; 3 x 5 becomes 4 x 8 with levels 4x8, 2x4, 1x2, 1x1. The size limit
  // halves a side past it.
  const std::vector<unsigned char> top =
      bytes_of(fuzz_folder / "corpus" / "tga" / "rgba-top-first-3x5.tga");
  ASSERT_EQ(window_decode_tga(top.data(), top.size(), 0, &image), nullptr);
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 8);
  EXPECT_EQ(image.channels, 4);
  EXPECT_EQ(image.level_count, 4);
  // Bottom-left texel: the stored bottom row's first pixel (row 4 of 5).
  const int first = 18 + 4 * 3 * 4;
  EXPECT_EQ(image.pixels[0], top[first + 2]);
  EXPECT_EQ(image.pixels[3], top[first + 3]);
  window_free_tga(&image);
  ASSERT_EQ(window_decode_tga(top.data(), top.size(), 4, &image), nullptr);
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 4);
  window_free_tga(&image);
}

TEST(ObjInputs, EverySeedAndRegressionLoadsWholeOrIsRefusedWithALine) {
  std::vector<fs::path> files = files_in(fuzz_folder / "corpus" / "obj");
  const std::vector<fs::path> regressions = files_in(fuzz_folder / "regressions" / "obj");
  ASSERT_FALSE(files.empty()) << fuzz_folder;
  files.insert(files.end(), regressions.begin(), regressions.end());
  // The importer picks its reader by the extension: every input is read as
  // a .obj file, whatever name the fuzzer gave it.
  const fs::path scratch = fs::temp_directory_path() / "inputs-test-model.obj";
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    fs::copy_file(path, scratch, fs::copy_options::overwrite_existing);
    testing::internal::CaptureStderr();
    mesh_record* record = load_mesh(scratch.c_str());
    const std::string said = testing::internal::GetCapturedStderr();
    if (path.parent_path().parent_path().filename() == "corpus") {
      EXPECT_EQ(record == nullptr, broken_seeds.count(path.filename().string()) == 1) << said;
    }
    if (!record) {
      EXPECT_EQ(
          said.rfind(std::string(system_program_name()) + ": cannot use " + scratch.string() + ": ",
                     0),
          0u)
          << said;
      EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
      continue;
    }
    EXPECT_GT(record->triangle_count, 0u);
    for (size_t i = 0; i < static_cast<size_t>(record->triangle_count) * 3; ++i)
      ASSERT_LT(record->indices[i], record->vertex_count) << i;
    free_mesh(record);
  }
  fs::remove(scratch);
}

TEST(ObjInputs, SeedModelsKeepTheirTrianglesAndPositions) {
  struct expected {
    const char* name;
    unsigned triangles;
  };
  // A hexagon is cut into four triangles, a quad into two.
  for (const expected& e :
       {expected{"triangle.obj", 1}, expected{"polygon.obj", 4}, expected{"textured-quad.obj", 2},
        expected{"negative-indices.obj", 2}}) {
    SCOPED_TRACE(e.name);
    mesh_record* record = load_mesh((fuzz_folder / "corpus" / "obj" / e.name).c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->triangle_count, e.triangles);
    free_mesh(record);
  }
  mesh_record* record = load_mesh((fuzz_folder / "corpus" / "obj" / "triangle.obj").c_str());
  ASSERT_NE(record, nullptr);
  const float corners[3][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(record->positions[record->indices[k] * 3 + c], corners[k][c]) << k << " " << c;
  free_mesh(record);
}

}  // namespace
