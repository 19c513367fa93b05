// system_posix.cpp: what the toolkit needs from a POSIX system (Linux). Its
// Windows counterpart is system_windows.cpp; each build compiles one of them.
// File access, which the browser build shares, is in files_posix.cpp.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "toolkit/toolkit.h"

const char* system_program_name() {
  return program_invocation_short_name;
}

int system_open_standard_streams() {
  // Descriptors are handed out lowest first, so each closed one in turn gets
  // /dev/null. Without this, the first file or connection the program opens
  // (the X display's socket) would take the place of a closed stderr, and
  // error text would be written into it.
  for (int stream = 0; stream <= 2; ++stream) {
    if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return 0;
    if (opened != stream) {
      const int moved = dup2(opened, stream);
      close(opened);
      if (moved != stream) return 0;
    }
  }
  return 1;
}

void system_utf8_arguments(int*, char***) {}

int system_run_windowed(int (*body)()) {
  return body();
}

const char* system_missing_display() {
  return std::getenv("DISPLAY") ? nullptr
                                : "no X display (DISPLAY is not set): run it under xvfb-run";
}

unsigned long long system_peak_memory_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<unsigned long long>(usage.ru_maxrss) * 1024;  // Linux counts KiB
}

const char* system_peak_memory_source() {
  return "getrusage ru_maxrss";
}
