// passes.h: the full-screen passes of each frame (passes.cpp), each drawing
// one program over a target.
#pragma once

#include "toolkit/toolkit.h"

// The passes' fragment stages: composite, atmosphere, sun flare, depth of
// field, radial blur.
extern const char* const post_processing_shaders[5];

// Program handles, -1 until created (create_programs makes them).
extern int post_processing;
extern int atmosphere;
extern int sun_flare;
extern int depth_of_field;
extern int radial_blur;

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
