// web.cpp: the film's entry in a web browser (built with Emscripten).
//
// The page (index.html) downloads this program and the eight asset files,
// puts the files in the program's working folder, creates the WebGL context
// and starts the program with one of two argument lists:
//   --size WxH            wait for the page to call web_play, then play one
//                         showing per call, as the players do;
//   --at T --size WxH     draw only the film's frame at moment T (the script
//                         stepped at 60 frames a second without drawing) and
//                         set the page's title to "done".
// A browser must not block, so a showing runs one player_frame per animation
// frame; the browser presents what each call drew.
#include <emscripten.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "film/options.h"
#include "film/player.h"
#include "film/programs.h"

static const char* const program_name = "skyward";

static player_state player{};
static bool playing = false;
static bool first_film_frame_told = false;

// The page's part: what it shows when a showing ends or the film fails, and
// the moments it measures.
static void tell_page(const char* event, double value) {
  EM_ASM(
      {
        if (Module.onFilmEvent) Module.onFilmEvent(UTF8ToString($0), $1);
      },
      event, value);
}

// The film's resources are made in steps (the layers, the programs, each
// terrain tile and asset), which together would hold the page for seconds:
// between two of them the program gives the browser its turn (the program is
// built so that it can sleep there), so the page keeps answering. The steps
// of a frame run without a break.
static void yield_between_steps(const char*, void*) {
  if (player.phase == PLAYER_LOADING) emscripten_sleep(0);
}

// Where WebGL compiles in the background, the film's programs are started
// once the loaders have run, so that they compile while the bar moves (which
// holds, full, until they are complete) rather than at once after it; made
// once, they serve every later showing.
static void start_film_programs() {
  if (player.phase == PLAYER_LOADING && player.bar.next > 1 && gl_compiles_in_background())
    create_programs();
}

static void animation_frame() {
  if (!playing) return;
  const int going = player_frame(&player);
  start_film_programs();
  if (going) {
    if (player.phase == PLAYER_FILM && !first_film_frame_told) {
      first_film_frame_told = true;
      tell_page("first-film-frame", window_time());
    }
    if (player.phase == PLAYER_FILM) tell_page("frame", FRAME_INTERVAL);
    return;
  }
  playing = false;
  emscripten_pause_main_loop();
  tell_page(player.failed ? "failed" : "ended", 0.0);
}

// Starts a showing: the loading bar, the film, the unloading bar.
extern "C" EMSCRIPTEN_KEEPALIVE void web_play() {
  if (playing) return;
  player_start(&player, program_name);
  first_film_frame_told = false;
  playing = true;
  emscripten_resume_main_loop();
}

// Ends the showing after the frame in progress; the unloading bar follows.
extern "C" EMSCRIPTEN_KEEPALIVE void web_stop() {
  if (playing) player_stop(&player);
}

// Bytes of the program's heap in use, which the page's test compares after
// one showing and after three.
extern "C" EMSCRIPTEN_KEEPALIVE double web_heap_in_use() {
  return static_cast<double>(mallinfo().uordblks);
}

// Draws the frame the film shows at `moment` when played at 60 frames a
// second: frame k at k / 60 s, the first at 1 / 60 s.
static void draw_still(const film_layers* layers, double moment) {
  stepped_clock clock;
  stepped_clock_start(&clock, 60.0);
  stepped_clock_to(&clock, film_frame_at(moment, 60.0));
  film_frame(layers, &clock.script);
}

// The largest side the page renders (its size parameter, each side 16 to
// this): a browser's WebGL may refuse larger targets, and the film's layers
// at 4096 x 4096 already take more than half a gigabyte of half floats.
static const int largest_side = 4096;

// Reads the page's arguments: pairs of --size WxH and --at T, checked as the
// native programs check them. Returns false with a line on stderr that names
// the page's parameter (size or at).
static bool read_arguments(int argc, char** argv, int* width, int* height, double* moment) {
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = i + 1 < argc ? argv[i + 1] : "";
    std::string problem;
    if (name == "--size")
      problem = check_size(value, width, height, largest_side);
    else if (name == "--at")
      problem = check_moment(value, moment);
    else
      problem = "'" + name + "' is not an option";
    if (i + 1 >= argc && problem.empty()) problem = name + " needs a value";
    if (!problem.empty()) {
      std::string parameter = name;
      parameter.erase(0, parameter.find_first_not_of('-'));
      std::fprintf(stderr, "%s: %s %s\n", program_name, parameter.c_str(), problem.c_str());
      return false;
    }
  }
  return true;
}

int main(int argc, char** argv) {
  int width = 1280, height = 720;
  double moment = -1.0;
  if (!read_arguments(argc, argv, &width, &height, &moment)) return 1;

  // A still makes the film's resources at once; a showing makes them during
  // its loading bar, as the players do.
  const bool still = moment >= 0.0;
  film_layers layers{};
  const film_start_request request = {program_name, width, height, WINDOW_HIDDEN, !still};
  if (!film_start(request, &layers)) return 1;

  if (still) {
    draw_still(&layers, moment);
    EM_ASM({ document.title = 'done'; });
    return 0;
  }

  film_set_step_hook(yield_between_steps, nullptr);
  emscripten_set_main_loop(animation_frame, 0, 0);
  emscripten_pause_main_loop();
  tell_page("ready", 0.0);
  return 0;
}
