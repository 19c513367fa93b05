// play.h: the player, shared by the systems' entries (main_posix.cpp,
// main_windows.cpp).
#pragma once

// Plays the film full screen from the loading bar to the unloading bar (main.cpp,
// built once per window size). Returns the program's exit status: 0 after the
// film, 1 (with a line on stderr) if it cannot start.
int film_play();
