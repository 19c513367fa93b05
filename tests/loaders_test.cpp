// Model and texture loading from files the tests write into a temporary
// directory: good models and images, and every kind of bad one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "film/assets.h"
#include "film/film.h"
#include "gl_fixture.h"
#include "mesh_helpers.h"
#include "test_files.h"

namespace {

// Runs the call with stderr captured; returns what it printed.
template <typename Call>
std::string stderr_of(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

// One line on stderr that names the file.
void expect_one_line_naming(const std::string& said, const std::string& path) {
  EXPECT_NE(said.find(path), std::string::npos) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << "not one line: " << said;
}

std::vector<float> vertex(const float* array, unsigned v) {
  return std::vector<float>(array + v * 3, array + v * 3 + 3);
}

// ---------------------------------------------------------------------------
// Models.

// A model written from the text and loaded (null when the loader refuses it).
mesh_record* load_obj(const char* name, const std::string& text) {
  return load_mesh(write_file(name, text).c_str());
}

// The triangle (0,0,0), (1,0,0), (1,1,0) as the loader gives it: three
// vertices of their own.
void expect_first_triangle(const mesh_record* m) {
  EXPECT_EQ(m->triangle_count, 1u);
  EXPECT_EQ(m->vertex_count, 3u);
  EXPECT_EQ(floats_of(m->positions, 3), (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0}));
}

TEST(LoadMesh, OneTriangleWithTextureCoordinates) {
  mesh_record* m = load_obj("one.obj",
                            "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
                            "vt 0 0\nvt 0.5 0\nvt 1 1\n"
                            "f 1/1 2/2 3/3\n");
  ASSERT_NE(m, nullptr);
  expect_first_triangle(m);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2}));
  EXPECT_EQ(floats_of(m->texture_coordinates, 3),
            (std::vector<float>{0, 0, 0, 0.5f, 0, 0, 1, 1, 0}));
  // t runs 0, 0, 1 over a counter-clockwise triangle in the z = 0 plane.
  for (unsigned v = 0; v < 3; ++v) {
    EXPECT_EQ(vertex(m->normals, v), (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(vertex(m->tangents, v), (std::vector<float>{-1, 0, 0}));
  }
  free_mesh(m);
}

// A unit square of two triangles sharing the edge from (0, 0, 0) to (1, 1, 0).
const char* const square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
const float square_corners[6][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0},
                                    {0, 0, 0}, {1, 1, 0}, {0, 1, 0}};

void expect_square(const mesh_record* m) {
  ASSERT_EQ(m->triangle_count, 2u);
  ASSERT_EQ(m->vertex_count, 6u);
  for (unsigned c = 0; c < 6; ++c) {
    const unsigned v = m->indices[c];
    ASSERT_LT(v, 4u) << "the model has four vertices";
    EXPECT_EQ(vertex(m->positions, v),
              std::vector<float>(square_corners[c], square_corners[c] + 3));
    EXPECT_EQ(vertex(m->normals, v), (std::vector<float>{0, 0, 1}));
  }
  EXPECT_EQ(m->indices[0], m->indices[3]) << "shared corner";
  EXPECT_EQ(m->indices[2], m->indices[4]) << "shared corner";
  for (unsigned v = 4; v < 6; ++v) {
    EXPECT_EQ(vertex(m->normals, v), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(vertex(m->tangents, v), (std::vector<float>{0, 0, 0}));
  }
}

TEST(LoadMesh, TwoTrianglesSharingAnEdgeLeaveTwoSlotsUnnamed) {
  const std::string path = write_file(
      "square.obj",
      std::string(square) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
  mesh_record* m = load_mesh(path.c_str());
  ASSERT_NE(m, nullptr);
  expect_square(m);
  free_mesh(m);
}

TEST(LoadMesh, ModelWithoutTextureCoordinatesHasZeroCoordinatesAndTangents) {
  const std::string path = write_file("bare.obj", std::string(square) + "f 1 2 3\nf 1 3 4\n");
  mesh_record* m = load_mesh(path.c_str());
  ASSERT_NE(m, nullptr);
  expect_square(m);
  EXPECT_EQ(floats_of(m->texture_coordinates, 6), std::vector<float>(18, 0.0f));
  EXPECT_EQ(floats_of(m->tangents, 6), std::vector<float>(18, 0.0f));
  free_mesh(m);
}

TEST(LoadMesh, SceneOfTwoMeshesGivesTheFirst) {
  mesh_record* m = load_obj("two.obj",
                            "o first\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n"
                            "o second\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                            "f 4 5 6\nf 4 6 7\n");
  ASSERT_NE(m, nullptr);
  expect_first_triangle(m);
  free_mesh(m);
}

TEST(LoadMesh, UnusableFilesGiveNoRecordAndOneLine) {
  struct bad_model {
    const char* name;
    std::string bytes;  // not written when empty and `missing`
    bool missing;
    const char* reason;  // a part of the line, or null for the importer's own words
  };
  std::string garbage;
  for (int i = 0; i < 3000; ++i) garbage += static_cast<char>((i * 7919 + 13) % 251);
  const bad_model models[] = {
      {"missing.obj", "", true, nullptr},
      {"empty.obj", "", false, nullptr},
      {"truncated.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2", false, "not triangles"},
      {"vertices-only.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\n", false, "no triangles"},
      {"noise.obj", garbage, false, "no mesh"},
      {"noise.bin", garbage, false, nullptr},
      {"lines-first.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2\nf 1 2 3\n", false, "no triangles"},
      {"points.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\np 1 2 3\n", false, "no triangles"},
      {"out-of-range.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 9\n", false, nullptr},
      {"negative.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nf -1 -2 -9\n", false, nullptr},
  };
  for (const bad_model& model : models) {
    const std::string path =
        model.missing ? scratch_file(model.name).string() : write_file(model.name, model.bytes);
    mesh_record* m = nullptr;
    const std::string said = stderr_of([&] { m = load_mesh(path.c_str()); });
    EXPECT_EQ(m, nullptr) << model.name;
    EXPECT_EQ(said.rfind(std::string(system_program_name()) + ": cannot use " + path + ": ", 0), 0u)
        << said;
    expect_one_line_naming(said, path);
    if (model.reason) {
      EXPECT_NE(said.find(model.reason), std::string::npos) << said;
    }
  }
}

// Bytes the C heap has handed out and not had back (0 where the C library
// cannot say).
size_t heap_in_use() {
#if defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

// One showing's part in the greetings model: the loaders table's entry, then
// the unloaders table's.
void greetings_showing() {
  P744X1EL[1]();
  ASSERT_NE(greetings, nullptr);
  FDC2CHR7[1]();
}

TEST(LoadMesh, GreetingsLoaderAndUnloaderKeepOneModelAtMost) {
  // The loader reads "greetings.obj" from the working directory: a strip of
  // 2,000 triangles, some 150 KB as a record.
  std::string strip;
  for (int i = 0; i <= 1000; ++i)
    strip += "v " + std::to_string(i) + " 0 0\nv " + std::to_string(i) + " 1 0\n";
  for (int i = 0; i < 1000; ++i) {
    const int a = 2 * i + 1;
    strip += "f " + std::to_string(a) + " " + std::to_string(a + 2) + " " + std::to_string(a + 1) +
             "\nf " + std::to_string(a + 1) + " " + std::to_string(a + 2) + " " +
             std::to_string(a + 3) + "\n";
  }
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(scratch_file(""));
  write_file("greetings.obj", "v 0 0 0\nv 2 0 0\nv 0 2 0\nf 1 2 3\n");
  greetings = nullptr;
  load_greetings_mesh();
  ASSERT_NE(greetings, nullptr);
  EXPECT_EQ(floats_of(greetings->positions, 3), (std::vector<float>{0, 0, 0, 2, 0, 0, 0, 2, 0}));
  // The unloader frees it.
  vel_unloader();
  EXPECT_EQ(greetings, nullptr);

  // The heap after three showings (one with the loader run twice) is the
  // heap after one, give or take the allocator's own small caches.
  write_file("greetings.obj", strip);
  greetings_showing();
  const size_t after_one = heap_in_use();
  greetings_showing();
  load_greetings_mesh();
  greetings_showing();
  const size_t after_three = heap_in_use();
  EXPECT_LT(after_three, after_one + 16 * 1024) << after_one << " then " << after_three;
  std::filesystem::current_path(here);
}

// ---------------------------------------------------------------------------
// Textures.

int texture_level_size(GLuint name, int level, GLenum which) {
  glBindTexture(GL_TEXTURE_2D, name);
  GLint size = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, which, &size);
  glBindTexture(GL_TEXTURE_2D, 0);
  return size;
}

TEST(LoadTexture, ReadsAnImageBottomRowFirstWithMipmapsAndDefaultParameters) {
  // File rows run bottom to top, pixels blue-green-red.
  std::string pixels;
  const unsigned char bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
  for (const auto& p : bgr) pixels.append(reinterpret_cast<const char*>(p), 3);
  const std::string path = write_file("good.tga", tga_header(2, 2, 24) + pixels);
  GLuint name = 0;
  const std::string said =
      stderr_of([&] { name = static_cast<GLuint>(load_texture(path.c_str())); });
  EXPECT_EQ(said, "");
  ASSERT_NE(name, 0u);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
  int width = 0, height = 0;
  const std::vector<float> image = read_texture(name, &width, &height);
  ASSERT_EQ(width, 2);
  ASSERT_EQ(height, 2);
  const float rgb[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
  for (int p = 0; p < 4; ++p) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(image[p * 4 + c], rgb[p][c]) << p << " " << c;
  }
  EXPECT_EQ(texture_level_size(name, 1, GL_TEXTURE_WIDTH), 1);
  glBindTexture(GL_TEXTURE_2D, name);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), static_cast<int>(name));
  GLint value = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
  EXPECT_EQ(value, GL_REPEAT);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
  EXPECT_EQ(value, GL_NEAREST_MIPMAP_LINEAR);
  glBindTexture(GL_TEXTURE_2D, 0);

  // Sides that are not powers of two are rescaled to ones.
  const std::string odd = write_file("odd.tga", tga_header(3, 5, 24) + std::string(45, '\x40'));
  name = static_cast<GLuint>(load_texture(odd.c_str()));
  EXPECT_EQ(texture_level_size(name, 0, GL_TEXTURE_WIDTH), 4);
  EXPECT_EQ(texture_level_size(name, 0, GL_TEXTURE_HEIGHT), 8);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(LoadTexture, UnreadableImagesGiveATextureWithoutAnImageAndOneLine) {
  struct bad_image {
    const char* name;
    std::string bytes;
    bool missing;
  };
  const bad_image images[] = {
      {"missing.tga", "", true},
      {"empty.tga", "", false},
      {"header-only.tga", tga_header(4, 4, 24), false},
      {"bad-type.tga", tga_header(2, 2, 24, 99) + std::string(12, '\0'), false},
      {"bad-depth.tga", tga_header(2, 2, 13) + std::string(12, '\0'), false},
      {"zero-width.tga", tga_header(0, 2, 24) + std::string(12, '\0'), false},
      {"zero-height.tga", tga_header(2, 0, 24), false},
      {"short-data.tga", tga_header(64, 64, 24) + std::string(12, '\x7f'), false},
      {"huge.tga", tga_header(65535, 65535, 32) + std::string(16, '\x7f'), false},
      {"cut-header.tga", tga_header(2, 2, 24).substr(0, 9), false},
  };
  for (const bad_image& image : images) {
    const std::string path =
        image.missing ? scratch_file(image.name).string() : write_file(image.name, image.bytes);
    GLuint name = 0;
    const std::string said =
        stderr_of([&] { name = static_cast<GLuint>(load_texture(path.c_str())); });
    EXPECT_NE(name, 0u) << image.name;
    EXPECT_EQ(texture_level_size(name, 0, GL_TEXTURE_WIDTH), 0) << image.name;
    EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
    expect_one_line_naming(said, path);
  }
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
