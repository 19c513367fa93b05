// program_harness.h: one way for tests to run a program of the build folder on
// a screen and drive it as a person would (POSIX with X11): run it, keep its
// lines on stderr, look at the screen, wait for the film's picture, tap a key,
// ask its window to close, see whether the pointer shows.
//
//   private_screen screen(1280, 720);
//   film_lookout film{screen.display};
//   const program_run run = run_program("demo720", build_folder(),
//       {{"DISPLAY", screen.display.c_str()}}, 300.0, [&](pid_t, double seconds) {
//         if (film.showing(seconds)) tap_key(screen.display, "Escape");
//       });
//
// The X calls are taken from the library the program's window layer loads
// (the tests link no X library of their own); screen grabs go through ffmpeg.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "process_helpers.h"

// The build folder: tests run there, next to the programs and their assets.
std::filesystem::path build_folder();

// A run of a program: what it printed, and its output lines that start with
// its name.
struct program_run : run_result {
  std::vector<std::string> lines;
};

// Runs a program of the build folder in `folder` with the environment changes,
// killing it after `limit` seconds; `watch` as for run_process.
program_run run_program(const std::string& program, const std::filesystem::path& folder,
                        const std::vector<env_change>& env, double limit,
                        const std::function<void(pid_t, double)>& watch = {});

// A 1280 x 720 screen as 8-bit grey ("gray") or RGB ("rgb24") pixels, top row
// first, cropped or scaled by the ffmpeg filter; empty unless exactly
// `expected_bytes` came back.
std::vector<unsigned char> grab_screen(const std::string& display, const std::string& filter,
                                       const char* pixel_format, size_t expected_bytes);

// Whether the loading bar shows on a 1280 x 720 screen: a key pressed now falls
// before the film begins (until it does, the last bar frame stays on screen).
// The bar (rows 358 to 361, from x 384) must be partly lit and the screen above
// it black: the bare screen's stipple, before the program's window, lights
// every row.
bool loading_bar_shows(const std::string& display);

// Whether the screen shows a picture of the film rather than black or a bar:
// its mean brightness, scaled down, is at least 8 of 255.
bool screen_shows_a_picture(const std::string& display);

// Watches a screen for the film: looks once a second until its picture shows,
// however slowly a loaded machine gets there.
struct film_lookout {
  std::string display;
  double next_look = 1.0;
  bool seen = false;
  // Whether the film has shown by `seconds` into the run.
  bool showing(double seconds);
};

// Presses or releases the key (an X key name): `action` is xdotool's
// "keydown" or "keyup"; whether xdotool did.
bool send_key(const std::string& display, const char* action, const char* key);

// One tap of the key (an X key name) of 50 ms, well inside a frame of the
// software renderer; whether both the press and the release were sent.
bool tap_key(const std::string& display, const char* key);

// Asks the process's top-level window to close, as a window manager does (a
// WM_DELETE_WINDOW client message); whether a window of it was found and asked.
bool request_close(const std::string& display, pid_t pid);

// Whether the pointer shown now on the display has a visible pixel: 1 or 0,
// or -1 when the display cannot be asked.
int pointer_visible(const std::string& display);
