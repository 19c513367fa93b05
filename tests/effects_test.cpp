// effects_test.cpp: the film's ten programs (which source goes where, built
// in their order, clean logs), the lit vertex stage's tangent-space vectors
// against a CPU evaluation, and the ship and text draws into the scene target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "film/assets.h"
#include "film/passes.h"
#include "film/programs.h"
#include "film/surfaces.h"
#include "film/terrain.h"
#include "gl_fixture.h"
#include "mesh_helpers.h"

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct program_parts {
  GLuint vertex = 0;
  GLuint fragment = 0;
  int count = 0;
};

program_parts parts_of(int program_name) {
  GLuint attached[4] = {};
  GLsizei count = 0;
  glGetAttachedShaders(static_cast<GLuint>(program_name), 4, &count, attached);
  program_parts parts;
  parts.count = count;
  for (GLsizei i = 0; i < count; ++i) {
    GLint type = 0;
    glGetShaderiv(attached[i], GL_SHADER_TYPE, &type);
    (type == GL_VERTEX_SHADER ? parts.vertex : parts.fragment) = attached[i];
  }
  return parts;
}

class effects : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (post_processing == -1) create_programs();
  }
  void TearDown() override {
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    take_gl_error();
  }
};

// ---------------------------------------------------------------------------
// The catalogue.

struct catalogue_entry {
  const char* name;
  const int* handle;
  const char* vertex;  // null: fixed-function vertex stage
  const char* fragment;
};

std::vector<catalogue_entry> catalogue() {
  return {
      {"occluder_shader", &occluder_shader, nullptr, generic_shaders[0]},
      {"terrain_generator", &terrain_generator, nullptr, terrain_shaders[0]},
      {"terrain_shader", &terrain_shader, generic_shaders[1], terrain_shaders[1]},
      {"spaceship_shader", &spaceship_shader, generic_shaders[1], spaceship_shaders[0]},
      {"text_shader", &text_shader, generic_shaders[1], generic_shaders[2]},
      {"post_processing", &post_processing, nullptr, post_processing_shaders[0]},
      {"atmosphere", &atmosphere, nullptr, post_processing_shaders[1]},
      {"sun_flare", &sun_flare, nullptr, post_processing_shaders[2]},
      {"depth_of_field", &depth_of_field, nullptr, post_processing_shaders[3]},
      {"radial_blur", &radial_blur, nullptr, post_processing_shaders[4]},
  };
}

TEST_F(effects, EveryStageCompilesAndLinksWithoutWarnings) {
  for (const catalogue_entry& entry : catalogue()) {
    SCOPED_TRACE(entry.name);
    const GLuint name = static_cast<GLuint>(*entry.handle);
    GLint linked = GL_FALSE;
    glGetProgramiv(name, GL_LINK_STATUS, &linked);
    EXPECT_EQ(GL_TRUE, linked) << program_info_log(name);
    EXPECT_EQ(std::string::npos, lower(program_info_log(name)).find("warning"))
        << program_info_log(name);
    EXPECT_EQ(std::string::npos, lower(program_info_log(name)).find("error"))
        << program_info_log(name);
    const program_parts parts = parts_of(*entry.handle);
    for (GLuint stage : {parts.vertex, parts.fragment}) {
      if (!stage) continue;
      GLint compiled = GL_FALSE;
      glGetShaderiv(stage, GL_COMPILE_STATUS, &compiled);
      EXPECT_EQ(GL_TRUE, compiled) << shader_info_log(stage);
      const std::string log = lower(shader_info_log(stage));
      EXPECT_EQ(std::string::npos, log.find("warning")) << log;
      EXPECT_EQ(std::string::npos, log.find("error")) << log;
    }
  }
  // No source carries a version line: they are GLSL 1.10.
  for (const catalogue_entry& entry : catalogue()) {
    EXPECT_EQ(nullptr, std::strstr(entry.fragment, "#version")) << entry.name;
    if (entry.vertex) {
      EXPECT_EQ(nullptr, std::strstr(entry.vertex, "#version")) << entry.name;
    }
  }
}

// ---------------------------------------------------------------------------
// The lit vertex stage.

struct vec {
  float x, y, z;
};
vec operator+(vec a, vec b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
vec operator-(vec a, vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
float dot(vec a, vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
vec cross(vec a, vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
vec normalize(vec a) {
  const float l = std::sqrt(dot(a, a));
  return {a.x / l, a.y / l, a.z / l};
}

// A column-major 4 x 4 matrix as GL keeps it.
struct matrix {
  float m[16];
  vec point(vec p) const {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
            m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
  }
  vec direction(vec p) const {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z, m[1] * p.x + m[5] * p.y + m[9] * p.z,
            m[2] * p.x + m[6] * p.y + m[10] * p.z};
  }
  // The inverse transpose of the upper 3 x 3: how normals transform.
  vec normal(vec n) const {
    const float a = m[0], b = m[4], c = m[8], d = m[1], e = m[5], f = m[9], g = m[2], h = m[6],
                i = m[10];
    const float det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    // Inverse transpose = cofactor matrix / det.
    const float c00 = e * i - f * h, c01 = -(d * i - f * g), c02 = d * h - e * g;
    const float c10 = -(b * i - c * h), c11 = a * i - c * g, c12 = -(a * h - b * g);
    const float c20 = b * f - c * e, c21 = -(a * f - c * d), c22 = a * e - b * d;
    return {(c00 * n.x + c01 * n.y + c02 * n.z) / det, (c10 * n.x + c11 * n.y + c12 * n.z) / det,
            (c20 * n.x + c21 * n.y + c22 * n.z) / det};
  }
};

struct lit_vectors {
  vec light, eye, half_vector;
};

// The lit vertex stage on the CPU.
lit_vectors lit_stage(const matrix& modelview, vec position, vec normal, vec tangent) {
  const vec p = modelview.point(position);
  const vec n = normalize(modelview.normal(normal));
  const vec t = normalize(modelview.normal(tangent));
  const vec b = cross(n, t);
  const vec light_point = modelview.direction({0.0f, 5.0f, 10.0f});
  const vec l = normalize(light_point - p);
  const vec h = normalize(p + l);
  return {normalize({dot(l, t), dot(l, b), dot(l, n)}),
          normalize({dot(p, t), dot(p, b), dot(p, n)}),
          {dot(h, t), dot(h, b), dot(h, n)}};
}

// A program of the lit vertex stage and a fragment stage that writes one of
// its varyings.
int probe_program(const char* varying) {
  const std::string fragment = std::string(R"glsl(
varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;

void main()
{
  gl_FragData[0] = vec4()glsl") +
                               varying + ", 1.0);\n}\n";
  const int f = shader(fragment.c_str(), GL_FRAGMENT_SHADER);
  const int v = shader(generic_shaders[1], GL_VERTEX_SHADER);
  return program(v, -1, f);
}

struct probe_vertex {
  vec position, normal, tangent;
};

TEST_F(effects, LitVertexStageGivesLightEyeAndHalfVectorInTangentSpace) {
  const int w = 8, h = 2;
  layer_record* target = layer(w, h);
  const probe_vertex vertices[] = {
      {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f}},
      {{1.5f, -0.5f, 2.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, -1.0f}},
      {{-2.0f, 1.0f, 0.5f}, {0.6f, 0.0f, 0.8f}, {-0.8f, 0.0f, 0.6f}},
      {{0.3f, 2.5f, -1.0f}, {-0.36f, 0.48f, 0.8f}, {0.8f, 0.6f, 0.0f}},
  };
  // A model turned, stretched unevenly and moved away from the eye; moved
  // elsewhere; and turned half-way round the vertical axis (the light point
  // turns with the model, its translation does not matter).
  struct placement {
    float tx, ty, tz, angle, ax, ay, az, sx, sy, sz;
  };
  for (const placement& place :
       {placement{0.7f, -1.2f, -6.0f, 35.0f, 0.3f, 1.0f, 0.2f, 1.5f, 0.8f, 1.2f},
        placement{-3.0f, 2.0f, -9.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 1.0f},
        placement{0.0f, 0.0f, -4.0f, 180.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 1.0f}}) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(place.tx, place.ty, place.tz);
    glRotatef(place.angle, place.ax, place.ay, place.az);
    glScalef(place.sx, place.sy, place.sz);
    matrix modelview;
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);

    const char* names[3] = {"_light", "_eye", "_half_vector"};
    glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
    glViewport(0, 0, w, h);
    for (int which = 0; which < 3; ++which) {
      SCOPED_TRACE(names[which]);
      const int probe = probe_program(names[which]);
      glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
      glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
      glClear(GL_COLOR_BUFFER_BIT);
      glUseProgram(static_cast<GLuint>(probe));
      // One point per vertex, each on its own pixel: the projection places the
      // vertex's eye-space position on that pixel's centre without touching
      // the eye-space vectors.
      for (int i = 0; i < 4; ++i) {
        const vec eye = modelview.point(vertices[i].position);
        const float left = eye.x - (2 * i + 0.5f), bottom = eye.y - 0.5f;
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(left, left + w, bottom, bottom + h, -100.0, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glBegin(GL_POINTS);
        glNormal3f(vertices[i].normal.x, vertices[i].normal.y, vertices[i].normal.z);
        glColor3f(vertices[i].tangent.x, vertices[i].tangent.y, vertices[i].tangent.z);
        glVertex3f(vertices[i].position.x, vertices[i].position.y, vertices[i].position.z);
        glEnd();
      }
      glUseProgram(0);
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      const std::vector<float> out = read_layer(target);
      for (int i = 0; i < 4; ++i) {
        const lit_vectors expected =
            lit_stage(modelview, vertices[i].position, vertices[i].normal, vertices[i].tangent);
        const vec e = which == 0   ? expected.light
                      : which == 1 ? expected.eye
                                   : expected.half_vector;
        EXPECT_NEAR(e.x, pixel(out, w, 2 * i, 0, 0), 2e-3f) << "vertex " << i;
        EXPECT_NEAR(e.y, pixel(out, w, 2 * i, 0, 1), 2e-3f) << "vertex " << i;
        EXPECT_NEAR(e.z, pixel(out, w, 2 * i, 0, 2), 2e-3f) << "vertex " << i;
        EXPECT_EQ(1.0f, pixel(out, w, 2 * i, 0, 3)) << "vertex " << i << " drawn";
      }
      glDeleteProgram(static_cast<GLuint>(probe));
    }
  }
  glLoadIdentity();
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// A mesh record of the given vertices (position, normal, tangent, texture
// coordinate, three floats each) and triangles, allocated as the loaders do.
mesh_record* make_mesh(const std::vector<float>& positions, const std::vector<float>& normals,
                       const std::vector<float>& tangents, const std::vector<float>& coordinates,
                       const std::vector<unsigned>& indices) {
  mesh_record* m = mesh_from(positions, indices);
  std::memcpy(m->normals, normals.data(), normals.size() * sizeof(float));
  std::memcpy(m->tangents, tangents.data(), tangents.size() * sizeof(float));
  std::memcpy(m->texture_coordinates, coordinates.data(), coordinates.size() * sizeof(float));
  return m;
}

TEST_F(effects, LitVertexStageInterpolatesAcrossAMeshTriangle) {
  const int w = 16, h = 16;
  layer_record* target = layer(w, h);
  // Eye-space x and y are pixels (orthographic box 0..w, 0..h), so the
  // varyings are interpolated linearly across the screen.
  const vec p[3] = {{1.0f, 1.0f, 0.0f}, {15.0f, 2.0f, 1.0f}, {3.0f, 15.0f, -1.0f}};
  const vec n[3] = {{0.0f, 0.0f, 1.0f}, {0.6f, 0.0f, 0.8f}, {0.0f, -0.6f, 0.8f}};
  const vec t[3] = {{1.0f, 0.0f, 0.0f}, {0.8f, 0.0f, -0.6f}, {1.0f, 0.0f, 0.0f}};
  std::vector<float> positions, normals, tangents;
  for (int i = 0; i < 3; ++i) {
    positions.insert(positions.end(), {p[i].x, p[i].y, p[i].z});
    normals.insert(normals.end(), {n[i].x, n[i].y, n[i].z});
    tangents.insert(tangents.end(), {t[i].x, t[i].y, t[i].z});
  }
  mesh_record* triangle =
      make_mesh(positions, normals, tangents, std::vector<float>(9, 0.0f), {0, 1, 2});
  matrix modelview;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -5.0f);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, w, 0.0, h, -100.0, 100.0);
  glMatrixMode(GL_MODELVIEW);

  const char* names[3] = {"_light", "_eye", "_half_vector"};
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(names[which]);
    const int probe = probe_program(names[which]);
    glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
    glViewport(0, 0, w, h);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(static_cast<GLuint>(probe));
    render(triangle);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    const std::vector<float> out = read_layer(target);
    vec at[3];
    for (int i = 0; i < 3; ++i) {
      const lit_vectors v = lit_stage(modelview, p[i], n[i], t[i]);
      at[i] = which == 0 ? v.light : which == 1 ? v.eye : v.half_vector;
    }
    int compared = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        // Barycentric weights of the pixel centre.
        const float px = x + 0.5f, py = y + 0.5f;
        const float area =
            (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y);
        const float b1 =
            ((px - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (py - p[0].y)) / area;
        const float b2 =
            ((p[1].x - p[0].x) * (py - p[0].y) - (px - p[0].x) * (p[1].y - p[0].y)) / area;
        const float b0 = 1.0f - b1 - b2;
        if (b0 < 0.02f || b1 < 0.02f || b2 < 0.02f) continue;
        ++compared;
        EXPECT_NEAR(b0 * at[0].x + b1 * at[1].x + b2 * at[2].x, pixel(out, w, x, y, 0), 3e-3f);
        EXPECT_NEAR(b0 * at[0].y + b1 * at[1].y + b2 * at[2].y, pixel(out, w, x, y, 1), 3e-3f);
        EXPECT_NEAR(b0 * at[0].z + b1 * at[1].z + b2 * at[2].z, pixel(out, w, x, y, 2), 3e-3f);
      }
    EXPECT_GT(compared, 40);
    glDeleteProgram(static_cast<GLuint>(probe));
  }
  free_mesh(triangle);
  glLoadIdentity();
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

// ---------------------------------------------------------------------------
// Ship and texts in the scene target.

// A square of the given half size in the xy plane, facing +z, with texture
// coordinates 0..1 and tangents along +x.
mesh_record* square(float half) {
  return make_mesh({-half, -half, 0.0f, half, -half, 0.0f, half, half, 0.0f, -half, half, 0.0f},
                   {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0},
                   {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 3});
}

GLuint plain_texture(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
  const unsigned char texels[16] = {r, g, b, a, r, g, b, a, r, g, b, a, r, g, b, a};
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
  return name;
}

// The frame's set-up for drawing the scene: target bound and cleared,
// perspective, depth test and culling on.
void begin_scene() {
  glBindFramebuffer(GL_FRAMEBUFFER, P4E6JEEC->framebuffer);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  perspective(TVJAYSLH[0], TVJAYSLH[1], 1.7777778f);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
}

TEST_F(effects, ShipIsDrawnAtThreeFortiethsScaleWithItsTextureAndAlpha) {
  mesh_record* const saved_ship = spaceship;
  const int saved_texture = spaceship_texture, saved_normal_map = spaceship_normal_map;
  spaceship = square(10.0f);
  spaceship_texture = static_cast<int>(plain_texture(51, 153, 102, 128));
  spaceship_normal_map = static_cast<int>(plain_texture(128, 128, 255, 255));
  const int w = TVJAYSLH[0];

  // 10 units at 0.075 is 0.75; at 2.5 units from the eye the 45-degree view
  // shows 1.0355 above the centre and 1.841 beside it (aspect 16/9), so the
  // square covers 13.04 of the 18 half-rows and of the 32 half-columns:
  // pixel centres from 18.96 to 45.04 across and 4.96 to 31.04 up.
  begin_scene();
  glTranslatef(0.0f, 0.0f, -2.5f);
  GLfloat before[16], after[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, before);
  render_spaceship();
  glGetFloatv(GL_MODELVIEW_MATRIX, after);
  EXPECT_EQ(0, std::memcmp(before, after, sizeof before)) << "the modelview is restored";
  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(GL_TEXTURE1, gl_integer(GL_ACTIVE_TEXTURE));
  EXPECT_EQ(spaceship_texture, bound_texture(GL_TEXTURE0));
  EXPECT_EQ(spaceship_normal_map, bound_texture(GL_TEXTURE1));
  std::vector<float> out = read_texture(P4E6JEEC->color_texture);
  const float expected[4] = {0.2f, 0.6f, 0.4f, 128.0f / 255.0f};
  for (int c = 0; c < 4; ++c) {
    for (int x : {19, 32, 44})
      for (int y : {5, 18, 30}) EXPECT_NEAR(expected[c], pixel(out, w, x, y, c), 2e-3f);
    for (int x : {18, 45}) EXPECT_EQ(0.0f, pixel(out, w, x, 18, c)) << "beside the ship";
    for (int y : {4, 31}) EXPECT_EQ(0.0f, pixel(out, w, 32, y, c)) << "above or below the ship";
  }

  // Around the modelview origin: one unit to the right is 17.38 pixels, so
  // the left edge moves to 36.34.
  begin_scene();
  glTranslatef(1.0f, 0.0f, -2.5f);
  render_spaceship();
  out = read_texture(P4E6JEEC->color_texture);
  EXPECT_NEAR(0.6f, pixel(out, w, 36, 18, 1), 2e-3f);
  EXPECT_EQ(0.0f, pixel(out, w, 35, 18, 1));

  free_mesh(spaceship);
  glDeleteTextures(1, reinterpret_cast<const GLuint*>(&spaceship_texture));
  glDeleteTextures(1, reinterpret_cast<const GLuint*>(&spaceship_normal_map));
  spaceship = saved_ship;
  spaceship_texture = saved_texture;
  spaceship_normal_map = saved_normal_map;
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(effects, TextIsAnOpaqueGreyThatShadesItsFacesApart) {
  const int saved_normal_map = terrain_normal_map;
  terrain_normal_map = static_cast<int>(plain_texture(128, 128, 255, 255));
  // Two faces of a unit cube, the front and the right side, turned so that
  // both face the eye.
  mesh_record* text = make_mesh(
      {-0.5f, -0.5f, 0.5f, 0.5f, -0.5f, 0.5f,  0.5f, 0.5f, 0.5f,  -0.5f, 0.5f, 0.5f,   // front
       0.5f,  -0.5f, 0.5f, 0.5f, -0.5f, -0.5f, 0.5f, 0.5f, -0.5f, 0.5f,  0.5f, 0.5f},  // right
      {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0},
      {1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1},
      std::vector<float>(24, 0.0f), {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7});
  const int w = TVJAYSLH[0];
  begin_scene();
  glTranslatef(0.0f, 0.0f, -4.0f);
  glRotatef(-30.0f, 0.0f, 1.0f, 0.0f);
  render_text(text);
  EXPECT_EQ(0, gl_integer(GL_CURRENT_PROGRAM));
  EXPECT_EQ(GL_TEXTURE0, gl_integer(GL_ACTIVE_TEXTURE));
  EXPECT_EQ(terrain_normal_map, bound_texture(GL_TEXTURE0));
  const std::vector<float> out = read_texture(P4E6JEEC->color_texture);
  // Front face around pixel 29, side face around pixel 37 (row 17).
  float grey[2];
  const int columns[2] = {28, 37};
  for (int i = 0; i < 2; ++i) {
    const int x = columns[i];
    grey[i] = pixel(out, w, x, 17, 0);
    EXPECT_EQ(grey[i], pixel(out, w, x, 17, 1)) << "column " << x;
    EXPECT_EQ(grey[i], pixel(out, w, x, 17, 2)) << "column " << x;
    EXPECT_EQ(1.0f, pixel(out, w, x, 17, 3)) << "column " << x;
    EXPECT_GE(grey[i], 0.19f) << "column " << x;
    EXPECT_LE(grey[i], 1.0f) << "column " << x;
  }
  EXPECT_GT(std::fabs(grey[0] - grey[1]), 0.02f) << "faces of different turn differ";
  EXPECT_EQ(0.0f, pixel(out, w, 5, 5, 3)) << "nothing drawn away from the text";

  free_mesh(text);
  glDeleteTextures(1, reinterpret_cast<const GLuint*>(&terrain_normal_map));
  terrain_normal_map = saved_normal_map;
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}

TEST_F(effects, WindowShowsTheFinalLayerExactlyAfterAMeshWasDrawn) {
  const int w = TVJAYSLH[0], h = TVJAYSLH[1];
  std::vector<float> image(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float* p = &image[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = x / (w - 1.0f);
      p[1] = y / (h - 1.0f);
      p[2] = ((x + y) % 5) / 4.0f;
      p[3] = 1.0f;
    }
  layer_record* final_layer = layer_with(w, h, image);
  // A fixed-function mesh draw whose colour array (tangents) is far from white.
  mesh_record* model = square(0.5f);
  for (unsigned i = 0; i < model->vertex_count; ++i) {
    model->tangents[i * 3 + 0] = 0.2f;
    model->tangents[i * 3 + 1] = -0.7f;
    model->tangents[i * 3 + 2] = 0.4f;
  }
  begin_scene();
  glTranslatef(0.0f, 0.0f, -3.0f);
  render(model);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  blit_to_back_buffer(final_layer);
  const std::vector<float> shown = read_window(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(pixel(image, w, x, y, c), pixel(shown, w, x, y, c), 0.6f / 255.0f)
            << "pixel (" << x << ", " << y << ") channel " << c;
  free_mesh(model);
  EXPECT_EQ(GLenum(GL_NO_ERROR), take_gl_error());
}
}  // namespace
