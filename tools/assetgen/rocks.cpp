// rocks.cpp: the terrain's detail normal map, rocky ground that tiles seamlessly.
//
// A height field is built from noise whose lattices wrap around the image (gradient noise for
// the lumps and grain, cellular noise for broken rock plates with cracks between them), and
// the normals come from its slopes. Every lookup wraps, so the left edge continues the right
// one and the top continues the bottom.
#include "tools/assetgen/assetgen.h"

namespace {

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return h;
}
float unit(uint32_t h) {
  return static_cast<float>(h & 0xffffffu) / 16777215.0f;
}
uint32_t wrap(int i, int period) {
  return static_cast<uint32_t>(((i % period) + period) % period);
}

// Gradient noise over a lattice of period x period cells spanning the unit square.
float gradient_noise(float x, float y, int period, uint32_t seed) {
  const float fx = x * period, fy = y * period;
  const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
  const float dx = fx - ix, dy = fy - iy;
  auto corner = [&](int cx, int cy) {
    const float angle = 2.0f * PI * unit(hash(wrap(ix + cx, period), wrap(iy + cy, period), seed));
    return std::cos(angle) * (dx - cx) + std::sin(angle) * (dy - cy);
  };
  const float u = dx * dx * dx * (dx * (dx * 6.0f - 15.0f) + 10.0f);
  const float v = dy * dy * dy * (dy * (dy * 6.0f - 15.0f) + 10.0f);
  const float bottom = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * u;
  const float top = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * u;
  return bottom + (top - bottom) * v;
}

float fractal_noise(float x, float y, int period, int octaves, uint32_t seed) {
  float sum = 0.0f, amplitude = 1.0f;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * gradient_noise(x, y, period << i, seed + i);
    amplitude *= 0.5f;
  }
  return sum;
}

// Cellular noise: each cell of a period x period lattice holds one rock; returns the height of
// a tilted, domed plate with a crack where two rocks meet.
float rock_plates(float x, float y, int period, uint32_t seed) {
  const float fx = x * period, fy = y * period;
  const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
  float nearest = 1e9f, second = 1e9f;
  float height = 0.0f;
  for (int cy = -1; cy <= 1; ++cy) {
    for (int cx = -1; cx <= 1; ++cx) {
      const uint32_t h = hash(wrap(ix + cx, period), wrap(iy + cy, period), seed);
      const float sx = ix + cx + 0.15f + 0.7f * unit(h), sy = iy + cy + 0.15f + 0.7f * unit(h >> 7);
      const float d = std::hypot(fx - sx, fy - sy);
      if (d < nearest) {
        second = nearest;
        nearest = d;
        const float tilt_x = unit(hash(h, 1, seed)) - 0.5f, tilt_y = unit(hash(h, 2, seed)) - 0.5f;
        height =
            0.35f * unit(h >> 3) + 0.6f * (tilt_x * (fx - sx) + tilt_y * (fy - sy)) - 0.5f * d * d;
      } else if (d < second) {
        second = d;
      }
    }
  }
  const float crack = smoothstep(0.0f, 0.12f, second - nearest);
  return height * crack - 0.25f * (1.0f - crack);
}

}  // namespace

image make_rock_normal_map(int size) {
  std::vector<float> height(static_cast<size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
      const float lumps = fractal_noise(u, v, 4, 3, 11);
      const float grain = fractal_noise(u, v, 32, 3, 23);
      const float plates = rock_plates(u, v, 6, 37) + 0.5f * rock_plates(u, v, 14, 41);
      height[static_cast<size_t>(y) * size + x] = 0.5f * lumps + 0.12f * grain + 0.45f * plates;
    }
  }
  // Slopes in height per texel, scaled so that a typical face tilts by some twenty degrees.
  const float strength = 0.045f * size;
  auto at = [&](int x, int y) {
    return height[static_cast<size_t>(wrap(y, size)) * size + wrap(x, size)];
  };
  image map = make_image(size, size, 3);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      // Image rows run top to bottom while t grows upwards; the ground's tangent frame has its
      // tangent along +s and its second axis along -t, so the row slope enters with its own sign.
      const float ds = (at(x + 1, y) - at(x - 1, y)) * 0.5f;
      const float drow = (at(x, y + 1) - at(x, y - 1)) * 0.5f;
      const vec3 n = normalize(vec3{-ds * strength, -drow * strength, 1.0f});
      uint8_t* p = &map.pixels[(static_cast<size_t>(y) * size + x) * 3];
      p[0] = to_byte(n.x * 0.5f + 0.5f);
      p[1] = to_byte(n.y * 0.5f + 0.5f);
      p[2] = to_byte(n.z * 0.5f + 0.5f);
    }
  }
  return map;
}
