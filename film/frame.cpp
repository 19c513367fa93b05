// frame.cpp: the frame's steps, from the scene through the pass chain to the
// window, and the clock stepped at a fixed rate that the capture tool, the
// viewer and the browser's stills share.
#include <cmath>
#include <cstring>

#include "film/film.h"
#include "film/passes.h"

// The measuring hook and what it is given back (film_set_step_hook).
static struct {
  void (*call)(const char* step, void* user);
  void* user;
} step_hook = {nullptr, nullptr};

void film_set_step_hook(void (*hook)(const char* step, void* user), void* user) {
  step_hook.call = hook;
  step_hook.user = user;
}

void film_step_done(const char* step) {
  toolkit_gl_stage(step);  // in checking builds, reports the GL errors the step raised
  if (step_hook.call) step_hook.call(step, step_hook.user);
}

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
    film_step_done(film_steps[i].name);
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

void stepped_clock_start(stepped_clock* clock, double fps) {
  script_reset(&clock->script);
  clock_start(0.0);
  clock->fps = fps;
  clock->drawn = 0;
}

void stepped_clock_to(stepped_clock* clock, long frame) {
  if (frame <= clock->drawn) stepped_clock_start(clock, clock->fps);
  for (long k = clock->drawn + 1; k < frame; ++k) {
    clock_tick(static_cast<double>(k) / clock->fps);
    script_step(&clock->script, TIME, FRAME_INTERVAL, false);
  }
  clock_tick(static_cast<double>(frame) / clock->fps);
  clock->drawn = frame;
}
