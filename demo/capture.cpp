// capture.cpp: demo-capture, the film rendered with a clock of its own.
//
// It runs the film's start-up and frame function in a hidden window, stepping
// the clock at a fixed rate instead of reading it, and writes the final image
// of chosen moments to PNG files. Frames between the chosen moments are not
// drawn: the script's state is stepped alone, exactly as a drawn frame would
// step it, so every still is the frame the film shows at that moment when
// played at that rate.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/effects.h"
#include "demo/film.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

const char* const program_name = "demo-capture";

const char* const usage_text =
    "Usage: demo-capture [options]\n"
    "Renders moments of the film to PNG files, without a visible window.\n"
    "\n"
    "  --at T1,T2,...   moments to capture, in seconds from the start of the film\n"
    "                   (0 to 115; default 3,13,30,58,70)\n"
    "  --size WxH       image size in pixels (default 1280x720)\n"
    "  --fps N          rate at which the film's clock is stepped (default 60); the\n"
    "                   script's motion depends on it, as it does on a real frame rate\n"
    "  --out DIR        folder for the images, made if missing (default: current folder)\n"
    "  --layer NAME     write an intermediate image instead of the final one: scene (the\n"
    "                   drawn objects before any pass), atmosphere, flare, composite (sky,\n"
    "                   fog and scene before depth of field) or focus (the depth-of-field\n"
    "                   result before the speed blur)\n"
    "  --help           show this text\n"
    "\n"
    "The images are named still-SSS.mmm.png after their moments, so they sort in the\n"
    "order of the film. Run it where the film's asset files are (the build folder).\n"
    "It needs an X display; without one, run it under xvfb-run.\n";

struct capture_options {
  std::vector<double> moments{3, 13, 30, 58, 70};
  int width = 1280;
  int height = 720;
  double fps = 60;
  std::string out = ".";
  std::string layer = "final";
};

[[noreturn]] void fail_usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n(see demo-capture --help)\n", program_name, message.c_str());
  std::exit(2);
}

bool parse_number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end && *end == '\0' && std::isfinite(*value);
}

std::vector<double> parse_moments(const std::string& text) {
  std::vector<double> moments;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    double moment = 0;
    if (!parse_number(item, &moment)) fail_usage("--at: '" + item + "' is not a number of seconds");
    if (moment < 0 || moment > FILM_LENGTH)
      fail_usage("--at: " + item + " s is outside the film (0 to 115 s)");
    moments.push_back(moment);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return moments;
}

capture_options parse_options(int argc, char** argv) {
  capture_options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(usage_text, stdout);
      std::exit(0);
    }
    if (option != "--at" && option != "--size" && option != "--fps" && option != "--out" &&
        option != "--layer")
      fail_usage("unknown option '" + option + "'");
    if (i + 1 >= argc) fail_usage(option + " needs a value");
    const std::string value = argv[++i];
    if (option == "--at") {
      options.moments = parse_moments(value);
    } else if (option == "--size") {
      int width = 0, height = 0;
      char extra = 0;
      if (std::sscanf(value.c_str(), "%dx%d%c", &width, &height, &extra) != 2 || width < 16 ||
          height < 16 || width > 8192 || height > 8192)
        fail_usage("--size: '" + value + "' is not WxH with sides from 16 to 8192");
      options.width = width;
      options.height = height;
    } else if (option == "--fps") {
      double fps = 0;
      if (!parse_number(value, &fps) || fps < 1 || fps > 1000)
        fail_usage("--fps: '" + value + "' is not a rate from 1 to 1000");
      options.fps = fps;
    } else if (option == "--layer") {
      if (value != "final" && value != "scene" && value != "atmosphere" && value != "flare" &&
          value != "composite" && value != "focus")
        fail_usage("--layer: '" + value +
                   "' is not one of scene, atmosphere, flare, composite, focus");
      options.layer = value;
    } else {
      options.out = value;
    }
  }
  return options;
}

// The frame whose clock reading stands for a moment: frame k is drawn at
// k / fps seconds, the first at 1 / fps.
long frame_for(double moment, double fps) {
  const long frame = std::lround(moment * fps);
  return frame < 1 ? 1 : frame;
}

// Writes a texture to a PNG, top row first, 8 bits per channel.
bool write_png(const std::string& path, GLuint texture, int width, int height) {
  std::vector<float> pixels(static_cast<size_t>(width) * height * 4);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, pixels.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        float v = pixels[(static_cast<size_t>(height - 1 - y) * width + x) * 4 + c];
        v = v < 0 ? 0 : (v > 1 ? 1 : v);
        rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<unsigned char>(v * 255.0f + 0.5f);
      }
  return stbi_write_png(path.c_str(), width, height, 3, rgb.data(), width * 3) != 0;
}

std::string still_name(double moment) {
  char name[64];
  std::snprintf(name, sizeof name, "still-%07.3f.png", moment);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  capture_options options = parse_options(argc, argv);
  std::vector<double> moments = options.moments;
  std::sort(moments.begin(), moments.end());

  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  if (error) {
    std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", program_name, options.out.c_str(),
                 error.message().c_str());
    return 1;
  }

  TVJAYSLH[0] = options.width;
  TVJAYSLH[1] = options.height;
  if (!film_check_assets(program_name)) return 1;
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "%s: no X display: run it under xvfb-run\n", program_name);
    return 1;
  }
  if (!window_init()) return 1;
  if (!window_open(options.width, options.height, 32, WINDOW_HIDDEN)) {
    window_terminate();
    return 1;
  }
  if (const char* missing = toolkit_missing_capability()) {
    std::fprintf(stderr, "%s: this OpenGL cannot run the film: %s\n", program_name, missing);
    window_terminate();
    return 1;
  }
  for (loader_function loader : P744X1EL) loader();
  film_layers layers{};
  if (!film_create(&layers, program_name)) {
    window_terminate();
    return 1;
  }

  script_state script;
  script_reset(&script);
  clock_start(0.0);
  const long last_frame = frame_for(moments.back(), options.fps);
  size_t next = 0;
  int written = 0;
  for (long frame = 1; frame <= last_frame && next < moments.size(); ++frame) {
    clock_tick(static_cast<double>(frame) / options.fps);
    if (frame != frame_for(moments[next], options.fps)) {
      script_step(&script, TIME, FRAME_INTERVAL, false);
      continue;
    }
    film_frame(&layers, &script);
    // The speed blur overwrites the composite; redo it from the same inputs.
    if (options.layer == "composite")
      post_process(layers.atmosphere_layer, layers.sun_flare_layer, layers.composite_layer,
                   script.noise_amount);
    // Moments that fall on the same frame share its image.
    for (; next < moments.size() && frame_for(moments[next], options.fps) == frame; ++next) {
      const std::string path = (std::filesystem::path(options.out) / still_name(moments[next]));
      const layer_record* shown = options.layer == "atmosphere" ? layers.atmosphere_layer
                                  : options.layer == "flare"    ? layers.sun_flare_layer
                                  : options.layer == "focus"    ? layers.depth_of_field_layer
                                                                : layers.composite_layer;
      const bool scene = options.layer == "scene";
      if (!write_png(path, scene ? P4E6JEEC->color_texture : shown->texture,
                     static_cast<int>(scene ? P4E6JEEC->width : shown->width),
                     static_cast<int>(scene ? P4E6JEEC->height : shown->height))) {
        std::fprintf(stderr, "\n%s: cannot write %s\n", program_name, path.c_str());
        window_terminate();
        return 1;
      }
      ++written;
      std::fprintf(stderr, "\r%s: %d of %zu stills, frame %ld at %.3f s -> %s", program_name,
                   written, moments.size(), frame, TIME, path.c_str());
    }
  }
  std::fprintf(stderr, "\n");
  window_terminate();
  return 0;
}
