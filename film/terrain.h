// terrain.h: the film's terrain: the generator program that writes a tile's
// heights, the program that draws a tile, and the four tiles' seeds.
#pragma once

#include "toolkit/toolkit.h"

// The terrain's fragment stages: [0] the generator's (its vertex stage is the
// fixed-function one), [1] the shading's (with generic_shaders[1]).
extern const char* const terrain_shaders[2];

// Program handles, -1 until created (create_programs makes them).
extern int terrain_generator;
extern int terrain_shader;

// Sets the generator's seed: the next tile made with mesh(terrain_generator,
// ...) is the tile at this offset of the landscape.
void set_terrain_seed(float x, float y);
// Draws one tile, lit and fogged, with the terrain program.
void render_terrain(const mesh_record* tile);
