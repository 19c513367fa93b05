// effects.h: the film's ten programs, its lit surfaces and the full-screen
// passes of each frame. The terrain's own parts are in terrain.h.
#pragma once

#include "toolkit/toolkit.h"

// Shader source tables.
extern const char* const generic_shaders[3];
extern const char* const spaceship_shaders[1];
extern const char* const post_processing_shaders[5];

// Program handles, -1 until created.
extern int occluder_shader;
extern int spaceship_shader;
extern int text_shader;
extern int post_processing;
extern int atmosphere;
extern int sun_flare;
extern int depth_of_field;
extern int radial_blur;

// One program of the film: its name (that of its handle), its stages' texts
// (entries of the source tables above; a null vertex text means the
// fixed-function vertex stage) and the handle the passes draw with.
struct film_program {
  const char* name;
  const char* const* vertex;
  const char* const* fragment;
  int* handle;
};
constexpr int FILM_PROGRAM_COUNT = 10;
// The ten programs, in the order create_programs makes them.
extern const film_program film_programs[FILM_PROGRAM_COUNT];

// Creates the programs of film_programs not yet made, in their fixed order.
void create_programs();

// Lit surfaces.
void render_spaceship();
void render_text(const mesh_record* model);

// Full-screen passes.
void generate_atmosphere(const layer_record* target);
void generate_sun_flare(const layer_record* atmosphere_layer, const layer_record* target);
void post_process(const layer_record* atmosphere_layer, const layer_record* flare_layer,
                  const layer_record* target, float noise_amount);
void apply_depth_of_field(const layer_record* source, const accumulator_record* depth_source,
                          const layer_record* target, float focal_depth, float f_stop,
                          float focal_length, float chromatic_aberration);
// The speed blur: source drawn through `radial_blur` into target, with its
// "_speed" set to the timeline's speed x 0.25 and "_time" to TIME.
void apply_radial_blur(const layer_record* source, const layer_record* target, float speed);
