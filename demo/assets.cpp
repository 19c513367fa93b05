// assets.cpp: loading the film's models and textures. (Being written.)
#include "demo/assets.h"

int terrain_normal_map = -1;
int spaceship_texture = -1;
int spaceship_normal_map = -1;
mesh_record* terrains[4] = {};
mesh_record* spaceship = nullptr;
mesh_record* orvane = nullptr;
mesh_record* kelthar = nullptr;
mesh_record* ring = nullptr;
mesh_record* greetings = nullptr;

const char* const film_asset_files[8] = {
    "normal-map.tga", "spaceship.obj", "spaceship.tga", "spaceship-normal-map.tga",
    "orvane.obj",     "kelthar.obj",   "ring.obj",      "greetings.obj"};

int load_texture(const char*) { return 0; }
mesh_record* load_mesh(const char*) { return nullptr; }
// The greetings model arrives with the model loader; until then this entry
// of the loaders table does nothing.
void load_greetings_mesh() {}
