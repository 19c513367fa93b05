// main.cpp: the film's entry. Opens the full-screen window, shows the loading
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

// One loading or unloading screen: two seconds of a bar, running one entry of
// the table per frame. The bar grows (loading) or shrinks (unloading) at 256
// pixels per second. Entries not yet run when the two seconds are up run
// afterwards, so the film never starts with a loader skipped.
static void bar_screen(const loader_function* table, bool shrinking) {
  const float x0 = static_cast<float>((width - 512) >> 1);
  const float y0 = static_cast<float>((height - 4) >> 1);
  const double start = window_time();
  int next = 0;
  for (;;) {
    const float elapsed = static_cast<float>(window_time() - start);
    if (!(elapsed < 2.0f)) break;
    if (next <= 1) table[next++]();
    orthographic(width, height);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3ub(255, 255, 255);
    glRectf(x0 - 2, y0 - 2, x0 + 514, y0 + 6);
    glColor3ub(0, 0, 0);
    glRectf(x0 - 1, y0 - 1, x0 + 513, y0 + 5);
    glColor3ub(255, 255, 255);
    const float length = shrinking ? 512.0f - elapsed * 256.0f : elapsed * 256.0f;
    glRectf(x0, y0, x0 + length, y0 + 4);
    window_swap();
  }
  while (next <= 1) table[next++]();
}

int main(int, char**) {
  TVJAYSLH[0] = width;
  TVJAYSLH[1] = height;

  if (!film_check_assets(program_name)) return 1;
  if (!window_init()) return 1;
  if (!window_open(width, height, 32, WINDOW_FULLSCREEN)) {
    window_terminate();
    return 1;
  }
  if (const char* missing = toolkit_missing_capability()) {
    std::fprintf(stderr, "%s: this OpenGL cannot run the film: %s\n", program_name, missing);
    window_terminate();
    return 1;
  }
  window_framebuffer_size(&toolkit_present_size[0], &toolkit_present_size[1]);

  bar_screen(P744X1EL, false);

  film_layers layers{};
  if (!film_create(&layers, program_name)) {
    window_terminate();
    return 1;
  }

  script_state script;
  script_reset(&script);
  START_TIME = static_cast<float>(window_time());
  float previous_time = 0.0f;

  for (;;) {
    TIME = static_cast<float>(window_time() - START_TIME);
    FRAME_INTERVAL = TIME - previous_time;
    previous_time = TIME;

    film_frame(&layers, &script);

    if (TIME > 115.0f) break;
    window_swap();
    if (window_escape_down() || window_close_requested()) break;
  }

  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  bar_screen(FDC2CHR7, true);
  window_terminate();
  return 0;
}
