// Render targets, projections, passes, shader building, the toolkit's
// start-up and shutdown, the Gaussian kernel and the noise programs.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl_fixture.h"

namespace {

// A fragment-only program that writes texture coordinate set 0.
int texcoord_program() {
  static int name = program(static_cast<int>(MUANXLC), -1,
                            shader(R"glsl(
void main() { gl_FragData[0] = vec4(gl_TexCoord[0].xy, 0.0, 1.0); }
)glsl",
                                   GL_FRAGMENT_SHADER));
  return name;
}

GLint texture_parameter(GLuint name, GLenum parameter) {
  glBindTexture(GL_TEXTURE_2D, name);
  GLint value = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
  glBindTexture(GL_TEXTURE_2D, 0);
  return value;
}

GLint level_parameter(GLuint name, GLenum parameter) {
  glBindTexture(GL_TEXTURE_2D, name);
  GLint value = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, parameter, &value);
  glBindTexture(GL_TEXTURE_2D, 0);
  return value;
}

void expect_linear_repeat_anisotropic(GLuint name) {
  EXPECT_EQ(texture_parameter(name, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  EXPECT_EQ(texture_parameter(name, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(texture_parameter(name, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(texture_parameter(name, GL_TEXTURE_WRAP_T), GL_REPEAT);
  glBindTexture(GL_TEXTURE_2D, name);
  float anisotropy = 0.0f;
  glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, &anisotropy);
  glBindTexture(GL_TEXTURE_2D, 0);
  // Mesa's software rasterisers get no anisotropic filtering on targets.
  const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const bool software = renderer.find("llvmpipe") != std::string::npos ||
                        renderer.find("softpipe") != std::string::npos;
  EXPECT_FLOAT_EQ(anisotropy, software ? 1.0f : 16.0f) << renderer;
}

GLenum framebuffer_status(GLuint framebuffer) {
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return status;
}

}  // namespace

TEST(Targets, LayerHasHalfFloatColourWithLinearFiltersAndAnisotropy) {
  layer_record* target = layer(10, 6);
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
  EXPECT_EQ(target->width, 10u);
  EXPECT_EQ(target->height, 6u);
  EXPECT_EQ(level_parameter(target->texture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
  EXPECT_EQ(level_parameter(target->texture, GL_TEXTURE_WIDTH), 10);
  EXPECT_EQ(level_parameter(target->texture, GL_TEXTURE_HEIGHT), 6);
  expect_linear_repeat_anisotropic(target->texture);
  EXPECT_EQ(framebuffer_status(target->framebuffer), GLenum(GL_FRAMEBUFFER_COMPLETE));
  EXPECT_EQ(take_gl_error(), GLenum(GL_NO_ERROR));
}

TEST(Targets, DepthHasOnlyADepthTextureAndNoColourBuffer) {
  layer_record* target = depth(8, 4);
  EXPECT_GT(level_parameter(target->texture, GL_TEXTURE_DEPTH_SIZE), 0);
  expect_linear_repeat_anisotropic(target->texture);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  EXPECT_EQ(gl_integer(GL_DRAW_BUFFER), GL_NONE);
  EXPECT_EQ(gl_integer(GL_READ_BUFFER), GL_NONE);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_EQ(framebuffer_status(target->framebuffer), GLenum(GL_FRAMEBUFFER_COMPLETE));
}

TEST(Targets, AccumulatorHasColourAndTwentyFourBitDepth) {
  accumulator_record* target = accumulator(12, 8);
  EXPECT_EQ(level_parameter(target->color_texture, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA16F);
  EXPECT_EQ(level_parameter(target->depth_texture, GL_TEXTURE_INTERNAL_FORMAT),
            GL_DEPTH_COMPONENT24);
  EXPECT_EQ(level_parameter(target->depth_texture, GL_TEXTURE_WIDTH), 12);
  EXPECT_EQ(texture_parameter(target->depth_texture, GL_TEXTURE_COMPARE_MODE), GL_NONE);
  expect_linear_repeat_anisotropic(target->color_texture);
  expect_linear_repeat_anisotropic(target->depth_texture);
  EXPECT_EQ(framebuffer_status(target->framebuffer), GLenum(GL_FRAMEBUFFER_COMPLETE));
}

TEST(Projections, OrthographicPutsPixelZeroAtTheTopLeft) {
  layer_record* target = layer(8, 4);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  orthographic(8, 4);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 8);
  EXPECT_EQ(viewport[3], 4);
  EXPECT_EQ(gl_integer(GL_MATRIX_MODE), GL_MODELVIEW);
  glColor4f(1, 1, 1, 1);
  glRecti(0, 0, 1, 1);  // the pixel at column 0, row 0 counted from the top
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const std::vector<float> image = read_layer(target);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(pixel(image, 8, x, y, 0), (x == 0 && y == 3) ? 1.0f : 0.0f) << x << "," << y;
}

TEST(Projections, PerspectiveIsAFortyFiveDegreeFrustumOfTheGivenAspect) {
  perspective(16, 9, 1.7777778f);
  float projection[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  const double top = 0.0414213, near = 0.1, far = 15.0;
  EXPECT_NEAR(projection[5], near / top, 1e-3);                // 2n / (t - b)
  EXPECT_NEAR(projection[0], near / (top * 1.7777778), 1e-3);  // 2n / (r - l)
  EXPECT_NEAR(projection[10], -(far + near) / (far - near), 1e-5);
  EXPECT_NEAR(projection[14], -2 * far * near / (far - near), 1e-5);
  float modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  EXPECT_EQ(modelview[0], 1.0f);
  EXPECT_EQ(modelview[12], 0.0f);
  EXPECT_EQ(gl_integer(GL_MATRIX_MODE), GL_MODELVIEW);
}

TEST(Passes, QuadPutsTextureRowZeroAtTheBottom) {
  layer_record* target = layer(4, 2);
  generate(target, texcoord_program());
  const std::vector<float> image = read_layer(target);
  // Pixel centres of a 4 x 2 target sample s = (x + 0.5) / 4, t = (y + 0.5) / 2,
  // with rows read bottom first.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_NEAR(pixel(image, 4, x, y, 0), (x + 0.5f) / 4, 1e-3);
      EXPECT_NEAR(pixel(image, 4, x, y, 1), (y + 0.5f) / 2, 1e-3);
    }
}

TEST(Passes, EachPassLeavesFramebufferZeroProgramZeroAndUnitZero) {
  const std::vector<float> ramp = {0.1f, 0.2f, 0.3f, 1.0f, 0.4f, 0.5f, 0.6f, 1.0f,
                                   0.7f, 0.8f, 0.9f, 1.0f, 1.0f, 0.0f, 0.5f, 1.0f};
  layer_record* source = layer_with(2, 2, ramp);
  layer_record* target = layer(2, 2);
  accumulator_record* scene = accumulator(2, 2);

  glActiveTexture(GL_TEXTURE3);
  glUseProgram(static_cast<GLuint>(texcoord_program()));
  transform(source, target, texcoord_program());
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(gl_integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);

  glColor4f(0.25f, 0.5f, 0.0f, 0.5f);  // a copy must not be tinted by this
  blit(source, target);
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  const std::vector<float> copied = read_layer(target);
  for (size_t i = 0; i < ramp.size(); ++i) EXPECT_NEAR(copied[i], ramp[i], 1e-3) << i;

  sample_exactly(scene->color_texture);
  glBindFramebuffer(GL_FRAMEBUFFER, scene->framebuffer);
  glClearColor(0.25f, 0.75f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  blit_accumulator_to_layer(scene, target);
  const std::vector<float> scene_copy = read_layer(target);
  EXPECT_NEAR(pixel(scene_copy, 2, 1, 1, 1), 0.75f, 1e-3);

  generate(target, texcoord_program());
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(gl_integer(GL_FRAMEBUFFER_BINDING), 0);
}

TEST(Passes, HalfSizeSourceIsStretchedWithLinearFiltering) {
  // Two texels, 0 and 1: a four-pixel target samples between them.
  layer_record* source = layer_with(2, 1, {0, 0, 0, 1, 1, 1, 1, 1});
  layer_record* target = layer(4, 1);
  blit(source, target);
  const std::vector<float> image = read_layer(target);
  // s = 0.125 lies a quarter texel left of texel 0's centre: with repeat
  // wrapping it blends in a quarter of texel 1.
  const float expected[4] = {0.25f, 0.25f, 0.75f, 0.75f};
  for (int x = 0; x < 4; ++x) EXPECT_NEAR(pixel(image, 4, x, 0, 0), expected[x], 2e-3) << x;
}

TEST(Presentation, BlitToBackBufferCopiesTheLayerExactlyOverTheWindow) {
  std::vector<float> rgba(FIXTURE_WIDTH * FIXTURE_HEIGHT * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<float>((i * 37) % 256) / 255.0f;
  layer_record* source = layer_with(FIXTURE_WIDTH, FIXTURE_HEIGHT, rgba);
  glColor4f(0.2f, 0.9f, 0.1f, 1.0f);
  blit_to_back_buffer(source);
  EXPECT_EQ(gl_integer(GL_TEXTURE_BINDING_2D), 0);
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  const std::vector<float> shown = read_window(FIXTURE_WIDTH, FIXTURE_HEIGHT);
  for (size_t i = 0; i < rgba.size(); i += 4)
    for (int c = 0; c < 3; ++c) ASSERT_NEAR(shown[i + c], rgba[i + c], 1.0f / 255) << i;
}

TEST(Presentation, BlitToBackBufferKeepsTheRenderShapeWithBlackBars) {
  // A framebuffer of another shape than the render size (as a full-screen
  // window on a Wayland output of its own mode gets): the picture fills the
  // largest centred rectangle of the render shape, black around it. The
  // 64 x 36 window against an 8:3 render size: 64 x 24, 6 rows above and
  // below; against a 4:3 one: 48 x 36, 8 columns left and right.
  struct shape {
    int render_width, render_height;
    int x0, y0, x1, y1;  // where the picture is: [x0, x1) x [y0, y1)
  };
  const shape shapes[] = {{1280, 480, 0, 6, 64, 30}, {960, 720, 8, 0, 56, 36}};
  const int saved_size[2] = {TVJAYSLH[0], TVJAYSLH[1]};
  toolkit_present_size[0] = FIXTURE_WIDTH;
  toolkit_present_size[1] = FIXTURE_HEIGHT;
  layer_record* white = layer_with(2, 2, std::vector<float>(16, 1.0f));
  for (const shape& s : shapes) {
    SCOPED_TRACE(std::to_string(s.render_width) + "x" + std::to_string(s.render_height));
    TVJAYSLH[0] = s.render_width;
    TVJAYSLH[1] = s.render_height;
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);  // what was there before, and the clear colour
    glClear(GL_COLOR_BUFFER_BIT);
    blit_to_back_buffer(white);
    float clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 1.0f) << "the clear colour is left as it was";
    const std::vector<float> shown = read_window(FIXTURE_WIDTH, FIXTURE_HEIGHT);
    for (int y = 0; y < FIXTURE_HEIGHT; ++y)
      for (int x = 0; x < FIXTURE_WIDTH; ++x) {
        const bool inside = x >= s.x0 && x < s.x1 && y >= s.y0 && y < s.y1;
        for (int c = 0; c < 3; ++c)
          ASSERT_NEAR(pixel(shown, FIXTURE_WIDTH, x, y, c), inside ? 1.0f : 0.0f, 1.0f / 255)
              << x << "," << y << " channel " << c;
      }
  }
  TVJAYSLH[0] = saved_size[0];
  TVJAYSLH[1] = saved_size[1];
  toolkit_present_size[0] = toolkit_present_size[1] = 0;
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

TEST(Timer, IntervalHitMovesTheTimestampOnlyWhenElapsed) {
  float stamp = static_cast<float>(window_time());
  const float before = stamp;
  EXPECT_EQ(is_interval_hit(&stamp, 1000.0f), 0);
  EXPECT_EQ(stamp, before);
  EXPECT_EQ(is_interval_hit(&stamp, 0.0f), 1);
  EXPECT_GE(stamp, before);
  float past = -5.0f;
  EXPECT_EQ(is_interval_hit(&past, 1.0f), 1);
  EXPECT_GE(past, 0.0f);
  float not_a_number = std::nanf("");
  EXPECT_EQ(is_interval_hit(&not_a_number, 0.0f), 0);
}

TEST(Shaders, StitchJoinsPiecesWithNothingBetween) {
  const unsigned char vertical[] = {0, 1, 3, 255};
  const int name = stitch(vertical, GL_FRAGMENT_SHADER);
  GLint length = 0;
  glGetShaderiv(static_cast<GLuint>(name), GL_SHADER_SOURCE_LENGTH, &length);
  const size_t expected =
      std::strlen(Z886594B[0]) + std::strlen(Z886594B[1]) + std::strlen(Z886594B[3]) + 1;
  EXPECT_EQ(static_cast<size_t>(length), expected);
  GLint compiled = GL_FALSE;
  glGetShaderiv(static_cast<GLuint>(name), GL_COMPILE_STATUS, &compiled);
  EXPECT_EQ(compiled, GL_TRUE);
}

TEST(Shaders, StitchAcceptsAnEmptyListAndExactlySixtyFourPieces) {
  const unsigned char empty[] = {255};
  const int none = stitch(empty, GL_FRAGMENT_SHADER);
  EXPECT_TRUE(glIsShader(static_cast<GLuint>(none)));
  GLint length = -1;
  glGetShaderiv(static_cast<GLuint>(none), GL_SHADER_SOURCE_LENGTH, &length);
  EXPECT_EQ(length, 0);

  std::vector<unsigned char> longest(64, 1);
  longest.push_back(255);
  const int name = stitch(longest.data(), GL_FRAGMENT_SHADER);
  glGetShaderiv(static_cast<GLuint>(name), GL_SHADER_SOURCE_LENGTH, &length);
  EXPECT_EQ(static_cast<size_t>(length), 64 * std::strlen(Z886594B[1]) + 1);
}

TEST(Shaders, StitchRefusesListsItCannotHoldOrPiecesItDoesNotHave) {
  std::vector<unsigned char> too_long(65, 1);
  too_long.push_back(255);
  EXPECT_EQ(stitch(too_long.data(), GL_FRAGMENT_SHADER), 0);
  const unsigned char unknown[] = {4, 8, 255};
  EXPECT_EQ(stitch(unknown, GL_FRAGMENT_SHADER), 0);
}

TEST(Shaders, ProgramWithoutVertexShaderKeepsFixedFunctionVertices) {
  const int fragment = shader("void main() { gl_FragData[0] = vec4(0.5); }", GL_FRAGMENT_SHADER);
  const int name = program(-1, -1, fragment);
  GLint attached = 0, linked = 0;
  glGetProgramiv(static_cast<GLuint>(name), GL_ATTACHED_SHADERS, &attached);
  glGetProgramiv(static_cast<GLuint>(name), GL_LINK_STATUS, &linked);
  EXPECT_EQ(attached, 1);
  EXPECT_EQ(linked, GL_TRUE);
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);  // linked, not made current
}

TEST(Startup, LoaderCreatesGeneratorTargetsSceneAndPrograms) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(level_parameter(PXDKBCRM[i], GL_TEXTURE_WIDTH), 512);
    EXPECT_EQ(level_parameter(PXDKBCRM[i], GL_TEXTURE_HEIGHT), 512);
    EXPECT_EQ(level_parameter(PXDKBCRM[i], GL_TEXTURE_INTERNAL_FORMAT), GL_RGB16F);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, HVATQD0L);
  GLint attached[2] = {0, 0};
  for (int i = 0; i < 2; ++i)
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached[i]);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_EQ(static_cast<GLuint>(attached[0]), PXDKBCRM[0]);
  EXPECT_EQ(static_cast<GLuint>(attached[1]), PXDKBCRM[1]);

  ASSERT_NE(P4E6JEEC, nullptr);
  EXPECT_EQ(P4E6JEEC->width, static_cast<unsigned>(FIXTURE_WIDTH));
  EXPECT_EQ(P4E6JEEC->height, static_cast<unsigned>(FIXTURE_HEIGHT));
  EXPECT_TRUE(glIsShader(MUANXLC));
  for (GLuint name : FOBIMQQB) {
    GLint linked = GL_FALSE;
    glGetProgramiv(name, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE) << name;
  }
}

TEST(Startup, BlurProgramsHoldTheFirstFifteenWeightsOfSigmaFive) {
  float* kernel = generate_gaussian_weights(5.0f);
  for (int i = 0; i < 2; ++i) {
    float uploaded[15];
    for (int k = 0; k < 15; ++k) {
      const std::string name = "a[" + std::to_string(k) + "]";
      glGetUniformfv(FOBIMQQB[i], glGetUniformLocation(FOBIMQQB[i], name.c_str()), &uploaded[k]);
      EXPECT_FLOAT_EQ(uploaded[k], kernel[k]) << i << " " << k;
    }
  }
  std::free(kernel);
}

TEST(Startup, UnloaderDeletesWhatTheLoaderMade) {
  // Run a second loader so the fixture's objects survive, then unload it.
  accumulator_record* fixture_scene = P4E6JEEC;
  const GLuint fixture_textures[2] = {PXDKBCRM[0], PXDKBCRM[1]};
  const GLuint fixture_framebuffer = HVATQD0L;
  GLuint fixture_programs[4];
  std::memcpy(fixture_programs, FOBIMQQB, sizeof fixture_programs);

  ST664M60();
  const GLuint textures[2] = {PXDKBCRM[0], PXDKBCRM[1]};
  const GLuint framebuffer = HVATQD0L;
  const GLuint scene[3] = {P4E6JEEC->framebuffer, P4E6JEEC->color_texture, P4E6JEEC->depth_texture};
  GLuint programs[4];
  std::memcpy(programs, FOBIMQQB, sizeof programs);
  const GLuint vertex = MUANXLC;
  TJOZD8F4();

  EXPECT_FALSE(glIsTexture(textures[0]));
  EXPECT_FALSE(glIsTexture(textures[1]));
  EXPECT_FALSE(glIsFramebuffer(framebuffer));
  EXPECT_FALSE(glIsFramebuffer(scene[0]));
  EXPECT_FALSE(glIsTexture(scene[1]));
  EXPECT_FALSE(glIsTexture(scene[2]));
  for (GLuint name : programs) EXPECT_FALSE(glIsProgram(name));
  EXPECT_TRUE(glIsShader(vertex));  // shader objects end with the context
  EXPECT_EQ(P4E6JEEC, nullptr);

  P4E6JEEC = fixture_scene;
  PXDKBCRM[0] = fixture_textures[0];
  PXDKBCRM[1] = fixture_textures[1];
  HVATQD0L = fixture_framebuffer;
  std::memcpy(FOBIMQQB, fixture_programs, sizeof fixture_programs);
}

// An independent evaluation of the normalised Gaussian, in double precision.
static std::vector<double> gaussian(double sigma, int r) {
  std::vector<double> weights;
  double sum = 0;
  for (int i = -r; i <= r; ++i) {
    weights.push_back(std::exp(-i * i / (2 * sigma * sigma)));
    sum += weights.back();
  }
  for (double& w : weights) w /= sum;
  return weights;
}

TEST(Blur, KernelForSigmaFiveHasTwentyNineNormalisedWeights) {
  float* w = generate_gaussian_weights(5.0f);
  const std::vector<double> expected = gaussian(5.0, 14);
  float sum = 0;
  for (int i = 0; i < 29; ++i) {
    EXPECT_NEAR(w[i], expected[i], 1e-7) << i;
    EXPECT_EQ(w[i], w[28 - i]);
    sum += w[i];
  }
  EXPECT_NEAR(w[14], 0.08008271f, 1e-8);
  EXPECT_NEAR(w[0], 0.001588929f, 1e-9);
  EXPECT_NEAR(sum, 1.0f, 1e-6);
  std::free(w);
}

TEST(Blur, SmallSigmasGiveFiveWeightsOrASingleOne) {
  float* five = generate_gaussian_weights(1.0f);
  const std::vector<double> expected = gaussian(1.0, 2);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(five[i], expected[i], 1e-7) << i;
  std::free(five);
  for (float sigma : {0.5f, 0.34f, 0.1f, 0.0f, -3.0f}) {
    float* one = generate_gaussian_weights(sigma);
    EXPECT_FLOAT_EQ(one[0], 1.0f) << sigma;
    std::free(one);
  }
}

TEST(Blur, BlurringAnImpulseReproducesTheKernel) {
  const int width = 32;
  std::vector<float> impulse(width * 4 * 4, 0.0f);
  for (int y = 0; y < 4; ++y)
    for (int c = 0; c < 4; ++c) impulse[(y * width + 16) * 4 + c] = 1.0f;
  layer_record* source = layer_with(width, 4, impulse);
  layer_record* target = layer(width, 4);
  glUseProgram(FOBIMQQB[1]);
  glUniform1f(glGetUniformLocation(FOBIMQQB[1], "m"), static_cast<float>(width));
  glUseProgram(0);
  transform(source, target, static_cast<int>(FOBIMQQB[1]));
  const std::vector<float> image = read_layer(target);
  const std::vector<double> kernel = gaussian(5.0, 14);
  for (int x = 0; x < width; ++x) {
    const int distance = std::abs(x - 16);
    const double expected = distance <= 14 ? kernel[14 + distance] : 0.0;
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(pixel(image, width, x, 2, c), expected, 2e-4 + expected * 2e-3) << x;
  }
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
}

namespace {

// Texture-free 3-D simplex noise evaluated on the CPU, step by step as the
// toolkit's noise is defined, in single precision like the shader: the
// lattice hash takes floors of float products, so double precision would
// pick other gradients near their boundaries.
struct v3 {
  float x, y, z;
};
float mod289(float v) {
  return v - std::floor(v / 289.0f) * 289.0f;
}
float permute(float v) {
  return mod289((34.0f * v + 1.0f) * v);
}
float step(float edge, float v) {
  return v < edge ? 0.0f : 1.0f;
}

float simplex(v3 p) {
  const float s = (p.x + p.y + p.z) / 3.0f;
  v3 i = {std::floor(p.x + s), std::floor(p.y + s), std::floor(p.z + s)};
  const float u = (i.x + i.y + i.z) / 6.0f;
  const v3 x0 = {p.x - i.x + u, p.y - i.y + u, p.z - i.z + u};
  const v3 g = {step(x0.y, x0.x), step(x0.z, x0.y), step(x0.x, x0.z)};
  const v3 l = {1 - g.x, 1 - g.y, 1 - g.z};
  const v3 i1 = {std::min(g.x, l.z), std::min(g.y, l.x), std::min(g.z, l.y)};
  const v3 i2 = {std::max(g.x, l.z), std::max(g.y, l.x), std::max(g.z, l.y)};
  const float sixth = 1.0f / 6.0f, third = 2.0f / 6.0f;
  const v3 corner[4] = {x0,
                        {x0.x - i1.x + sixth, x0.y - i1.y + sixth, x0.z - i1.z + sixth},
                        {x0.x - i2.x + third, x0.y - i2.y + third, x0.z - i2.z + third},
                        {x0.x - 1.0f + 0.5f, x0.y - 1.0f + 0.5f, x0.z - 1.0f + 0.5f}};
  i = {mod289(i.x), mod289(i.y), mod289(i.z)};
  const float oz[4] = {0, i1.z, i2.z, 1}, oy[4] = {0, i1.y, i2.y, 1}, ox[4] = {0, i1.x, i2.x, 1};
  float total = 0;
  for (int k = 0; k < 4; ++k) {
    const float h = permute(permute(permute(i.z + oz[k]) + i.y + oy[k]) + i.x + ox[k]);
    const float n = 1.0f / 7.0f;
    const float j = h - 49.0f * std::floor(h * n * n);
    float gx = std::floor(j * n);
    float gy = std::floor(j - 7.0f * gx);
    gx = 2 * n * (gx - 3.25f);
    gy = 2 * n * (gy - 3.25f);
    const float gz = 1 - std::fabs(gx) - std::fabs(gy);
    const float sh = gz <= 0 ? -1.0f : 0.0f;
    gx += (2 * std::floor(gx) + 1) * sh;
    gy += (2 * std::floor(gy) + 1) * sh;
    const float scale = 1.8f - 0.85f * (gx * gx + gy * gy + gz * gz);
    const v3& x = corner[k];
    const float w = std::max(0.6f - (x.x * x.x + x.y * x.y + x.z * x.z), 0.0f);
    total += w * w * w * w * scale * (gx * x.x + gy * x.y + gz * x.z);
  }
  return 42.0f * total;
}

}  // namespace

TEST(Noise, FbmWithDefaultUniformsIsOneHalfEverywhere) {
  layer_record* target = layer(8, 8);
  generate(target, static_cast<int>(FOBIMQQB[3]));
  for (float value : read_layer(target)) ASSERT_NEAR(value, 0.5f, 1e-4);
}

TEST(Noise, FbmMatchesACpuEvaluationOfTheSameNoise) {
  const int size = 16;
  layer_record* target = layer(size, size);
  fbm_uniforms(3.7f, 2.5f, 0.5f);  // three octaves
  generate(target, static_cast<int>(FOBIMQQB[3]));
  const std::vector<float> image = read_layer(target);
  for (int y = 0; y < size; y += 5)
    for (int x = 0; x < size; x += 3) {
      const v3 p = {(x + 0.5f) / size, (y + 0.5f) / size, 0.0f};
      double sum = 0;
      for (int k = 0; k < 3; ++k) {
        const float scale = std::pow(2.0f, static_cast<float>(k)) * 3.7f;
        sum += simplex({p.x * scale, p.y * scale, p.z * scale}) * std::pow(0.5, k);
      }
      const double expected = 0.5 + 0.5 * sum;
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(pixel(image, size, x, y, c), expected, 3e-3) << x << "," << y;
    }
  fbm_uniforms(0.0f, 0.0f, 0.0f);
}

// The octave count the fBm program is given: NaN and counts below 0 become 0,
// counts above 32 become 32, the others (fractions too: 2.5 runs three
// octaves) are kept; that number, not the one asked for, is what the
// program's uniform holds.
TEST(Noise, FbmOctaveCountReachesTheProgramWithinZeroTo32) {
  for (float none : {std::nanf(""), -std::nanf(""), -3.0f, -INFINITY})
    EXPECT_EQ(fbm_octaves(none), 0.0f) << none;
  for (float many : {32.5f, 40.0f, FLT_MAX, INFINITY}) EXPECT_EQ(fbm_octaves(many), 32.0f) << many;
  for (float kept : {0.0f, 0.25f, 2.5f, 31.75f, 32.0f}) EXPECT_EQ(fbm_octaves(kept), kept);

  const GLuint fbm = FOBIMQQB[3];
  const auto uniform = [&](const char* name) {
    float value = -1.0f;
    glGetUniformfv(fbm, glGetUniformLocation(fbm, name), &value);
    return value;
  };
  fbm_uniforms(3.7f, std::nanf(""), 0.9f);
  EXPECT_EQ(uniform("f"), 3.7f);
  EXPECT_EQ(uniform("o"), 0.0f);
  EXPECT_EQ(uniform("a"), 0.9f);
  fbm_uniforms(3.7f, 1e9f, 0.9f);
  EXPECT_EQ(uniform("o"), 32.0f);
  fbm_uniforms(0.0f, 0.0f, 0.0f);
}

// What the program draws for those counts: none for zero, a negative count
// or NaN (every pixel 0.5), and at most 32 however large; 40 octaves draw
// what 32 do.
TEST(Noise, FbmRunsNoOctaveForANanCountAndAtMost32) {
  const int size = 8;
  layer_record* target = layer(size, size);
  const auto with_octaves = [&](float octaves) {
    fbm_uniforms(3.7f, octaves, 0.9f);
    generate(target, static_cast<int>(FOBIMQQB[3]));
    return read_layer(target);
  };
  for (float none : {std::nanf(""), -3.0f, 0.0f})
    for (float value : with_octaves(none)) ASSERT_NEAR(value, 0.5f, 1e-4) << none << " octaves";
  EXPECT_EQ(with_octaves(40.0f), with_octaves(32.0f));
  EXPECT_EQ(with_octaves(INFINITY), with_octaves(32.0f));
  with_octaves(0.0f);
}

TEST(Noise, WhiteNoiseDependsOnThePixelPositionOnly) {
  layer_record* target = layer(4, 4);
  generate(target, static_cast<int>(FOBIMQQB[2]));
  const std::vector<float> image = read_layer(target);
  EXPECT_NEAR(pixel(image, 4, 0, 0, 0), 0.2273f, 2e-3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const double X = x + 0.5, Y = y + 0.5;
      const double expected = 0.5 + 0.5 * std::sin(55 * Y * std::cos(5 * X * std::sin(Y)));
      EXPECT_NEAR(pixel(image, 4, x, y, 3), expected, 5e-3) << x << "," << y;
    }
  generate(target, static_cast<int>(FOBIMQQB[2]));
  EXPECT_EQ(read_layer(target), image);
}

#ifdef _WIN32
// Here, not at the top: windows.h defines near and far, which the tests above
// use as names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The fixture's window started GLFW, which loaded an XInput library for
// joysticks (and its own update thread with it, under Wine). Freeing it as
// glfwTerminate does must leave it in memory: under Wine, freeing it while
// that thread finished ran the thread into unmapped code after the program
// had ended its work.
TEST(Window, TheJoystickLibraryOutlivesTheWindowSystemsEnd) {
  const wchar_t* loaded = nullptr;
  for (const wchar_t* name : {L"xinput1_4.dll", L"xinput1_3.dll", L"xinput9_1_0.dll"})
    if (!loaded && GetModuleHandleW(name)) loaded = name;
  if (!loaded) GTEST_SKIP() << "GLFW found no XInput library here";
  FreeLibrary(GetModuleHandleW(loaded));
  EXPECT_NE(GetModuleHandleW(loaded), nullptr);
}
#endif
