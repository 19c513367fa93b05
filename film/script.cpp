// script.cpp: the film's timeline and the vector and easing functions it uses.
//
// script_step runs the per-frame rules in their fixed order; each rule sees
// what the rules before it left. Every motion is keyed to the frame time t and
// the frame interval dt. The only other input is script_rand(), the never
// seeded rand() of Windows' C runtime on every system, so every showing on
// every system draws the same sequence. Time windows compare with
// 32-bit float constants, so a frame at exactly 61.7 s falls in neither finale
// rule.
#include "film/script.h"

#include <cmath>
#include <cstdint>

#include "film/assets.h"
#include "film/surfaces.h"
#include "film/terrain.h"

float terrain_positions[4] = {0.0f, 10.0f, 20.0f, 30.0f};
float terrain_rotations[4] = {0.0f, 0.0f, 0.0f, 0.0f};

vec3 add_vec3(float ax, float ay, float az, float bx, float by, float bz) {
  return vec3{ax + bx, ay + by, az + bz};
}

vec3 sub_vec3(float ax, float ay, float az, float bx, float by, float bz) {
  return vec3{ax - bx, ay - by, az - bz};
}

vec3 scale_vec3(float x, float y, float z, float s) {
  return vec3{x * s, y * s, z * s};
}

float length_sq(float x, float y, float z) {
  return x * x + y * y + z * z;
}

float distance_to_ship(float x, float y, float z, float ship_z) {
  const float dz = z - ship_z;
  return x * x + y * y + dz * dz;
}

float lerp(float a, float b, float t) {
  return a * (1.0f - t) + b * t;
}

float clamp(float x, float lo, float hi) {
  if (x < lo) return lo;
  if (x > hi) return hi;
  return x;
}

float smoothstep(float edge0, float edge1, float x) {
  const float u = clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return u * u * u * (u * (u * 6.0f - 15.0f) + 10.0f);
}

// A linear congruential generator modulo 2^32 that hands out bits 16 to 30;
// its state starts at 1, as an unseeded rand() does.
static uint32_t random_state = 1;

int script_rand() {
  random_state = random_state * 214013u + 2531011u;
  return static_cast<int>((random_state >> 16) & 0x7fffu);
}

void script_rand_restart() {
  random_state = 1;
}

void script_reset(script_state* state) {
  // The random numbers back to the start of their sequence, so that a
  // timeline replayed from its start (a viewer seeking back) draws the same.
  script_rand_restart();
  *state = script_state{};
  state->speed = 0.001f;
  state->title_angle = -15.0f;
  state->aberration = 3.0f;
  state->ship_position = {3.0f, 0.5f, -3.5f};
  state->ship_velocity = {-0.5f, 0.0f, 0.5f};
  const float positions[4] = {0.0f, 10.0f, 20.0f, 30.0f};
  for (int i = 0; i < 4; ++i) {
    terrain_positions[i] = positions[i];
    terrain_rotations[i] = 0.0f;
  }
}

// Draws the three nested rings: each later one is scaled and turned relative
// to the one before, so they turn against each other.
static void draw_rings(float t) {
  glRotatef(t * 75.0f, 1.0f, 1.0f, 1.0f);
  glScalef(7.0f, 7.0f, 7.0f);
  render(ring);
  glRotatef(t * 15.0f, -1.0f, 1.0f, 1.0f);
  glScalef(0.75f, 0.75f, 0.75f);
  render(ring);
  glRotatef(t * 15.0f, -1.0f, 1.0f, 1.0f);
  glScalef(0.75f, 0.75f, 0.75f);
  render(ring);
}

void script_step(script_state* s, float t, float dt, bool draw) {
  // Travel, at the speed the previous frame left.
  s->camera_distance += dt * s->speed * 50.0f;

  // The titles turn until they first reach 15 degrees.
  if (s->title_angle < 15.0f) s->title_angle += dt * 6.0f;

  // Shake, as strong as three times the previous frame's jitter. The random
  // number (0 to 32767) is drawn whether or not the frame is drawn.
  s->shake = 0.0f;
  if (t < 61.5f) {
    const float r = static_cast<float>(script_rand());
    s->shake = s->noise_amount * 3.0f * r / 32767.0f;
  }

  // The camera: one translation that every object below inherits.
  if (draw) {
    glTranslatef(s->camera_sway + s->shake, s->shake - s->camera_height, s->camera_distance - 5.0f);
  }

  // Terrain: tile 0 stays at the start; tiles 1 to 3 jump 30 ahead, with a
  // new quarter turn, once the camera is 10 past them.
  if (draw && s->camera_distance < 10.0f) render_terrain(terrains[0]);
  if (t < 61.7f) {
    for (int i = 1; i < 4; ++i) {
      if (draw) {
        glPushMatrix();
        glTranslatef(0.0f, 0.0f, -terrain_positions[i]);
        glRotatef(terrain_rotations[i], 0.0f, 1.0f, 0.0f);
        render_terrain(terrains[i]);
      }
      if (s->camera_distance - terrain_positions[i] >= 10.0f) {
        terrain_positions[i] += 30.0f;
        terrain_rotations[i] = static_cast<float>(script_rand() % 4) * 90.0f;
      }
      if (draw) glPopMatrix();
    }
  }

  // Titles.
  if (draw && t < 7.5f) {
    glPushMatrix();
    glTranslatef(0.0f, -0.35f, 2.0f);
    glRotatef(s->title_angle, 0.0f, 1.0f, 0.0f);
    render_text(orvane);
    glPopMatrix();
  }
  if (draw && t < 35.0f) {
    glPushMatrix();
    glTranslatef(0.0f, s->camera_height * 0.35f - 0.5f, -4.5f);
    glRotatef(s->title_angle, 0.0f, 1.0f, 0.0f);
    render_text(kelthar);
    glPopMatrix();
  }

  // The burst forward, and cruise with the climb once the camera is past 3.
  if (t > 7.0f && t < 7.2f) s->speed = 0.5f;
  if (s->camera_distance > 3.0f) {
    s->speed = 0.001f;
    if (s->camera_height < 1.0f) s->camera_height += dt * 0.001f * 50.0f;
  }

  // The aberration pulse, then the acceleration to cruising speed.
  if (t > 24.6f && t < 24.8f) {
    s->aberration = static_cast<float>((std::sin(t * 100.0) * 0.5 + 0.5) * 25.0);
  }
  if (t > 24.8f) s->aberration = 3.0f;
  if (t > 24.8f) s->speed = smoothstep(0.001f, 0.5f, t - 24.8f) * 0.5f + 0.001f;

  // The ship drifts past at first, then takes station ahead of the camera.
  s->ship_heading = 135.0f;
  if (t > 25.0f) {
    s->ship_approach = clamp(t - 25.0f, 0.0f, 5.0f) * 1.5f;
    s->camera_sway = static_cast<float>(std::sin(std::cos(t * 0.05) + (t - 25.0f)) * 0.35);
    if (t > 61.7f) s->camera_sway = static_cast<float>(std::sin(t - 65.0f) * 0.15);
    s->ship_position.x = s->camera_sway;
    s->ship_position.y = 1.0f;
    s->ship_velocity.x = 0.0f;
    s->ship_velocity.y = 0.0f;
    if (t < 61.7f) {
      s->ship_position.z = 11.25f - s->camera_distance - s->ship_approach;
      s->ship_velocity.z = 0.0f;
    } else {
      s->ship_velocity.z = 1.0f;
    }
    s->ship_heading = 0.0f;
  }

  // The image jitters while the ship is near the world origin.
  s->proximity = 1.0f - clamp(length_sq(s->ship_position.x, s->ship_position.y, s->ship_position.z),
                              0.0f, 1.25f) /
                            1.25f;
  s->noise_amount = smoothstep(0.25f, 0.75f, s->proximity) * 0.005f;

  if (draw && t < 61.7f) {
    glPushMatrix();
    glTranslatef(s->ship_position.x, s->ship_position.y, s->ship_position.z);
    glRotatef(s->ship_heading, 0.0f, 1.0f, 0.0f);
    glRotatef(s->camera_sway * 60.0f, 0.0f, 0.0f, 1.0f);
    render_spaceship();
    glPopMatrix();
  }

  // The rings keep 10 ahead of the camera until 50 s, then come towards it;
  // the jitter blend runs to a weight of 2, so it passes 0.001 on purpose.
  if (draw) glPushMatrix();
  if (t < 50.0f) {
    if (draw) glTranslatef(0.0f, 0.0f, -10.0f - s->camera_distance);
  } else if (t < 61.5f) {
    if (draw) glTranslatef(0.0f, 0.0f, -10.0f - s->camera_distance + (t - 50.0f) * 2.0f);
    s->noise_amount = lerp(s->noise_amount, 0.001f, (t - 50.0f) / 11.5f * 2.0f);
  }
  if (draw) {
    draw_rings(t);
    glPopMatrix();
  }

  // The ship moves at half its velocity.
  const vec3 step =
      scale_vec3(s->ship_velocity.x, s->ship_velocity.y, s->ship_velocity.z, dt * 0.5f);
  s->ship_position =
      add_vec3(s->ship_position.x, s->ship_position.y, s->ship_position.z, step.x, step.y, step.z);

  // Finale: a burst of jitter, then the greetings pass in front of the eye.
  if (t > 61.5f && t < 61.7f) {
    s->noise_amount = 0.1f;
  } else if (t > 61.7f) {
    s->speed = 0.15f;
    if (draw) {
      glPushMatrix();
      glTranslatef(2.0f - (t - 61.7f), 0.5f, 2.0f - s->camera_distance);
      glScalef(1.5f, 1.5f, 1.5f);
      render_text(greetings);
      glPopMatrix();
    }
  }
}
