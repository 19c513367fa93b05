// capture_common.cpp: what every mode of demo-capture shares: its name in
// messages, the film's start in a hidden window, the check of what it wrote
// on the standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "programs/capture/capture.h"

const char* capture_program_name = "demo-capture";

bool standard_output_written() {
  // A full device or a closed pipe shows up only at the flush, or as the
  // stream's error flag from an earlier write.
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "%s: cannot write the standard output: %s\n", capture_program_name,
               std::strerror(errno));
  return false;
}

bool start_film(const capture_options& options, film_layers* layers) {
  toolkit_window_gl = options.gl;
  const film_start_request request = {capture_program_name, options.width, options.height,
                                      WINDOW_HIDDEN, false};
  return film_start(request, layers) != 0;
}
