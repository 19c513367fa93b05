// terrain_test.cpp: the terrain generator read back through mesh(), checked
// against a CPU evaluation of its height function, and the terrain's shading.
#include "film/terrain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "film/assets.h"
#include "film/surfaces.h"
#include "gl_fixture.h"

namespace {

// ---------------------------------------------------------------------------
// The height function evaluated on the CPU, in double precision.

double fract(double x) {
  return x - std::floor(x);
}
double mod289(double x) {
  return x - 289.0 * std::floor(x / 289.0);
}
double permute(double v) {
  return mod289((34.0 * v + 1.0) * v);
}
double fade(double t) {
  return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}
double mix(double a, double b, double t) {
  return a * (1.0 - t) + b * t;
}
double glsl_smoothstep(double e0, double e1, double x) {
  const double t = std::min(std::max((x - e0) / (e1 - e0), 0.0), 1.0);
  return t * t * (3.0 - 2.0 * t);
}

double perlin(double px, double py) {
  const double cx[4] = {mod289(std::floor(px)), mod289(std::floor(px) + 1.0),
                        mod289(std::floor(px)), mod289(std::floor(px) + 1.0)};
  const double cy[4] = {mod289(std::floor(py)), mod289(std::floor(py)),
                        mod289(std::floor(py) + 1.0), mod289(std::floor(py) + 1.0)};
  const double fx[4] = {fract(px), fract(px) - 1.0, fract(px), fract(px) - 1.0};
  const double fy[4] = {fract(py), fract(py), fract(py) - 1.0, fract(py) - 1.0};
  double z[4], w[4];
  for (int k = 0; k < 4; ++k) {
    z[k] = fract(permute(permute(cx[k]) + cy[k]) * 0.0243902439) * 2.0 - 1.0;
    w[k] = std::fabs(z[k]) - 0.5;
    z[k] -= std::floor(z[k] + 0.5);
  }
  double n[4];
  for (int pair = 0; pair < 4; pair += 2) {
    const double length = std::sqrt(z[pair] * z[pair] + w[pair] * w[pair] +
                                    z[pair + 1] * z[pair + 1] + w[pair + 1] * w[pair + 1]);
    for (int k = pair; k < pair + 2; ++k) n[k] = (z[k] * fx[k] + w[k] * fy[k]) / length;
  }
  const double u = fade(fract(px)), v = fade(fract(py));
  return 2.3 * mix(mix(n[0], n[1], u), mix(n[2], n[3], u), v);
}

double brownian(double px, double py, int octaves, double lacunarity, double gain) {
  double result = 0.0, amplitude = 1.0;
  for (int i = 0; i < octaves; ++i) {
    amplitude *= gain;
    result += amplitude * perlin(px, py);
    px *= lacunarity;
    py *= lacunarity;
  }
  return result;
}

// D of the height function at pixel position (px, py) for mask row my on a
// 256 x 256 grid; the border factor is returned apart.
struct displacement {
  double plateau;
  double mountain_range;
  double mask;  // 1: mountains in full, 0: plateau only
  double border;
};

displacement reference(double px, double py, double my) {
  displacement d;
  const double foundation = brownian(px, py, 1, 2.05, 0.5) * 0.025;
  d.plateau = perlin(px * 0.125, py * 0.125) * 0.05 + foundation;
  d.mountain_range = foundation + brownian(px * 0.01, py * 0.01, 5, 2.01, 0.5) * 0.5 +
                     brownian(px * 0.015, py * 0.015, 5, 2.01, 0.5) * 1.75 + 0.5;
  d.mask = my >= 1.0 ? 1.0 : 1.0 - glsl_smoothstep(-0.25, 0.0, my - 0.5);
  const double r = 256.0;
  d.border = glsl_smoothstep(0.0, 20.0, py) * (1.0 - glsl_smoothstep(r - 20.0, r - 1.0, py)) *
             glsl_smoothstep(0.0, 20.0, px) * (1.0 - glsl_smoothstep(r - 20.0, r - 1.0, px));
  return d;
}

double height_of(double D) {
  return ((0.5 * D + 0.5) * 0.25 - 0.25) * 3.0;
}

// ---------------------------------------------------------------------------
// The four tiles, generated once per test binary as the film does it.

constexpr unsigned kCells = 256;
constexpr unsigned kSide = kCells + 1;

struct tiles {
  mesh_record* tile[4];
};

const tiles& film_tiles() {
  static const tiles generated = [] {
    terrain_generator = program(-1, -1, shader(terrain_shaders[0], GL_FRAGMENT_SHADER));
    tiles t{};
    t.tile[0] = mesh(terrain_generator, kCells, kCells);
    for (int i = 1; i < 4; ++i) {
      set_terrain_seed(0.0f, static_cast<float>(i));
      t.tile[i] = mesh(terrain_generator, kCells, kCells);
    }
    return t;
  }();
  return generated;
}

const float* vertex(const mesh_record* m, unsigned x, unsigned y) {
  return m->positions + (static_cast<size_t>(y) * kSide + x) * 3;
}

// Half floats keep 11 significant bits: heights up to about 2 come back
// within 2^-10 of what the shader computed.
constexpr double kHalfTolerance = 1.0 / 1024.0;

}  // namespace

TEST(Terrain, TilesHaveTheGridAndItsCoordinates) {
  for (const mesh_record* m : film_tiles().tile) {
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->vertex_count, kSide * kSide);
    ASSERT_EQ(m->triangle_count, 2 * kCells * kCells);
  }
  const mesh_record* m = film_tiles().tile[0];
  double worst = 0.0;
  for (unsigned y = 0; y < kSide; y += 8) {
    for (unsigned x = 0; x < kSide; x += 8) {
      const double u = (x + 0.5) / 256.0, v = (y + 0.5) / 256.0;
      const float* p = vertex(m, x, y);
      const float* st = m->texture_coordinates + (static_cast<size_t>(y) * kSide + x) * 3;
      worst = std::max({worst, std::fabs(p[0] - 10.0 * (u - 0.5)),
                        std::fabs(p[2] - 10.0 * (v - 0.5)), std::fabs(st[0] - u),
                        std::fabs(st[1] - v), std::fabs(static_cast<double>(st[2]))});
    }
  }
  // x and z lie within the half-float step at 5 units; s and t at 1.
  EXPECT_LT(worst, 0.0025);
  EXPECT_NEAR(vertex(m, 0, 0)[0], -4.98046875, 1e-3);
  EXPECT_NEAR(vertex(m, 256, 256)[2], 5.01953125, 3e-3);
}

TEST(Terrain, HeightsMatchACpuEvaluation) {
  // Tile 0 (mask row = uv.y) and tile 1 (mask row uv.y + 1: everywhere the
  // full mountains), every vertex.
  double worst[2] = {0.0, 0.0};
  for (int which = 0; which < 2; ++which) {
    const mesh_record* m = film_tiles().tile[which];
    for (unsigned y = 0; y < kSide; ++y) {
      for (unsigned x = 0; x < kSide; ++x) {
        const double px = x + 0.5, py = y + 0.5;
        const displacement d = reference(px, py, py / 256.0 + which);
        const double D = (d.plateau + d.mask * d.mountain_range) * d.border;
        worst[which] = std::max(worst[which], std::fabs(vertex(m, x, y)[1] - height_of(D)));
      }
    }
  }
  EXPECT_LT(worst[0], kHalfTolerance);
  EXPECT_LT(worst[1], kHalfTolerance);
}

TEST(Terrain, EdgesMeetAtTheBaseHeight) {
  for (const mesh_record* m : film_tiles().tile) {
    for (unsigned i = 0; i < kSide; ++i) {
      for (unsigned edge = 255; edge <= 256; ++edge) {
        ASSERT_EQ(vertex(m, edge, i)[1], -0.375f) << edge << ", " << i;
        ASSERT_EQ(vertex(m, i, edge)[1], -0.375f) << i << ", " << edge;
      }
      // The first row and column are faded to 0.00184 of their relief.
      EXPECT_NEAR(vertex(m, 0, i)[1], -0.375f, 0.005f);
      EXPECT_NEAR(vertex(m, i, 0)[1], -0.375f, 0.005f);
    }
  }
}

TEST(Terrain, LaterTilesAreIdenticalAndTileZeroLosesItsMountains) {
  const tiles& t = film_tiles();
  const size_t floats = static_cast<size_t>(kSide) * kSide * 3;
  for (int i = 2; i < 4; ++i) {
    EXPECT_EQ(std::memcmp(t.tile[i]->positions, t.tile[1]->positions, floats * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(t.tile[i]->texture_coordinates, t.tile[1]->texture_coordinates,
                          floats * sizeof(float)),
              0);
  }
  // Where uv.y <= 0.25 (rows 0 to 63) tile 0 carries the full mountains too.
  double far_quarter = 0.0;
  for (unsigned y = 0; y < 64; ++y) {
    for (unsigned x = 0; x < kSide; ++x) {
      far_quarter =
          std::max(far_quarter, std::fabs(static_cast<double>(vertex(t.tile[0], x, y)[1]) -
                                          static_cast<double>(vertex(t.tile[1], x, y)[1])));
    }
  }
  EXPECT_LE(far_quarter, kHalfTolerance);
  // From uv.y = 0.5 on (row 128) it is plateau only, well apart from tile 1.
  double plateau_error = 0.0, apart = 0.0;
  for (unsigned y = 128; y < kSide; ++y) {
    for (unsigned x = 0; x < kSide; ++x) {
      const displacement d = reference(x + 0.5, y + 0.5, 0.0);
      plateau_error = std::max(
          plateau_error, std::fabs(vertex(t.tile[0], x, y)[1] - height_of(d.plateau * d.border)));
      apart = std::max(apart, std::fabs(static_cast<double>(vertex(t.tile[0], x, y)[1]) -
                                        static_cast<double>(vertex(t.tile[1], x, y)[1])));
    }
  }
  EXPECT_LT(plateau_error, kHalfTolerance);
  EXPECT_GT(apart, 0.1);
}

TEST(Terrain, SeedOnlyReadsItsYComponent) {
  // Small grids keep this quick; the offset acts the same at any size.
  const int generator = program(-1, -1, shader(terrain_shaders[0], GL_FRAGMENT_SHADER));
  const int saved = terrain_generator;
  terrain_generator = generator;
  const float offsets[4][2] = {{0.0f, 0.0f}, {3.7f, 0.0f}, {-12.25f, 0.0f}, {0.0f, 0.4f}};
  mesh_record* grids[4];
  for (int i = 0; i < 4; ++i) {
    set_terrain_seed(offsets[i][0], offsets[i][1]);
    grids[i] = mesh(generator, 64, 64);
  }
  terrain_generator = saved;
  const size_t bytes = static_cast<size_t>(65) * 65 * 3 * sizeof(float);
  EXPECT_EQ(std::memcmp(grids[1]->positions, grids[0]->positions, bytes), 0);
  EXPECT_EQ(std::memcmp(grids[2]->positions, grids[0]->positions, bytes), 0);
  EXPECT_NE(std::memcmp(grids[3]->positions, grids[0]->positions, bytes), 0);
}

namespace {

// A vertex stage that hands the terrain fragment stage a chosen light.
const char* const kLightVertex = R"glsl(
uniform vec3 _test_light;
varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;
void main() {
  gl_TexCoord[0] = gl_MultiTexCoord0;
  _light = _test_light;
  _eye = vec3(0.0, 0.0, -1.0);
  _half_vector = vec3(0.0, 0.0, 1.0);
  gl_Position = ftransform();
}
)glsl";

// The grey of the terrain for a Lambert term, evaluated here.
double grey(double lambert) {
  return std::pow(std::pow(lambert, 3.5) * 0.25, 1.0 / 2.2);
}

}  // namespace

TEST(Terrain, ShadingIsADimmedGammaEncodedLambertTerm) {
  const int shading = program(shader(kLightVertex, GL_VERTEX_SHADER), -1,
                              shader(terrain_shaders[1], GL_FRAGMENT_SHADER));
  layer_record* target = layer(8, 8);
  struct shading_case {
    float texel[3];
    float light[3];
    double expected;
  };
  const shading_case cases[] = {
      {{0.5f, 0.5f, 1.0f}, {0.0f, 0.0f, 1.0f}, 0.5325},       // fully lit: grey, not white
      {{0.5f, 0.5f, 1.0f}, {0.0f, 0.0f, -1.0f}, 0.0},         // facing away: black
      {{0.5f, 0.5f, 1.0f}, {0.0f, 0.6f, 0.8f}, grey(0.8)},    // partly lit
      {{1.0f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}, 0.5325},       // map unpacked as 2c - 1
      {{1.0f, 0.5f, 0.5f}, {0.0f, 0.0f, 1.0f}, 0.0},          // perpendicular
      {{0.5f, 0.5f, 0.75f}, {0.0f, 0.0f, 1.0f}, grey(0.5)}};  // not renormalised
  for (const shading_case& c : cases) {
    const GLuint normal_map = texture(1, 1, 0, GL_RGB16F, GL_RGB, GL_FLOAT, c.texel);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, normal_map);
    glUseProgram(shading);
    glUniform3f(glGetUniformLocation(shading, "_test_light"), c.light[0], c.light[1], c.light[2]);
    glUseProgram(0);
    generate(target, shading);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &normal_map);
    const std::vector<float> image = read_layer(target);
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_NEAR(pixel(image, 8, 3, 4, channel), c.expected, 1e-3) << c.expected;
    }
    EXPECT_EQ(pixel(image, 8, 3, 4, 3), 1.0f);
  }
  EXPECT_NEAR(grey(1.0), 0.5325, 1e-4);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Terrain, RenderTerrainDrawsGreyReliefAndCleansUp) {
  const tiles& t = film_tiles();
  const float up[3] = {0.5f, 0.5f, 1.0f};
  const int saved_map = terrain_normal_map, saved_shader = terrain_shader;
  terrain_normal_map = static_cast<int>(texture(1, 1, 0, GL_RGB16F, GL_RGB, GL_FLOAT, up));
  terrain_shader = program(shader(generic_shaders[1], GL_VERTEX_SHADER), -1,
                           shader(terrain_shaders[1], GL_FRAGMENT_SHADER));
  accumulator_record* scene = accumulator(64, 36);
  glBindFramebuffer(GL_FRAMEBUFFER, scene->framebuffer);
  glClearColor(1.0f, 0.0f, 1.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  perspective(64, 36, 1.7777778f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, -1.0f, -5.0f);  // above the tile's near half, looking along -z
  render_terrain(t.tile[1]);
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(gl_integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  // The lower rows show ground: opaque greys no brighter than 0.5325.
  std::vector<float> image = read_texture(scene->color_texture);
  int ground = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 64; ++x) {
      const float r = pixel(image, 64, x, y, 0), g = pixel(image, 64, x, y, 1);
      const float b = pixel(image, 64, x, y, 2), a = pixel(image, 64, x, y, 3);
      if (a != 1.0f) continue;
      ++ground;
      EXPECT_EQ(r, g);
      EXPECT_EQ(g, b);
      EXPECT_LE(r, 0.5335f);
    }
  }
  EXPECT_EQ(ground, 8 * 64);
  terrain_normal_map = saved_map;
  terrain_shader = saved_shader;
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}
