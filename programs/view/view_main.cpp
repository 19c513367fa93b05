// view_main.cpp: demo-view's entry: the film in a window, paused, scrubbed,
// layer by layer, with live shaders (see view.h).
#include <cstdio>
#include <exception>

#include "programs/view/view.h"

int main(int argc, char** argv) {
  if (!system_open_standard_streams()) return 1;
  system_utf8_arguments(&argc, &argv);
  try {
    const view_options options = view_parse_options(argc, argv);
    static view_state view;
    if (!view_open(&view, options)) return 1;
    while (view_frame(&view)) {
    }
    view_close(&view);
    return 0;
  } catch (const std::exception& error) {  // out of memory, or a file system error
    std::fprintf(stderr, "%s: %s\n", view_program_name, error.what());
    return 1;
  }
}
