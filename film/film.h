// film.h: the film as every program uses it: the frame clock and the bars
// (clock.cpp), starting the film (startup.cpp), and the frame's steps and the
// stepped clock (frame.cpp). Shared by the players, the capture tool, the
// viewer and the browser build.
#pragma once

#include "film/script.h"
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
// A loading or unloading screen in progress: two seconds of bar, calling one
// entry of its two-entry table per frame; entries left when time is up run
// after it.
struct bar_screen {
  const loader_function* table;
  bool shrinking;
  double start;  // window-clock time the screen began
  int next;      // the table entry the next frame calls
};
// Begins a bar screen at window-clock time `now`.
void bar_screen_start(bar_screen* screen, const loader_function* table, bool shrinking, double now);
// One frame of the screen at window-clock time `now`: calls the next table
// entry and draws the bar, returning 1 (present it). Once two seconds have
// passed it calls the entries left instead, draws nothing and returns 0.
int bar_screen_frame(bar_screen* screen, double now);
// Shows a whole bar screen, presenting each frame: for programs that may block.
void run_bar_screen(const loader_function* table, bool shrinking);

// The loaders and unloaders tables the bars run (startup.cpp), two entries
// each, in this order: the toolkit's loader ST664M60, then the film's
// load_greetings_mesh; the toolkit's unloader TJOZD8F4, then vel_unloader.
extern const loader_function P744X1EL[2];
extern const loader_function FDC2CHR7[2];
// The unloader paired with load_greetings_mesh: frees the greetings model
// (unload_greetings_mesh), so that a second showing does not keep the first's.
void vel_unloader();

// The four layers of the pass chain.
struct film_layers {
  layer_record* composite_layer;       // window size
  layer_record* atmosphere_layer;      // half size
  layer_record* sun_flare_layer;       // half size
  layer_record* depth_of_field_layer;  // window size
};

// How a program starts the film (film_start).
struct film_start_request {
  const char* program_name;  // at the start of every line printed on failure
  int width, height;         // the render size, which becomes TVJAYSLH
  window_mode mode;          // full screen, hidden or resizable
  // The players make the film's resources during their loading bar: with
  // this set film_start stops once the window is open, and the player runs
  // the loaders table and film_create itself.
  bool defer_resources;
};
// The one way every program starts the film: every asset file checked (once),
// a display present, the window of the request's size opened, its GL checked
// to be able to run the film, toolkit_present_size set to the framebuffer
// obtained; then, unless deferred, the loaders table P744X1EL run and the
// film's resources made into *layers (film_create). Each stage is reported
// to the step hook: "window", the two loaders, then film_create's steps. On
// failure prints one line naming the reason, closes what it opened and
// returns 0.
int film_start(const film_start_request& request, film_layers* layers);
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
// Creates the four layers at the size pair TVJAYSLH and checks that every
// target can be drawn into. Returns 0 (with a line on stderr) if one cannot.
int film_make_layers(film_layers* layers, const char* program_name);
// Frees the four layers (free_layer) and clears the record.
void film_free_layers(film_layers* layers);
// Remakes the layers and the scene target P4E6JEEC at a new size (which
// becomes TVJAYSLH), deleting the old ones. Returns 0 as film_make_layers.
int film_resize(film_layers* layers, int width, int height, const char* program_name);
// The image a frame step leaves: a texture of the given size, bottom row
// first. Owned by the film; valid while the film's layers live.
struct film_image {
  unsigned texture;
  unsigned width, height;
};

// One step of the frame, in the order film_frame runs them. `image` names the
// image the step leaves (the capture tool's --layer NAME and a viewer's keys
// pick steps by it); the presentation copy leaves none of its own (null).
struct film_step {
  const char* name;   // as the step hook and the benchmark name it
  const char* image;  // "scene", "atmosphere", "flare", "composite", "focus", "final" or null
  void (*run)(const film_layers* layers, script_state* script);
  film_image (*leaves)(const film_layers* layers);  // null when `image` is null
};

// The frame: scene (with the script), atmosphere, flare, composite, depth of
// field, radial blur, present. Adding or removing a pass changes this table
// only.
constexpr int FILM_STEP_COUNT = 7;
extern const film_step film_steps[FILM_STEP_COUNT];

// The index of the step that leaves the image named `image`, or -1.
int film_step_for_image(const char* image);

// Draws one frame at TIME and FRAME_INTERVAL into the layers and copies the
// result onto the window: film_frame_through(layers, script, FILM_STEP_COUNT - 1).
// The script's state advances by one frame.
void film_frame(const film_layers* layers, script_state* script);
// Runs the frame's steps 0 to `last_step` (an index of film_steps), calling
// the step hook after each. The first step advances the script by one frame,
// so the steps after `last_step` may be left out without changing later frames:
// no pass reads what an earlier frame left.
void film_frame_through(const film_layers* layers, script_state* script, int last_step);

// The frame of a stepped clock that stands for `moment` seconds: frame k is
// drawn at k / fps seconds, the first at 1 / fps.
long film_frame_at(double moment, double fps);
// Frames of the whole film at fps: every k >= 1 with k / fps <= FILM_LENGTH,
// as the film loop presents every frame whose clock has not passed its length.
long film_frame_count(double fps);
// A clock stepped at a fixed rate and the script it drives: frame k stands
// for k / fps seconds. Frames may be asked for in any order, and each is the
// frame the film shows at that moment when played at that rate: the script's
// state (rand() and the tile tables included) only moves forward, so a frame
// that is not ahead of the last one drawn is reached by replaying the script
// from its start.
struct stepped_clock {
  script_state script;
  double fps;
  long drawn;  // the last frame readied for drawing; 0 at the start
};
// Starts the clock at the start of the film: the script reset, TIME at 0.
void stepped_clock_start(stepped_clock* clock, double fps);
// Readies frame `frame` (from 1) for drawing: steps the script without
// drawing through the frames after the last one drawn (after the start,
// replaying, when `frame` is not ahead of it) and before `frame`, each
// exactly as a drawn frame would step it, then sets TIME and FRAME_INTERVAL
// to frame `frame`. The caller then draws it once (film_frame or
// film_frame_through), which steps the script through it.
void stepped_clock_to(stepped_clock* clock, long frame);

// Writes an image as an 8-bit RGB PNG, top row first, values clamped to 0..1.
// Returns false if the file cannot be written completely (a full disk
// included), with errno saying why and the cut-off file removed.
bool film_write_png(const char* path, film_image image);
// Writes 8-bit RGB pixels, top row first, as a PNG; false as film_write_png.
bool write_rgb_png(const char* path, int width, int height, const unsigned char* rgb);

// When set, film_create and film_frame call hook(step, user) after each of
// their steps with the step's name (the layers, the programs, each terrain
// tile and asset; each step of film_steps), so that a measuring tool can time
// them. It changes nothing that they draw. Null (the default) removes it.
void film_set_step_hook(void (*hook)(const char* step, void* user), void* user);
// Reports a finished step: its GL errors in checking builds, then the hook.
void film_step_done(const char* step);
