// film.cpp: start-up of the film's resources and the frame's road from the
// scene through the pass chain to the window.
#include "demo/film.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "demo/assets.h"
#include "demo/effects.h"

float START_TIME = 0.0f;
float TIME = 0.0f;
float FRAME_INTERVAL = 0.0f;

static float previous_time = 0.0f;

// The measuring hook and what it is given back (film_set_step_hook).
static struct {
  void (*call)(const char* step, void* user);
  void* user;
} step_hook = {nullptr, nullptr};

void film_set_step_hook(void (*hook)(const char* step, void* user), void* user) {
  step_hook.call = hook;
  step_hook.user = user;
}

static void step_done(const char* step) {
  toolkit_gl_stage(step);  // in checking builds, reports the GL errors the step raised
  if (step_hook.call) step_hook.call(step, step_hook.user);
}

void clock_start(double now) {
  START_TIME = static_cast<float>(now);
  previous_time = 0.0f;
}

void clock_tick(double now) {
  TIME = static_cast<float>(now - START_TIME);
  FRAME_INTERVAL = TIME - previous_time;
  previous_time = TIME;
}

void draw_bar(int width, int height, float elapsed, bool shrinking) {
  const float x0 = static_cast<float>((width - 512) >> 1);
  const float y0 = static_cast<float>((height - 4) >> 1);
  orthographic(static_cast<unsigned>(width), static_cast<unsigned>(height));
  glClear(GL_COLOR_BUFFER_BIT);
  // A 1-pixel white outline, a 1-pixel black gap, then the bar itself.
  glColor3ub(255, 255, 255);
  glRectf(x0 - 2, y0 - 2, x0 + 514, y0 + 6);
  glColor3ub(0, 0, 0);
  glRectf(x0 - 1, y0 - 1, x0 + 513, y0 + 5);
  glColor3ub(255, 255, 255);
  const float length = shrinking ? 512.0f - elapsed * 256.0f : elapsed * 256.0f;
  glRectf(x0, y0, x0 + length, y0 + 4);
}

void bar_screen_start(bar_screen* screen, const loader_function* table, bool shrinking,
                      double now) {
  screen->table = table;
  screen->shrinking = shrinking;
  screen->start = now;
  screen->next = 0;
}

int bar_screen_frame(bar_screen* screen, double now) {
  const float elapsed = static_cast<float>(now - screen->start);
  if (!(elapsed < 2.0f)) {
    // A loader slower than the bar must not leave the film without its data.
    while (screen->next <= 1) screen->table[screen->next++]();
    return 0;
  }
  if (screen->next <= 1) screen->table[screen->next++]();
  // Centred in the framebuffer actually obtained, which on a screen without
  // the build's mode differs from the render size.
  const int width = toolkit_present_size[0] > 0 ? toolkit_present_size[0] : TVJAYSLH[0];
  const int height = toolkit_present_size[1] > 0 ? toolkit_present_size[1] : TVJAYSLH[1];
  draw_bar(width, height, elapsed, screen->shrinking);
  return 1;
}

void run_bar_screen(const loader_function* table, bool shrinking) {
  bar_screen screen;
  bar_screen_start(&screen, table, shrinking, window_time());
  while (bar_screen_frame(&screen, window_time())) window_swap();
}

// Why the asset file cannot be read, or null when its first byte can be. Its
// type is checked before it is opened: a FIFO or a device in place of an
// asset would otherwise wait forever.
static const char* asset_problem(const char* path) {
  system_file_status status{};
  bool missing = false;
  if (const char* problem = system_stat_file(path, &status, &missing))
    return missing ? "no such file (run the film from its build folder)" : problem;
  if (status.type == SYSTEM_FILE_FOLDER) return "it is a folder, not a file";
  if (status.type != SYSTEM_FILE_REGULAR) return "it is not a regular file";
  if (status.size == 0) return "the file is empty";
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return std::strerror(errno);
  const int got = std::fgetc(file);
  const char* problem = nullptr;
  if (got == EOF) problem = std::ferror(file) ? std::strerror(errno) : "the file is empty";
  std::fclose(file);
  return problem;
}

int film_open_window(const char* program_name, int width, int height, window_mode mode) {
  TVJAYSLH[0] = width;
  TVJAYSLH[1] = height;
  if (!film_check_assets(program_name)) return 0;
  if (!window_init()) return 0;
  if (!window_open(width, height, 32, mode)) {
    window_terminate();
    return 0;
  }
  if (const char* missing = toolkit_missing_capability()) {
    std::fprintf(stderr, "%s: this OpenGL cannot run the film: %s\n", program_name, missing);
    window_terminate();
    return 0;
  }
  return 1;
}

int film_check_assets(const char* program_name) {
  for (const film_asset& asset : film_assets) {
    const char* path = asset.file;
    errno = 0;
    if (const char* problem = asset_problem(path)) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", program_name, path, problem);
      return 0;
    }
  }
  // Every file whole: a corrupt image or model is refused here, before any
  // window opens, rather than played as black or flat.
  for (const film_asset& asset : film_assets) {
    const char* path = asset.file;
    const std::string reason = check_asset(path);
    if (!reason.empty()) {
      std::fprintf(stderr, "%s: cannot use %s: %s\n", program_name, path, reason.c_str());
      return 0;
    }
  }
  return 1;
}

// Not static, so that the copy is not optimised away.
film_layers film_kept_layers{};

static int loaded(const char* program_name, const char* path, const void* record) {
  if (record) return 1;
  std::fprintf(stderr, "%s: cannot use %s: it did not load\n", program_name, path);
  return 0;
}

int film_make_layers(film_layers* layers, const char* program_name) {
  const unsigned width = static_cast<unsigned>(TVJAYSLH[0]);
  const unsigned height = static_cast<unsigned>(TVJAYSLH[1]);
  layers->composite_layer = layer(width, height);
  layers->atmosphere_layer = layer(width >> 1, height >> 1);
  layers->sun_flare_layer = layer(width >> 1, height >> 1);
  layers->depth_of_field_layer = layer(width, height);
  // Like every resource of the film the layers live until the process ends;
  // this copy keeps them reachable to the end, where leak checkers look.
  film_kept_layers = *layers;
  // A driver that could not make a target says so only here; drawing into it
  // would fail silently or crash inside the driver.
  const GLuint targets[6] = {P4E6JEEC->framebuffer,
                             HVATQD0L,
                             layers->composite_layer->framebuffer,
                             layers->atmosphere_layer->framebuffer,
                             layers->sun_flare_layer->framebuffer,
                             layers->depth_of_field_layer->framebuffer};
  for (GLuint target : targets) {
    if (const char* problem = target_problem(target)) {
      std::fprintf(stderr, "%s: cannot create the %ux%u render targets: %s\n", program_name, width,
                   height, problem);
      return 0;
    }
  }
  return 1;
}

static void delete_layer(layer_record* target) {
  glDeleteTextures(1, &target->texture);
  glDeleteFramebuffers(1, &target->framebuffer);
  std::free(target);
}

int film_resize(film_layers* layers, int width, int height, const char* program_name) {
  delete_layer(layers->composite_layer);
  delete_layer(layers->atmosphere_layer);
  delete_layer(layers->sun_flare_layer);
  delete_layer(layers->depth_of_field_layer);
  glDeleteTextures(1, &P4E6JEEC->color_texture);
  glDeleteTextures(1, &P4E6JEEC->depth_texture);
  glDeleteFramebuffers(1, &P4E6JEEC->framebuffer);
  std::free(P4E6JEEC);
  TVJAYSLH[0] = width;
  TVJAYSLH[1] = height;
  P4E6JEEC = accumulator(static_cast<unsigned>(width), static_cast<unsigned>(height));
  return film_make_layers(layers, program_name);
}

int film_create(film_layers* layers, const char* program_name) {
  if (!film_make_layers(layers, program_name)) return 0;
  step_done("layers");

  create_programs();
  step_done("programs");

  static const char* const tile_names[4] = {"terrain tile 1", "terrain tile 2", "terrain tile 3",
                                            "terrain tile 4"};
  terrains[0] = mesh(terrain_generator, 256, 256);
  step_done(tile_names[0]);
  for (int i = 1; i < 4; ++i) {
    set_terrain_seed(0.0f, static_cast<float>(i));
    terrains[i] = mesh(terrain_generator, 256, 256);
    step_done(tile_names[i]);
  }

  for (const film_asset& asset : film_assets) {
    if (asset.by_loader) continue;
    if (asset.texture)
      *asset.texture = load_texture(asset.file);
    else
      *asset.mesh = load_mesh(asset.file);
    step_done(asset.file);
  }
  // A model that did not load has said why; the film cannot go on without it.
  // Those of the loaders table are named first.
  for (int by_loader = 1; by_loader >= 0; --by_loader)
    for (const film_asset& asset : film_assets)
      if (asset.mesh && asset.by_loader == (by_loader == 1) &&
          !loaded(program_name, asset.file, *asset.mesh))
        return 0;

  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  return 1;
}

// ---------------------------------------------------------------------------
// The frame's steps.

static void draw_scene(const film_layers*, script_state* script) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glBindFramebuffer(GL_FRAMEBUFFER, P4E6JEEC->framebuffer);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  perspective(TVJAYSLH[0], TVJAYSLH[1], 1.7777778f);
  script_step(script, TIME, FRAME_INTERVAL, true);
}

static void run_atmosphere(const film_layers* layers, script_state*) {
  generate_atmosphere(layers->atmosphere_layer);
}

static void run_flare(const film_layers* layers, script_state*) {
  generate_sun_flare(layers->atmosphere_layer, layers->sun_flare_layer);
}

static void run_composite(const film_layers* layers, script_state* script) {
  post_process(layers->atmosphere_layer, layers->sun_flare_layer, layers->composite_layer,
               script->noise_amount);
}

static void run_depth_of_field(const film_layers* layers, script_state* script) {
  apply_depth_of_field(layers->composite_layer, P4E6JEEC, layers->depth_of_field_layer, 12.0f,
                       16.0f, 135.0f, script->aberration);
}

static void run_radial_blur(const film_layers* layers, script_state* script) {
  apply_radial_blur(layers->depth_of_field_layer, layers->composite_layer, script->speed);
}

static void present(const film_layers* layers, script_state*) {
  blit_to_back_buffer(layers->composite_layer);
}

static film_image image_of(const layer_record* layer) {
  return {layer->texture, layer->width, layer->height};
}

static film_image scene_image(const film_layers*) {
  return {P4E6JEEC->color_texture, P4E6JEEC->width, P4E6JEEC->height};
}

static film_image atmosphere_image(const film_layers* layers) {
  return image_of(layers->atmosphere_layer);
}

static film_image flare_image(const film_layers* layers) {
  return image_of(layers->sun_flare_layer);
}

static film_image composite_image(const film_layers* layers) {
  return image_of(layers->composite_layer);
}

static film_image focus_image(const film_layers* layers) {
  return image_of(layers->depth_of_field_layer);
}

const film_step film_steps[FILM_STEP_COUNT] = {
    {"scene", "scene", draw_scene, scene_image},
    {"atmosphere", "atmosphere", run_atmosphere, atmosphere_image},
    {"flare", "flare", run_flare, flare_image},
    {"composite", "composite", run_composite, composite_image},
    {"depth of field", "focus", run_depth_of_field, focus_image},
    {"radial blur", "final", run_radial_blur, composite_image},
    {"present", nullptr, present, nullptr},
};

int film_step_for_image(const char* image) {
  for (int i = 0; i < FILM_STEP_COUNT; ++i)
    if (film_steps[i].image && std::strcmp(film_steps[i].image, image) == 0) return i;
  return -1;
}

void film_frame_through(const film_layers* layers, script_state* script, int last_step) {
  for (int i = 0; i <= last_step && i < FILM_STEP_COUNT; ++i) {
    film_steps[i].run(layers, script);
    step_done(film_steps[i].name);
  }
}

void film_frame(const film_layers* layers, script_state* script) {
  film_frame_through(layers, script, FILM_STEP_COUNT - 1);
}

// ---------------------------------------------------------------------------
// A clock stepped at a fixed rate.

long film_frame_at(double moment, double fps) {
  const long frame = std::lround(moment * fps);
  return frame < 1 ? 1 : frame;
}

long film_frame_count(double fps) {
  return static_cast<long>(std::floor(FILM_LENGTH * fps + 1e-6));
}

void film_step_to(script_state* script, long from, long to, double fps) {
  for (long frame = from + 1; frame < to; ++frame) {
    clock_tick(static_cast<double>(frame) / fps);
    script_step(script, TIME, FRAME_INTERVAL, false);
  }
  clock_tick(static_cast<double>(to) / fps);
}

long film_seek(script_state* script, double moment, double fps) {
  script_reset(script);
  clock_start(0.0);
  const long frame = film_frame_at(moment, fps);
  film_step_to(script, 0, frame, fps);
  return frame;
}
