// hostile_input_test.cpp: asset files made to hurt the loaders: images and
// models that declare or hold more than is sane, non-finite geometry, files
// that are not regular files, corrupt files caught by the start-up check, and
// render targets the driver cannot make.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "film/assets.h"
#include "gl_fixture.h"
#include "mesh_helpers.h"
#include "process_helpers.h"

namespace fs = std::filesystem;

namespace {

// A file of the given size that takes no room on disk: all zero bytes.
std::string sparse_file(const std::string& name, off_t size) {
  const std::string path = scratch_file(name).string();
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(file, 0);
  EXPECT_EQ(ftruncate(file, size), 0);
  close(file);
  return path;
}

// A run-length TGA of width x height grey RGBA pixels: five bytes for every
// 128 pixels, so a small file declares a huge image.
std::string rle_tga(int width, int height) {
  std::string file = tga_header(width, height, 32, 10);
  const size_t pixels = static_cast<size_t>(width) * height;
  const char packet[5] = {'\xff', '\x40', '\x40', '\x40', '\xff'};
  file.reserve(file.size() + (pixels + 127) / 128 * 5);
  for (size_t done = 0; done < pixels; done += 128) file.append(packet, 5);
  return file;
}

std::string triangle_obj(const std::string& position, const std::string& coordinate) {
  return "v " + position + "\nv 1 0 0\nv 0 1 0\nvt " + coordinate +
         "\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n";
}

// Runs the call with stderr captured; returns what it printed.
template <typename Call>
std::string stderr_of(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

TEST(HugeImages, ADeclaredImageBeyondTheBudgetIsRefusedBeforeDecoding) {
  // 10 MB of run-length packets declaring 16384 x 16384 pixels: 1 GiB decoded.
  const std::string bomb = rle_tga(16384, 16384);
  tga_image image;
  const char* problem = window_decode_tga(reinterpret_cast<const unsigned char*>(bomb.data()),
                                          bomb.size(), 0, &image);
  ASSERT_NE(problem, nullptr);
  EXPECT_NE(std::string(problem).find("too large"), std::string::npos) << problem;
  EXPECT_EQ(image.pixels, nullptr);

  // Just within the budget, 8192 x 4096, still decodes.
  const std::string largest = rle_tga(8192, 4096);
  problem = window_decode_tga(reinterpret_cast<const unsigned char*>(largest.data()),
                              largest.size(), 0, &image);
  EXPECT_EQ(problem, nullptr) << problem;
  EXPECT_EQ(image.width, 8192);
  EXPECT_EQ(image.height, 4096);
  window_free_tga(&image);
}

TEST(HugeImages, AFileLargerThanAnyUsableImageIsNotRead) {
  const std::string path = sparse_file("huge.tga", off_t{1} << 31);
  tga_image image;
  const char* problem = window_read_tga(path.c_str(), 0, &image);
  ASSERT_NE(problem, nullptr);
  EXPECT_STREQ(problem, "the file is too large");
}

TEST(HugeImages, AFifoInPlaceOfAnImageIsRefusedWithoutWaiting) {
  const std::string path = scratch_file("fifo.tga").string();
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  tga_image image;
  const char* problem = window_read_tga(path.c_str(), 0, &image);
  ASSERT_NE(problem, nullptr);
  EXPECT_STREQ(problem, "it is not a regular file");
}

TEST(HugeModels, AModelFileBeyondTheLimitIsRefusedBeforeImport) {
  const std::string path = sparse_file("huge.obj", off_t{300} << 20);
  mesh_record* m = nullptr;
  const std::string said = stderr_of([&] { m = load_mesh(path.c_str()); });
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(said, std::string(system_program_name()) + ": cannot use " + path +
                      ": the file is too large\n");
}

TEST(NonFiniteModels, PositionsOrTextureCoordinatesOfNanOrInfinityAreRefused) {
  struct bad_model {
    const char* name;
    std::string position;
    std::string coordinate;
    const char* reason;
  };
  const bad_model models[] = {
      {"nan-position.obj", "nan 0 0", "0 0", "a position that is not finite"},
      {"inf-position.obj", "0 inf 0", "0 0", "a position that is not finite"},
      {"minus-inf-position.obj", "0 0 -inf", "0 0", "a position that is not finite"},
      {"nan-coordinate.obj", "0 0 0", "nan 0", "a texture coordinate that is not finite"},
      {"inf-coordinate.obj", "0 0 0", "0 inf", "a texture coordinate that is not finite"},
  };
  for (const bad_model& model : models) {
    SCOPED_TRACE(model.name);
    const std::string path = write_file(model.name, triangle_obj(model.position, model.coordinate));
    mesh_record* m = nullptr;
    const std::string said = stderr_of([&] { m = load_mesh(path.c_str()); });
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(said, std::string(system_program_name()) + ": cannot use " + path +
                        ": its first mesh has " + model.reason + "\n");
    EXPECT_EQ(check_asset(path.c_str()), std::string("its first mesh has ") + model.reason);
  }
  // The same triangle with finite numbers loads.
  const std::string good = write_file("finite.obj", triangle_obj("0 0 0", "0 0"));
  mesh_record* m = load_mesh(good.c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->triangle_count, 1u);
  free_mesh(m);
}

TEST(StartupCheck, CorruptImagesAndModelsAreRefusedWithTheReason) {
  std::string noise;
  for (int i = 0; i < 4000; ++i) noise += static_cast<char>((i * 7919 + 13) % 251);
  const std::string whole = tga_header(4, 4, 24, 2) + std::string(48, '\x55');
  struct bad_file {
    const char* name;
    std::string bytes;
  };
  const bad_file files[] = {
      {"noise.tga", noise},
      {"half.tga", whole.substr(0, whole.size() / 2)},
      {"bogus-header.tga", tga_header(4, 4, 24, 77) + std::string(48, '\x55')},
      {"noise.obj", noise},
      {"half.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2"},
  };
  for (const bad_file& file : files) {
    SCOPED_TRACE(file.name);
    const std::string path = write_file(file.name, file.bytes);
    EXPECT_FALSE(check_asset(path.c_str()).empty());
  }
}

TEST(StartupCheck, WhatTheCheckDecodedIsWhatTheLoadUses) {
  // Checked, then removed: the load must come from what the check kept.
  std::string pixels;
  for (int i = 0; i < 16; ++i) pixels += std::string("\x10\x20\x30", 3);
  const std::string image = write_file("kept.tga", tga_header(4, 4, 24, 2) + pixels);
  const std::string model = write_file("kept.obj", triangle_obj("0 0 0", "0 0"));
  ASSERT_EQ(check_asset(image.c_str()), "");
  ASSERT_EQ(check_asset(model.c_str()), "");
  fs::remove(image);
  fs::remove(model);

  const GLuint name = static_cast<GLuint>(load_texture(image.c_str()));
  glBindTexture(GL_TEXTURE_2D, name);
  GLint width = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_EQ(width, 4);
  const std::vector<float> texels = read_texture(name);
  ASSERT_EQ(texels.size(), 64u);
  EXPECT_NEAR(texels[0], 0x30 / 255.0f, 1e-3f);  // stored blue, green, red
  EXPECT_NEAR(texels[2], 0x10 / 255.0f, 1e-3f);
  glDeleteTextures(1, &name);

  mesh_record* m = load_mesh(model.c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->triangle_count, 1u);
  free_mesh(m);
  // Taken once: a second load reads the (now missing) file again.
  EXPECT_FALSE(stderr_of([&] { EXPECT_EQ(load_mesh(model.c_str()), nullptr); }).empty());
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(RenderTargets, ATargetTheDriverCannotMakeIsNamedAndAGoodOneIsNot) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  layer_record* good = layer(8, 8);
  EXPECT_EQ(target_problem(good->framebuffer), nullptr);
  layer_record* too_wide = layer(static_cast<unsigned>(max_size) * 2, 1);
  EXPECT_NE(target_problem(too_wide->framebuffer), nullptr);
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
  free_layer(good);
  free_layer(too_wide);
}

TEST(StartupCheck, ACheckedFileIsCheckedAgainOnlyWhenItChanged) {
  const std::string path = write_file("rechecked.obj", triangle_obj("0 0 0", "0 0"));
  ASSERT_EQ(check_asset(path.c_str()), "");
  ASSERT_EQ(check_asset(path.c_str()), "");  // unchanged: what was kept stays
  // Spoilt after its check: the next check must read it again and refuse it.
  std::ofstream(path, std::ios::binary) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99\n";
  EXPECT_NE(check_asset(path.c_str()), "");
  fs::remove(path);
  EXPECT_FALSE(stderr_of([&] { EXPECT_EQ(load_mesh(path.c_str()), nullptr); }).empty());
}

}  // namespace
