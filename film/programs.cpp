// programs.cpp: the film's ten programs, the one table that names each with
// its stages' texts (from the lit surfaces, the terrain and the passes), and
// their creation in its order.
#include "film/programs.h"

#include "film/passes.h"
#include "film/surfaces.h"
#include "film/terrain.h"

// The ten programs in the order they are created. A program without a
// vertex text runs behind the fixed-function vertex stage; the lit ones have
// their own copy of the lit vertex stage, compiled after the fragment stage.
const film_program film_programs[FILM_PROGRAM_COUNT] = {
    {"occluder_shader", nullptr, &generic_shaders[0], &occluder_shader},
    {"terrain_generator", nullptr, &terrain_shaders[0], &terrain_generator},
    {"terrain_shader", &generic_shaders[1], &terrain_shaders[1], &terrain_shader},
    {"spaceship_shader", &generic_shaders[1], &spaceship_shaders[0], &spaceship_shader},
    {"text_shader", &generic_shaders[1], &generic_shaders[2], &text_shader},
    {"post_processing", nullptr, &post_processing_shaders[0], &post_processing},
    {"atmosphere", nullptr, &post_processing_shaders[1], &atmosphere},
    {"sun_flare", nullptr, &post_processing_shaders[2], &sun_flare},
    {"depth_of_field", nullptr, &post_processing_shaders[3], &depth_of_field},
    {"radial_blur", nullptr, &post_processing_shaders[4], &radial_blur},
};

void create_programs() {
  for (const film_program& entry : film_programs) {
    if (*entry.handle != -1) continue;  // made already, while the loading bar ran
    const int fragment_shader = shader(*entry.fragment, GL_FRAGMENT_SHADER);
    const int vertex_shader = entry.vertex ? shader(*entry.vertex, GL_VERTEX_SHADER) : -1;
    *entry.handle = program(vertex_shader, -1, fragment_shader);
  }
}
