// main_posix.cpp: the players' entry on POSIX systems.
#include "film/film.h"
#include "programs/play/play.h"

int main(int, char**) {
  return system_run_windowed(film_play);
}
