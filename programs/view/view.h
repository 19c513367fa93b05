// view.h: demo-view, the film in a resizable window with a clock of its own
// that the keys pause, seek and step; each intermediate image of the frame,
// the GPU time of each step, stills of the image shown, and shaders read from
// a folder and rebuilt when their files change.
//
// view.cpp reads the options, keeps the clock and draws; view_shaders.cpp
// watches the shader files; view_overlay.cpp times the steps and draws the
// text over the picture. A program (or a test) runs it as
//   view_state view;
//   if (!view_open(&view, options)) return 1;
//   while (view_frame(&view)) {}
//   view_close(&view);
// and a test puts keys in the window layer's queue (window_inject_key)
// before a call of view_frame, which takes them all before it draws.
#pragma once

#include <string>
#include <vector>

#include "film/film.h"
#include "film/programs.h"

// The program's name, at the start of every line it prints.
extern const char* view_program_name;

struct view_options {
  int width = 1280;
  int height = 720;
  double fps = 60;           // the rate the clock is stepped at, as demo-capture --fps
  std::string shaders;       // the shader folder; empty: the built-in texts
  std::string folder = ".";  // the folder S saves stills into
};

// One stage file of the shader folder and what was last seen of it.
struct view_stage_file {
  int program;  // index of film_programs
  bool vertex;  // the vertex stage, else the fragment stage
  std::string path;
  std::string stamp;  // size, time and inode when last looked at; empty when missing
};

// The shader folder being watched.
struct view_shaders {
  bool watching = false;
  std::vector<view_stage_file> files;
  std::string errors[FILM_PROGRAM_COUNT];  // why each program's files failed; empty when good
  double last_rebuild_ms = 0;              // the time the last rebuild took
  int rebuilds = 0;                        // programs rebuilt from their files
};

// GPU times of the frame's steps, one GL_TIME_ELAPSED query each: the steps
// run (up to the one whose image is shown), then the copy to the window.
constexpr int VIEW_TIMED_STEPS = FILM_STEP_COUNT + 1;
struct view_timers {
  unsigned queries[VIEW_TIMED_STEPS];
  const char* running_names[VIEW_TIMED_STEPS];  // of the frame being drawn
  int running;                                  // queries begun in that frame
  const char* names[VIEW_TIMED_STEPS];          // of the last frame measured
  double ms[VIEW_TIMED_STEPS];
  int measured;  // steps of the last frame measured
};

// The smallest side the film is rendered at, as --size allows: a smaller
// window shows a 16-pixel side stretched (its half-size images must not be
// empty).
constexpr int VIEW_SMALLEST_SIDE = 16;

struct view_state {
  view_options options;
  film_layers layers{};
  stepped_clock clock{};  // the film's clock and script, at --fps
  long frame = 1;         // the frame shown (drawn at frame / fps seconds)
  double moment = 0;      // the play clock, in seconds of the film
  bool playing = true;
  bool was_playing = false;  // the previous turn played (its time since moves the clock)
  double last_wall = 0;      // window clock at the previous turn, for the play clock
  int shown = 0;             // index of film_steps whose image is on screen
  bool overlay = false;      // T
  bool help = false;         // H
  bool quit = false;
  bool failed = false;           // a fault ended the viewer (said on stderr)
  int largest_side = 8192;       // of the film's render size, by the GPU's limit
  bool film_drawn = false;       // the layers hold the image of `frame` and `shown`
  double frames_per_second = 0;  // of the window, measured
  double last_seek_ms = 0;       // the time the last stepping without drawing took
  std::string message;           // the last still saved (or not), for the overlay
  view_shaders shaders;
  view_timers timers{};
};

// Reads the command line; prints the help or an error and exits when it must.
view_options view_parse_options(int argc, char** argv);
// Opens the window and creates the film, as the players do; false with a
// line on stderr.
bool view_open(view_state* view, const view_options& options);
// One turn of the window: takes the keys waiting, looks at the shader files,
// follows a resize, moves the clock, draws what changed and presents it.
// Returns false once the viewer is to quit (Escape or the window closed), or
// when a fault ends it (`failed` is then set, with a line on stderr).
bool view_frame(view_state* view);
// Draws the shown image and the overlay into the window's back buffer (the
// part of view_frame before the swap).
void view_present(view_state* view, int width, int height);
// Acts on one key press.
void view_key(view_state* view, window_key key);
// Saves the image shown as view-SSS.mmm.png in the working folder; the name
// written (or an empty string when it could not be written, said on stderr).
std::string view_save(view_state* view);
void view_close(view_state* view);

// The image shown now: the layer that the shown step leaves.
film_image view_image(const view_state* view);

// view_shaders.cpp: writes missing files and rebuilds programs whose files
// differ from the built-in texts; one line on stderr when the folder cannot be
// used (the built-in texts then go on).
void view_shaders_start(view_shaders* shaders, const std::string& folder);
// Rebuilds each program whose files changed since the last look; true when a
// program changed (rebuilt, or failed: the picture or its log is to be redrawn).
bool view_shaders_check(view_shaders* shaders);
// Every program's log, one after another; empty while all are good.
std::string view_shaders_log(const view_shaders* shaders);

// view_overlay.cpp.
void view_timers_start(view_timers* timers);
// The step hook: ends the running query and begins the next.
void view_time_step(const char* step, void* user);
// Begins the first query of a frame (reading the previous frame's first).
void view_timers_begin(view_timers* timers);
// Ends the frame's running query.
void view_timers_end(view_timers* timers);
// Draws the overlay, the help, and any shader log over the window.
void view_draw_overlay(const view_state* view, int width, int height);
// The key bindings, as --help and H show them.
extern const char* const view_keys_text;
