// surfaces.h: the film's lit surfaces: the occluder, the ship and the titles'
// letters (surfaces.cpp). The terrain's own surface is in terrain.h.
#pragma once

#include "toolkit/toolkit.h"

// Shader texts: [0] the occluder's fragment stage, [1] the lit vertex stage of
// every three-dimensional object, [2] the letters' fragment stage; the ship's
// fragment stage.
extern const char* const generic_shaders[3];
extern const char* const spaceship_shaders[1];

// Program handles, -1 until created (create_programs makes them).
extern int occluder_shader;
extern int spaceship_shader;
extern int text_shader;

// Draws the ship, scaled to the scene, textured and lit.
void render_spaceship();
// Draws a title's or the greetings' letters, lit through the terrain's normal map.
void render_text(const mesh_record* model);
