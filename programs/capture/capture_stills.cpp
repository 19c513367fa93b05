// capture_stills.cpp: demo-capture's default mode, the final image (or an
// intermediate one, --layer) of chosen moments as PNG files. Frames between
// the moments are not drawn: the script's state is stepped alone, exactly as
// a drawn frame would step it (stepped_clock).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/capture/capture.h"

namespace {

// Stills are named after their moments, so they sort in the order of the film.
std::string still_name(double moment) {
  char name[64];
  std::snprintf(name, sizeof name, "still-%07.3f.png", moment);
  return name;
}

}  // namespace

int capture_stills(const capture_options& options) {
  std::vector<double> moments = options.moments;
  std::sort(moments.begin(), moments.end());

  catch_stop_signals();
  if (!make_folder(options.out)) return 1;
  film_layers layers{};
  if (!start_film(options, &layers)) return 1;

  const int shown = film_step_for_image(options.layer.c_str());
  stepped_clock clock;
  stepped_clock_start(&clock, options.fps);
  size_t next = 0;
  int written = 0;
  while (next < moments.size()) {
    const long frame = film_frame_at(moments[next], options.fps);
    stepped_clock_to(&clock, frame);
    // The steps after the one that leaves the chosen image are left out.
    film_frame_through(&layers, &clock.script, shown);
    const film_image image = film_steps[shown].leaves(&layers);
    // Moments that fall on the same frame share its image.
    for (; next < moments.size() && film_frame_at(moments[next], options.fps) == frame; ++next) {
      const std::string path =
          (std::filesystem::u8path(options.out) / still_name(moments[next])).u8string();
      note_file_made(path);
      if (!film_write_png(path.c_str(), image)) {
        std::fprintf(stderr, "%s%s: cannot write %s: %s\n", written ? "\n" : "",
                     capture_program_name, path.c_str(), std::strerror(errno));
        window_terminate();
        return 1;
      }
      ++written;
      std::fprintf(stderr, "\r%s: %d of %zu stills, frame %ld at %.3f s -> %s",
                   capture_program_name, written, moments.size(), frame, TIME, path.c_str());
    }
    if (const int stop_signal = stop_signal_caught()) {
      std::fprintf(stderr, "%s%s: interrupted by %s; no stills written\n", written ? "\n" : "",
                   capture_program_name, signal_name(stop_signal));
      window_terminate();
      return 128 + stop_signal;
    }
  }
  std::fprintf(stderr, "\n");
  window_terminate();
  return 0;
}
