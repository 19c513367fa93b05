// terrain.cpp: the terrain generator and terrain shading. (Being written.)
#include "demo/effects.h"

void set_terrain_seed(float, float) {}
void render_terrain(const mesh_record*) {}
