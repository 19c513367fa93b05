// programs.h: the film's ten programs in one table (programs.cpp): the lit
// surfaces' (surfaces.h), the terrain's (terrain.h) and the passes' (passes.h).
#pragma once

// One program of the film: its name (that of its handle), its stages' texts
// (entries of the source tables; a null vertex text means the fixed-function
// vertex stage) and the handle the passes draw with.
struct film_program {
  const char* name;
  const char* const* vertex;
  const char* const* fragment;
  int* handle;
};
constexpr int FILM_PROGRAM_COUNT = 10;
// The ten programs, in the order create_programs makes them.
extern const film_program film_programs[FILM_PROGRAM_COUNT];

// Creates the programs of film_programs not yet made, in their fixed order.
void create_programs();
