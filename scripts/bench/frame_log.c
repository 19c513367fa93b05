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
// With $FRAME_STEP set to a number of seconds, the film's clock is a stepped
// one instead: the loading bar still runs on the real clock (its two seconds
// are the bar's own, and a screen grabbed meanwhile can see it), then each
// reading after the one that ends the bar is one step later than the one
// before, so that each film frame shows the moment the capture tool's frame
// of that rate does (the script moved by the same steps), whatever time the
// frame takes. With $FRAME_STEPS as well, only that many readings after the
// bar are stepped; the clock then runs on from the last of them at the real
// clock's pace. With $FRAME_HOLD naming a file, every reading of the bar after
// its first is one second past the first (the bar half grown) for as long as
// that file exists: a script can look at the bar for as long as it needs,
// then remove the file, and the bar ends on the real clock.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

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

// The player's bar lasts until a reading 2 s or more after its first one.
static const double bar_seconds = 2.0;

double glfwGetTime(void) {
  static double (*real)(void);
  if (!real) *(void**)&real = dlsym(RTLD_NEXT, "glfwGetTime");
  static long stepped, steps;  // steps 0: every reading after the bar is stepped
  static double step, first, last, real_at_last_step;
  static int ready, readings, bar_over;
  static const char* hold;
  if (!ready) {
    ready = 1;
    step = getenv("FRAME_STEP") ? atof(getenv("FRAME_STEP")) : 0.0;
    steps = getenv("FRAME_STEPS") ? atol(getenv("FRAME_STEPS")) : 0;
    hold = getenv("FRAME_HOLD");
  }
  double seconds = 0.0;
  if (!bar_over && readings > 0 && hold && access(hold, F_OK) == 0) {
    seconds = first + 0.5 * bar_seconds;
  } else if (step <= 0.0 || !bar_over) {
    seconds = real();
    if (readings++ == 0) first = seconds;
    if (seconds - first >= bar_seconds) bar_over = 1;
    real_at_last_step = seconds;
  } else if (steps <= 0 || stepped < steps) {
    seconds = last + step;
    stepped++;
    real_at_last_step = real();
  } else {
    double now = real();
    seconds = last + (now - real_at_last_step);
    real_at_last_step = now;
  }
  last = seconds;
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
