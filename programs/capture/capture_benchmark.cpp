// capture_benchmark.cpp: demo-capture --benchmark: the time of each start-up
// step and of each step of the frame (film_steps) at a few moments, and the
// memory the film holds.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "film/assets.h"
#include "film/passes.h"
#include "film/terrain.h"
#include "programs/capture/capture.h"

namespace {

// Start-up steps timed by the window clock after glFinish.
struct startup_timer {
  std::vector<std::string> names;
  std::vector<double> ms;
  double begin = 0;  // when the window was open
  double last = 0;
};

void time_startup_step(const char* step, void* user) {
  startup_timer* timer = static_cast<startup_timer*>(user);
  glFinish();
  const double now = window_time();
  // The start-up is timed from the open window on: the asset checks and the
  // window system's own start are not the film's.
  if (std::strcmp(step, "window") == 0) {
    timer->begin = timer->last = now;
    return;
  }
  timer->names.push_back(step);
  timer->ms.push_back(1000 * (now - timer->last));
  timer->last = now;
}

// Steps of one frame (film_steps) timed by one GL_TIME_ELAPSED query each:
// the hook ends the running query and begins the next.
const int frame_steps = FILM_STEP_COUNT;
struct frame_timer {
  GLuint queries[frame_steps];
  int step;
};

void time_frame_step(const char*, void* user) {
  frame_timer* timer = static_cast<frame_timer*>(user);
  glEndQuery(GL_TIME_ELAPSED);
  ++timer->step;
  if (timer->step < frame_steps) glBeginQuery(GL_TIME_ELAPSED, timer->queries[timer->step]);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double mib(double bytes) {
  return bytes / (1024.0 * 1024.0);
}

// Bytes per texel of an internal format; other formats from their component
// sizes.
double texel_bytes(GLint format, int level) {
  switch (format) {
    case GL_LUMINANCE:
    case GL_LUMINANCE8:
    case GL_ALPHA8:
    case GL_R8:
      return 1;
    case GL_LUMINANCE_ALPHA:
    case GL_LUMINANCE8_ALPHA8:
    case GL_RG8:
      return 2;
    case GL_RGB:
    case GL_RGB8:
      return 3;
    case GL_RGBA:
    case GL_RGBA8:
      return 4;
    case GL_RGB16F:
      return 6;
    case GL_RGBA16F:
      return 8;
    default:
      break;
  }
  const GLenum sizes[] = {GL_TEXTURE_RED_SIZE,       GL_TEXTURE_GREEN_SIZE,
                          GL_TEXTURE_BLUE_SIZE,      GL_TEXTURE_ALPHA_SIZE,
                          GL_TEXTURE_LUMINANCE_SIZE, GL_TEXTURE_INTENSITY_SIZE,
                          GL_TEXTURE_DEPTH_SIZE};
  int bits = 0;
  for (GLenum size : sizes) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, size, &value);
    bits += value;
  }
  return bits / 8.0;
}

// Bytes of a loaded texture with its mipmap chain, and its level-0 shape.
double texture_bytes(GLuint texture, int* width, int* height, GLint* format, int* levels) {
  glBindTexture(GL_TEXTURE_2D, texture);
  double bytes = 0;
  *levels = 0;
  for (int level = 0; level < 32; ++level) {
    GLint w = 0, h = 0, f = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_INTERNAL_FORMAT, &f);
    if (w == 0 || h == 0) break;
    if (level == 0) {
      *width = w;
      *height = h;
      *format = f;
    }
    bytes += static_cast<double>(w) * h * texel_bytes(f, level);
    ++*levels;
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return bytes;
}

const char* format_name(GLint format) {
  switch (format) {
    case GL_LUMINANCE:
      return "LUMINANCE";
    case GL_LUMINANCE8:
      return "LUMINANCE8";
    case GL_RGB:
      return "RGB";
    case GL_RGB8:
      return "RGB8";
    case GL_RGBA:
      return "RGBA";
    case GL_RGBA8:
      return "RGBA8";
    default:
      return "other";
  }
}

}  // namespace

int run_benchmark(const capture_options& options) {
  // Start-up: the two loaders, then each step of the film's creation.
  startup_timer startup;
  film_layers layers{};
  film_set_step_hook(time_startup_step, &startup);
  const bool started = start_film(options, &layers);
  film_set_step_hook(nullptr, nullptr);
  if (!started) return 1;
  const double startup_total = 1000 * (startup.last - startup.begin);

  std::printf("demo-capture benchmark at %d x %d, clock stepped at %g frames per second\n",
              options.width, options.height, options.fps);
  std::printf("OpenGL: %s | %s | %s | through %s\n\n",
              reinterpret_cast<const char*>(glGetString(GL_VENDOR)),
              reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
              reinterpret_cast<const char*>(glGetString(GL_VERSION)), window_gl_platform());
  std::printf("Start-up (window clock after glFinish)          ms\n");
  for (size_t i = 0; i < startup.names.size(); ++i)
    std::printf("  %-40s %9.1f\n", startup.names[i].c_str(), startup.ms[i]);
  std::printf("  %-40s %9.1f\n\n", "total", startup_total);

  // Frames at chosen moments, stepped like stills; each moment is measured
  // over three consecutive frames (the median), the first of which may pay
  // for compiling the draw paths.
  const double moments[] = {3, 13, 30, 45, 58, 70, 100};
  const int repeats = 3;
  frame_timer timer{};
  glGenQueries(frame_steps, timer.queries);
  stepped_clock clock;
  stepped_clock_start(&clock, options.fps);
  std::vector<std::vector<double>> rows;  // per moment: the steps, their sum, the wall time
  for (double moment : moments) {
    const long first = std::max(film_frame_at(moment, options.fps), clock.drawn + 1);
    std::vector<std::vector<double>> samples(frame_steps + 2);
    for (int r = 0; r < repeats; ++r) {
      stepped_clock_to(&clock, first + r);
      glFinish();
      const double begin = window_time();
      timer.step = 0;
      film_set_step_hook(time_frame_step, &timer);
      glBeginQuery(GL_TIME_ELAPSED, timer.queries[0]);
      film_frame(&layers, &clock.script);
      film_set_step_hook(nullptr, nullptr);
      glFinish();
      const double wall = 1000 * (window_time() - begin);
      double sum = 0;
      for (int i = 0; i < frame_steps; ++i) {
        GLuint64 nanoseconds = 0;
        glGetQueryObjectui64v(timer.queries[i], GL_QUERY_RESULT, &nanoseconds);
        samples[i].push_back(nanoseconds * 1e-6);
        sum += nanoseconds * 1e-6;
      }
      samples[frame_steps].push_back(sum);
      samples[frame_steps + 1].push_back(wall);
    }
    std::vector<double> row;
    for (const std::vector<double>& s : samples) row.push_back(median(s));
    rows.push_back(row);
  }
  glDeleteQueries(frame_steps, timer.queries);

  std::printf(
      "Frame steps (GL_TIME_ELAPSED queries, ms; median of %d frames from each moment;\n"
      "'whole frame' is the window clock around the frame with glFinish)\n",
      repeats);
  std::printf("%8s", "moment");
  for (const film_step& step : film_steps)
    std::printf(" %*s", std::max(8, int(std::strlen(step.name))), step.name);
  std::printf(" %10s %12s\n", "steps sum", "whole frame");
  for (size_t m = 0; m < rows.size(); ++m) {
    std::printf("%6g s", moments[m]);
    for (int i = 0; i < frame_steps; ++i)
      std::printf(" %*.1f", std::max(8, int(std::strlen(film_steps[i].name))), rows[m][i]);
    std::printf(" %10.1f %12.1f\n", rows[m][frame_steps], rows[m][frame_steps + 1]);
  }

  // Memory: the process's peak, then what the film's objects hold, computed
  // from their sizes.
  std::printf("\nPeak resident memory (%s): %.1f MiB\n", system_peak_memory_source(),
              mib(static_cast<double>(system_peak_memory_bytes())));
  std::printf("GPU memory held by the film, from the objects' sizes:\n");
  double gpu_total = 0;
  auto gpu_line = [&](const std::string& what, double bytes) {
    std::printf("  %-58s %8.2f MiB\n", what.c_str(), mib(bytes));
    gpu_total += bytes;
  };
  const film_layers& l = layers;
  const layer_record* const named_layers[] = {l.composite_layer, l.atmosphere_layer,
                                              l.sun_flare_layer, l.depth_of_field_layer};
  const char* const layer_names[] = {"composite_layer", "atmosphere_layer", "sun_flare_layer",
                                     "depth_of_field_layer"};
  for (int i = 0; i < 4; ++i) {
    char what[96];
    std::snprintf(what, sizeof what, "%s %u x %u RGBA16F (8 B/pixel)", layer_names[i],
                  named_layers[i]->width, named_layers[i]->height);
    gpu_line(what, 8.0 * named_layers[i]->width * named_layers[i]->height);
  }
  {
    char what[96];
    std::snprintf(what, sizeof what, "scene target %u x %u RGBA16F + 24-bit depth (8 + 4 B)",
                  P4E6JEEC->width, P4E6JEEC->height);
    gpu_line(what, 12.0 * P4E6JEEC->width * P4E6JEEC->height);
  }
  gpu_line("generator: 2 x 512 x 512 RGB16F (6 B/pixel)", 2 * 512.0 * 512.0 * 6);
  for (const film_asset& asset : film_assets) {
    if (!asset.texture) continue;
    int w = 0, h = 0, levels = 0;
    GLint format = 0;
    const double bytes =
        texture_bytes(static_cast<GLuint>(*asset.texture), &w, &h, &format, &levels);
    char what[96];
    std::snprintf(what, sizeof what, "%s %d x %d %s, %d mipmap levels", asset.file, w, h,
                  format_name(format), levels);
    gpu_line(what, bytes);
  }
  std::printf("  %-58s %8.2f MiB\n", "total", mib(gpu_total));

  std::printf("Meshes (client-side vertex arrays: in process memory, not on the GPU):\n");
  double mesh_total = 0;
  const auto mesh_line = [&mesh_total](const char* name, const mesh_record* mesh) {
    // Four arrays of three floats per vertex, three indices per triangle.
    const double bytes = 4.0 * 3 * 4 * mesh->vertex_count + 3.0 * 4 * mesh->triangle_count;
    mesh_total += bytes;
    char what[96];
    std::snprintf(what, sizeof what, "%s: %u vertices, %u triangles", name, mesh->vertex_count,
                  mesh->triangle_count);
    std::printf("  %-58s %8.2f MiB\n", what, mib(bytes));
  };
  const char* const tile_names[4] = {"terrain tile 1", "terrain tile 2", "terrain tile 3",
                                     "terrain tile 4"};
  for (int i = 0; i < 4; ++i) mesh_line(tile_names[i], terrains[i]);
  for (const film_asset& asset : film_assets)
    if (asset.mesh) mesh_line(asset.file, *asset.mesh);
  std::printf("  %-58s %8.2f MiB\n", "total", mib(mesh_total));
  window_terminate();
  return standard_output_written() ? 0 : 1;
}
