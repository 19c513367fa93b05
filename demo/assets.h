// assets.h: the film's models and textures, read from the working directory.
#pragma once

#include <string>

#include "toolkit/toolkit.h"

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

// The eight files the film reads, in the order it checks them.
extern const char* const film_asset_files[8];

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
