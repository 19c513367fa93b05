// main_windows.cpp: the players' entry on Windows. The players are windowed
// programs (no console); their arguments are not used.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "film/film.h"
#include "programs/play/play.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return system_run_windowed(film_play);
}
