// Generated grids, vertex normals and tangents, and mesh drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "gl_fixture.h"
#include "mesh_helpers.h"

namespace {

// ---------------------------------------------------------------------------
// Generated grids.

// A height-field program whose outputs are simple functions of the pixel
// position and _resolution. Pixel (x, y) has its centre at (x + 0.5, y + 0.5).
const char* const test_generator = R"glsl(
uniform vec2 _resolution;
void main() {
  vec2 p = gl_FragCoord.xy;
  gl_FragData[0] = vec4(p.x, -2.0 * p.y, p.x * 0.25, 1.0);
  gl_FragData[1] = vec4(p.x / _resolution.x, p.y / _resolution.y, p.x + p.y, 1.0);
}
)glsl";

int test_generator_program() {
  static int name = program(-1, -1, shader(test_generator, GL_FRAGMENT_SHADER));
  return name;
}

// The generator's outputs for the vertex in column x, row y of a grid of
// width x height cells: position, then texture coordinate.
void expected_vertex(unsigned x, unsigned y, unsigned width, unsigned height, float position[3],
                     float coordinate[3]) {
  const float px = x + 0.5f, py = y + 0.5f;
  position[0] = px;
  position[1] = -2.0f * py;
  position[2] = px * 0.25f;
  coordinate[0] = px / width;
  coordinate[1] = py / height;
  coordinate[2] = px + py;
}

// Half floats keep 11 significant bits.
::testing::AssertionResult near_half(float actual, float expected) {
  if (std::fabs(actual - expected) <= std::fabs(expected) * (1.0f / 1024.0f) + 1e-6f)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " is not " << expected << " in half floats";
}

// Every vertex of a generated grid carries its own pixel's outputs. The
// positions lie on one plane, the same for both triangles of every cell:
// steps of (1, 0, 0.25) across and (0, -2, 0) up give the face normal
// (-0.5, 0, 2) and, with t growing by 1/height per row, the face tangent
// (1, 0, 0.25) / height, so every vertex gets these directions normalised.
void expect_generated_grid(const mesh_record* grid, unsigned width, unsigned height) {
  const unsigned w = width + 1;
  ASSERT_EQ(grid->vertex_count, w * (height + 1));
  ASSERT_EQ(grid->triangle_count, 2 * width * height);
  const float root17 = std::sqrt(17.0f);
  const float normal[3] = {-1.0f / root17, 0.0f, 4.0f / root17};
  const float tangent[3] = {4.0f / root17, 0.0f, 1.0f / root17};
  int failures = 0;
  for (unsigned y = 0; y <= height && failures < 10; ++y) {
    for (unsigned x = 0; x <= width && failures < 10; ++x) {
      float position[3], coordinate[3];
      expected_vertex(x, y, width, height, position, coordinate);
      const size_t v = (static_cast<size_t>(y) * w + x) * 3;
      for (int c = 0; c < 3; ++c) {
        const bool good = near_half(grid->positions[v + c], position[c]) &&
                          near_half(grid->texture_coordinates[v + c], coordinate[c]) &&
                          std::fabs(grid->normals[v + c] - normal[c]) < 1e-5f &&
                          std::fabs(grid->tangents[v + c] - tangent[c]) < 1e-5f;
        EXPECT_TRUE(good) << "vertex (" << x << ", " << y << ") component " << c << ": position "
                          << grid->positions[v + c] << " coordinate "
                          << grid->texture_coordinates[v + c] << " normal " << grid->normals[v + c]
                          << " tangent " << grid->tangents[v + c];
        failures += good ? 0 : 1;
      }
    }
  }
}

TEST(MeshGrid, OneByOneAndTwoByOneGridsHaveTheirStatedIndices) {
  mesh_record* one = mesh(test_generator_program(), 1, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(indices_of(one), (std::vector<unsigned>{2, 3, 1, 2, 1, 0}));
  expect_generated_grid(one, 1, 1);
  free_mesh(one);

  mesh_record* two = mesh(test_generator_program(), 2, 1);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(indices_of(two), (std::vector<unsigned>{3, 4, 1, 3, 1, 0, 4, 5, 2, 4, 2, 1}));
  expect_generated_grid(two, 2, 1);
  free_mesh(two);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(MeshGrid, TerrainSizedGridReadsEveryPixelAndEndsWithTheLastCell) {
  mesh_record* grid = mesh(test_generator_program(), 256, 256);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->vertex_count, 66049u);
  EXPECT_EQ(grid->triangle_count, 131072u);
  const std::vector<unsigned> indices = indices_of(grid);
  EXPECT_EQ(std::vector<unsigned>(indices.end() - 6, indices.end()),
            (std::vector<unsigned>{66047, 66048, 65791, 66047, 65791, 65790}));
  // Cell (3, 200) holds triangles 2 * (3 * 256 + 200) and the one after; its
  // lower-left vertex is 200 * 257 + 3.
  const size_t first = 2 * (3 * 256 + 200) * 3;
  const unsigned b = 200 * 257 + 3;
  EXPECT_EQ(std::vector<unsigned>(indices.begin() + first, indices.begin() + first + 6),
            (std::vector<unsigned>{b + 257, b + 258, b + 1, b + 257, b + 1, b}));
  expect_generated_grid(grid, 256, 256);
  free_mesh(grid);
}

TEST(MeshGrid, RestoresTheViewportAndBindsTheWindow) {
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glViewport(3, 5, 17, 9);
  mesh_record* grid = mesh(test_generator_program(), 3, 2);
  ASSERT_NE(grid, nullptr);
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{3, 5, 17, 9}));
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
  expect_generated_grid(grid, 3, 2);
  free_mesh(grid);
  glViewport(0, 0, FIXTURE_WIDTH, FIXTURE_HEIGHT);
}

TEST(MeshGrid, WidestGridFillsTheGeneratorAndLargerOnesAreRefused) {
  mesh_record* widest = mesh(test_generator_program(), 511, 1);
  ASSERT_NE(widest, nullptr);
  expect_generated_grid(widest, 511, 1);
  free_mesh(widest);

  const unsigned refused[][2] = {{512, 1}, {1, 512}, {0, 4}, {4, 0}, {100000, 100000}};
  for (const auto& size : refused) {
    testing::internal::CaptureStderr();
    mesh_record* grid = mesh(test_generator_program(), size[0], size[1]);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(grid, nullptr) << size[0] << " x " << size[1];
    EXPECT_NE(said.find("mesh:"), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  }
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
}

// ---------------------------------------------------------------------------
// Vertex normals and tangents.

// A record of the given positions and indices with t values, its normals and
// tangents filled with 7 so that every overwritten float shows.
mesh_record* attribute_mesh(const std::vector<float>& positions,
                            const std::vector<unsigned>& indices, const std::vector<float>& t) {
  mesh_record* m = mesh_from(positions, indices);
  for (unsigned v = 0; v < m->vertex_count; ++v) {
    m->texture_coordinates[v * 3 + 0] = 100.0f + v;  // s and r are never read
    m->texture_coordinates[v * 3 + 1] = t[v];
    m->texture_coordinates[v * 3 + 2] = -100.0f - v;
    for (int c = 0; c < 3; ++c) m->normals[v * 3 + c] = m->tangents[v * 3 + c] = 7.0f;
  }
  return m;
}

std::vector<float> vector_of(const float* array, unsigned v) {
  return std::vector<float>(array + v * 3, array + v * 3 + 3);
}

void expect_near3(const std::vector<float>& actual, const std::vector<float>& expected,
                  const std::string& what) {
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(actual[c], expected[c], 1e-6f) << what << " [" << c << "]";
}

TEST(VertexAttributes, OneTriangleAndItsMirror) {
  mesh_record* m = attribute_mesh({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 1, 2}, {0, 0, 1});
  compute_vertex_attributes(m);
  for (unsigned v = 0; v < 3; ++v) {
    EXPECT_EQ(vector_of(m->normals, v), (std::vector<float>{0, 0, 1})) << v;
    EXPECT_EQ(vector_of(m->tangents, v), (std::vector<float>{-1, 0, 0})) << v;
  }
  free_mesh(m);

  m = attribute_mesh({0, 0, 0, 1, 0, 0, 1, 1, 0}, {0, 2, 1}, {0, 0, 1});
  compute_vertex_attributes(m);
  for (unsigned v = 0; v < 3; ++v)
    EXPECT_EQ(vector_of(m->normals, v), (std::vector<float>{0, 0, -1}));
  // Corners in texture order 0, 2, 1: e1 = (1, 1, 0), e2 = (0, -1, 0),
  // d1 = 1, d2 = -1, so the face tangent is (1, 0, 0).
  for (unsigned v = 0; v < 3; ++v)
    EXPECT_EQ(vector_of(m->tangents, v), (std::vector<float>{1, 0, 0}));
  free_mesh(m);
}

TEST(VertexAttributes, UnusedCancelledAndDegenerateVerticesStayZero) {
  // Vertex 3 is used by no triangle; triangles 0 and 1 are the same face in
  // opposite windings; triangle 2 has two equal corners and triangle 3 three
  // collinear ones, both using only vertices 4 to 6.
  mesh_record* m = attribute_mesh({0, 0, 0, 1, 0, 0, 1, 1, 0, 5, 5, 5, 2, 0, 0, 3, 0, 0, 4, 0, 0},
                                  {0, 1, 2, 0, 2, 1, 4, 4, 5, 4, 5, 6}, {0, 0, 1, 1, 0, 1, 2});
  compute_vertex_attributes(m);
  for (unsigned v = 0; v < 7; ++v) {
    EXPECT_EQ(vector_of(m->normals, v), (std::vector<float>{0, 0, 0})) << v;
    if (v < 4) {
      EXPECT_EQ(vector_of(m->tangents, v), (std::vector<float>{0, 0, 0})) << v;
    }
  }
  free_mesh(m);
}

TEST(VertexAttributes, ConstantTGivesZeroTangentsAndUsualNormals) {
  mesh_record* m = attribute_mesh({0, 0, 0, 2, 0, 0, 0, 0, -3, 2, 0, -3}, {0, 1, 2, 2, 1, 3},
                                  {0.5f, 0.5f, 0.5f, 0.5f});
  compute_vertex_attributes(m);
  for (unsigned v = 0; v < 4; ++v) {
    EXPECT_EQ(vector_of(m->tangents, v), (std::vector<float>{0, 0, 0})) << v;
    EXPECT_EQ(vector_of(m->normals, v), (std::vector<float>{0, 1, 0})) << v;
  }
  free_mesh(m);
}

TEST(VertexAttributes, SharedVertexFollowsTheAreaWeightedSum) {
  // Around vertex 0: a large triangle in the z = 0 plane, face normal
  // (0, 0, 16), and a small one in the x = 0 plane, face normal (1, 0, 0).
  mesh_record* m = attribute_mesh({0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 1, 0, 0, 0, 1}, {0, 1, 2, 0, 3, 4},
                                  {0, 0, 0, 0, 0});
  compute_vertex_attributes(m);
  const float root = std::sqrt(257.0f);
  expect_near3(vector_of(m->normals, 0), {1 / root, 0, 16 / root}, "shared vertex");
  expect_near3(vector_of(m->normals, 1), {0, 0, 1}, "large triangle only");
  expect_near3(vector_of(m->normals, 4), {1, 0, 0}, "small triangle only");
  free_mesh(m);
}

// ---------------------------------------------------------------------------
// Drawing.

const char* const attribute_vertex_shader = R"glsl(
varying vec3 normal;
varying vec3 color;
varying vec3 coordinate;
void main() {
  normal = gl_Normal;
  color = gl_Color.rgb;
  coordinate = gl_MultiTexCoord0.xyz;
  gl_Position = ftransform();
}
)glsl";

const char* const attribute_fragment_shader = R"glsl(
uniform float _which;
varying vec3 normal;
varying vec3 color;
varying vec3 coordinate;
void main() {
  vec3 shown = _which < 0.5 ? color : (_which < 1.5 ? normal : coordinate);
  gl_FragColor = vec4(shown, 1.0);
}
)glsl";

// Draws the mesh into a cleared 16 x 16 layer under orthographic(16, 16),
// showing one attribute: 0 tangent (the colour array), 1 normal, 2 texture
// coordinate.
std::vector<float> draw_attribute(const layer_record* target, const mesh_record* m, float which) {
  static int shown = program(shader(attribute_vertex_shader, GL_VERTEX_SHADER), -1,
                             shader(attribute_fragment_shader, GL_FRAGMENT_SHADER));
  orthographic(16, 16);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glUseProgram(shown);
  glUniform1f(glGetUniformLocation(shown, "_which"), which);
  render(m);
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return read_layer(target);
}

void expect_client_arrays_disabled() {
  EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
}

TEST(MeshDrawing, FeedsEachArrayToItsAttributeAndDisablesThemAfterwards) {
  layer_record* target = layer(16, 16);
  // One triangle over the top-left half of the target (y grows downwards),
  // named through slots 3, 1, 0; slot 2 is named by no index and holds NaN.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  mesh_record* m = mesh_from({0, 16, 0, 16, 0, 0, nan, nan, nan, 0, 0, 0}, {3, 1, 0});
  const float tangent[3] = {0.125f, 0.375f, 0.625f};
  const float normal[3] = {0.25f, 0.5f, 0.75f};
  const float coordinate[3] = {0.875f, 0.0625f, 0.3125f};
  for (unsigned v = 0; v < 4; ++v) {
    for (int c = 0; c < 3; ++c) {
      m->tangents[v * 3 + c] = v == 2 ? nan : tangent[c];
      m->normals[v * 3 + c] = v == 2 ? nan : normal[c];
      m->texture_coordinates[v * 3 + c] = v == 2 ? nan : coordinate[c];
    }
  }
  const float* expected[3] = {tangent, normal, coordinate};
  for (int which = 0; which < 3; ++which) {
    const std::vector<float> image = draw_attribute(target, m, static_cast<float>(which));
    expect_client_arrays_disabled();
    // Pixel (x, y) counted from the bottom is inside the triangle when x < y
    // and outside when x > y; the diagonal itself is left to the rasteriser.
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        if (x == y) continue;
        for (int c = 0; c < 3; ++c) {
          const float want = x < y ? expected[which][c] : 0.0f;
          ASSERT_NEAR(pixel(image, 16, x, y, c), want, 1e-3f)
              << "attribute " << which << " pixel " << x << ", " << y;
        }
      }
    }
  }
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
  free_mesh(m);
}

TEST(MeshDrawing, EmptyRecordDrawsNothing) {
  layer_record* target = layer(16, 16);
  mesh_record* m = new_mesh(0, 0);
  const std::vector<float> image = draw_attribute(target, m, 0.0f);
  for (float value : image) ASSERT_EQ(value, 0.0f);
  expect_client_arrays_disabled();
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
  free_mesh(m);
}

}  // namespace
