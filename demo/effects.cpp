// effects.cpp: the film's programs and passes. (Being written.)
#include "demo/effects.h"

int occluder_shader = -1;
int terrain_generator = -1;
int terrain_shader = -1;
int spaceship_shader = -1;
int text_shader = -1;
int post_processing = -1;
int atmosphere = -1;
int sun_flare = -1;
int depth_of_field = -1;
int radial_blur = -1;

void create_programs() {}
void render_spaceship() {}
void render_text(const mesh_record*) {}
void generate_atmosphere(const layer_record*) {}
void generate_sun_flare(const layer_record*, const layer_record*) {}
void post_process(const layer_record*, const layer_record*, const layer_record*, float) {}
void apply_depth_of_field(const layer_record*, const accumulator_record*, const layer_record*,
                          float, float, float, float) {}
