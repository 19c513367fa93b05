// ring.cpp: the ring, a band of radius about 1 around the z axis with raised, bevelled lips.
//
// The film draws the ring unlit, coloured by its vertex tangents. The tangent follows the
// texture coordinate t, so t mixes the angle around the ring with the distance along the
// profile: the tangent then turns with the angle and also changes from one face of the
// profile to the next, which is what makes the band, its groove and its lips visible.
#include "tools/assetgen/assetgen.h"

namespace {

struct profile_point {
  float r, z;
};

// The band's cross-section in the (radius, z) half-plane, a closed loop: bottom face, lower
// lip, outer band with a groove, upper lip, top face, inner face with a ridge.
const profile_point PROFILE[] = {
    {0.930f, -0.110f}, {0.990f, -0.125f}, {1.030f, -0.125f}, {1.050f, -0.108f}, {1.050f, -0.078f},
    {1.032f, -0.066f}, {1.006f, -0.060f}, {1.006f, -0.022f}, {0.994f, -0.013f}, {0.994f, 0.013f},
    {1.006f, 0.022f},  {1.006f, 0.060f},  {1.032f, 0.066f},  {1.050f, 0.078f},  {1.050f, 0.108f},
    {1.030f, 0.125f},  {0.990f, 0.125f},  {0.930f, 0.110f},  {0.918f, 0.035f},  {0.918f, -0.035f},
};
constexpr int PROFILE_POINTS = sizeof PROFILE / sizeof PROFILE[0];
constexpr int AROUND = 192;
// t per turn of the ring and per unit along the profile.
constexpr float T_PER_TURN = 6.0f;
constexpr float T_PER_UNIT = 1.0f;

}  // namespace

model make_ring() {
  model ring;
  std::vector<float> cosines(AROUND + 1), sines(AROUND + 1);
  for (int i = 0; i < AROUND; ++i) {
    const double angle = 2.0 * 3.141592653589793 * i / AROUND;
    cosines[i] = static_cast<float>(std::cos(angle));
    sines[i] = static_cast<float>(std::sin(angle));
  }
  cosines[AROUND] = cosines[0];
  sines[AROUND] = sines[0];

  // Each face of the profile is its own strip, so the colour changes sharply at its edges.
  float along = 0.0f;
  for (int f = 0; f < PROFILE_POINTS; ++f) {
    const profile_point a = PROFILE[f], b = PROFILE[(f + 1) % PROFILE_POINTS];
    const float span = std::hypot(b.r - a.r, b.z - a.z);
    std::vector<vertex> strip;
    for (int row = 0; row < 2; ++row) {
      const profile_point p = row == 0 ? a : b;
      const float u = along + (row == 0 ? 0.0f : span);
      for (int i = 0; i <= AROUND; ++i) {
        vertex v{};
        v.position = {p.r * cosines[i], p.r * sines[i], p.z};
        v.s = static_cast<float>(f) + static_cast<float>(row) * 0.5f;
        v.t = T_PER_TURN * static_cast<float>(i) / AROUND + T_PER_UNIT * u;
        strip.push_back(v);
      }
    }
    add_grid(ring, strip, 2, AROUND + 1);
    along += span;
  }
  if (signed_volume(ring) < 0.0) flip_winding(ring);
  return ring;
}
