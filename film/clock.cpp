// clock.cpp: the film's frame clock and the loading and unloading bars.
#include "film/film.h"

float START_TIME = 0.0f;
float TIME = 0.0f;
float FRAME_INTERVAL = 0.0f;

static float previous_time = 0.0f;

void clock_start(double now) {
  START_TIME = static_cast<float>(now);
  previous_time = 0.0f;
}

void clock_tick(double now) {
  TIME = static_cast<float>(now - START_TIME);
  FRAME_INTERVAL = TIME - previous_time;
  previous_time = TIME;
}

void draw_bar(int width, int height, float elapsed, bool shrinking) {
  const float x0 = static_cast<float>((width - 512) >> 1);
  const float y0 = static_cast<float>((height - 4) >> 1);
  orthographic(static_cast<unsigned>(width), static_cast<unsigned>(height));
  glClear(GL_COLOR_BUFFER_BIT);
  // A 1-pixel white outline, a 1-pixel black gap, then the bar itself.
  glColor3ub(255, 255, 255);
  glRectf(x0 - 2, y0 - 2, x0 + 514, y0 + 6);
  glColor3ub(0, 0, 0);
  glRectf(x0 - 1, y0 - 1, x0 + 513, y0 + 5);
  glColor3ub(255, 255, 255);
  const float length = shrinking ? 512.0f - elapsed * 256.0f : elapsed * 256.0f;
  glRectf(x0, y0, x0 + length, y0 + 4);
}

void bar_screen_start(bar_screen* screen, const loader_function* table, bool shrinking,
                      double now) {
  screen->table = table;
  screen->shrinking = shrinking;
  screen->start = now;
  screen->next = 0;
}

int bar_screen_frame(bar_screen* screen, double now) {
  float elapsed = static_cast<float>(now - screen->start);
  if (!(elapsed < 2.0f)) {
    // A loader slower than the bar must not leave the film without its data.
    while (screen->next <= 1) screen->table[screen->next++]();
    // Nor may programs still compiling in the background: the bar stays full
    // until every one is complete.
    if (!programs_pending()) return 0;
    elapsed = 2.0f;
  } else {
    if (screen->next <= 1) screen->table[screen->next++]();
    programs_pending();
  }
  // Centred in the framebuffer actually obtained, which on a screen without
  // the build's mode differs from the render size.
  const int width = toolkit_present_size[0] > 0 ? toolkit_present_size[0] : TVJAYSLH[0];
  const int height = toolkit_present_size[1] > 0 ? toolkit_present_size[1] : TVJAYSLH[1];
  draw_bar(width, height, elapsed, screen->shrinking);
  return 1;
}

void run_bar_screen(const loader_function* table, bool shrinking) {
  bar_screen screen;
  bar_screen_start(&screen, table, shrinking, window_time());
  while (bar_screen_frame(&screen, window_time())) window_swap();
}
