// script.cpp: the timeline. (Being written: only the initial state so far.)
#include "demo/script.h"

float terrain_positions[4] = {0.0f, 10.0f, 20.0f, 30.0f};
float terrain_rotations[4] = {0.0f, 0.0f, 0.0f, 0.0f};

void script_reset(script_state* state) {
  *state = script_state{};
  state->speed = 0.001f;
  state->title_angle = -15.0f;
  state->aberration = 3.0f;
  state->ship_position = {3.0f, 0.5f, -3.5f};
  state->ship_velocity = {-0.5f, 0.0f, 0.5f};
}

void script_step(script_state*, float, float, bool) {}
