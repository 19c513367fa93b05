// raster.cpp: matrices and canvases for the CPU rasterizer.
#include "tools/assetgen/raster.h"

mat4 identity() {
  mat4 a{};
  a.m[0] = a.m[5] = a.m[10] = a.m[15] = 1.0f;
  return a;
}

mat4 multiply(const mat4& a, const mat4& b) {
  mat4 c{};
  for (int column = 0; column < 4; ++column)
    for (int row = 0; row < 4; ++row) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a.m[k * 4 + row] * b.m[column * 4 + k];
      c.m[column * 4 + row] = sum;
    }
  return c;
}

mat4 translation(vec3 offset) {
  mat4 a = identity();
  a.m[12] = offset.x;
  a.m[13] = offset.y;
  a.m[14] = offset.z;
  return a;
}

mat4 scaling(float k) {
  mat4 a = identity();
  a.m[0] = a.m[5] = a.m[10] = k;
  return a;
}

mat4 rotation(float degrees, vec3 axis) {
  const vec3 n = normalize(axis);
  const float angle = degrees * PI / 180.0f, c = std::cos(angle), s = std::sin(angle), k = 1.0f - c;
  mat4 a = identity();
  a.m[0] = n.x * n.x * k + c;
  a.m[1] = n.y * n.x * k + n.z * s;
  a.m[2] = n.z * n.x * k - n.y * s;
  a.m[4] = n.x * n.y * k - n.z * s;
  a.m[5] = n.y * n.y * k + c;
  a.m[6] = n.z * n.y * k + n.x * s;
  a.m[8] = n.x * n.z * k + n.y * s;
  a.m[9] = n.y * n.z * k - n.x * s;
  a.m[10] = n.z * n.z * k + c;
  return a;
}

mat4 perspective(float fovy_degrees, float aspect, float near, float far) {
  const float f = 1.0f / std::tan(fovy_degrees * PI / 360.0f);
  mat4 a{};
  a.m[0] = f / aspect;
  a.m[5] = f;
  a.m[10] = (far + near) / (near - far);
  a.m[11] = -1.0f;
  a.m[14] = 2.0f * far * near / (near - far);
  return a;
}

mat4 orthographic(float half_width, float half_height, float near, float far) {
  mat4 a = identity();
  a.m[0] = 1.0f / half_width;
  a.m[5] = 1.0f / half_height;
  a.m[10] = -2.0f / (far - near);
  a.m[14] = -(far + near) / (far - near);
  return a;
}

mat4 look_at(vec3 eye, vec3 target, vec3 up) {
  const vec3 f = normalize(target - eye), s = normalize(cross(f, up)), u = cross(s, f);
  mat4 a = identity();
  a.m[0] = s.x;
  a.m[4] = s.y;
  a.m[8] = s.z;
  a.m[1] = u.x;
  a.m[5] = u.y;
  a.m[9] = u.z;
  a.m[2] = -f.x;
  a.m[6] = -f.y;
  a.m[10] = -f.z;
  a.m[12] = -dot(s, eye);
  a.m[13] = -dot(u, eye);
  a.m[14] = dot(f, eye);
  return a;
}

vec4 transform(const mat4& a, vec4 v) {
  return {a.m[0] * v.x + a.m[4] * v.y + a.m[8] * v.z + a.m[12] * v.w,
          a.m[1] * v.x + a.m[5] * v.y + a.m[9] * v.z + a.m[13] * v.w,
          a.m[2] * v.x + a.m[6] * v.y + a.m[10] * v.z + a.m[14] * v.w,
          a.m[3] * v.x + a.m[7] * v.y + a.m[11] * v.z + a.m[15] * v.w};
}

canvas make_canvas(int width, int height, vec3 background) {
  canvas c;
  c.width = width;
  c.height = height;
  c.depth.assign(static_cast<size_t>(width) * height, 1.0f);
  c.colour.assign(static_cast<size_t>(width) * height, background);
  return c;
}

image to_image(const canvas& c) {
  image picture = make_image(c.width, c.height, 3);
  for (size_t i = 0; i < c.colour.size(); ++i) {
    picture.pixels[i * 3 + 0] = to_byte(c.colour[i].x);
    picture.pixels[i * 3 + 1] = to_byte(c.colour[i].y);
    picture.pixels[i * 3 + 2] = to_byte(c.colour[i].z);
  }
  return picture;
}
