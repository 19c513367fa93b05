// system_web.cpp: what the toolkit needs from the browser build's system.
// Error lines go to the browser's console and, through the page, onto it.
#include <cstdint>

#include "toolkit/toolkit.h"

const char* system_program_name() {
  return "skyward";
}

// The film's jitter draws from rand() without seeding it. The browser's C
// library has a generator of its own; this is the one the Linux builds use
// (an additive feedback generator over 34 seeds made from the seed 1), so
// that the film shakes the same way in both and a still matches its native
// capture.
extern "C" int rand(void) {
  static uint32_t state[34];
  static int next = 0;
  if (next == 0) {
    int64_t value = 1;
    state[0] = 1;
    for (int i = 1; i < 31; ++i) {
      value = (16807 * value) % 2147483647;
      state[i] = static_cast<uint32_t>(value);
    }
    for (int i = 31; i < 34; ++i) state[i] = state[i - 31];
    // The first 310 results are thrown away.
    for (next = 34; next < 344; ++next)
      state[next % 34] = state[(next - 31) % 34] + state[(next - 3) % 34];
  }
  const int k = next++;
  state[k % 34] = state[(k - 31) % 34] + state[(k - 3) % 34];
  return static_cast<int>(state[k % 34] >> 1);
}

// The browser's runtime gives the program its standard streams.
int system_open_standard_streams() {
  return 1;
}
