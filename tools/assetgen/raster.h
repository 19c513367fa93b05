// raster.h: a small CPU rasterizer with a depth buffer, for baking and for previews.
//
// fill_triangle covers the pixel centres inside a triangle given in pixel coordinates and hands
// each one's barycentric weights to a callback. draw_triangle adds the 3-D part: clip-space
// corners, back-face culling (front faces are counter-clockwise on screen, as in OpenGL), a
// depth test, and perspective-correct weights.
#pragma once

#include <algorithm>

#include "tools/assetgen/assetgen.h"

struct vec4 {
  float x, y, z, w;
};

// A 4 x 4 matrix stored column by column, as OpenGL stores its matrices.
struct mat4 {
  float m[16];
};

mat4 identity();
mat4 multiply(const mat4& a, const mat4& b);
mat4 translation(vec3 offset);
mat4 scaling(float k);
// Rotation by degrees about an axis, like glRotatef.
mat4 rotation(float degrees, vec3 axis);
mat4 perspective(float fovy_degrees, float aspect, float near, float far);
mat4 orthographic(float half_width, float half_height, float near, float far);
mat4 look_at(vec3 eye, vec3 target, vec3 up);
vec4 transform(const mat4& a, vec4 v);

// A colour and depth buffer, row 0 at the top.
struct canvas {
  int width = 0, height = 0;
  std::vector<float> depth;
  std::vector<vec3> colour;
};

canvas make_canvas(int width, int height, vec3 background);
image to_image(const canvas& c);

// Calls visit(x, y, w0, w1, w2) for every pixel whose centre lies inside the triangle (a, b, c),
// corners given as (x, y) in pixels.
template <class F>
void fill_triangle(int width, int height, const float a[2], const float b[2], const float c[2],
                   F visit) {
  const float area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
  if (area == 0.0f) return;
  const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a[0], b[0], c[0]}))));
  const int x1 = std::min(width - 1, static_cast<int>(std::ceil(std::max({a[0], b[0], c[0]}))));
  const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a[1], b[1], c[1]}))));
  const int y1 = std::min(height - 1, static_cast<int>(std::ceil(std::max({a[1], b[1], c[1]}))));
  const float inverse = 1.0f / area;
  for (int y = y0; y <= y1; ++y) {
    const float py = y + 0.5f;
    for (int x = x0; x <= x1; ++x) {
      const float px = x + 0.5f;
      const float w0 = ((b[0] - px) * (c[1] - py) - (b[1] - py) * (c[0] - px)) * inverse;
      const float w1 = ((c[0] - px) * (a[1] - py) - (c[1] - py) * (a[0] - px)) * inverse;
      const float w2 = 1.0f - w0 - w1;
      if (w0 < 0.0f || w1 < 0.0f || w2 < 0.0f) continue;
      visit(x, y, w0, w1, w2);
    }
  }
}

// Draws a triangle of clip-space corners into the canvas; shade(w0, w1, w2) returns the colour
// of a visible pixel from perspective-correct weights. Triangles reaching behind the eye are
// skipped.
template <class F>
void draw_triangle(canvas& target, const vec4 corner[3], bool cull_back, F shade) {
  float screen[3][2], depth[3], inverse_w[3];
  for (int i = 0; i < 3; ++i) {
    if (corner[i].w <= 1e-5f) return;
    inverse_w[i] = 1.0f / corner[i].w;
    screen[i][0] = (corner[i].x * inverse_w[i] * 0.5f + 0.5f) * target.width;
    screen[i][1] = (0.5f - corner[i].y * inverse_w[i] * 0.5f) * target.height;
    depth[i] = corner[i].z * inverse_w[i];
  }
  // Rows grow downwards, so a counter-clockwise triangle has negative area here.
  const float area = (screen[1][0] - screen[0][0]) * (screen[2][1] - screen[0][1]) -
                     (screen[1][1] - screen[0][1]) * (screen[2][0] - screen[0][0]);
  if (cull_back && area >= 0.0f) return;
  fill_triangle(target.width, target.height, screen[0], screen[1], screen[2],
                [&](int x, int y, float w0, float w1, float w2) {
                  const float z = w0 * depth[0] + w1 * depth[1] + w2 * depth[2];
                  float& stored = target.depth[static_cast<size_t>(y) * target.width + x];
                  if (z < -1.0f || z > 1.0f || z >= stored) return;
                  stored = z;
                  float p0 = w0 * inverse_w[0], p1 = w1 * inverse_w[1], p2 = w2 * inverse_w[2];
                  const float sum = p0 + p1 + p2;
                  p0 /= sum;
                  p1 /= sum;
                  p2 /= sum;
                  target.colour[static_cast<size_t>(y) * target.width + x] = shade(p0, p1, p2);
                });
}
