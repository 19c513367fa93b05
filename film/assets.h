// assets.h: the film's models and textures, read from the working directory.
#pragma once

#include <string>

#include "film/asset_files.h"
#include "toolkit/toolkit.h"

// The film's own loader and unloader, the second entries of its loaders and
// unloaders tables: load the greetings model, freeing any earlier one; free it.
void load_greetings_mesh();
void unload_greetings_mesh();

// Texture handles and mesh records of the film, filled at start-up.
extern int terrain_normal_map;
extern int spaceship_texture;
extern int spaceship_normal_map;
extern mesh_record* terrains[4];
extern mesh_record* spaceship;
extern mesh_record* orvane;
extern mesh_record* kelthar;
extern mesh_record* ring;
extern mesh_record* greetings;

// One file the film reads and what it becomes: a texture handle or a mesh
// record, stored in one of the globals above.
struct film_asset {
  const char* file;
  int* texture;        // for a texture: where its handle goes; else null
  mesh_record** mesh;  // for a model: where its record goes; else null
  bool by_loader;      // loaded by the loaders table (load_greetings_mesh), not film_create
};

// The eight files the film reads, in the order it checks and loads them. The
// start-up check, the loading, the benchmark's memory report and the tests
// all take the files from here.
extern const film_asset film_assets[FILM_ASSET_COUNT];

// A mipmapped texture from a TGA file; on failure a line on stderr and a
// texture without an image.
int load_texture(const char* path);
// The first mesh of a model file, or null with a line on stderr naming the
// file and the reason.
mesh_record* load_mesh(const char* path);
// Reads the asset file completely (decodes a TGA image, loads a model) and
// keeps the result for the load_texture or load_mesh of the same path that
// follows, so that a start-up check costs no second reading. Returns an empty
// text when the file can be used, otherwise the reason it cannot.
std::string check_asset(const char* path);
