// cli_options.h: the command-line options that demo-capture and demo-view
// share, registered the same way in both (CLI11). The checks themselves are in
// options.h, which needs no CLI11.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "film/options.h"

// Adds --size (into *size, checked, setting *width and *height) and --fps
// (into *fps, checked) to a program's options, the same for every program.
inline void add_size_and_fps_options(CLI::App* app, std::string* size, int* width, int* height,
                                     double* fps) {
  app->add_option("--size", *size)
      ->check(CLI::Validator(
          [width, height](std::string& value) { return check_size(value, width, height); }, "WxH"));
  app->add_option("--fps", *fps)
      ->check(CLI::Validator(
          [](std::string& value) {
            double checked = 0;
            return check_fps(value, &checked);
          },
          "N"));
}

// The first option given more than once, said as "--at is given more than
// once"; empty when each was given at most once. A repeated option is an
// error: which of its values was meant cannot be known.
inline std::string repeated_option(const CLI::App& app) {
  for (const CLI::Option* option : app.get_options())
    if (option->count() > 1) return option->get_name() + " is given more than once";
  return "";
}
