// passes_test.cpp: the frame's full-screen passes (atmosphere, sun flare,
// composite, depth of field, radial blur) on tiny synthetic inputs, each
// compared with a CPU evaluation of the same formula that reads the inputs
// back as GL stored them (half floats, 24-bit depth) and filters them
// bilinearly with wrap-around, as the samplers do.
#include "film/passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "film/film.h"
#include "film/programs.h"
#include "gl_fixture.h"

namespace {

struct rgba {
  float r, g, b, a;
};

rgba operator+(rgba x, rgba y) {
  return {x.r + y.r, x.g + y.g, x.b + y.b, x.a + y.a};
}
rgba operator-(rgba x, rgba y) {
  return {x.r - y.r, x.g - y.g, x.b - y.b, x.a - y.a};
}
rgba operator*(rgba x, rgba y) {
  return {x.r * y.r, x.g * y.g, x.b * y.b, x.a * y.a};
}
rgba operator*(rgba x, float s) {
  return {x.r * s, x.g * s, x.b * s, x.a * s};
}
rgba mix(rgba x, rgba y, float t) {
  return x + (y - x) * t;
}
rgba clamp01(rgba x) {
  auto c = [](float v) { return std::min(std::max(v, 0.0f), 1.0f); };
  return {c(x.r), c(x.g), c(x.b), c(x.a)};
}
rgba splat(float v) {
  return {v, v, v, v};
}

// An RGBA float image as GL stores it, bottom row first.
struct image {
  int width = 0;
  int height = 0;
  std::vector<float> rgba;
};

rgba texel(const image& im, int x, int y) {
  x = ((x % im.width) + im.width) % im.width;
  y = ((y % im.height) + im.height) % im.height;
  const float* p = &im.rgba[(static_cast<size_t>(y) * im.width + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

// GL_LINEAR with GL_REPEAT on both axes.
rgba sample(const image& im, float u, float v) {
  const float x = u * im.width - 0.5f, y = v * im.height - 0.5f;
  const float x0 = std::floor(x), y0 = std::floor(y);
  const float fx = x - x0, fy = y - y0;
  const int i = static_cast<int>(x0), j = static_cast<int>(y0);
  const rgba bottom = mix(texel(im, i, j), texel(im, i + 1, j), fx);
  const rgba top = mix(texel(im, i, j + 1), texel(im, i + 1, j + 1), fx);
  return mix(bottom, top, fy);
}

// The shaders' hash: a value in [-1, 1) per component.
void random2(float cx, float cy, float* rx, float* ry) {
  const float s = 0.5f + 0.5f * std::sin(cx * 12.9898f + cy * 78.233f);
  const float a = s * 43758.5453f, b = s * 87517.0906f;
  *rx = 2.0f * (a - std::floor(a)) - 1.0f;
  *ry = 2.0f * (b - std::floor(b)) - 1.0f;
}

float uv_of(int pixel, int size) {
  return (pixel + 0.5f) / size;
}

// A small deterministic generator of test values in [lo, hi).
struct values {
  unsigned state;
  float next(float lo, float hi) {
    state = state * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<float>(state >> 8) / 16777216.0f;
  }
};

// A layer that a pass reads, filtered plainly bilinearly like the CPU model.
layer_record* input_layer(unsigned width, unsigned height) {
  layer_record* target = layer(width, height);
  sample_exactly(target->texture);
  return target;
}

image read_back(GLuint texture) {
  image im;
  im.rgba = read_texture(texture, &im.width, &im.height);
  return im;
}

void fill_texture(GLuint texture, int width, int height, GLenum format, const float* data) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_FLOAT, data);
  glBindTexture(GL_TEXTURE_2D, 0);
}

// The scene depth as stored (24 bits), as a one-channel image in all four.
image read_depth(const accumulator_record* scene) {
  const int w = static_cast<int>(scene->width), h = static_cast<int>(scene->height);
  std::vector<float> z(static_cast<size_t>(w) * h);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, scene->depth_texture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, z.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  image im{w, h, std::vector<float>(z.size() * 4)};
  for (size_t i = 0; i < z.size(); ++i)
    for (int c = 0; c < 4; ++c) im.rgba[i * 4 + c] = z[i];
  return im;
}

void expect_near_rgba(const rgba& expected, const std::vector<float>& actual, int width, int x,
                      int y, float tolerance, const char* what) {
  const float e[4] = {expected.r, expected.g, expected.b, expected.a};
  for (int c = 0; c < 4; ++c) {
    const float t = tolerance * (1.0f + std::fabs(e[c]));
    EXPECT_NEAR(e[c], pixel(actual, width, x, y, c), t)
        << what << " at pixel (" << x << ", " << y << ") channel " << c;
  }
}

// Runs the passes against a small scene target of their own, then gives the
// toolkit's scene target back.
class passes : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (post_processing == -1) create_programs();
  }
  // The composite's three inputs and its target: a scene of w x h (made
  // current) and the cloud and flare layers at half its size.
  struct composite_targets {
    layer_record* clouds;
    layer_record* flare;
    layer_record* target;
  };
  composite_targets use_composite(int w, int h) {
    use_scene(static_cast<unsigned>(w), static_cast<unsigned>(h));
    const unsigned half_w = static_cast<unsigned>(w >> 1), half_h = static_cast<unsigned>(h >> 1);
    return {input_layer(half_w, half_h), input_layer(half_w, half_h),
            layer(static_cast<unsigned>(w), static_cast<unsigned>(h))};
  }
  void use_scene(unsigned width, unsigned height) {
    saved_scene = P4E6JEEC;
    scene = accumulator(width, height);
    sample_exactly(scene->color_texture);
    sample_exactly(scene->depth_texture);
    P4E6JEEC = scene;
  }
  void TearDown() override {
    if (saved_scene) P4E6JEEC = saved_scene;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    take_gl_error();
  }
  // Scene colour and window depth per pixel, bottom row first.
  void fill_scene(const std::vector<float>& colour, const std::vector<float>& z) {
    fill_texture(scene->color_texture, scene->width, scene->height, GL_RGBA, colour.data());
    fill_texture(scene->depth_texture, scene->width, scene->height, GL_DEPTH_COMPONENT, z.data());
  }

  accumulator_record* saved_scene = nullptr;
  accumulator_record* scene = nullptr;
};

// ---------------------------------------------------------------------------
// Atmosphere.

// Three-dimensional simplex noise, the widely published GPU formulation,
// in single precision as the shader computes it.
float mod289(float x) {
  return x - std::floor(x * (1.0f / 289.0f)) * 289.0f;
}
float permute(float x) {
  return mod289((x * 34.0f + 1.0f) * x);
}

float simplex(const float v[3]) {
  const float skew = (v[0] + v[1] + v[2]) * (1.0f / 3.0f);
  float i[3], x0[3];
  for (int k = 0; k < 3; ++k) i[k] = std::floor(v[k] + skew);
  const float unskew = (i[0] + i[1] + i[2]) * (1.0f / 6.0f);
  for (int k = 0; k < 3; ++k) x0[k] = v[k] - i[k] + unskew;
  // g = step(x0.yzx, x0.xyz), l = 1 - g; i1 = min(g, l.zxy), i2 = max(g, l.zxy).
  float g[3], l[3], i1[3], i2[3];
  for (int k = 0; k < 3; ++k) g[k] = x0[k] >= x0[(k + 1) % 3] ? 1.0f : 0.0f;
  for (int k = 0; k < 3; ++k) l[k] = 1.0f - g[k];
  for (int k = 0; k < 3; ++k) {
    i1[k] = std::min(g[k], l[(k + 2) % 3]);
    i2[k] = std::max(g[k], l[(k + 2) % 3]);
  }
  float x[4][3];
  for (int k = 0; k < 3; ++k) {
    x[0][k] = x0[k];
    x[1][k] = x0[k] - i1[k] + 1.0f / 6.0f;
    x[2][k] = x0[k] - i2[k] + 1.0f / 3.0f;
    x[3][k] = x0[k] - 0.5f;
  }
  for (int k = 0; k < 3; ++k) i[k] = mod289(i[k]);
  const float corner_x[4] = {0.0f, i1[0], i2[0], 1.0f};
  const float corner_y[4] = {0.0f, i1[1], i2[1], 1.0f};
  const float corner_z[4] = {0.0f, i1[2], i2[2], 1.0f};
  float result = 0.0f;
  const float n = 0.142857142857f;
  const float ns_x = 2.0f * n, ns_y = 0.5f * n - 1.0f, ns_z = n;
  for (int c = 0; c < 4; ++c) {
    const float p =
        permute(permute(permute(i[2] + corner_z[c]) + i[1] + corner_y[c]) + i[0] + corner_x[c]);
    const float j = p - 49.0f * std::floor(p * ns_z * ns_z);
    const float gx_ = std::floor(j * ns_z);
    const float gy_ = std::floor(j - 7.0f * gx_);
    float gx = gx_ * ns_x + ns_y;
    float gy = gy_ * ns_x + ns_y;
    const float h = 1.0f - std::fabs(gx) - std::fabs(gy);
    if (h <= 0.0f) {
      gx += (std::floor(gx) * 2.0f + 1.0f) * -1.0f;
      gy += (std::floor(gy) * 2.0f + 1.0f) * -1.0f;
    }
    const float norm = 1.79284291400159f - 0.85373472095314f * (gx * gx + gy * gy + h * h);
    const float m =
        std::max(0.6f - (x[c][0] * x[c][0] + x[c][1] * x[c][1] + x[c][2] * x[c][2]), 0.0f);
    const float m2 = m * m;
    result += m2 * m2 * norm * (gx * x[c][0] + gy * x[c][1] + h * x[c][2]);
  }
  return 42.0f * result;
}

float cloud_density(float u, float v, float time) {
  float seed[3] = {u, v, time * 0.0625f};
  float result = 0.0f, amplitude = 1.0f;
  for (int octave = 0; octave < 6; ++octave) {
    amplitude *= 0.5f;
    result += amplitude * simplex(seed);
    for (float& s : seed) s *= 2.01f;
  }
  return std::fabs(0.75f * result);
}

TEST_F(passes, AtmosphereIsSixOctavesOfSimplexNoiseDriftingWithTime) {
  const int w = 16, h = 12;
  layer_record* target = layer(w, h);
  for (float time : {0.0f, 37.5f, 112.25f}) {
    TIME = time;
    glActiveTexture(GL_TEXTURE2);
    generate_atmosphere(target);
    EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
    EXPECT_EQ(0, gl_integer(GL_FRAMEBUFFER_BINDING));
    EXPECT_EQ(GL_TEXTURE2, gl_integer(GL_ACTIVE_TEXTURE)) << "binds no texture";
    const std::vector<float> out = read_layer(target);
    float largest = 0.0f;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float expected = cloud_density(uv_of(x, w), uv_of(y, h), time);
        largest = std::max(largest, expected);
        expect_near_rgba(splat(expected), out, w, x, y, 2e-3f, "cloud density");
      }
    EXPECT_GT(largest, 0.05f) << "the test should see some cloud";
  }
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// ---------------------------------------------------------------------------
// Sun flare.

const rgba sky_middle = {164.0f / 255.0f, 123.0f / 255.0f, 155.0f / 255.0f, 1.0f};

// One flare pixel; *near_edge tells whether a tap fell so close to the sun's
// rim or to a depth step that the GPU's rounding could decide it otherwise.
rgba flare_pixel(float u, float v, const image& clouds, const image& depth, float aspect,
                 bool* near_edge) {
  const float du = (u - 0.7f) * (0.84f / 64.0f), dv = (v - 0.75f) * (0.84f / 64.0f);
  rgba sum = splat(0.0f);
  for (int i = 1; i <= 64; ++i) {
    const float pu = u - i * du, pv = v - i * dv;
    const float rim = std::hypot((pu - 0.7f) * aspect, pv - 0.75f) - 0.0125f;
    if (std::fabs(rim - 0.00625f) < 1e-4f) *near_edge = true;
    rgba col = sky_middle + splat(rim < 0.00625f ? 1.0f : 0.0f);
    col = col * (splat(1.0f) - sample(clouds, pu, pv) * 3.0f);
    const float z = sample(depth, pu, pv).r;
    if (z > 0.5001f && z < 0.9999f) *near_edge = true;
    col = col * (z >= 0.99f ? 1.0f : 0.0f);
    sum = sum + col * 5.65f;
  }
  return sum * 0.0034f;
}

TEST_F(passes, SunFlareMatchesTheShaftsOfSkyAndSunThroughCloudsAndScene) {
  const int w = 32, h = 18;
  use_scene(w, h);
  layer_record* clouds = input_layer(w >> 1, h >> 1);
  layer_record* target = layer(w >> 1, h >> 1);
  const float aspect = static_cast<float>(TVJAYSLH[0]) / static_cast<float>(TVJAYSLH[1]);

  // Clouds from none to dense (over 1/3 they darken the shafts below zero);
  // geometry covers the lower left quarter of the scene.
  values pick{7};
  std::vector<float> density(static_cast<size_t>(w >> 1) * (h >> 1) * 4);
  for (size_t i = 0; i < density.size(); i += 4) std::fill_n(&density[i], 4, pick.next(0.0f, 0.6f));
  fill_layer(clouds, density);
  std::vector<float> colour(static_cast<size_t>(w) * h * 4, 0.0f), z(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      z[static_cast<size_t>(y) * w + x] = x < w / 2 && y < h / 2 ? 0.5f : 1.0f;
  fill_scene(colour, z);

  generate_sun_flare(clouds, target);
  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(0, gl_integer(GL_FRAMEBUFFER_BINDING));
  EXPECT_EQ(GL_TEXTURE1, gl_integer(GL_ACTIVE_TEXTURE));
  EXPECT_EQ(0, bound_texture(GL_TEXTURE1));
  EXPECT_EQ(static_cast<int>(scene->depth_texture), bound_texture(GL_TEXTURE0));

  const image cloud_image = read_back(clouds->texture), depth_image = read_depth(scene);
  const std::vector<float> out = read_layer(target);
  int compared = 0;
  bool saw_negative = false;
  for (int y = 0; y < (h >> 1); ++y)
    for (int x = 0; x < (w >> 1); ++x) {
      bool near_edge = false;
      const rgba expected = flare_pixel(uv_of(x, w >> 1), uv_of(y, h >> 1), cloud_image,
                                        depth_image, aspect, &near_edge);
      if (near_edge) continue;
      ++compared;
      saw_negative = saw_negative || expected.r < 0.0f;
      expect_near_rgba(expected, out, w >> 1, x, y, 3e-3f, "flare");
    }
  EXPECT_GT(compared, 60);
  EXPECT_TRUE(saw_negative) << "dense clouds should give negative shafts";
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(passes, SunFlareOfOpenSkyIsTheSkyColourTimes1_22944AndZeroBehindGeometry) {
  const int w = 32, h = 18;
  use_scene(w, h);
  layer_record* clouds =
      layer_with(w >> 1, h >> 1, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.0f));
  layer_record* target = layer(w >> 1, h >> 1);
  const float aspect = static_cast<float>(TVJAYSLH[0]) / static_cast<float>(TVJAYSLH[1]);
  std::vector<float> colour(static_cast<size_t>(w) * h * 4, 0.0f);

  // Open sky everywhere: 64 x 5.65 x 0.0034 times the sky colour, plus
  // 0.01921 for each tap inside the sun's disc.
  fill_scene(colour, std::vector<float>(static_cast<size_t>(w) * h, 1.0f));
  generate_sun_flare(clouds, target);
  std::vector<float> out = read_layer(target);
  const rgba open = {0.7907f, 0.5930f, 0.7473f, 1.2294f};
  int with_sun = 0;
  for (int y = 0; y < (h >> 1); ++y)
    for (int x = 0; x < (w >> 1); ++x) {
      const float u = uv_of(x, w >> 1), v = uv_of(y, h >> 1);
      int inside = 0;
      bool near_edge = false;
      for (int i = 1; i <= 64; ++i) {
        const float pu = u - i * (u - 0.7f) * (0.84f / 64.0f);
        const float pv = v - i * (v - 0.75f) * (0.84f / 64.0f);
        const float rim = std::hypot((pu - 0.7f) * aspect, pv - 0.75f) - 0.0125f;
        near_edge = near_edge || std::fabs(rim - 0.00625f) < 1e-4f;
        inside += rim < 0.00625f;
      }
      if (near_edge) continue;
      with_sun += inside > 0;
      expect_near_rgba(open + splat(0.01921f * inside), out, w >> 1, x, y, 2e-3f, "open sky");
    }
  EXPECT_GT(with_sun, 0) << "some pixel should look through the sun";

  // Geometry everywhere: every tap is cut off.
  fill_scene(colour, std::vector<float>(static_cast<size_t>(w) * h, 0.98f));
  generate_sun_flare(clouds, target);
  out = read_layer(target);
  for (float value : out) ASSERT_EQ(0.0f, value);
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// ---------------------------------------------------------------------------
// Composite.

const rgba sun_colour = {1.0f, 0.63f, 0.3f, 1.0f};
const rgba sky_top = {10.0f / 255.0f, 20.0f / 255.0f, 56.0f / 255.0f, 1.0f};

struct composite_inputs {
  image colour, depth, clouds, flare;
};

float vignette(float u, float v, float time) {
  const float exponent = 2.0f + 0.05f * (0.5f + 0.5f * std::sin(60.0f * time));
  return 1.0f - std::pow(std::hypot(u - 0.5f, v - 0.5f), exponent);
}

float fade(float time) {
  if (time > 106.0f) return 1.0f - std::min(std::max((time - 106.0f) * 0.2f, 0.0f), 1.0f);
  return std::min(std::max(time * 0.2f, 0.0f), 1.0f);
}

// The composite at an already jittered texture coordinate.
rgba composite_pixel(float u, float v, float time, const composite_inputs& in) {
  rgba background = mix(sky_middle, sky_top, 1.35f * v);
  rgba color = sample(in.colour, u, v);
  const float z = sample(in.depth, u, v).r;
  const float d = 0.2f / (100.1f - 99.9f * z);
  color = color + sample(in.flare, u, v) * 0.75f * sun_colour;

  float dir[3] = {u - 0.5f, v - 0.5f, 100.0f * d};
  const float dir_length = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
  const float sun_length = std::sqrt(2.0f * 2.0f + 1.25f * 1.25f + 10.0f * 10.0f);
  const float sun_factor =
      std::max((dir[0] * 2.0f - dir[1] * 1.25f + dir[2] * 10.0f) / (dir_length * sun_length), 0.0f);
  const rgba toward_sun = mix(background, sun_colour, std::pow(sun_factor, 2.75f));
  background = mix(background, toward_sun, std::exp(-0.033f * 100.0f * d));

  const rgba cloud = sun_colour * sample(in.clouds, u, v);
  const float clear = 1.0f - cloud.a;
  background = background + cloud * (clear * clear * clear);

  if (d < 1.0f) color = mix(background, color, std::exp(-3.0f * d));
  color = mix(background, color, color.a);
  color.a = 1.0f;
  color = clamp01(color * vignette(u, v, time));
  return color * fade(time);
}

// Whether an open-sky pixel touches geometry. There the depth measure climbs
// from below 0.3 to 1 within a few millionths of window depth, so the least
// rounding of the sample position decides whether the pixel counts as an
// object: such pixels are not compared.
bool beside_geometry(const image& depth, int x, int y) {
  if (texel(depth, x, y).r < 1.0f) return false;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (texel(depth, x + dx, y + dy).r < 1.0f) return true;
  return false;
}

// Fills the scene, cloud and flare inputs of a composite with a mixture of
// open sky, opaque and half-transparent objects at several depths, clouds up
// to dense and shafts from negative to bright.
composite_inputs make_composite_inputs(accumulator_record* scene, layer_record* clouds,
                                       layer_record* flare, unsigned seed) {
  const int w = static_cast<int>(scene->width), h = static_cast<int>(scene->height);
  values pick{seed};
  std::vector<float> colour(static_cast<size_t>(w) * h * 4), z(static_cast<size_t>(w) * h);
  // Kinds come in blocks of 3 x 3 pixels, so that open sky has inner pixels.
  std::vector<float> kinds(static_cast<size_t>((w + 2) / 3) * ((h + 2) / 3));
  for (float& k : kinds) k = pick.next(0.0f, 3.0f);
  for (int i = 0; i < w * h; ++i) {
    const float kind = kinds[(i / w / 3) * ((w + 2) / 3) + (i % w) / 3];
    for (int c = 0; c < 3; ++c) colour[i * 4 + c] = pick.next(0.0f, 1.2f);
    colour[i * 4 + 3] = kind < 1.0f ? 0.0f : kind < 2.0f ? 1.0f : 0.5f;
    z[i] = kind < 1.0f ? 1.0f : pick.next(0.0f, 0.995f);
  }
  fill_texture(scene->color_texture, w, h, GL_RGBA, colour.data());
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT, z.data());
  std::vector<float> density(static_cast<size_t>(clouds->width) * clouds->height * 4);
  for (size_t i = 0; i < density.size(); i += 4) std::fill_n(&density[i], 4, pick.next(0.0f, 1.3f));
  fill_layer(clouds, density);
  std::vector<float> shafts(static_cast<size_t>(flare->width) * flare->height * 4);
  for (float& s : shafts) s = pick.next(-0.4f, 1.5f);
  fill_layer(flare, shafts);
  return {read_back(scene->color_texture), read_depth(scene), read_back(clouds->texture),
          read_back(flare->texture)};
}

TEST_F(passes, CompositeLaysTheSceneOverFoggedCloudySkyWithVignetteAndFades) {
  // Odd sizes put a pixel centre exactly at the image centre.
  const int w = 15, h = 15;
  const auto [clouds, flare, target] = use_composite(w, h);
  const composite_inputs in = make_composite_inputs(scene, clouds, flare, 11);

  for (float time : {0.0f, 2.5f, 5.0f, 50.0f, 106.0f, 108.5f, 111.0f, 114.0f}) {
    TIME = time;
    post_process(clouds, flare, target, 0.0f);
    const std::vector<float> out = read_layer(target);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (!beside_geometry(in.depth, x, y))
          expect_near_rgba(composite_pixel(uv_of(x, w), uv_of(y, h), time, in), out, w, x, y, 2e-3f,
                           "composite");
    if (time == 0.0f || time == 111.0f || time == 114.0f) {
      for (float value : out) ASSERT_EQ(0.0f, value) << "black at " << time << " s";
    }
  }
  // Half brightness at 108.5 s: compare with a full-brightness frame whose
  // vignette flickers in the same phase (sin(60 t) repeats every 2 pi / 60 s).
  TIME = 108.5f;
  post_process(clouds, flare, target, 0.0f);
  const std::vector<float> half = read_layer(target);
  TIME = 108.5f - 558.0f * (6.2831853f / 60.0f);
  post_process(clouds, flare, target, 0.0f);
  const std::vector<float> full = read_layer(target);
  for (size_t i = 0; i < full.size(); ++i) EXPECT_NEAR(0.5f * full[i], half[i], 2e-3f);
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(passes, CompositeVignetteSparesTheCentreAndHalvesTheCorners) {
  const int w = 15, h = 15;
  const auto [clouds, flare, target] = use_composite(w, h);
  // A uniform grey opaque scene close to the eye: the image is nearly the
  // scene itself, so the vignette shows directly.
  std::vector<float> colour(static_cast<size_t>(w) * h * 4, 0.5f);
  for (int i = 0; i < w * h; ++i) colour[i * 4 + 3] = 1.0f;
  fill_texture(scene->color_texture, w, h, GL_RGBA, colour.data());
  const std::vector<float> z(static_cast<size_t>(w) * h, 0.0f);
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT, z.data());
  fill_layer(clouds, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.0f));
  fill_layer(flare, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.0f));
  const composite_inputs in = {read_back(scene->color_texture), read_depth(scene),
                               read_back(clouds->texture), read_back(flare->texture)};

  TIME = 50.0f;
  post_process(clouds, flare, target, 0.0f);
  const std::vector<float> out = read_layer(target);
  // Centre: factor 1, so the unvignetted colour.
  const float centre = composite_pixel(0.5f, 0.5f, TIME, in).g;
  EXPECT_NEAR(centre, pixel(out, w, 7, 7, 1), 2e-3f);
  EXPECT_GT(centre, 0.45f);
  // Corner pixel centre (0.5/15 from the edges): distance 0.660, so the factor
  // lies between 1 - 0.660^2 and 1 - 0.660^2.05.
  const float distance = std::hypot(0.5f - 0.5f / w, 0.5f - 0.5f / h);
  const float corner = pixel(out, w, 0, 0, 1) / centre;
  EXPECT_GE(corner, 1.0f - std::pow(distance, 2.0f) - 2e-3f);
  EXPECT_LE(corner, 1.0f - std::pow(distance, 2.05f) + 2e-3f);
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(passes, CompositeUpperEdgeOfBareSkyLosesRedAndGreen) {
  const int w = 15, h = 15;
  use_scene(w, h);
  layer_record* clouds =
      layer_with(w >> 1, h >> 1, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.0f));
  layer_record* flare =
      layer_with(w >> 1, h >> 1, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.0f));
  layer_record* target = layer(w, h);
  fill_texture(scene->color_texture, w, h, GL_RGBA,
               std::vector<float>(static_cast<size_t>(w) * h * 4, 0.0f).data());
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT,
               std::vector<float>(static_cast<size_t>(w) * h, 1.0f).data());
  TIME = 50.0f;
  post_process(clouds, flare, target, 0.0f);
  const std::vector<float> out = read_layer(target);
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(0.0f, pixel(out, w, x, h - 1, 0));
    EXPECT_EQ(0.0f, pixel(out, w, x, h - 1, 1));
    EXPECT_GT(pixel(out, w, x, h - 1, 2), 0.0f);
  }
}

TEST_F(passes, CompositeLineJitterShiftsWholeRowsWithinTheNoiseAmount) {
  const int w = 32, h = 8;
  const auto [clouds, flare, target] = use_composite(w, h);
  // Opaque near objects whose colour ramps across the image, so that a shift
  // of the row shows in every pixel.
  std::vector<float> colour(static_cast<size_t>(w) * h * 4), z(static_cast<size_t>(w) * h, 0.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float* p = &colour[(static_cast<size_t>(y) * w + x) * 4];
      const float t = 0.5f + 0.45f * std::sin(6.2831853f * uv_of(x, w));
      p[0] = t;
      p[1] = 1.0f - t;
      p[2] = 0.5f * t;
      p[3] = 1.0f;
    }
  fill_texture(scene->color_texture, w, h, GL_RGBA, colour.data());
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT, z.data());
  fill_layer(clouds, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.2f));
  fill_layer(flare, std::vector<float>((w >> 1) * (h >> 1) * 4, 0.1f));
  const composite_inputs in = {read_back(scene->color_texture), read_depth(scene),
                               read_back(clouds->texture), read_back(flare->texture)};

  const float amount = 0.1f;
  std::vector<float> shifts;
  for (float time : {40.0f, 40.0f, 41.0f}) {
    TIME = time;
    post_process(clouds, flare, target, amount);
    const std::vector<float> out = read_layer(target);
    for (int y = 0; y < h; ++y) {
      // The one shift that explains the whole row.
      float best_shift = 0.0f, best_error = 1e9f;
      for (int step = 0; step <= 4000; ++step) {
        const float shift = -amount + 2.0f * amount * step / 4000.0f;
        float error = 0.0f;
        for (int x = 0; x < w; ++x) {
          const rgba e = composite_pixel(uv_of(x, w) + shift, uv_of(y, h), time, in);
          error = std::max({error, std::fabs(e.r - pixel(out, w, x, y, 0)),
                            std::fabs(e.g - pixel(out, w, x, y, 1)),
                            std::fabs(e.b - pixel(out, w, x, y, 2))});
        }
        if (error < best_error) best_error = error, best_shift = shift;
      }
      EXPECT_LT(best_error, 4e-3f) << "row " << y << " at " << time << " s is not one shift";
      shifts.push_back(best_shift);
    }
  }
  for (int y = 0; y < h; ++y) {
    EXPECT_EQ(shifts[y], shifts[h + y]) << "the same frame time gives the same jitter";
    EXPECT_NE(shifts[y], shifts[2 * h + y]) << "another frame time moves row " << y;
  }
  int distinct = 0;
  for (int y = 1; y < h; ++y) distinct += std::fabs(shifts[y] - shifts[0]) > 1e-3f;
  EXPECT_GT(distinct, h / 2) << "rows jitter independently";
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(passes, CompositeBindsItsFourInputsAndLeavesUnitThreeEmpty) {
  const int w = 8, h = 8;
  const auto [clouds, flare, target] = use_composite(w, h);
  glUseProgram(radial_blur);
  glBindFramebuffer(GL_FRAMEBUFFER, clouds->framebuffer);
  post_process(clouds, flare, target, 0.0f);
  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(0, gl_integer(GL_FRAMEBUFFER_BINDING));
  EXPECT_EQ(GL_TEXTURE3, gl_integer(GL_ACTIVE_TEXTURE));
  EXPECT_EQ(0, bound_texture(GL_TEXTURE3));
  EXPECT_EQ(static_cast<int>(scene->color_texture), bound_texture(GL_TEXTURE0));
  EXPECT_EQ(static_cast<int>(scene->depth_texture), bound_texture(GL_TEXTURE1));
  EXPECT_EQ(static_cast<int>(clouds->texture), bound_texture(GL_TEXTURE2));
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(w, viewport[2]);
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// ---------------------------------------------------------------------------
// Depth of field.

const float focal_depth = 12.0f, f_stop = 16.0f, focal_length = 135.0f;

// Window depth z at which the depth of field sees distance D.
float window_depth_of(float distance) {
  return (100.1f - 20.0f / distance) / 99.9f;
}

float blur_at(float z, float aperture_depth, float stop, float length) {
  const float distance = 100.0f * 0.2f / (100.1f - 99.9f * z);
  const float f = length, s = 1000.0f * aperture_depth, p = 1000.0f * distance;
  const float a = p * f / (p - f), b = s * f / (s - f);
  const float g = (s - f) / (s * stop * 0.03f);
  return std::min(std::max(std::fabs(a - b) * g, 0.0f), 1.0f);
}

rgba chromatic_tap(const image& source, float u, float v, float blur, float aberration) {
  const float tx = 1.0f / source.width, ty = 1.0f / source.height;
  const float o[4] = {0.0f, ty * aberration * blur, 0.866f * tx * aberration * blur,
                      -0.5f * ty * aberration * blur};
  rgba c;
  c.r = sample(source, u + o[0], v + o[1]).r;
  c.g = sample(source, u - o[2], v + o[3]).g;
  c.b = sample(source, u + o[2], v + o[3]).b;
  c.a = 0.0f;
  const float luminance = c.r * 0.299f + c.g * 0.587f + c.b * 0.114f;
  return c * (1.0f + std::max((luminance - 0.3f) * 2.0f, 0.0f) * blur);
}

rgba depth_of_field_pixel(int x, int y, const image& source, const image& depth, float aberration) {
  const float u = uv_of(x, source.width), v = uv_of(y, source.height);
  const float blur = blur_at(texel(depth, x, y).r, focal_depth, f_stop, focal_length);
  float rx, ry;
  random2(u, v, &rx, &ry);
  const float dx = blur / source.width + rx * 0.0001f * blur;
  const float dy = blur / source.height + ry * 0.0001f * blur;
  rgba color = texel(source, x, y);
  if (blur >= 0.05f) {
    float weight = 1.0f;
    for (int i = 1; i <= 5; ++i) {
      const int count = 3 * i;
      const float contribution = 0.5f + 0.5f * (i / 5.0f);
      for (int j = 0; j < count; ++j) {
        const float angle = j * (6.283185f / count);
        color = color + chromatic_tap(source, u + i * std::cos(angle) * dx,
                                      v + i * std::sin(angle) * dy, blur, aberration) *
                            contribution;
        weight += contribution;
      }
    }
    EXPECT_FLOAT_EQ(40.0f, weight);
    color = color * (1.0f / weight);
  }
  color = clamp01(color);
  color.a = 1.0f;
  return color;
}

TEST_F(passes, DepthOfFieldBlursByThinLensDistanceWithSplitChannelsAndBoost) {
  // The stated blur figures first, on the CPU model itself.
  EXPECT_NEAR(0.0f, blur_at(window_depth_of(12.0f), 12.0f, 16.0f, 135.0f), 2e-3f);
  EXPECT_NEAR(0.2459f, blur_at(window_depth_of(13.0f), 12.0f, 16.0f, 135.0f), 2e-3f);
  EXPECT_NEAR(0.6415f, blur_at(window_depth_of(10.0f), 12.0f, 16.0f, 135.0f), 2e-3f);
  EXPECT_EQ(1.0f, blur_at(1.0f, 12.0f, 16.0f, 135.0f));
  EXPECT_EQ(1.0f, blur_at(window_depth_of(6.0f), 12.0f, 16.0f, 135.0f));

  const int w = 16, h = 16;
  use_scene(w, h);
  layer_record* source = input_layer(w, h);
  layer_record* target = layer(w, h);
  values pick{23};
  std::vector<float> colour(static_cast<size_t>(w) * h * 4);
  for (float& c : colour) c = pick.next(0.0f, 1.3f);
  fill_layer(source, colour);
  // Columns in bands of distance: in focus, just off it, 13, 10, 6, open sky.
  const float distances[] = {12.0f, 11.9f, 12.1f, 13.0f, 10.0f, 6.0f, 3.0f, 100.0f};
  std::vector<float> z(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float d = distances[(x + y) % 8];
      z[static_cast<size_t>(y) * w + x] = d == 100.0f ? 1.0f : window_depth_of(d);
    }
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT, z.data());
  const image source_image = read_back(source->texture), depth_image = read_depth(scene);

  for (float aberration : {3.0f, 0.0f, 8.0f}) {
    apply_depth_of_field(source, scene, target, focal_depth, f_stop, focal_length, aberration);
    const std::vector<float> out = read_layer(target);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const rgba expected = depth_of_field_pixel(x, y, source_image, depth_image, aberration);
        expect_near_rgba(expected, out, w, x, y, 3e-3f, "depth of field");
        const float d = distances[(x + y) % 8];
        if (d > 11.8f && d < 12.2f) {
          // In focus: copied, clamped, opaque.
          for (int c = 0; c < 3; ++c)
            EXPECT_EQ(std::min(pixel(source_image.rgba, w, x, y, c), 1.0f), pixel(out, w, x, y, c));
        }
      }
  }
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(passes, DepthOfFieldSplitsChannelsOnlyWithAberrationAndBoostsHighlights) {
  const int w = 16, h = 32;
  use_scene(w, h);
  layer_record* source = input_layer(w, h);
  layer_record* target = layer(w, h);
  // Open sky everywhere: blur 1.
  fill_texture(scene->depth_texture, w, h, GL_DEPTH_COMPONENT,
               std::vector<float>(static_cast<size_t>(w) * h, 1.0f).data());

  // A vertical grey ramp with luminance at most 0.3: without aberration every
  // tap reads grey, so the output stays grey; with it red is read 3 texels
  // up and blue 1.5 texels down on the 39 ring weights out of 40, so they
  // part by 39/40 x 4.5 steps of the ramp (rows far enough from the edges
  // that no tap wraps around).
  std::vector<float> grey(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float* p = &grey[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = p[1] = p[2] = 0.3f * y / (h - 1);
      p[3] = 1.0f;
    }
  fill_layer(source, grey);
  apply_depth_of_field(source, scene, target, focal_depth, f_stop, focal_length, 0.0f);
  std::vector<float> out = read_layer(target);
  for (int i = 0; i < w * h; ++i) {
    ASSERT_NEAR(out[i * 4], out[i * 4 + 1], 1e-3f);
    ASSERT_NEAR(out[i * 4], out[i * 4 + 2], 1e-3f);
    ASSERT_EQ(1.0f, out[i * 4 + 3]);
  }
  apply_depth_of_field(source, scene, target, focal_depth, f_stop, focal_length, 3.0f);
  out = read_layer(target);
  for (int y = 10; y < h - 10; ++y)
    EXPECT_NEAR(39.0f / 40.0f * 4.5f * 0.3f / (h - 1),
                pixel(out, w, 5, y, 0) - pixel(out, w, 5, y, 2), 2e-3f);

  // Uniform grey 0.5 (luminance 0.5) at blur 1: each ring tap weighs
  // 1 + 0.2 x 2 = 1.4, so (0.5 + 39 x 0.7) / 40 = 0.695.
  fill_layer(source, std::vector<float>(static_cast<size_t>(w) * h * 4, 0.5f));
  apply_depth_of_field(source, scene, target, focal_depth, f_stop, focal_length, 3.0f);
  out = read_layer(target);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(0.695f, pixel(out, w, 5, 9, c), 1e-3f);

  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(0, gl_integer(GL_FRAMEBUFFER_BINDING));
  EXPECT_EQ(GL_TEXTURE1, gl_integer(GL_ACTIVE_TEXTURE));
  EXPECT_EQ(0, bound_texture(GL_TEXTURE1));
  EXPECT_EQ(static_cast<int>(source->texture), bound_texture(GL_TEXTURE0));
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// ---------------------------------------------------------------------------
// Radial speed blur, run as the frame runs it.

// The blur's "_speed" is the timeline's speed x 0.25.
void run_radial_blur(const layer_record* source, const layer_record* target, float speed) {
  apply_radial_blur(source, target, speed * 4.0f);
}

TEST_F(passes, RadialBlurAveragesTenTapsTowardsTheCentre) {
  const int w = 15, h = 9;
  values pick{31};
  std::vector<float> colour(static_cast<size_t>(w) * h * 4);
  for (float& c : colour) c = pick.next(-0.2f, 1.4f);
  layer_record* source = layer_with(w, h, colour);
  layer_record* target = layer(w, h);
  const image in = read_back(source->texture);
  const int cx = w / 2, cy = h / 2;

  for (float speed : {0.0f, 0.00025f, 0.3f, 1.0f}) {
    run_radial_blur(source, target, speed);
    const std::vector<float> out = read_layer(target);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float u = uv_of(x, w), v = uv_of(y, h);
        rgba sum = splat(0.0f);
        for (int i = 1; i <= 10; ++i)
          sum = sum +
                sample(in, u - i * (u - 0.5f) * 0.1f * speed, v - i * (v - 0.5f) * 0.1f * speed);
        expect_near_rgba(clamp01(sum * 0.1f), out, w, x, y, 2e-3f, "radial blur");
        if (speed == 0.0f || (x == cx && y == cy)) {
          // Identity at rest, and the centre is never smeared.
          for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(std::min(std::max(pixel(in.rgba, w, x, y, c), 0.0f), 1.0f),
                        pixel(out, w, x, y, c), 1e-3f);
        }
      }
  }
  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(0, gl_integer(GL_FRAMEBUFFER_BINDING));
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

}  // namespace
