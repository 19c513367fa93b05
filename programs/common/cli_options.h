// cli_options.h: the command-line options that demo-capture and demo-view
// share, registered the same way in both (CLI11). The checks themselves are in
// options.h, which needs no CLI11.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

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

// One row of a program's table of which of its modes read an option: bit m of
// `modes` is set when mode m reads `option` (as given, "--at").
struct option_readers {
  const char* option;
  unsigned modes;
};

// The first option given that `mode` does not read, said as "--at is for
// stills; it cannot be combined with --png", or, in mode 0 (the one chosen by
// no option), "--ffmpeg is for --video; it cannot be used without it"; empty
// when the mode reads every option given. `mode_names` names each mode as the
// user chooses it ("--png"; mode 0 by what it makes: "stills"). An option of
// the program with no row in `table` is read by no mode, so that one left out
// of the table is refused everywhere rather than dropped.
inline std::string unread_option(const CLI::App& app, const std::vector<option_readers>& table,
                                 const std::vector<const char*>& mode_names, int mode) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0) continue;
    const std::string name = option->get_name();
    unsigned modes = 0;
    for (const option_readers& row : table)
      if (name == row.option) modes = row.modes;
    if (modes & (1u << mode)) continue;
    std::string readers;
    int count = 0;
    for (size_t m = 0; m < mode_names.size(); ++m)
      if (modes & (1u << m)) readers += std::string(count++ ? " and " : "") + mode_names[m];
    if (count == 0) return name + " is read by no mode";
    return name + " is for " + readers + "; it cannot be " +
           (mode == 0 ? std::string("used without ") + (count == 1 ? "it" : "one of them")
                      : std::string("combined with ") + mode_names[mode]);
  }
  return "";
}
