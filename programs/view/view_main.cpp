// view_main.cpp: demo-view's entry: the film in a window, paused, scrubbed,
// layer by layer, with live shaders (see view.h).
#include <cstdio>
#include <exception>

#include "programs/common/command.h"
#include "programs/view/view.h"

// The program, ended by main through system_end_process.
static int run(int argc, char** argv) {
  if (!command_begin(&argc, &argv, &view_program_name)) return 1;
  try {
    view_options options = view_parse_options(argc, argv);
    // Run as an installed command: the shader folder and the folder stills are
    // saved into are the user's, then the assets are read from their folder.
    if (!enter_asset_folder(view_program_name, {&options.shaders, &options.folder})) return 1;
    static view_state view;
    if (!view_open(&view, options)) return 1;
    while (view_frame(&view)) {
    }
    view_close(&view);
    return view.failed ? 1 : 0;
  } catch (const std::exception& error) {  // out of memory, or a file system error
    std::fprintf(stderr, "%s: %s\n", view_program_name, error.what());
    return 1;
  }
}

int main(int argc, char** argv) {
  return system_end_process(run(argc, argv));
}
