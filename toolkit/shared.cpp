// shared.cpp: the toolkit's shared objects (made by the loader in
// startup.cpp, read by the targets and the passes), and the one allocation
// that ends the program when memory runs out. Kept apart from the loader so
// that the files it calls do not call back into it.
#include <cstdio>
#include <cstdlib>

#include "toolkit/toolkit.h"

int TVJAYSLH[2] = {0, 0};
GLuint MUANXLC = 0;
accumulator_record* P4E6JEEC = nullptr;
GLuint PXDKBCRM[2] = {0, 0};
GLuint HVATQD0L = 0;
GLuint FOBIMQQB[4] = {0, 0, 0, 0};

void* toolkit_allocate(size_t bytes) {
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) {
    std::fprintf(stderr, "%s: out of memory (asked for %zu bytes)\n", system_program_name(), bytes);
    std::exit(1);
  }
  return block;
}
