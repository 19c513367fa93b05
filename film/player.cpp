// player.cpp: the phases of a showing, stepped one presented frame per call.
#include "film/player.h"

void player_start(player_state* player, const char* program_name) {
  player->program_name = program_name;
  player->phase = PLAYER_LOADING;
  player->stop_requested = false;
  player->failed = false;
  bar_screen_start(&player->bar, P744X1EL, false, window_time());
}

void player_stop(player_state* player) {
  player->stop_requested = true;
}

static void begin_unloading(player_state* player) {
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  player->phase = PLAYER_UNLOADING;
  bar_screen_start(&player->bar, FDC2CHR7, true, window_time());
}

// The loading screen is over: make the film's resources, start its clock.
static bool begin_film(player_state* player) {
  toolkit_gl_stage("loading");
  if (!player->film_created) {
    if (!film_create(&player->layers, player->program_name)) {
      player->failed = true;
      player->phase = PLAYER_DONE;
      return false;
    }
    player->film_created = true;
  } else {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
  }
  script_reset(&player->script);
  // Keys count from here: an Escape tapped during the loading bar is not
  // the viewer asking to leave a film that has not begun; one still held
  // down is, and ends the film after its first frame.
  window_forget_keys();
  clock_start(window_time());
  player->phase = PLAYER_FILM;
  return true;
}

int player_frame(player_state* player) {
  if (player->phase == PLAYER_LOADING) {
    if (bar_screen_frame(&player->bar, window_time())) return 1;
    if (!begin_film(player)) return 0;
  }
  if (player->phase == PLAYER_FILM) {
    if (!player->stop_requested) {
      clock_tick(window_time());
      film_frame(&player->layers, &player->script);
      if (!film_is_over()) return 1;
    }
    begin_unloading(player);
  }
  if (player->phase == PLAYER_UNLOADING) {
    if (bar_screen_frame(&player->bar, window_time())) return 1;
    toolkit_gl_stage("unloading");
    player->phase = PLAYER_DONE;
  }
  return 0;
}

void player_read_keys(player_state* player) {
  if (player->phase == PLAYER_FILM && (window_escape_down() || window_close_requested()))
    player_stop(player);
}
