// view_bench.cpp: how long demo-view takes to seek and to rebuild a shader,
// at 1280 x 720 (or the size given by --size WxH). Prints the figures:
//   a seek to 110 s from the start, and a seek back from 110 s to 109 s (a
//   replay from 0): the stepping alone, and the whole turn with its frame;
//   the rebuild of a program whose file changed: compile and link alone, and
//   the whole turn with the frame drawn again.
// With --screenshot FILE it also writes the window with the overlay and the
// help on, as a PNG. Run it in the build folder under xvfb-run.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "film/options.h"
#include "programs/common/command.h"
#include "programs/view/view.h"

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The turn's time in milliseconds after the keys.
double turn(view_state* view, const std::vector<window_key>& keys) {
  for (const window_key& key : keys) window_inject_key(key.key, key.mods);
  const double start = steady_seconds();
  view_frame(view);
  glFinish();
  return 1000 * (steady_seconds() - start);
}

}  // namespace

int main(int argc, char** argv) {
  view_options options;
  std::string screenshot;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0)
      check_size(argv[i + 1], &options.width, &options.height);
    if (std::strcmp(argv[i], "--screenshot") == 0) screenshot = argv[i + 1];
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "view_bench_shaders";
  std::filesystem::remove_all(folder);
  options.shaders = folder.string();
  view_state* view = new view_state;
  if (!view_open(view, options)) return 1;
  turn(view, {{WINDOW_KEY_SPACE, 0}});
  std::printf("demo-view at %dx%d, %g fps\n", options.width, options.height, options.fps);

  const window_key to_110[] = {{WINDOW_KEY_END, 0},  {WINDOW_KEY_LEFT, 0}, {WINDOW_KEY_LEFT, 0},
                               {WINDOW_KEY_LEFT, 0}, {WINDOW_KEY_LEFT, 0}, {WINDOW_KEY_LEFT, 0}};
  std::vector<double> forward_step, forward_turn, back_step, back_turn;
  for (int run = 0; run < 3; ++run) {
    turn(view, {{WINDOW_KEY_HOME, 0}});
    forward_turn.push_back(
        turn(view, std::vector<window_key>(std::begin(to_110), std::end(to_110))));
    forward_step.push_back(view->last_seek_ms);
    back_turn.push_back(turn(view, {{WINDOW_KEY_LEFT, 0}}));
    back_step.push_back(view->last_seek_ms);
  }
  std::printf("seek 0 s -> 110 s:   stepping %7.1f ms, turn with its frame %7.1f ms\n",
              median(forward_step), median(forward_turn));
  std::printf("seek 110 s -> 109 s: stepping %7.1f ms, turn with its frame %7.1f ms\n",
              median(back_step), median(back_turn));

  for (const char* name : {"atmosphere", "depth_of_field", "terrain_shader"}) {
    const std::filesystem::path file = folder / (std::string(name) + ".frag");
    std::string text;
    {
      std::ifstream in(file);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<double> rebuild, whole;
    for (int run = 0; run < 3; ++run) {
      // A text never built before, so that no shader cache answers for the compiler.
      std::ofstream(file, std::ios::trunc)
          << text << "// edit " << run << " at " << steady_seconds() << "\n";
      whole.push_back(turn(view, {}));
      rebuild.push_back(view->shaders.last_rebuild_ms);
    }
    std::printf("rebuild %-15s compile and link %7.1f ms, turn with its frame %7.1f ms\n", name,
                median(rebuild), median(whole));
  }

  if (!screenshot.empty()) {
    // Playing from 30 s for a few frames, so that the frame rate has a value.
    turn(view, {{WINDOW_KEY_HOME, 0},
                {WINDOW_KEY_RIGHT, WINDOW_MOD_SHIFT},
                {WINDOW_KEY_RIGHT, WINDOW_MOD_SHIFT},
                {WINDOW_KEY_RIGHT, WINDOW_MOD_SHIFT},
                {WINDOW_KEY_SPACE, 0}});
    for (int frame = 0; frame < 4; ++frame) turn(view, {});
    turn(view,
         {{WINDOW_KEY_SPACE, 0}, {WINDOW_KEY_A + ('T' - 'A'), 0}, {WINDOW_KEY_A + ('H' - 'A'), 0}});
    turn(view, {});
    view_present(view, TVJAYSLH[0], TVJAYSLH[1]);
    const int w = TVJAYSLH[0], h = TVJAYSLH[1];
    std::vector<unsigned char> pixels(static_cast<size_t>(w) * h * 3), rows(pixels.size());
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    for (int y = 0; y < h; ++y)
      std::copy_n(pixels.begin() + static_cast<long>(h - 1 - y) * w * 3, w * 3,
                  rows.begin() + static_cast<long>(y) * w * 3);
    if (!write_rgb_png(screenshot.c_str(), w, h, rows.data())) return 1;
  }
  view_close(view);
  std::filesystem::remove_all(folder);
  return 0;
}
