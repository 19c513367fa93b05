// icon.cpp: the program's icon, the spaceship three-quarters from the front over a dusky sky
// with the sun, on a rounded square.
//
// The ship is the film's own model with its baked colour texture, rasterized at four times the
// icon's size in each direction and averaged down, so small sizes stay smooth. Outside the
// rounded square the icon is transparent.
#include <algorithm>

#include "tools/assetgen/raster.h"

namespace {

constexpr int SUPERSAMPLE = 4;

// The sky behind the ship at a point of the square (0..1, row 0 at the top): the film's dusky
// gradient, lighter towards the horizon, with a glowing sun at the upper right.
vec3 sky_at(float u, float v) {
  const vec3 top{0.32f, 0.22f, 0.38f}, horizon{0.86f, 0.58f, 0.52f};
  vec3 colour = lerp(top, horizon, smoothstep(0.0f, 1.0f, v));
  const float du = u - 0.76f, dv = v - 0.24f, d = std::sqrt(du * du + dv * dv);
  const float glow = std::exp(-d * 7.0f) * 0.55f;
  const float disc = 1.0f - smoothstep(0.085f, 0.1f, d);
  colour = lerp(colour + vec3{glow, glow * 0.8f, glow * 0.5f}, vec3{1.0f, 0.95f, 0.82f}, disc);
  return {clamp01(colour.x), clamp01(colour.y), clamp01(colour.z)};
}

// Coverage of the rounded square at a pixel centre (0..1 coordinates): 1 inside, 0 outside.
bool inside_square(float u, float v) {
  constexpr float margin = 0.03f, radius = 0.2f;
  const float lo = margin + radius, hi = 1.0f - margin - radius;
  const float dx = u < lo ? lo - u : (u > hi ? u - hi : 0.0f);
  const float dy = v < lo ? lo - v : (v > hi ? v - hi : 0.0f);
  if (u < margin || u > 1.0f - margin || v < margin || v > 1.0f - margin) return false;
  return dx * dx + dy * dy <= radius * radius;
}

// Bilinear sample of an image whose rows run top to bottom; t = 0 is the last row, as OpenGL
// sees a TGA file's pixels.
vec3 sample(const image& picture, float s, float t) {
  const float x = s * picture.width - 0.5f, y = (1.0f - t) * picture.height - 0.5f;
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  const float fx = x - x0, fy = y - y0;
  vec3 sum{0.0f, 0.0f, 0.0f};
  for (int dy = 0; dy < 2; ++dy)
    for (int dx = 0; dx < 2; ++dx) {
      const int xi = std::clamp(x0 + dx, 0, picture.width - 1);
      const int yi = std::clamp(y0 + dy, 0, picture.height - 1);
      const uint8_t* p =
          &picture.pixels[(static_cast<size_t>(yi) * picture.width + xi) * picture.channels];
      const float w = (dx ? fx : 1.0f - fx) * (dy ? fy : 1.0f - fy);
      sum = sum + vec3{p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f} * w;
    }
  return sum;
}

}  // namespace

image draw_icon(const model& ship, const image& colour, int size) {
  const int big = size * SUPERSAMPLE;
  // The ship's bounds, to frame it whatever its units.
  vec3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
  for (const vertex& v : ship.vertices) {
    low = {std::min(low.x, v.position.x), std::min(low.y, v.position.y),
           std::min(low.z, v.position.z)};
    high = {std::max(high.x, v.position.x), std::max(high.y, v.position.y),
            std::max(high.z, v.position.z)};
  }
  const vec3 centre = (low + high) * 0.5f;
  const float radius = length(high - low) * 0.5f;
  // Three-quarters from the front (the nose points along -z), a little from above.
  const vec3 direction = normalize(vec3{0.85f, 0.4f, -0.75f});
  const float distance = radius / std::sin(21.0f * PI / 180.0f);
  const mat4 view = look_at(centre + direction * distance, centre, vec3{0.0f, 1.0f, 0.0f});
  const mat4 full = multiply(perspective(36.0f, 1.0f, distance * 0.05f, distance * 3.0f), view);

  canvas target = make_canvas(big, big, vec3{0.0f, 0.0f, 0.0f});
  for (size_t i = 0; i + 2 < ship.indices.size(); i += 3) {
    const vertex* v[3] = {&ship.vertices[ship.indices[i]], &ship.vertices[ship.indices[i + 1]],
                          &ship.vertices[ship.indices[i + 2]]};
    vec4 corner[3];
    for (int k = 0; k < 3; ++k)
      corner[k] = transform(full, vec4{v[k]->position.x, v[k]->position.y, v[k]->position.z, 1});
    draw_triangle(target, corner, true, [&](float w0, float w1, float w2) {
      const float s = v[0]->s * w0 + v[1]->s * w1 + v[2]->s * w2;
      const float t = v[0]->t * w0 + v[1]->t * w1 + v[2]->t * w2;
      return sample(colour, s, t);
    });
  }

  image icon = make_image(size, size, 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      vec3 sum{0.0f, 0.0f, 0.0f};
      int covered = 0;
      for (int sy = 0; sy < SUPERSAMPLE; ++sy)
        for (int sx = 0; sx < SUPERSAMPLE; ++sx) {
          const int bx = x * SUPERSAMPLE + sx, by = y * SUPERSAMPLE + sy;
          const float u = (bx + 0.5f) / big, v = (by + 0.5f) / big;
          if (!inside_square(u, v)) continue;
          const size_t p = static_cast<size_t>(by) * big + bx;
          // Pixels the ship covers have a depth below the cleared value.
          sum = sum + (target.depth[p] < 1.0f ? target.colour[p] : sky_at(u, v));
          ++covered;
        }
      uint8_t* out = &icon.pixels[(static_cast<size_t>(y) * size + x) * 4];
      if (covered == 0) continue;  // transparent black
      const vec3 mean = sum * (1.0f / covered);
      out[0] = to_byte(mean.x);
      out[1] = to_byte(mean.y);
      out[2] = to_byte(mean.z);
      out[3] = to_byte(static_cast<float>(covered) / (SUPERSAMPLE * SUPERSAMPLE));
    }
  return icon;
}
