// main.cpp: the film's player, called by the system's entry (main_posix.cpp or
// main_windows.cpp). Opens the full-screen window, shows the loading
// bar while the toolkit loads, creates the film's resources, plays the film
// until 115 s or Escape, shows the unloading bar and exits.
//
// FILM_WIDTH and FILM_HEIGHT are the build's window and render size: the only
// difference between demo1080 and demo720.
#include <cstdio>

#include "demo/film.h"

#ifndef FILM_WIDTH
#define FILM_WIDTH 1920
#define FILM_HEIGHT 1080
#endif

static const int width = FILM_WIDTH;
static const int height = FILM_HEIGHT;
static const char* const program_name = FILM_HEIGHT == 720 ? "demo720" : "demo1080";

int film_play() {
  if (!system_open_standard_streams()) return 1;
  if (!film_open_window(program_name, width, height, WINDOW_FULLSCREEN)) return 1;
  window_framebuffer_size(&toolkit_present_size[0], &toolkit_present_size[1]);

  run_bar_screen(P744X1EL, false);
  toolkit_gl_stage("loading");

  film_layers layers{};
  if (!film_create(&layers, program_name)) {
    window_terminate();
    return 1;
  }

  script_state script;
  script_reset(&script);
  clock_start(window_time());

  for (;;) {
    clock_tick(window_time());

    film_frame(&layers, &script);

    if (film_is_over()) break;
    window_swap();
    toolkit_gl_stage("swap");
    if (window_escape_down() || window_close_requested()) break;
  }

  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  run_bar_screen(FDC2CHR7, true);
  toolkit_gl_stage("unloading");
  window_terminate();
  return 0;
}
