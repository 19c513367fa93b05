// easing_test.cpp: the script's vector, clamp, lerp and smoothstep functions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "film/script.h"

TEST(Easing, SmoothstepIsTheQuinticCurve) {
  EXPECT_FLOAT_EQ(smoothstep(0.25f, 0.75f, 0.5f), 0.5f);
  EXPECT_NEAR(smoothstep(0.25f, 0.75f, 0.7f), 0.99144f, 1e-5f);
  // The cubic 3u^2 - 2u^3 would give 0.972 at u = 0.9 and 0.028 at u = 0.1.
  EXPECT_NEAR(smoothstep(0.0f, 1.0f, 0.1f), 0.00856f, 1e-6f);
  // 6u^5 - 15u^4 + 10u^3 at u = 0.3, evaluated by hand: 0.01458 - 0.1215 + 0.27.
  EXPECT_NEAR(smoothstep(1.0f, 3.0f, 1.6f), 0.16308f, 1e-6f);
}

TEST(Easing, SmoothstepClampsItsPositionFirst) {
  EXPECT_EQ(smoothstep(0.25f, 0.75f, 0.25f), 0.0f);
  EXPECT_EQ(smoothstep(0.25f, 0.75f, -10.0f), 0.0f);
  EXPECT_EQ(smoothstep(0.25f, 0.75f, 0.75f), 1.0f);
  EXPECT_EQ(smoothstep(0.25f, 0.75f, 40.0f), 1.0f);
  // The script's acceleration: 0.001 to 0.5 seconds after it begins.
  EXPECT_EQ(smoothstep(0.001f, 0.5f, 0.0f), 0.0f);
  EXPECT_EQ(smoothstep(0.001f, 0.5f, 0.6f), 1.0f);
}

TEST(Easing, ClampTestsTheLowerBoundFirst) {
  EXPECT_EQ(clamp(-0.5f, 0.0f, 1.0f), 0.0f);
  EXPECT_EQ(clamp(1.5f, 0.0f, 1.0f), 1.0f);
  EXPECT_EQ(clamp(0.3f, 0.0f, 1.0f), 0.3f);
  // With lo > hi a value below lo is lo; any other value is above hi.
  EXPECT_EQ(clamp(0.5f, 1.0f, 0.0f), 1.0f);
  EXPECT_EQ(clamp(2.0f, 1.0f, 0.0f), 0.0f);
  EXPECT_EQ(clamp(1.0f, 1.0f, 0.0f), 0.0f);
  // A NaN fails both tests and passes through.
  EXPECT_TRUE(std::isnan(clamp(std::numeric_limits<float>::quiet_NaN(), 0.0f, 1.0f)));
}

TEST(Easing, LerpHitsItsEndsAndExtrapolates) {
  EXPECT_EQ(lerp(0.25f, 7.0f, 0.0f), 0.25f);
  EXPECT_EQ(lerp(0.25f, 7.0f, 1.0f), 7.0f);
  EXPECT_FLOAT_EQ(lerp(2.0f, 4.0f, 0.25f), 2.5f);
  // t = 2 gives 2b - a: the jitter blend reaches 0.002 from 0.
  EXPECT_FLOAT_EQ(lerp(0.0f, 0.001f, 2.0f), 0.002f);
  EXPECT_FLOAT_EQ(lerp(3.0f, 5.0f, 2.0f), 7.0f);
  EXPECT_FLOAT_EQ(lerp(3.0f, 5.0f, -1.0f), 1.0f);
}

TEST(Easing, VectorFunctions) {
  const vec3 sum = add_vec3(1.0f, 2.0f, 3.0f, 0.5f, -4.0f, 10.0f);
  EXPECT_EQ(sum.x, 1.5f);
  EXPECT_EQ(sum.y, -2.0f);
  EXPECT_EQ(sum.z, 13.0f);
  const vec3 difference = sub_vec3(1.0f, 2.0f, 3.0f, 0.5f, -4.0f, 10.0f);
  EXPECT_EQ(difference.x, 0.5f);
  EXPECT_EQ(difference.y, 6.0f);
  EXPECT_EQ(difference.z, -7.0f);
  const vec3 scaled = scale_vec3(-0.5f, 0.0f, 0.5f, 0.25f);
  EXPECT_EQ(scaled.x, -0.125f);
  EXPECT_EQ(scaled.y, 0.0f);
  EXPECT_EQ(scaled.z, 0.125f);
  // The ship's starting point, and no square root taken.
  EXPECT_FLOAT_EQ(length_sq(3.0f, 0.5f, -3.5f), 21.5f);
  EXPECT_FLOAT_EQ(length_sq(3.0f, 4.0f, 0.0f), 25.0f);
  EXPECT_FLOAT_EQ(distance_to_ship(1.5f, -2.0f, 7.0f, 7.0f), 6.25f);
  EXPECT_FLOAT_EQ(distance_to_ship(1.0f, 2.0f, 3.0f, 1.0f), 9.0f);
}
