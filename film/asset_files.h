// asset_files.h: the names of the eight files the film reads from its working
// directory, in the order it checks and loads them. The film's asset table,
// the asset generator and the build (which reads this file for the list of
// generated files) all take the names from here.
#pragma once

enum film_asset_file {
  NORMAL_MAP_FILE,
  SPACESHIP_MODEL_FILE,
  SPACESHIP_TEXTURE_FILE,
  SPACESHIP_NORMAL_MAP_FILE,
  ORVANE_FILE,
  KELTHAR_FILE,
  RING_FILE,
  GREETINGS_FILE,
  FILM_ASSET_COUNT
};

constexpr const char* film_asset_files[FILM_ASSET_COUNT] = {
    "normal-map.tga", "spaceship.obj", "spaceship.tga", "spaceship-normal-map.tga",
    "orvane.obj",     "kelthar.obj",   "ring.obj",      "greetings.obj",
};
