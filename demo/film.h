// film.h: the film's start-up and the body of one frame, shared by the
// players (main.cpp) and the capture tool (capture.cpp).
#pragma once

#include "demo/script.h"
#include "toolkit/toolkit.h"

// The frame clock, in seconds: when the film loop began, the current frame's
// time since then, and the time since the previous frame.
extern float START_TIME;
extern float TIME;
extern float FRAME_INTERVAL;

// Length of the film in seconds: the first frame past it is not presented.
constexpr float FILM_LENGTH = 115.0f;

// Starts the frame clock: START_TIME is now (seconds of the window clock).
void clock_start(double now);
// Sets TIME and FRAME_INTERVAL for a frame drawn at window-clock time `now`.
void clock_tick(double now);
// Whether the film loop ends after drawing the frame at TIME.
inline bool film_is_over() {
  return TIME > FILM_LENGTH;
}

// Draws one frame of the loading bar (or, shrinking, of the unloading bar)
// `elapsed` seconds into its screen, centred in a window of the given size.
void draw_bar(int width, int height, float elapsed, bool shrinking);
// Shows a loading or unloading screen for two seconds, calling one entry of
// the two-entry table per frame; entries left when time is up run after it.
void run_bar_screen(const loader_function* table, bool shrinking);

// The player (main.cpp, built once per window size): plays the film full
// screen from the loading bar to the unloading bar. Returns the program's
// exit status: 0 after the film, 1 (with a line on stderr) if it cannot start.
int film_play();

// The four layers of the pass chain.
struct film_layers {
  layer_record* composite_layer;       // window size
  layer_record* atmosphere_layer;      // half size
  layer_record* sun_flare_layer;       // half size
  layer_record* depth_of_field_layer;  // window size
};

// Everything the film needs before it can load: the size pair set, every
// asset file readable, a window of the given size open and a GL able to run
// the film. On failure prints one line naming the reason, closes what it
// opened and returns 0.
int film_open_window(const char* program_name, int width, int height, window_mode mode);
// Checks that every asset file exists, is a regular file and can be used
// whole (images decoded, models loaded; what was read is kept for the load).
// On failure prints one line naming the file, prefixed by the program's name,
// and returns 0.
int film_check_assets(const char* program_name);
// Creates the layers, the ten programs, the four terrain tiles and the seven
// assets (the greetings model comes from the loaders), then enables depth
// testing and culling. Returns 0 (with a line on stderr) if an asset cannot
// be loaded.
int film_create(film_layers* layers, const char* program_name);
// Draws one frame at TIME and FRAME_INTERVAL into the layers and copies the
// result onto the window: scene, script, pass chain, presentation copy. The
// script's state advances by one frame.
void film_frame(const film_layers* layers, script_state* script);

// Null unless set: then film_create and film_frame call it after each of their
// steps with the step's name (the layers, the programs, each terrain tile and
// asset; the scene, each pass of the chain, the presentation copy), so that a
// measuring tool can time them. It changes nothing that they draw.
extern void (*film_step_hook)(const char* step);
