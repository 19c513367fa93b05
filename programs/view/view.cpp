// view.cpp: demo-view's options, clock, keys and drawing.
//
// The clock is stepped at a fixed rate, as in demo-capture (stepped_clock):
// frame k stands for k / fps seconds, and a frame before the last one drawn,
// or the same one drawn again, replays the script from its start. So the
// frame shown at moment t is, after any sequence of keys, the frame
// demo-capture --at t writes.
#include "programs/view/view.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>

#include "programs/common/cli_options.h"
#include "programs/common/command.h"

namespace {

const char* const usage_text =
    "Usage: demo-view [options]\n"
    "Plays the film in a resizable window, with keys to pause, seek, step and\n"
    "look at each intermediate image of the frame.\n"
    "\n"
    "  --size WxH     window size in pixels to start with (default 1280x720); the film\n"
    "                 is drawn at the window's size, also after a resize\n"
    "  --fps N        rate at which the film's clock is stepped (default 60), as with\n"
    "                 the capture tool's --fps: the frame shown at t is the one it\n"
    "                 writes with --at t at that rate\n"
    "  --shaders DIR  read the film's shaders from DIR (one file per program stage,\n"
    "                 NAME.vert and NAME.frag, written when missing) and rebuild a\n"
    "                 program when one of its files changes; a text that does not\n"
    "                 build keeps the last good program and shows the log\n"
    "  --help         show this text\n"
    "\n"
    "Keys:\n";

[[noreturn]] void fail_usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n(see %s --help)\n", view_program_name, message.c_str(),
               view_program_name);
  std::exit(2);
}

// The image names of the keys 1 to 6.
const char* const key_images[6] = {"final", "scene", "atmosphere", "flare", "composite", "focus"};

constexpr int letter_key(char letter) {
  return WINDOW_KEY_A + (letter - 'A');
}

long last_frame(const view_state* view) {
  return film_frame_count(view->options.fps);
}

void seek_to(view_state* view, double moment) {
  view->moment = std::clamp(moment, 0.0, static_cast<double>(FILM_LENGTH));
}

// Draws frame view->frame through the shown step into the layers.
void draw_film(view_state* view) {
  const double start = steady_seconds();
  stepped_clock_to(&view->clock, view->frame);
  view->last_seek_ms = 1000 * (steady_seconds() - start);
  view_timers_begin(&view->timers);
  film_set_step_hook(view_time_step, &view->timers);
  film_frame_through(&view->layers, &view->clock.script, view->shown);
  film_set_step_hook(nullptr, nullptr);
  view->film_drawn = true;
}

}  // namespace

view_options view_parse_options(int argc, char** argv) {
  view_options options;
  CLI::App app{"demo-view", "demo-view"};
  app.set_help_flag();  // the help is usage_text, printed below
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool help = false;
  std::string size;
  app.add_flag("-h,--help", help);
  add_size_and_fps_options(&app, &size, &options.width, &options.height, &options.fps);
  app.add_option("--shaders", options.shaders)
      ->check(CLI::Validator(
          [](std::string& value) { return value.empty() ? "needs a non-empty name" : ""; }, "DIR"));
  try {
    app.parse(argc, argv);
  } catch (const std::exception& error) {  // CLI::ParseError and its kin
    fail_usage(error.what());
  }
  const std::string repeated = repeated_option(app);
  if (!repeated.empty()) fail_usage(repeated);
  if (help) {
    // The name is the installed command's where the package runs it.
    const std::string help =
        command_text(usage_text, "demo-view") + view_keys_text + "\n" + asset_folder_text();
    std::fputs(help.c_str(), stdout);
    std::exit(0);
  }
  return options;
}

bool view_open(view_state* view, const view_options& options) {
  view->options = options;
  const film_start_request request = {view_program_name, options.width, options.height,
                                      WINDOW_RESIZABLE, false};
  if (!film_start(request, &view->layers)) return false;
  GLint largest_texture = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest_texture);
  view->largest_side = std::clamp(static_cast<int>(largest_texture), VIEW_SMALLEST_SIDE, 8192);
  view_shaders_start(&view->shaders, options.shaders);
  view_timers_start(&view->timers);
  view->shown = film_step_for_image("final");
  stepped_clock_start(&view->clock, options.fps);
  view->last_wall = window_time();
  return true;
}

void view_present(view_state* view, int width, int height) {
  // The shown image stretched over the window (half-size images too).
  const film_image image = view_image(view);
  layer_record source{0, image.texture, image.width, image.height};
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  blit_to_back_buffer(&source);
  view_timers_end(&view->timers);
  view_draw_overlay(view, width, height);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
}

film_image view_image(const view_state* view) {
  return film_steps[view->shown].leaves(&view->layers);
}

void view_key(view_state* view, window_key key) {
  const bool shift = (key.mods & WINDOW_MOD_SHIFT) != 0;
  const double fps = view->options.fps;
  const double shown_moment = static_cast<double>(view->frame) / fps;
  switch (key.key) {
    case WINDOW_KEY_SPACE:
      view->playing = !view->playing;
      // Resuming plays on from the frame shown.
      if (view->playing) view->moment = view->moment < shown_moment ? shown_moment : view->moment;
      break;
    case WINDOW_KEY_RIGHT:
      seek_to(view, view->moment + (shift ? 10 : 1));
      break;
    case WINDOW_KEY_LEFT:
      seek_to(view, view->moment - (shift ? 10 : 1));
      break;
    case WINDOW_KEY_PERIOD:
    case WINDOW_KEY_COMMA:
      if (view->playing) break;
      {
        const long step = key.key == WINDOW_KEY_PERIOD ? 1 : -1;
        const long frame = std::clamp(view->frame + step, 1L, last_frame(view));
        view->moment = static_cast<double>(frame) / fps;
      }
      break;
    case WINDOW_KEY_HOME:
      seek_to(view, 0);
      break;
    case WINDOW_KEY_END:
      seek_to(view, FILM_LENGTH);
      break;
    case letter_key('T'):
      view->overlay = !view->overlay;
      break;
    case letter_key('H'):
      view->help = !view->help;
      break;
    case letter_key('S'):
      view_save(view);
      break;
    case WINDOW_KEY_ESCAPE:
      view->quit = true;
      break;
    default:
      if (key.key >= WINDOW_KEY_0 && key.key <= WINDOW_KEY_0 + 6) {
        const int index = key.key == WINDOW_KEY_0 ? 0 : key.key - WINDOW_KEY_0 - 1;
        const int step = film_step_for_image(key_images[index]);
        if (step != view->shown) view->film_drawn = false;
        view->shown = step;
      }
      break;
  }
  const long frame = std::min(film_frame_at(view->moment, fps), last_frame(view));
  if (frame != view->frame) view->film_drawn = false;
  view->frame = frame;
}

std::string view_save(view_state* view) {
  // The still is of the image shown, so draw it first if a key changed it.
  if (!view->film_drawn) draw_film(view);
  char file_name[64];
  std::snprintf(file_name, sizeof file_name, "view-%07.3f.png",
                static_cast<double>(view->frame) / view->options.fps);
  const std::string path =
      (std::filesystem::u8path(view->options.folder) / file_name).lexically_normal().u8string();
  const char* const name = path.c_str();
  if (!film_write_png(name, view_image(view))) {
    const std::string reason = std::strerror(errno);
    std::fprintf(stderr, "%s: cannot write %s: %s\n", view_program_name, name, reason.c_str());
    view->message = std::string("cannot write ") + name + ": " + reason;
    return "";
  }
  std::printf("%s: saved %s\n", view_program_name, name);
  std::fflush(stdout);
  view->message = std::string("saved ") + name;
  return name;
}

bool view_frame(view_state* view) {
  const double now = window_time();
  const double elapsed = now - view->last_wall;
  view->last_wall = now;
  // The rate the film is shown at, from turns that both played (a paused
  // viewer only waits for keys).
  const bool played = view->playing && view->was_playing;
  if (played && elapsed > 0)
    view->frames_per_second =
        view->frames_per_second > 0 ? 0.9 * view->frames_per_second + 0.1 / elapsed : 1 / elapsed;

  window_key key;
  while (!view->quit && window_next_key(&key)) view_key(view, key);
  if (view->quit || window_close_requested()) return false;

  if (view_shaders_check(&view->shaders)) view->film_drawn = false;

  int width = 0, height = 0;
  window_framebuffer_size(&width, &height);
  if (width <= 0 || height <= 0) {  // minimised: nothing to draw into
    window_wait_events(0.1);
    return true;
  }
  toolkit_present_size[0] = width;
  toolkit_present_size[1] = height;
  // The film is drawn at the window's size within what its targets can be:
  // a window the user squeezes to a sliver, or stretches past the GPU's
  // largest texture, gets the nearest size that can be drawn, stretched over
  // the window.
  const int render_width = std::clamp(width, VIEW_SMALLEST_SIDE, view->largest_side);
  const int render_height = std::clamp(height, VIEW_SMALLEST_SIDE, view->largest_side);
  if (render_width != TVJAYSLH[0] || render_height != TVJAYSLH[1]) {
    if (!film_resize(&view->layers, render_width, render_height, view_program_name)) {
      view->failed = true;  // the targets are gone: nothing can be drawn any more
      return false;
    }
    view->film_drawn = false;
  }

  if (view->playing) {
    // Only the time since a turn that was already playing moves the clock.
    if (played) view->moment += elapsed;
    if (view->moment >= FILM_LENGTH) {  // the end: stay on the last frame
      view->moment = FILM_LENGTH;
      view->playing = false;
    }
    const long frame = std::min(film_frame_at(view->moment, view->options.fps), last_frame(view));
    if (frame != view->frame) view->film_drawn = false;
    view->frame = frame;
  }

  if (!view->film_drawn) draw_film(view);
  view->was_playing = view->playing;
  view_present(view, width, height);
  window_swap();
  // Paused with nothing new to draw: wait for an event instead of spinning.
  if (!view->playing && view->film_drawn) window_wait_events(0.05);
  return true;
}

void view_close(view_state* view) {
  (void)view;
  window_terminate();
}
