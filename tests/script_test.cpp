// script_test.cpp: the timeline stepped frame by frame, checked at the
// landmarks of the film. Most tests fly without drawing; one flies drawn
// through the GL fixture with tiny stand-in meshes and compares.
#include "film/script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "film/assets.h"
#include "film/film.h"
#include "film/programs.h"
#include "film/terrain.h"
#include "gl_fixture.h"

namespace {

// Steady frames of 1/64 s: every frame time n / 64 is exact in a float.
constexpr float kStep = 1.0f / 64.0f;
constexpr int kFilmFrames = 115 * 64;

struct frame {
  float t;
  float dt;
  script_state state;
  float positions[4];
  float rotations[4];
};

// Flies the script through the given frame times from its initial state; the
// first frame's interval is its own time, as the frame clock makes it.
std::vector<frame> fly(const std::vector<float>& times, bool draw,
                       void (*before_frame)() = nullptr) {
  script_state state;
  script_reset(&state);
  std::vector<frame> flight;
  flight.reserve(times.size());
  float previous = 0.0f;
  for (float t : times) {
    const float dt = t - previous;
    previous = t;
    if (before_frame) before_frame();
    script_step(&state, t, dt, draw);
    frame f{t, dt, state, {}, {}};
    std::memcpy(f.positions, terrain_positions, sizeof f.positions);
    std::memcpy(f.rotations, terrain_rotations, sizeof f.rotations);
    flight.push_back(f);
  }
  return flight;
}

std::vector<float> steady_times(int frames) {
  std::vector<float> times;
  for (int n = 1; n <= frames; ++n) times.push_back(static_cast<float>(n) * kStep);
  return times;
}

// The whole film at 64 frames per second, flown once per test binary.
const std::vector<frame>& steady_flight() {
  static const std::vector<frame> flight = fly(steady_times(kFilmFrames), false);
  return flight;
}

// The steady frame at time t, which must be a multiple of 1/64.
const frame& at(float t) {
  const int n = static_cast<int>(std::lround(t * 64.0f));
  return steady_flight().at(n - 1);
}

// Where the eye is in the world after a frame.
vec3 eye(const script_state& s) {
  return vec3{-s.camera_sway - s.shake, s.camera_height - s.shake, 5.0f - s.camera_distance};
}

// The jitter that a ship at squared distance d from the origin causes,
// evaluated here in double: the quintic of the clamped proximity, times 0.005.
double jitter_for(double d) {
  const double proximity = 1.0 - std::min(std::max(d, 0.0), 1.25) / 1.25;
  const double u = std::min(std::max((proximity - 0.25) / 0.5, 0.0), 1.0);
  return (6.0 * u * u * u * u * u - 15.0 * u * u * u * u + 10.0 * u * u * u) * 0.005;
}

}  // namespace

// The script's generator is the unseeded rand() of Windows' C runtime: its
// first values are the ones that runtime is known to give, and every value
// lies in 0 to 32767. The test comes first in the file, so nothing in this
// test program has drawn before it.
TEST(Script, RandomNumbersAreTheWindowsRuntimeSequence) {
  const int known[10] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (int value : known) EXPECT_EQ(script_rand(), value);
  for (int i = 0; i < 100000; ++i) {
    const int value = script_rand();
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 32767);
  }
}

TEST(Script, FirstFrameHasNoShakeAndCreeps) {
  script_state state;
  script_reset(&state);
  script_step(&state, 0.02f, 0.02f, false);
  EXPECT_EQ(state.shake, 0.0f);
  EXPECT_FLOAT_EQ(state.camera_distance, 0.02f * 0.001f * 50.0f);
  EXPECT_FLOAT_EQ(state.title_angle, -15.0f + 0.12f);
  EXPECT_EQ(state.ship_heading, 135.0f);
  EXPECT_EQ(state.aberration, 3.0f);
  EXPECT_EQ(state.noise_amount, 0.0f);
  EXPECT_EQ(terrain_positions[1], 10.0f);
}

TEST(Script, LungesPastThreeThenClimbsAtOneTwentiethPerSecond) {
  // Creeping at 0.05 units per second until the burst.
  EXPECT_NEAR(at(7.0f).state.camera_distance, 0.35f, 1e-4f);
  EXPECT_EQ(at(7.0f).state.speed, 0.001f);
  EXPECT_EQ(at(7.0f).state.camera_height, 0.0f);
  // The burst sets 0.5 from 7.015625 s; the next frames move 25/64 each, and
  // the seventh of them (7.125 s) is the first past 3.
  EXPECT_EQ(at(7.015625f).state.speed, 0.5f);
  EXPECT_LT(at(7.109375f).state.camera_distance, 3.0f);
  EXPECT_EQ(at(7.109375f).state.camera_height, 0.0f);
  const frame& past = at(7.125f);
  EXPECT_NEAR(past.state.camera_distance, 0.35f + 0.05f / 64.0f + 7.0f * 25.0f / 64.0f, 1e-4f);
  EXPECT_EQ(past.state.speed, 0.001f);
  EXPECT_FLOAT_EQ(past.state.camera_height, 0.05f / 64.0f);
  // Still inside the burst window, cruise wins over the burst.
  EXPECT_EQ(at(7.1875f).state.speed, 0.001f);
  EXPECT_NEAR(at(7.1875f).state.camera_distance - past.state.camera_distance, 4.0f * 0.05f / 64.0f,
              1e-5f);
  // The climb: 0.05 per second from the frame that passed 3.
  EXPECT_NEAR(at(17.125f).state.camera_height, 641.0f * 0.05f / 64.0f, 1e-4f);
  EXPECT_NEAR(at(24.75f).state.camera_distance,
              past.state.camera_distance + 1128.0f * 0.05f / 64.0f, 1e-3f);
  // It stops at the first value of 1 or more, about 20 s after the lunge.
  float reached = 0.0f;
  for (const frame& f : steady_flight()) {
    if (f.state.camera_height >= 1.0f) {
      reached = f.t;
      break;
    }
  }
  EXPECT_NEAR(reached, 7.125f + 1279.0f / 64.0f, 2.0f / 64.0f);
  EXPECT_GE(at(115.0f).state.camera_height, 1.0f);
  EXPECT_LT(at(115.0f).state.camera_height, 1.0f + 0.05f / 64.0f + 1e-6f);
  EXPECT_EQ(at(115.0f).state.camera_height, at(30.0f).state.camera_height);
}

TEST(Script, LongFrameOverTheBurstDelaysTheClimb) {
  // Steady to 7.0 s, then one frame of 0.25 s that jumps over (7.0, 7.2).
  std::vector<float> times = steady_times(448);
  for (int n = 0; n <= 26 * 64; ++n) times.push_back(7.25f + static_cast<float>(n) * kStep);
  const std::vector<frame> flight = fly(times, false);
  bool climbing = false;
  float previous_distance = 0.0f;
  for (const frame& f : flight) {
    if (f.t < 24.8f) {
      ASSERT_EQ(f.state.speed, 0.001f) << f.t;
      ASSERT_LT(f.state.camera_distance, 3.0f) << f.t;
    }
    if (!climbing && f.state.camera_height > 0.0f) {
      climbing = true;
      // The first climbing frame is the first past 3, after the acceleration.
      EXPECT_GT(f.t, 24.8f);
      EXPECT_GT(f.state.camera_distance, 3.0f);
      EXPECT_LE(previous_distance, 3.0f);
      EXPECT_FLOAT_EQ(f.state.camera_height, f.dt * 0.05f);
    }
    if (!climbing) {
      EXPECT_EQ(f.state.camera_height, 0.0f) << f.t;
    }
    previous_distance = f.state.camera_distance;
  }
  EXPECT_TRUE(climbing);
  EXPECT_NEAR(flight.at(448).state.camera_distance, 0.35f + 0.25f * 0.05f, 1e-4f);
}

TEST(Script, TitlesStopTurningAtFifteenOrJustAbove) {
  // 6 degrees per second for 5 s: exactly 15 at 1/64 s steps.
  EXPECT_LT(at(4.984375f).state.title_angle, 15.0f);
  EXPECT_EQ(at(5.0f).state.title_angle, 15.0f);
  EXPECT_EQ(at(60.0f).state.title_angle, 15.0f);
  // With 0.07 s frames it overshoots by less than one step of 0.42 degrees.
  std::vector<float> times;
  for (int n = 1; n <= 120; ++n) times.push_back(static_cast<float>(n) * 0.07f);
  const std::vector<frame> flight = fly(times, false);
  const float last = flight.back().state.title_angle;
  EXPECT_GE(last, 15.0f);
  EXPECT_LT(last, 15.0f + 0.42f);
  int changes_after_reaching = 0;
  for (size_t i = 1; i < flight.size(); ++i) {
    if (flight[i - 1].state.title_angle >= 15.0f &&
        flight[i].state.title_angle != flight[i - 1].state.title_angle) {
      ++changes_after_reaching;
    }
  }
  EXPECT_EQ(changes_after_reaching, 0);
}

TEST(Script, TilesAreRecycledThirtyAheadWithQuarterTurns) {
  std::set<float> turns;
  int recycles = 0;
  const std::vector<frame>& flight = steady_flight();
  for (size_t i = 1; i < flight.size(); ++i) {
    const frame& f = flight[i];
    const frame& before = flight[i - 1];
    EXPECT_EQ(f.positions[0], 0.0f);
    EXPECT_EQ(f.rotations[0], 0.0f);
    for (int k = 1; k < 4; ++k) {
      if (f.positions[k] != before.positions[k]) {
        ASSERT_LT(f.t, 61.7f);
        EXPECT_EQ(f.positions[k], before.positions[k] + 30.0f);
        const float turn = f.rotations[k];
        EXPECT_TRUE(turn == 0.0f || turn == 90.0f || turn == 180.0f || turn == 270.0f) << turn;
        turns.insert(turn);
        if (f.t <= 30.0f) ++recycles;
      } else {
        EXPECT_EQ(f.rotations[k], before.rotations[k]);
      }
      // Until the finale every tile stays less than 10 behind the camera.
      if (f.t < 61.7f) {
        EXPECT_LT(f.state.camera_distance - f.positions[k], 10.0f) << f.t;
      }
    }
  }
  // The tiles take turns on the multiples of 10: by 30 s every multiple up
  // to distance - 10 has been passed once.
  const frame& f = at(30.0f);
  const float distance = f.state.camera_distance;
  EXPECT_GT(distance, 100.0f);
  EXPECT_EQ(recycles, static_cast<int>(std::floor(distance / 10.0f)) - 1);
  std::set<float> places(f.positions + 1, f.positions + 4);
  const float first = 10.0f * std::floor(distance / 10.0f);
  EXPECT_EQ(places, (std::set<float>{first, first + 10.0f, first + 20.0f}));
  EXPECT_GT(turns.size(), 1u);
}

TEST(Script, AberrationPulsesThenSettles) {
  int pulse_frames = 0;
  float low = 25.0f, high = 0.0f;
  for (const frame& f : steady_flight()) {
    if (f.t > 24.6f && f.t < 24.8f) {
      ++pulse_frames;
      const double expected = (std::sin(static_cast<double>(f.t) * 100.0) * 0.5 + 0.5) * 25.0;
      EXPECT_NEAR(f.state.aberration, expected, 1e-4) << f.t;
      low = std::min(low, f.state.aberration);
      high = std::max(high, f.state.aberration);
    } else {
      ASSERT_EQ(f.state.aberration, 3.0f) << f.t;
    }
  }
  EXPECT_EQ(pulse_frames, 13);  // 24.609375 to 24.796875
  EXPECT_LT(low, 2.0f);
  EXPECT_GT(high, 23.0f);
}

TEST(Script, AccelerationEasesToCruisingSpeed) {
  EXPECT_EQ(at(24.796875f).state.speed, 0.001f);
  EXPECT_GT(at(25.0f).state.speed, 0.001f);
  EXPECT_LT(at(25.0f).state.speed, 0.501f);
  EXPECT_FLOAT_EQ(at(25.5f).state.speed, 0.501f);
  EXPECT_NEAR(at(30.0f).state.camera_distance - at(26.0f).state.camera_distance, 4.0f * 25.05f,
              0.01f);
}

TEST(Script, ShipDriftsThenTakesStationAheadOfTheEye) {
  // Drifting at (-0.25, 0, 0.25) per second from (3, 0.5, -3.5), heading 135.
  const frame& drift = at(10.0f);
  EXPECT_NEAR(drift.state.ship_position.x, 0.5f, 1e-4f);
  EXPECT_EQ(drift.state.ship_position.y, 0.5f);
  EXPECT_NEAR(drift.state.ship_position.z, -1.0f, 1e-4f);
  EXPECT_EQ(drift.state.ship_heading, 135.0f);
  for (const frame& f : steady_flight()) {
    if (f.t <= 25.0f || f.t >= 61.7f) continue;
    const script_state& s = f.state;
    const vec3 e = eye(s);
    // From 6.25 behind the eye forwards at 1.5 per second, to 1.25 ahead.
    const float ahead = std::max(6.25f - 1.5f * (f.t - 25.0f), -1.25f);
    ASSERT_NEAR(s.ship_position.z - e.z, ahead, 1e-3f) << f.t;
    ASSERT_EQ(s.ship_position.y, 1.0f);
    ASSERT_EQ(s.ship_position.x, s.camera_sway);
    ASSERT_EQ(s.ship_heading, 0.0f);
    ASSERT_EQ(s.ship_velocity.z, 0.0f);
  }
  const script_state& s = at(40.0f).state;
  EXPECT_EQ(s.ship_approach, 7.5f);
  EXPECT_NEAR(s.camera_sway, std::sin(std::cos(40.0 * 0.05) + 15.0) * 0.35, 1e-6);
  EXPECT_NEAR(s.ship_position.y - eye(s).y, 1.0f - s.camera_height, 1e-6f);
  EXPECT_NEAR(s.ship_position.x - eye(s).x, 2.0f * s.camera_sway, 1e-6f);
}

TEST(Script, ShipNearTheOriginShakesTheCamera) {
  // At 13 s the ship was last moved to its place at 13 - 1/64 s.
  const double before = 13.0 - 1.0 / 64.0;
  const double x = 3.0 - 0.25 * before, z = -3.5 + 0.25 * before;
  EXPECT_NEAR(at(13.0f).state.noise_amount, jitter_for(x * x + 0.25 + z * z), 1e-7);
  EXPECT_NEAR(at(13.0f).state.noise_amount, 0.99144f * 0.005f, 1e-6f);
  EXPECT_EQ(at(5.0f).state.noise_amount, 0.0f);
  // Shake is a random share of three times the previous frame's jitter.
  float largest = 0.0f;
  const std::vector<frame>& flight = steady_flight();
  for (size_t i = 1; i < flight.size(); ++i) {
    const float limit = 3.0f * flight[i - 1].state.noise_amount;
    ASSERT_GE(flight[i].state.shake, 0.0f);
    ASSERT_LE(flight[i].state.shake, limit * (1.0f + 1e-6f)) << flight[i].t;
    if (flight[i].t >= 61.5f) {
      ASSERT_EQ(flight[i].state.shake, 0.0f);
    }
    largest = std::max(largest, flight[i].state.shake);
  }
  EXPECT_GT(largest, 0.005f);
  EXPECT_LT(largest, 0.015f);
}

TEST(Script, JitterClimbsToTwoThousandthsThenBursts) {
  for (const frame& f : steady_flight()) {
    if (f.t > 25.0f && f.t <= 50.0f) {
      ASSERT_EQ(f.state.noise_amount, 0.0f) << f.t;
    }
    if (f.t > 50.0f && f.t < 61.5f) {
      ASSERT_NEAR(f.state.noise_amount, 0.002 * (f.t - 50.0) / 11.5, 1e-8) << f.t;
    }
    if (f.t > 61.5f && f.t < 61.7f) {
      ASSERT_EQ(f.state.noise_amount, 0.1f) << f.t;
    }
    if (f.t > 61.7f) {
      ASSERT_EQ(f.state.noise_amount, 0.0f) << f.t;
    }
  }
  EXPECT_GT(at(61.484375f).state.noise_amount, 0.00199f);
  EXPECT_LT(at(61.484375f).state.noise_amount, 0.002f);
  EXPECT_GT(at(55.75f).state.noise_amount, 0.000999f);
}

TEST(Script, FinaleCruisesAndLetsTheShipGo) {
  const script_state& s = at(80.0f).state;
  EXPECT_EQ(s.speed, 0.15f);
  EXPECT_EQ(s.aberration, 3.0f);
  EXPECT_EQ(s.shake, 0.0f);
  EXPECT_NEAR(s.camera_sway, std::sin(80.0 - 65.0) * 0.15, 1e-6);
  EXPECT_EQ(s.ship_velocity.x, 0.0f);
  EXPECT_EQ(s.ship_velocity.y, 0.0f);
  EXPECT_EQ(s.ship_velocity.z, 1.0f);
  // 7.5 units per second for the camera, 0.5 for the ship.
  EXPECT_NEAR(at(115.0f).state.camera_distance - s.camera_distance, 35.0f * 7.5f, 0.01f);
  EXPECT_NEAR(at(115.0f).state.ship_position.z - s.ship_position.z, 35.0f * 0.5f, 1e-3f);
  // No tile moves once the terrain is gone.
  EXPECT_EQ(std::memcmp(at(115.0f).positions, at(62.0f).positions, sizeof(float) * 4), 0);
}

TEST(Script, FrameAtExactlyTheFinaleBoundaryTakesNeitherRule) {
  script_state s = at(61.6875f).state;
  const float dt = 61.7f - 61.6875f;
  const float z = s.ship_position.z;
  script_step(&s, 61.7f, dt, false);
  EXPECT_NEAR(s.camera_sway, std::sin(std::cos(61.7 * 0.05) + 36.7) * 0.35, 1e-5);
  EXPECT_FLOAT_EQ(s.speed, 0.501f);  // not the finale's 0.15
  EXPECT_EQ(s.noise_amount, 0.0f);   // not the burst's 0.1
  EXPECT_EQ(s.ship_velocity.z, 1.0f);
  EXPECT_FLOAT_EQ(s.ship_position.z, z + dt * 0.5f);
}

namespace {

// A one-triangle mesh for the drawn flight.
mesh_record* tiny_mesh() {
  mesh_record* m = static_cast<mesh_record*>(std::calloc(1, sizeof(mesh_record)));
  static const float positions[9] = {0.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f, 0.1f, 0.0f};
  static const float normals[9] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f};
  static const float tangents[9] = {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
  static const float coordinates[9] = {0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
  m->positions = static_cast<float*>(std::malloc(sizeof positions));
  m->normals = static_cast<float*>(std::malloc(sizeof normals));
  m->tangents = static_cast<float*>(std::malloc(sizeof tangents));
  m->texture_coordinates = static_cast<float*>(std::malloc(sizeof coordinates));
  m->indices = static_cast<unsigned*>(std::malloc(3 * sizeof(unsigned)));
  std::memcpy(m->positions, positions, sizeof positions);
  std::memcpy(m->normals, normals, sizeof normals);
  std::memcpy(m->tangents, tangents, sizeof tangents);
  std::memcpy(m->texture_coordinates, coordinates, sizeof coordinates);
  for (unsigned i = 0; i < 3; ++i) m->indices[i] = i;
  m->triangle_count = 1;
  m->vertex_count = 3;
  return m;
}

int small_texture() {
  const unsigned char texel[4] = {128, 128, 255, 255};
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, 0);
  return static_cast<int>(name);
}

void begin_drawn_frame() {
  glBindFramebuffer(GL_FRAMEBUFFER, P4E6JEEC->framebuffer);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  perspective(FIXTURE_WIDTH, FIXTURE_HEIGHT, 1.7777778f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

}  // namespace

TEST(Script, DrawnAndUndrawnFramesAdvanceAlike) {
  // Irregular frames of 30 to 70 ms over the whole film, the same each run.
  std::vector<float> times;
  float t = 0.0f;
  for (int n = 0; t < 116.0f; ++n) {
    t += 0.03f + 0.01f * static_cast<float>(n % 5);
    times.push_back(t);
  }

  // An undrawn step touches no GL state.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(1.0f, 2.0f, 3.0f);
  script_state probe;
  script_reset(&probe);
  script_step(&probe, 30.0f, 0.5f, false);
  float matrix[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
  EXPECT_EQ(matrix[12], 1.0f);
  EXPECT_EQ(matrix[13], 2.0f);
  EXPECT_EQ(matrix[14], 3.0f);
  EXPECT_EQ(gl_integer(GL_MODELVIEW_STACK_DEPTH), 1);

  // Restarting the sequence makes both runs draw the same
  // random numbers.
  script_rand_restart();
  const std::vector<frame> undrawn = fly(times, false);

  create_programs();
  terrain_normal_map = small_texture();
  spaceship_texture = small_texture();
  spaceship_normal_map = small_texture();
  for (mesh_record*& tile : terrains) tile = tiny_mesh();
  spaceship = tiny_mesh();
  orvane = tiny_mesh();
  kelthar = tiny_mesh();
  ring = tiny_mesh();
  greetings = tiny_mesh();
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  take_gl_error();
  script_rand_restart();
  const std::vector<frame> drawn = fly(times, true, begin_drawn_frame);
  // The script leaves exactly its camera translation on the matrix stack;
  // the camera is placed before the frame's sway and climb are updated.
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
  const script_state& last = drawn.back().state;
  const script_state& previous = drawn[drawn.size() - 2].state;
  EXPECT_NEAR(matrix[12], previous.camera_sway + last.shake, 1e-6f);
  EXPECT_NEAR(matrix[13], last.shake - previous.camera_height, 1e-6f);
  EXPECT_NEAR(matrix[14], last.camera_distance - 5.0f, 1e-3f);
  EXPECT_EQ(matrix[0], 1.0f);
  EXPECT_EQ(gl_integer(GL_MODELVIEW_STACK_DEPTH), 1);
  EXPECT_EQ(gl_integer(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);

  ASSERT_EQ(drawn.size(), undrawn.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    ASSERT_EQ(std::memcmp(&drawn[i].state, &undrawn[i].state, sizeof(script_state)), 0)
        << drawn[i].t;
    ASSERT_EQ(std::memcmp(drawn[i].positions, undrawn[i].positions, sizeof(float) * 4), 0);
    ASSERT_EQ(std::memcmp(drawn[i].rotations, undrawn[i].rotations, sizeof(float) * 4), 0);
  }
  // The run saw shake and recycled tiles, so rand() was exercised.
  EXPECT_GT(drawn.back().positions[1], 100.0f);
}

// The capture tool, the viewer and the web page's still reach frames through
// a stepped clock, in any order: each frame, forward, again or back, must
// find the clock and the script (rand() and the tile tables included) as the
// steady flight through every frame before it leaves them.
TEST(Script, ASteppedClockReachesEveryFrameAsTheFramesBeforeItLeaveIt) {
  const std::vector<frame>& steady = steady_flight();  // flown first: it resets the script
  stepped_clock clock;
  stepped_clock_start(&clock, 64.0);
  EXPECT_EQ(TIME, 0.0f);
  for (long k : {64L * 10, 64L * 30, 5L, 5L, 64L * 3, 64L * 100, 1L, 64L * 115}) {
    SCOPED_TRACE(k);
    stepped_clock_to(&clock, k);
    const frame& expected = steady.at(static_cast<size_t>(k - 1));
    EXPECT_EQ(TIME, expected.t);
    EXPECT_EQ(FRAME_INTERVAL, expected.dt);
    // The frame's own step, as drawing it would take it.
    script_step(&clock.script, TIME, FRAME_INTERVAL, false);
    EXPECT_EQ(std::memcmp(&clock.script, &expected.state, sizeof(script_state)), 0);
    EXPECT_EQ(std::memcmp(terrain_positions, expected.positions, sizeof(float) * 4), 0);
    EXPECT_EQ(std::memcmp(terrain_rotations, expected.rotations, sizeof(float) * 4), 0);
  }
}
