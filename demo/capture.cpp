// capture.cpp: demo-capture, the film rendered with a clock of its own.
//
// It runs the film's start-up and frame function in a hidden window, stepping
// the clock at a fixed rate instead of reading it. Four modes:
//   stills (default)  the final image of chosen moments, as PNG files; frames
//                     between the moments are not drawn: the script's state is
//                     stepped alone, exactly as a drawn frame would step it;
//   --video FILE      every frame of the film, encoded by an ffmpeg child
//                     process that reads raw frames on its standard input;
//   --png DIR         every frame of the film as numbered PNG files;
//   --benchmark       times of the start-up steps and of each pass of the
//                     frame at a few moments, and the memory the film holds.
// Every frame shown is the frame the film shows at that moment when played at
// that rate. The loading bars are not part of any output.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/assets.h"
#include "demo/effects.h"
#include "demo/film.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

extern char** environ;

namespace {

const char* const program_name = "demo-capture";

const char* const usage_text =
    "Usage: demo-capture [options]\n"
    "Renders the film without a visible window: stills of chosen moments (the default),\n"
    "the whole film as a video or as numbered PNG frames, or a benchmark.\n"
    "\n"
    "  --at T1,T2,...   moments to capture as stills, in seconds from the start of the film\n"
    "                   (0 to 115; default 3,13,30,58,70)\n"
    "  --video FILE     render every frame of the film (fades included, 115 s) and encode\n"
    "                   it with ffmpeg: H.264, yuv420p, crf 18; the container follows the\n"
    "                   file's extension (.mp4 if none). Needs an even width and height\n"
    "  --png DIR        render every frame of the film to DIR/frame-000001.png, ...\n"
    "  --benchmark      time the start-up steps and each pass of the frame at a few\n"
    "                   moments (GPU timer queries), and report the memory held\n"
    "  --size WxH       image size in pixels (default 1920x1080 for --video and --png,\n"
    "                   1280x720 otherwise)\n"
    "  --fps N          rate at which the film's clock is stepped (default 60); the\n"
    "                   script's motion depends on it, as it does on a real frame rate.\n"
    "                   The film has 115 x N frames, the first at 1/N s\n"
    "  --out DIR        folder for the stills, made if missing (default: current folder)\n"
    "  --layer NAME     stills of an intermediate image instead of the final one: scene\n"
    "                   (the drawn objects before any pass), atmosphere, flare, composite\n"
    "                   (sky, fog and scene before depth of field) or focus (the\n"
    "                   depth-of-field result before the speed blur)\n"
    "  --no-overlap     read each frame back before drawing the next, instead of reading\n"
    "                   it while the next is drawn (to compare capture rates)\n"
    "  --ffmpeg PATH    the ffmpeg program to run (default: ffmpeg from PATH)\n"
    "  --help           show this text\n"
    "\n"
    "Stills are named still-SSS.mmm.png after their moments, so they sort in the order\n"
    "of the film. A video is written under a temporary name in the same folder and\n"
    "renamed when ffmpeg has finished it: a failed or interrupted capture leaves no file.\n"
    "Run it where the film's asset files are (the build folder). It needs an X display;\n"
    "without one, run it under xvfb-run.\n";

enum capture_mode { MODE_STILLS, MODE_VIDEO, MODE_PNG, MODE_BENCHMARK };

struct capture_options {
  capture_mode mode = MODE_STILLS;
  std::vector<double> moments{3, 13, 30, 58, 70};
  int width = 0;  // 0 until given: the mode's default
  int height = 0;
  double fps = 60;
  std::string out = ".";
  std::string layer = "final";
  std::string target;  // the video file or the PNG folder
  std::string ffmpeg = "ffmpeg";
  bool overlap = true;
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

void set_mode(capture_options* options, capture_mode mode, const std::string& option) {
  if (options->mode != MODE_STILLS && options->mode != mode)
    fail_usage(option + " cannot be combined with another of --video, --png, --benchmark");
  options->mode = mode;
}

capture_options parse_options(int argc, char** argv) {
  capture_options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(usage_text, stdout);
      std::exit(0);
    }
    if (option == "--benchmark") {
      set_mode(&options, MODE_BENCHMARK, option);
      continue;
    }
    if (option == "--no-overlap") {
      options.overlap = false;
      continue;
    }
    if (option != "--at" && option != "--size" && option != "--fps" && option != "--out" &&
        option != "--layer" && option != "--video" && option != "--png" && option != "--ffmpeg")
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
    } else if (option == "--video" || option == "--png") {
      if (value.empty()) fail_usage(option + " needs a non-empty name");
      set_mode(&options, option == "--video" ? MODE_VIDEO : MODE_PNG, option);
      options.target = value;
    } else if (option == "--ffmpeg") {
      options.ffmpeg = value;
    } else {
      options.out = value;
    }
  }
  const bool whole_film = options.mode == MODE_VIDEO || options.mode == MODE_PNG;
  if (options.width == 0) {
    options.width = whole_film ? 1920 : 1280;
    options.height = whole_film ? 1080 : 720;
  }
  // H.264 in yuv420p stores colour at half resolution in both directions.
  if (options.mode == MODE_VIDEO && (options.width % 2 || options.height % 2))
    fail_usage("--video needs an even width and height");
  return options;
}

// The frame whose clock reading stands for a moment: frame k is drawn at
// k / fps seconds, the first at 1 / fps.
long frame_for(double moment, double fps) {
  const long frame = std::lround(moment * fps);
  return frame < 1 ? 1 : frame;
}

// Frames of the whole film: every k >= 1 with k / fps <= 115 s, as the film
// loop presents every frame whose clock has not passed its length.
long film_frame_count(double fps) {
  return static_cast<long>(std::floor(FILM_LENGTH * fps + 1e-6));
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

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------
// Start-up shared by every mode.

// Opens the hidden window the film is drawn in, after the checks that can
// fail without one.
bool open_capture_window(const capture_options& options) {
  if (!film_check_assets(program_name)) return false;
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "%s: no X display: run it under xvfb-run\n", program_name);
    return false;
  }
  return film_open_window(program_name, options.width, options.height, WINDOW_HIDDEN) != 0;
}

bool start_film(const capture_options& options, film_layers* layers) {
  if (!open_capture_window(options)) return false;
  for (loader_function loader : P744X1EL) loader();
  if (!film_create(layers, program_name)) {
    window_terminate();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Stills.

int capture_stills(const capture_options& options) {
  std::vector<double> moments = options.moments;
  std::sort(moments.begin(), moments.end());

  std::error_code error;
  std::filesystem::create_directories(options.out, error);
  if (error) {
    std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", program_name, options.out.c_str(),
                 error.message().c_str());
    return 1;
  }
  film_layers layers{};
  if (!start_film(options, &layers)) return 1;

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

// ---------------------------------------------------------------------------
// The whole film, frame by frame.

// Set by SIGINT and SIGTERM while a video is being made: the frame loop stops
// and removes the unfinished file.
volatile sig_atomic_t stop_signal = 0;

void on_stop_signal(int signal_number) {
  stop_signal = signal_number;
}

// The ffmpeg child and the files it writes.
struct encoder {
  pid_t pid = -1;
  int input = -1;         // write end of the pipe to its standard input
  std::string temporary;  // what ffmpeg writes
  std::string path;       // what the user asked for, made by renaming temporary
};

std::string temporary_name(const std::filesystem::path& path) {
  // Same folder, so that the final rename cannot cross file systems; same
  // extension, so that ffmpeg picks the same container.
  const std::string name = "." + path.stem().string() + ".partial-" + std::to_string(getpid()) +
                           path.extension().string();
  return (path.parent_path() / name).string();
}

bool start_encoder(const capture_options& options, encoder* child) {
  const std::filesystem::path path(options.target);
  if (!path.parent_path().empty()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
      std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", program_name,
                   path.parent_path().c_str(), error.message().c_str());
      return false;
    }
  }
  child->path = options.target;
  child->temporary = temporary_name(path);

  char size[32], rate[32];
  std::snprintf(size, sizeof size, "%dx%d", options.width, options.height);
  std::snprintf(rate, sizeof rate, "%.9g", options.fps);
  std::vector<std::string> arguments = {
      options.ffmpeg, "-hide_banner", "-loglevel", "error",   "-y",         "-f",   "rawvideo",
      "-pix_fmt",     "rgb24",        "-s",        size,      "-framerate", rate,   "-i",
      "pipe:0",       "-c:v",         "libx264",   "-preset", "medium",     "-crf", "18",
      "-pix_fmt",     "yuv420p",      "-r",        rate};
  if (path.extension().empty()) {
    arguments.push_back("-f");
    arguments.push_back("mp4");
  }
  if (path.extension() == ".mp4" || path.extension() == ".mov") {
    arguments.push_back("-movflags");
    arguments.push_back("+faststart");
  }
  arguments.push_back(child->temporary);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "%s: cannot make a pipe to ffmpeg: %s\n", program_name,
                 std::strerror(errno));
    return false;
  }
  // The child gets the read end as its standard input, default signal
  // handling, and a process group of its own so that Ctrl-C reaches only this
  // program, which then stops the child and removes its unfinished file.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], STDIN_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  const bool search = options.ffmpeg.find('/') == std::string::npos;
  const int result =
      search ? posix_spawnp(&child->pid, argv[0], &actions, &attributes, argv.data(), environ)
             : posix_spawn(&child->pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipe_ends[0]);
  if (result != 0) {
    close(pipe_ends[1]);
    child->pid = -1;
    std::fprintf(stderr, "%s: cannot run %s: %s%s\n", program_name, options.ffmpeg.c_str(),
                 std::strerror(result),
                 result == ENOENT && search ? " (install the ffmpeg package)" : "");
    return false;
  }
  child->input = pipe_ends[1];
  return true;
}

// How the child ended, for an error line; empty if it exited with status 0.
std::string wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return std::string("cannot wait for it: ") + std::strerror(errno);
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "stopped";
}

// Stops the child if it still runs and removes what it wrote.
void abandon_encoder(encoder* child) {
  if (child->input >= 0) close(child->input);
  child->input = -1;
  if (child->pid > 0) {
    kill(child->pid, SIGTERM);
    wait_for(child->pid);
    child->pid = -1;
  }
  std::remove(child->temporary.c_str());
}

// Ends the input, waits for the child, and on success gives the file its
// name. On failure prints the reason and removes the file.
bool finish_encoder(encoder* child, const capture_options& options) {
  close(child->input);
  child->input = -1;
  const std::string ended = wait_for(child->pid);
  child->pid = -1;
  if (!ended.empty()) {
    std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", program_name,
                 options.ffmpeg.c_str(), ended.c_str(), child->path.c_str());
    std::remove(child->temporary.c_str());
    return false;
  }
  if (std::rename(child->temporary.c_str(), child->path.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot rename %s to %s: %s\n", program_name, child->temporary.c_str(),
                 child->path.c_str(), std::strerror(errno));
    std::remove(child->temporary.c_str());
    return false;
  }
  return true;
}

// Writes all bytes; false on a write error (errno set) or a stop signal.
bool write_all(int fd, const unsigned char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR && !stop_signal) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

// Whether the progress line is on screen, unfinished.
bool progress_open = false;

// Ends the progress line, so that a message starts on a line of its own.
void end_progress() {
  if (progress_open) std::fputc('\n', stderr);
  progress_open = false;
}

// Read-back of the final image, 8-bit RGBA, bottom row first.
struct frame_reader {
  int width, height;
  bool overlap;
  GLuint buffers[2];
  std::vector<unsigned char> plain;  // without overlap: client memory
};

size_t frame_bytes(const frame_reader& reader) {
  return static_cast<size_t>(reader.width) * reader.height * 4;
}

void reader_create(frame_reader* reader, int width, int height, bool overlap) {
  reader->width = width;
  reader->height = height;
  reader->overlap = overlap;
  if (overlap) {
    glGenBuffers(2, reader->buffers);
    for (GLuint buffer : reader->buffers) {
      glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
      glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frame_bytes(*reader)), nullptr,
                   GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  } else {
    reader->plain.resize(frame_bytes(*reader));
  }
}

// Starts reading the layer into slot (0 or 1). With overlap the read lands
// in a pixel-buffer object and the call returns without waiting for it;
// without, the pixels are in client memory when it returns.
void reader_start(frame_reader* reader, const layer_record* source, int slot) {
  glBindFramebuffer(GL_FRAMEBUFFER, source->framebuffer);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  if (reader->overlap) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, reader->buffers[slot]);
    glReadPixels(0, 0, reader->width, reader->height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  } else {
    glReadPixels(0, 0, reader->width, reader->height, GL_RGBA, GL_UNSIGNED_BYTE,
                 reader->plain.data());
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// The pixels of slot, valid until reader_release.
const unsigned char* reader_map(frame_reader* reader, int slot) {
  if (!reader->overlap) return reader->plain.data();
  glBindBuffer(GL_PIXEL_PACK_BUFFER, reader->buffers[slot]);
  const void* pixels = glMapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
  if (!pixels) {
    end_progress();
    std::fprintf(stderr, "%s: cannot map the read-back buffer (GL error 0x%x)\n", program_name,
                 glGetError());
  }
  return static_cast<const unsigned char*>(pixels);
}

void reader_release(frame_reader* reader) {
  if (!reader->overlap) return;
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

// RGBA bottom row first to RGB top row first.
void flip_to_rgb(const unsigned char* rgba, int width, int height,
                 std::vector<unsigned char>* rgb) {
  rgb->resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const unsigned char* from = rgba + static_cast<size_t>(height - 1 - y) * width * 4;
    unsigned char* to = rgb->data() + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      to[x * 3 + 0] = from[x * 4 + 0];
      to[x * 3 + 1] = from[x * 4 + 1];
      to[x * 3 + 2] = from[x * 4 + 2];
    }
  }
}

std::string clock_text(double seconds) {
  const long whole = std::lround(std::max(0.0, seconds));
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

void show_progress(long done, long total, double elapsed) {
  const int bar_width = 30;
  const int filled = static_cast<int>(bar_width * done / std::max(total, 1L));
  char bar[bar_width + 1];
  for (int i = 0; i < bar_width; ++i) bar[i] = i < filled ? '#' : '-';
  bar[bar_width] = '\0';
  const double rate = elapsed > 0 ? done / elapsed : 0;
  const std::string left = rate > 0 ? clock_text((total - done) / rate) : "?";
  std::fprintf(stderr, "\r%s: [%s] %ld/%ld frames  %.2f frames/s  %s left ", program_name, bar,
               done, total, rate, left.c_str());
  progress_open = true;
}

// What the frames go to: the encoder's pipe or numbered PNG files.
struct frame_sink {
  const capture_options* options;
  encoder* child;  // null for PNG frames
  std::vector<unsigned char> rgb;
  double write_seconds = 0;  // time spent handing frames over
};

bool emit_frame(frame_sink* sink, const unsigned char* rgba, long number) {
  const capture_options& options = *sink->options;
  flip_to_rgb(rgba, options.width, options.height, &sink->rgb);
  const double start = seconds_now();
  bool written;
  if (sink->child) {
    written = write_all(sink->child->input, sink->rgb.data(), sink->rgb.size());
    if (!written && !stop_signal) {
      const int error = errno;
      end_progress();
      std::fprintf(stderr, "%s: %s stopped reading frames (%s)\n", program_name,
                   options.ffmpeg.c_str(), std::strerror(error));
    }
  } else {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06ld.png", number);
    const std::string path = (std::filesystem::path(options.target) / name).string();
    written = stbi_write_png(path.c_str(), options.width, options.height, 3, sink->rgb.data(),
                             options.width * 3) != 0;
    if (!written) {
      end_progress();
      std::fprintf(stderr, "%s: cannot write %s\n", program_name, path.c_str());
    }
  }
  sink->write_seconds += seconds_now() - start;
  return written;
}

int capture_film(const capture_options& options) {
  encoder child;
  if (options.mode == MODE_PNG) {
    std::error_code error;
    std::filesystem::create_directories(options.target, error);
    if (error) {
      std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", program_name,
                   options.target.c_str(), error.message().c_str());
      return 1;
    }
  }
  film_layers layers{};
  if (!start_film(options, &layers)) return 1;

  if (options.mode == MODE_VIDEO) {
    // A dead reader must show up as a write error, not end this program.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (!start_encoder(options, &child)) {
      window_terminate();
      return 1;
    }
  }
  frame_sink sink{&options, options.mode == MODE_VIDEO ? &child : nullptr, {}, 0};
  frame_reader reader{};
  reader_create(&reader, options.width, options.height, options.overlap);

  script_state script;
  script_reset(&script);
  clock_start(0.0);
  const long total = film_frame_count(options.fps);
  const double start = seconds_now();
  double last_report = -1;
  double read_seconds = 0;  // read-back: starting reads and waiting for them
  bool ok = true;
  for (long frame = 1; frame <= total && ok; ++frame) {
    clock_tick(static_cast<double>(frame) / options.fps);
    film_frame(&layers, &script);
    const int slot = static_cast<int>(frame & 1);
    double t = seconds_now();
    reader_start(&reader, layers.composite_layer, slot);
    // With overlap, the frame to hand over is the previous one, read while
    // this one was drawn; the last frame is handed over after the loop.
    const long ready = options.overlap ? frame - 1 : frame;
    if (ready >= 1) {
      const unsigned char* pixels = reader_map(&reader, static_cast<int>(ready & 1));
      read_seconds += seconds_now() - t;
      ok = pixels && emit_frame(&sink, pixels, ready);
      reader_release(&reader);
    } else {
      read_seconds += seconds_now() - t;
    }
    if (stop_signal) ok = false;
    const double now = seconds_now();
    if (ok && (now - last_report >= 0.25 || frame == total)) {
      show_progress(frame, total, now - start);
      last_report = now;
    }
  }
  if (ok && options.overlap) {
    const double t = seconds_now();
    const unsigned char* pixels = reader_map(&reader, static_cast<int>(total & 1));
    read_seconds += seconds_now() - t;
    ok = pixels && emit_frame(&sink, pixels, total);
    reader_release(&reader);
  }
  const double elapsed = seconds_now() - start;
  end_progress();
  window_terminate();

  if (!ok) {
    if (stop_signal)
      std::fprintf(stderr, "%s: interrupted by %s; %s not written\n", program_name,
                   strsignal(stop_signal),
                   options.mode == MODE_VIDEO ? options.target.c_str() : "the rest");
    if (options.mode == MODE_VIDEO) {
      // A child that died tells why; one still running is stopped.
      if (!stop_signal && child.input >= 0) {
        close(child.input);
        child.input = -1;
        const std::string ended = wait_for(child.pid);
        child.pid = -1;
        if (!ended.empty())
          std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", program_name,
                       options.ffmpeg.c_str(), ended.c_str(), options.target.c_str());
      }
      abandon_encoder(&child);
    }
    return stop_signal ? 128 + stop_signal : 1;
  }
  if (options.mode == MODE_VIDEO && !finish_encoder(&child, options)) return 1;
  std::fprintf(stderr,
               "%s: %ld frames of %d x %d in %s: %.2f frames per second (read-back %s: %.1f ms "
               "per frame reading, %.1f ms handing over)\n",
               program_name, total, options.width, options.height, clock_text(elapsed).c_str(),
               total / elapsed, options.overlap ? "overlapped" : "not overlapped",
               1000 * read_seconds / total, 1000 * sink.write_seconds / total);
  std::fprintf(stderr, "%s: wrote %s%s\n", program_name, options.target.c_str(),
               options.mode == MODE_PNG ? "/frame-*.png" : "");
  return 0;
}

// ---------------------------------------------------------------------------
// Benchmark.

// Start-up steps timed by the window clock after glFinish.
struct startup_timer {
  std::vector<std::string> names;
  std::vector<double> ms;
  double last = 0;
};
startup_timer* active_startup = nullptr;

void time_startup_step(const char* step) {
  glFinish();
  const double now = window_time();
  active_startup->names.push_back(step);
  active_startup->ms.push_back(1000 * (now - active_startup->last));
  active_startup->last = now;
}

// Steps of one frame timed by one GL_TIME_ELAPSED query each: the hook ends
// the running query and begins the next.
const int frame_steps = 7;
struct frame_timer {
  GLuint queries[frame_steps];
  const char* names[frame_steps];
  int step;
};
frame_timer* active_frame = nullptr;

void time_frame_step(const char* step) {
  frame_timer* timer = active_frame;
  glEndQuery(GL_TIME_ELAPSED);
  if (timer->step < frame_steps) timer->names[timer->step] = step;
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

int run_benchmark(const capture_options& options) {
  if (!open_capture_window(options)) return 1;

  // Start-up: the two loaders, then each step of the film's creation.
  startup_timer startup;
  active_startup = &startup;
  glFinish();
  startup.last = window_time();
  const double startup_begin = startup.last;
  P744X1EL[0]();
  time_startup_step("toolkit loader");
  P744X1EL[1]();
  time_startup_step("greetings.obj (loader)");
  film_layers layers{};
  film_step_hook = time_startup_step;
  const int created = film_create(&layers, program_name);
  film_step_hook = nullptr;
  const double startup_total = 1000 * (startup.last - startup_begin);
  if (!created) {
    window_terminate();
    return 1;
  }

  std::printf("demo-capture benchmark at %d x %d, clock stepped at %g frames per second\n",
              options.width, options.height, options.fps);
  std::printf("OpenGL: %s, %s\n\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
              reinterpret_cast<const char*>(glGetString(GL_VERSION)));
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
  script_state script;
  script_reset(&script);
  clock_start(0.0);
  long frame = 0;
  std::vector<std::vector<double>> rows;  // per moment: the steps, their sum, the wall time
  for (double moment : moments) {
    const long first = std::max(frame_for(moment, options.fps), frame + 1);
    for (++frame; frame < first; ++frame) {
      clock_tick(static_cast<double>(frame) / options.fps);
      script_step(&script, TIME, FRAME_INTERVAL, false);
    }
    std::vector<std::vector<double>> samples(frame_steps + 2);
    for (int r = 0; r < repeats; ++r, ++frame) {
      clock_tick(static_cast<double>(frame) / options.fps);
      glFinish();
      const double begin = window_time();
      active_frame = &timer;
      timer.step = 0;
      film_step_hook = time_frame_step;
      glBeginQuery(GL_TIME_ELAPSED, timer.queries[0]);
      film_frame(&layers, &script);
      film_step_hook = nullptr;
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
    --frame;
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
  for (const char* name : timer.names)
    std::printf(" %*s", std::max(8, int(std::strlen(name))), name);
  std::printf(" %10s %12s\n", "steps sum", "whole frame");
  for (size_t m = 0; m < rows.size(); ++m) {
    std::printf("%6g s", moments[m]);
    for (int i = 0; i < frame_steps; ++i)
      std::printf(" %*.1f", std::max(8, int(std::strlen(timer.names[i]))), rows[m][i]);
    std::printf(" %10.1f %12.1f\n", rows[m][frame_steps], rows[m][frame_steps + 1]);
  }

  // Memory: the process's peak, then what the film's objects hold, computed
  // from their sizes.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\nPeak resident memory (getrusage ru_maxrss): %.1f MiB\n", usage.ru_maxrss / 1024.0);
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
  const struct {
    const char* name;
    int texture;
  } textures[] = {{"normal-map.tga", terrain_normal_map},
                  {"spaceship.tga", spaceship_texture},
                  {"spaceship-normal-map.tga", spaceship_normal_map}};
  for (const auto& t : textures) {
    int w = 0, h = 0, levels = 0;
    GLint format = 0;
    const double bytes = texture_bytes(static_cast<GLuint>(t.texture), &w, &h, &format, &levels);
    char what[96];
    std::snprintf(what, sizeof what, "%s %d x %d %s, %d mipmap levels", t.name, w, h,
                  format_name(format), levels);
    gpu_line(what, bytes);
  }
  std::printf("  %-58s %8.2f MiB\n", "total", mib(gpu_total));

  std::printf("Meshes (client-side vertex arrays: in process memory, not on the GPU):\n");
  const struct {
    const char* name;
    const mesh_record* mesh;
  } meshes[] = {{"terrain tile 1", terrains[0]}, {"terrain tile 2", terrains[1]},
                {"terrain tile 3", terrains[2]}, {"terrain tile 4", terrains[3]},
                {"spaceship.obj", spaceship},    {"orvane.obj", orvane},
                {"kelthar.obj", kelthar},        {"ring.obj", ring},
                {"greetings.obj", greetings}};
  double mesh_total = 0;
  for (const auto& m : meshes) {
    // Four arrays of three floats per vertex, three indices per triangle.
    const double bytes = 4.0 * 3 * 4 * m.mesh->vertex_count + 3.0 * 4 * m.mesh->triangle_count;
    mesh_total += bytes;
    char what[96];
    std::snprintf(what, sizeof what, "%s: %u vertices, %u triangles", m.name, m.mesh->vertex_count,
                  m.mesh->triangle_count);
    std::printf("  %-58s %8.2f MiB\n", what, mib(bytes));
  }
  std::printf("  %-58s %8.2f MiB\n", "total", mib(mesh_total));
  window_terminate();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!system_open_standard_streams()) return 1;
  const capture_options options = parse_options(argc, argv);
  switch (options.mode) {
    case MODE_VIDEO:
    case MODE_PNG:
      return capture_film(options);
    case MODE_BENCHMARK:
      return run_benchmark(options);
    case MODE_STILLS:
      break;
  }
  return capture_stills(options);
}
