// main.cpp: the film's player, called by the system's entry (main_posix.cpp or
// main_windows.cpp). Opens the full-screen window and plays one showing: the
// loading bar while the toolkit loads and the film's resources are made, the
// film until 115 s or Escape, then the unloading bar.
//
// FILM_WIDTH and FILM_HEIGHT are the build's window and render size: the only
// difference between demo1080 and demo720.
#include <cstdio>

#include "film/player.h"
#include "programs/play/play.h"

#ifndef FILM_WIDTH
#define FILM_WIDTH 1920
#define FILM_HEIGHT 1080
#endif

static const int width = FILM_WIDTH;
static const int height = FILM_HEIGHT;
static const char* const program_name = FILM_HEIGHT == 720 ? "demo720" : "demo1080";

int film_play() {
  if (!system_open_standard_streams()) return 1;
  player_state player{};
  // The loaders and the film's resources are made during the loading bar.
  const film_start_request request = {program_name, width, height, WINDOW_FULLSCREEN, true};
  if (!film_start(request, &player.layers)) return 1;
  player_start(&player, program_name);
  while (player_frame(&player)) {
    window_swap();
    toolkit_gl_stage("swap");
    // Escape ends the film after the frame just shown; the bars run their course.
    player_read_keys(&player);
  }

  window_leave();
  return player.failed ? 1 : 0;
}
