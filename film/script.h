// script.h: the film's timeline and the small vector and easing functions it
// uses. The script's state is a plain record, so a test or a tool can step it
// frame by frame without a window; drawing is optional per step.
#pragma once

struct vec3 {
  float x;
  float y;
  float z;
};

vec3 add_vec3(float ax, float ay, float az, float bx, float by, float bz);
vec3 sub_vec3(float ax, float ay, float az, float bx, float by, float bz);
vec3 scale_vec3(float x, float y, float z, float s);
float length_sq(float x, float y, float z);
float distance_to_ship(float x, float y, float z, float ship_z);
// a (1 - t) + b t; t is not clamped, so it extrapolates.
float lerp(float a, float b, float t);
// lo if x < lo, else hi if x > hi, else x (the lower bound is tested first).
float clamp(float x, float lo, float hi);
// The quintic easing curve 6u^5 - 15u^4 + 10u^3 of the clamped position u.
float smoothstep(float edge0, float edge1, float x);

// Everything the timeline keeps from one frame to the next.
struct script_state {
  float camera_distance;
  float speed;
  float camera_height;
  float camera_sway;
  float shake;
  float noise_amount;
  float title_angle;
  float aberration;
  vec3 ship_position;
  vec3 ship_velocity;
  float ship_heading;
  float ship_approach;
  float proximity;
};

// Where the terrain tiles are along the flight and how they are turned;
// moved ahead by the script as the camera passes them.
extern float terrain_positions[4];
extern float terrain_rotations[4];

// Sets the state, the tile tables and script_rand's sequence to their values
// at the start of the film.
void script_reset(script_state* state);
// The script's random numbers, 0 to 32767: the C runtime's rand() as Windows
// defines it, never seeded, on every system, so that the film's shake and
// terrain turns, and with them its pictures, are the same everywhere (other C
// runtimes have other sequences). One sequence for the whole process.
int script_rand();
// Starts script_rand's sequence again from its beginning (for tests that
// compare two flights).
void script_rand_restart();
// Runs the timeline rules for one frame at time t with frame interval dt. With
// draw false no GL call is made, but the state (rand() included) advances
// exactly as in a drawn frame.
void script_step(script_state* state, float t, float dt, bool draw);
