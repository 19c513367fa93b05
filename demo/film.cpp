// film.cpp: start-up of the film's resources and the frame's road from the
// scene through the pass chain to the window.
#include "demo/film.h"

#include <cstdio>

#include "demo/assets.h"
#include "demo/effects.h"

float START_TIME = 0.0f;
float TIME = 0.0f;
float FRAME_INTERVAL = 0.0f;

static float previous_time = 0.0f;

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

void run_bar_screen(const loader_function* table, bool shrinking) {
  const double start = window_time();
  int next = 0;
  for (;;) {
    const float elapsed = static_cast<float>(window_time() - start);
    if (!(elapsed < 2.0f)) break;
    if (next <= 1) table[next++]();
    draw_bar(TVJAYSLH[0], TVJAYSLH[1], elapsed, shrinking);
    window_swap();
  }
  // A loader slower than the bar must not leave the film without its data.
  while (next <= 1) table[next++]();
}

int film_check_assets(const char* program_name) {
  for (const char* path : film_asset_files) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", program_name, path,
                   "missing or unreadable (run the film from its build folder)");
      return 0;
    }
    std::fclose(file);
  }
  return 1;
}

static int loaded(const char* program_name, const char* path, const void* record) {
  if (record) return 1;
  std::fprintf(stderr, "%s: cannot use %s: it did not load\n", program_name, path);
  return 0;
}

int film_create(film_layers* layers, const char* program_name) {
  const unsigned width = static_cast<unsigned>(TVJAYSLH[0]);
  const unsigned height = static_cast<unsigned>(TVJAYSLH[1]);
  layers->composite_layer = layer(width, height);
  layers->atmosphere_layer = layer(width >> 1, height >> 1);
  layers->sun_flare_layer = layer(width >> 1, height >> 1);
  layers->depth_of_field_layer = layer(width, height);

  create_programs();

  terrains[0] = mesh(terrain_generator, 256, 256);
  for (int i = 1; i < 4; ++i) {
    set_terrain_seed(0.0f, static_cast<float>(i));
    terrains[i] = mesh(terrain_generator, 256, 256);
  }

  terrain_normal_map = load_texture("normal-map.tga");
  spaceship = load_mesh("spaceship.obj");
  spaceship_texture = load_texture("spaceship.tga");
  spaceship_normal_map = load_texture("spaceship-normal-map.tga");
  orvane = load_mesh("orvane.obj");
  kelthar = load_mesh("kelthar.obj");
  ring = load_mesh("ring.obj");
  if (!loaded(program_name, "greetings.obj", greetings) ||
      !loaded(program_name, "spaceship.obj", spaceship) ||
      !loaded(program_name, "orvane.obj", orvane) ||
      !loaded(program_name, "kelthar.obj", kelthar) || !loaded(program_name, "ring.obj", ring)) {
    return 0;
  }

  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  return 1;
}

void film_frame(const film_layers* layers, script_state* script) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glBindFramebuffer(GL_FRAMEBUFFER, P4E6JEEC->framebuffer);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  perspective(TVJAYSLH[0], TVJAYSLH[1], 1.7777778f);

  script_step(script, TIME, FRAME_INTERVAL, true);

  generate_atmosphere(layers->atmosphere_layer);
  generate_sun_flare(layers->atmosphere_layer, layers->sun_flare_layer);
  post_process(layers->atmosphere_layer, layers->sun_flare_layer, layers->composite_layer,
               script->noise_amount);
  apply_depth_of_field(layers->composite_layer, P4E6JEEC, layers->depth_of_field_layer, 12.0f,
                       16.0f, 135.0f, script->aberration);

  glUseProgram(radial_blur);
  glUniform1f(glGetUniformLocation(radial_blur, "_time"), TIME);
  glUniform1f(glGetUniformLocation(radial_blur, "_speed"), script->speed * 0.25f);
  glUseProgram(0);
  transform(layers->depth_of_field_layer, layers->composite_layer, radial_blur);

  blit_to_back_buffer(layers->composite_layer);
}
