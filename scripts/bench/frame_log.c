// frame_log.c: what a player presents, and when. Preloaded (LD_PRELOAD), it
// stands before the windowing library's glfwGetTime, which is the window
// clock the film's clock reads, and glfwSwapBuffers, which ends every
// presented frame, whichever window system the library reaches (X11 or
// Wayland). It writes one line per call to the file $FRAME_LOG: "g SECONDS"
// for each reading of the clock, "s SECONDS" when a swap returns (the
// system's real-time clock, as `date +%s.%N` reads it). A player reads the
// clock once per bar frame, then (the loading bar over) once to start the
// film's clock and once per film frame before drawing it: the film's time
// of each frame follows from the log (scripts/lib/frame-log.sh).
// With $FRAME_STEP set to a number of seconds, the clock is a stepped one
// instead: the n-th reading (from 0) is n times the step, so that each film
// frame shows the moment the capture tool's frame of that rate does (the
// script moved by the same steps), whatever time the frame takes. With
// $FRAME_STEPS as well, only that many readings are stepped; the clock then
// runs on from the last of them at the real clock's pace.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static FILE* log_file(void) {
  static FILE* file;
  static int opened;
  if (!opened) {
    opened = 1;
    const char* path = getenv("FRAME_LOG");
    if (path) file = fopen(path, "w");
    // A line at a time: what a killed player logged is kept.
    if (file) setvbuf(file, NULL, _IOLBF, 0);
  }
  return file;
}

double glfwGetTime(void) {
  static double (*real)(void);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "glfwGetTime");
  static long readings, steps;  // steps 0: every reading is stepped
  static double step, real_at_last_step;
  static int ready;
  if (!ready) {
    ready = 1;
    step = getenv("FRAME_STEP") ? atof(getenv("FRAME_STEP")) : 0.0;
    steps = getenv("FRAME_STEPS") ? atol(getenv("FRAME_STEPS")) : 0;
  }
  double seconds = 0.0;
  if (step <= 0.0) {
    seconds = real();
  } else if (steps <= 0 || readings < steps) {
    seconds = step * (double)readings++;
    real_at_last_step = real();
  } else {
    seconds = step * (double)(steps - 1) + (real() - real_at_last_step);
  }
  if (log_file()) fprintf(log_file(), "g %.6f\n", seconds);
  return seconds;
}

void glfwSwapBuffers(void* window) {
  static void (*real)(void*);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "glfwSwapBuffers");
  real(window);
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (log_file()) fprintf(log_file(), "s %lld.%09ld\n", (long long)now.tv_sec, now.tv_nsec);
}
