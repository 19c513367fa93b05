// system_posix.cpp: what the toolkit needs from a POSIX system (Linux). Its
// Windows counterpart is system_windows.cpp; each build compiles one of them.
#include <cerrno>

#include "toolkit/toolkit.h"

const char* system_program_name() {
  return program_invocation_short_name;
}

int system_run_windowed(int (*body)()) {
  return body();
}
