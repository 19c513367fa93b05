// startup.cpp: starting the film: its asset files checked, its window or
// context opened and checked, the toolkit's loaders run and the film's
// resources (layers, programs, terrain, assets) made; and remaking the layers
// at a new size.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "film/assets.h"
#include "film/film.h"
#include "film/passes.h"
#include "film/programs.h"
#include "film/terrain.h"

// The loaders and unloaders tables pair a toolkit function with a film one, so
// they are defined here, in the layer that sees both: the toolkit's library
// then needs nothing of the film's (it links and its test runs alone), and
// the bars and film_start, which run the tables, are the film's anyway.
const loader_function P744X1EL[2] = {ST664M60, load_greetings_mesh};
const loader_function FDC2CHR7[2] = {TJOZD8F4, vel_unloader};

void vel_unloader() {
  unload_greetings_mesh();
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

// Opens the window (or context) the film is drawn in and checks that its GL
// can run the film. On failure prints one line and closes what it opened.
static int open_window(const film_start_request& request) {
  // An EGL context without a window needs no display.
  const bool needs_display = !window_gl_uses_egl(toolkit_window_gl);
  if (const char* missing = needs_display ? system_missing_display() : nullptr) {
    std::fprintf(stderr, "%s: %s\n", request.program_name, missing);
    return 0;
  }
  if (!window_init()) return 0;
  if (!window_open(request.width, request.height, 32, request.mode)) {
    window_terminate();
    return 0;
  }
  if (const char* missing = toolkit_missing_capability()) {
    std::fprintf(stderr, "%s: this OpenGL cannot run the film: %s\n", request.program_name,
                 missing);
    window_terminate();
    return 0;
  }
  return 1;
}

int film_start(const film_start_request& request, film_layers* layers) {
  TVJAYSLH[0] = request.width;
  TVJAYSLH[1] = request.height;
  if (!film_check_assets(request.program_name)) return 0;
  if (!open_window(request)) return 0;
  // The window manager may have given another size than asked for.
  window_framebuffer_size(&toolkit_present_size[0], &toolkit_present_size[1]);
  film_step_done("window");
  if (request.defer_resources) return 1;
  static const char* const loader_steps[2] = {"toolkit loader", "greetings.obj (loader)"};
  for (int i = 0; i < 2; ++i) {
    P744X1EL[i]();
    film_step_done(loader_steps[i]);
  }
  if (!film_create(layers, request.program_name)) {
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

void film_free_layers(film_layers* layers) {
  free_layer(layers->composite_layer);
  free_layer(layers->atmosphere_layer);
  free_layer(layers->sun_flare_layer);
  free_layer(layers->depth_of_field_layer);
  *layers = film_layers{};
}

int film_resize(film_layers* layers, int width, int height, const char* program_name) {
  film_free_layers(layers);
  free_accumulator(P4E6JEEC);
  TVJAYSLH[0] = width;
  TVJAYSLH[1] = height;
  P4E6JEEC = accumulator(static_cast<unsigned>(width), static_cast<unsigned>(height));
  return film_make_layers(layers, program_name);
}

int film_create(film_layers* layers, const char* program_name) {
  if (!film_make_layers(layers, program_name)) return 0;
  film_step_done("layers");

  // Every program complete (and its failure reported) before it draws.
  create_programs();
  programs_finish();
  film_step_done("programs");

  static const char* const tile_names[4] = {"terrain tile 1", "terrain tile 2", "terrain tile 3",
                                            "terrain tile 4"};
  terrains[0] = mesh(terrain_generator, 256, 256);
  film_step_done(tile_names[0]);
  for (int i = 1; i < 4; ++i) {
    set_terrain_seed(0.0f, static_cast<float>(i));
    terrains[i] = mesh(terrain_generator, 256, 256);
    film_step_done(tile_names[i]);
  }

  for (const film_asset& asset : film_assets) {
    if (asset.by_loader) continue;
    if (asset.texture)
      *asset.texture = load_texture(asset.file);
    else
      *asset.mesh = load_mesh(asset.file);
    film_step_done(asset.file);
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
