// player.h: the film as the players show it, one presented frame at a time:
// the loading bar, the film from its own clock until 115 s or a stop, then
// the unloading bar. A native player calls player_frame in a loop; a browser
// calls it from its animation callback, which must never block. Both keep the
// same clock rules because both run this one function.
#pragma once

#include "film/film.h"

enum player_phase {
  PLAYER_LOADING = 0,
  PLAYER_FILM = 1,
  PLAYER_UNLOADING = 2,
  PLAYER_DONE = 3,
};

struct player_state {
  const char* program_name;  // for error lines
  player_phase phase;
  bar_screen bar;       // the loading or unloading screen in progress
  film_layers layers;   // made once, at the end of the first loading screen
  bool film_created;    // whether the layers and assets exist
  script_state script;  // the timeline, reset at the start of each showing
  bool stop_requested;  // set by player_stop: end after the frame in progress
  bool failed;          // the film's resources could not be made
};

// Begins a showing with the loading bar. The window is open and its size pair
// set. The film's resources are made the first time only; a later showing in
// the same process reuses them.
void player_start(player_state* player, const char* program_name);
// Does one frame's work at the window clock's time and says whether there is
// something to present: 1 after a bar frame or a film frame; 0 once the
// showing is over (the phase is then PLAYER_DONE; `failed` says whether the
// resources could not be made). The film frame whose clock passed the film's
// length is drawn but not presented: the unloading bar follows at once.
int player_frame(player_state* player);
// Asks the showing to end: the film frame in progress is the last one, then
// the unloading bar. During the loading bar it takes effect when the film
// would begin.
void player_stop(player_state* player);
// The native players' keys, read after each presented frame: while the film
// plays, an Escape press since the last read (however short) or the window's
// close ends the showing as player_stop does. Presses made and released
// before the film began are forgotten as it begins, but an Escape still held
// down then ends the film after its first frame; the bars run their course.
void player_read_keys(player_state* player);
