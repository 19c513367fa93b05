// passes_bench.cpp: GPU time of each pass of the frame's chain, measured
// with timer queries, at the film's two sizes.
//
//   passes_bench [720|1080] [--frames N] [--png FILE [WIDTH HEIGHT]]
//
// Without a size it measures both. The scene is empty (cleared colour and
// depth), which is the depth of field's worst case: every pixel is open sky
// and so fully blurred. --png also writes one frame of the chain (sky only,
// at 20 s) at a small size, 320 x 180 unless given.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "film/film.h"
#include "film/passes.h"
#include "film/programs.h"

namespace {

struct chain {
  accumulator_record* scene;
  film_layers layers;
};

chain make_chain(int width, int height) {
  TVJAYSLH[0] = width;
  TVJAYSLH[1] = height;
  chain c;
  c.scene = accumulator(width, height);
  c.layers.composite_layer = layer(width, height);
  c.layers.atmosphere_layer = layer(width >> 1, height >> 1);
  c.layers.sun_flare_layer = layer(width >> 1, height >> 1);
  c.layers.depth_of_field_layer = layer(width, height);
  return c;
}

void clear_scene(const chain& c) {
  P4E6JEEC = c.scene;
  glBindFramebuffer(GL_FRAMEBUFFER, c.scene->framebuffer);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// The passes are the frame's steps after the scene and before the
// presentation copy (film_steps 1 to 5).
const int first_pass = 1;
const int pass_count = 5;
// Texture reads per pixel of each pass's own target.
const char* const pass_reads[pass_count] = {"0 (6 simplex octaves)", "128 (half size)", "4",
                                            "137 blurred, 2 sharp", "10"};

// The frame's passes, pass i timed by query i; the script's numbers are those
// of the flight at full speed.
void run_chain(const chain& c, float speed, const GLuint* queries) {
  script_state script{};
  script.noise_amount = 0.0f;
  script.aberration = 3.0f;
  script.speed = speed;
  for (int i = 0; i < pass_count; ++i) {
    if (queries) glBeginQuery(GL_TIME_ELAPSED, queries[i]);
    film_steps[first_pass + i].run(&c.layers, &script);
    if (queries) glEndQuery(GL_TIME_ELAPSED);
  }
}

void measure(int width, int height, int frames) {
  const chain c = make_chain(width, height);
  GLuint queries[pass_count];
  glGenQueries(pass_count, queries);
  std::vector<double> ms[pass_count];
  TIME = 20.0f;
  clear_scene(c);
  run_chain(c, 0.001f, nullptr);  // warm-up: first use compiles the draw paths
  glFinish();
  for (int frame = 0; frame < frames; ++frame) {
    TIME = 20.0f + frame * 0.016f;
    clear_scene(c);
    run_chain(c, 0.001f, queries);
    for (int i = 0; i < pass_count; ++i) {
      GLuint64 nanoseconds = 0;
      glGetQueryObjectui64v(queries[i], GL_QUERY_RESULT, &nanoseconds);
      ms[i].push_back(nanoseconds * 1e-6);
    }
  }
  glDeleteQueries(pass_count, queries);
  std::printf("\n%d x %d, median of %d frames (empty scene: every pixel blurred)\n", width, height,
              frames);
  std::printf("%-16s %12s   %s\n", "pass", "ms", "texture reads per pixel");
  double total = 0.0;
  for (int i = 0; i < pass_count; ++i) {
    std::sort(ms[i].begin(), ms[i].end());
    const double median = ms[i][ms[i].size() / 2];
    total += median;
    std::printf("%-16s %12.2f   %s\n", film_steps[first_pass + i].name, median, pass_reads[i]);
  }
  std::printf("%-16s %12.2f\n", "chain", total);
}

int write_png(const char* path, int width, int height) {
  const chain c = make_chain(width, height);
  TIME = 20.0f;
  clear_scene(c);
  run_chain(c, 0.001f, nullptr);
  if (!film_write_png(path, {c.layers.composite_layer->texture, c.layers.composite_layer->width,
                             c.layers.composite_layer->height})) {
    std::fprintf(stderr, "passes_bench: cannot write %s\n", path);
    return 0;
  }
  std::printf("wrote %s (%d x %d)\n", path, width, height);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool sizes[2] = {false, false};  // 720, 1080
  int frames = 5;
  const char* png = nullptr;
  int png_width = 320, png_height = 180;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "720")) {
      sizes[0] = true;
    } else if (!std::strcmp(argv[i], "1080")) {
      sizes[1] = true;
    } else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
      frames = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--png") && i + 1 < argc) {
      png = argv[++i];
      if (i + 2 < argc && std::atoi(argv[i + 1]) > 0 && std::atoi(argv[i + 2]) > 0) {
        png_width = std::atoi(argv[++i]);
        png_height = std::atoi(argv[++i]);
      }
    } else {
      std::fprintf(stderr, "passes_bench: unknown argument %s\n", argv[i]);
      return 1;
    }
  }
  if (!sizes[0] && !sizes[1] && !png) sizes[0] = sizes[1] = true;

  // The toolkit sizes its scene target from the window size pair; each
  // measurement then makes its own at the size it measures.
  TVJAYSLH[0] = 64;
  TVJAYSLH[1] = 36;
  if (!window_init() || !window_open(64, 36, 32, WINDOW_HIDDEN)) {
    std::fprintf(stderr, "passes_bench: cannot open a GL window\n");
    return 1;
  }
  ST664M60();
  create_programs();
  std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
  if (png && !write_png(png, png_width, png_height)) return 1;
  if (sizes[0]) measure(1280, 720, frames);
  if (sizes[1]) measure(1920, 1080, frames);
  window_terminate();
  return 0;
}
