// capture_film.cpp: demo-capture's --video and --png: every frame of the
// film (or the range of --frames, the script stepped to its first frame
// without drawing), read back through a ring of two pixel buffers while the next frame
// is drawn, handed to the encoder (capture_encoder.cpp) or written as
// numbered PNG files, with a progress line.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/capture/capture.h"
#include "programs/common/command.h"

namespace {

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
    std::fprintf(stderr, "%s: cannot map the read-back buffer (GL error 0x%x)\n",
                 capture_program_name, glGetError());
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
  std::fprintf(stderr, "\r%s: [%s] %ld/%ld frames  %.2f frames/s  %s left ", capture_program_name,
               bar, done, total, rate, left.c_str());
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
  const double start = steady_seconds();
  bool written;
  if (sink->child) {
    // A child that stops reading is asked why by abandon_encoder, which says
    // it in the one line of the failure.
    written = encoder_write(sink->child, sink->rgb.data(), sink->rgb.size());
  } else {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06ld.png", number);
    const std::string path = (std::filesystem::u8path(options.target) / name).u8string();
    note_file_made(path);
    written = write_rgb_png(path.c_str(), options.width, options.height, sink->rgb.data());
    if (!written) {
      const int error = errno;
      end_progress();
      std::fprintf(stderr, "%s: cannot write %s: %s\n", capture_program_name, path.c_str(),
                   std::strerror(error));
    }
  }
  sink->write_seconds += steady_seconds() - start;
  return written;
}

}  // namespace

int capture_film(const capture_options& options) {
  // What was made before a failure is removed by the caller
  // (remove_what_was_made).
  encoder child;
  catch_stop_signals();
  // The frames rendered: the whole film (up to --until, at least one frame),
  // or a range of it numbered as in the whole film, so that ranges rendered
  // apart add up to the whole.
  const bool whole_film = options.first_frame == 0;
  const long until_frame =
      std::min(film_frame_count(options.fps),
               std::max(1L, static_cast<long>(std::floor(options.until * options.fps + 1e-6))));
  const long first = whole_film ? 1 : options.first_frame;
  const long last = whole_film ? until_frame : options.last_frame;
  const long total = last - first + 1;
  if (options.mode == MODE_PNG && !prepare_frame_folder(options.target, first, last, whole_film))
    return 1;
  if (options.mode == MODE_VIDEO && !prepare_video(options, &child)) return 1;
  film_layers layers{};
  if (!start_film(options, &layers)) return 1;

  if (options.mode == MODE_VIDEO && !start_encoder(options, &child)) {
    window_terminate();
    return 1;
  }
  frame_sink sink{&options, options.mode == MODE_VIDEO ? &child : nullptr, {}, 0};
  frame_reader reader{};
  reader_create(&reader, options.width, options.height, options.overlap);

  // The first frame is readied with the script's state exactly as drawing
  // the frames before it would leave it.
  stepped_clock clock;
  stepped_clock_start(&clock, options.fps);
  const double start = steady_seconds();
  double last_report = -1;
  double read_seconds = 0;  // read-back: starting reads and waiting for them
  bool ok = true;
  for (long frame = first; frame <= last && ok; ++frame) {
    stepped_clock_to(&clock, frame);
    film_frame(&layers, &clock.script);
    const int slot = static_cast<int>(frame & 1);
    double t = steady_seconds();
    reader_start(&reader, layers.composite_layer, slot);
    // With overlap, the frame to hand over is the previous one, read while
    // this one was drawn; the last frame is handed over after the loop.
    const long ready = options.overlap ? frame - 1 : frame;
    if (ready >= first) {
      const unsigned char* pixels = reader_map(&reader, static_cast<int>(ready & 1));
      read_seconds += steady_seconds() - t;
      ok = pixels && emit_frame(&sink, pixels, ready);
      reader_release(&reader);
    } else {
      read_seconds += steady_seconds() - t;
    }
    if (stop_signal_caught()) ok = false;
    const double now = steady_seconds();
    if (ok && (now - last_report >= 0.25 || frame == last)) {
      show_progress(frame - first + 1, total, now - start);
      last_report = now;
    }
  }
  if (ok && options.overlap) {
    const double t = steady_seconds();
    const unsigned char* pixels = reader_map(&reader, static_cast<int>(last & 1));
    read_seconds += steady_seconds() - t;
    ok = pixels && emit_frame(&sink, pixels, last);
    reader_release(&reader);
  }
  const double elapsed = steady_seconds() - start;
  end_progress();
  window_terminate();

  if (!ok) {
    const int stop_signal = stop_signal_caught();
    // The frames written so far are removed with the folder's other leftovers.
    if (stop_signal)
      std::fprintf(stderr, "%s: interrupted by %s; %s%s not written\n", capture_program_name,
                   signal_name(stop_signal), options.target.c_str(),
                   options.mode == MODE_PNG ? "/frame-*.png" : "");
    if (options.mode == MODE_VIDEO) abandon_encoder(&child, options);
    return stop_signal ? 128 + stop_signal : 1;
  }
  if (options.mode == MODE_VIDEO && !finish_encoder(&child, options)) {
    const int stop_signal = stop_signal_caught();
    if (!stop_signal) return 1;
    std::fprintf(stderr, "%s: interrupted by %s while %s finished; %s not written\n",
                 capture_program_name, signal_name(stop_signal), options.ffmpeg.c_str(),
                 options.target.c_str());
    return 128 + stop_signal;
  }
  std::fprintf(stderr,
               "%s: %ld frames of %d x %d in %s: %.2f frames per second (read-back %s: %.1f ms "
               "per frame reading, %.1f ms handing over)\n",
               capture_program_name, total, options.width, options.height,
               clock_text(elapsed).c_str(), total / elapsed,
               options.overlap ? "overlapped" : "not overlapped", 1000 * read_seconds / total,
               1000 * sink.write_seconds / total);
  std::fprintf(stderr, "%s: wrote %s%s\n", capture_program_name, options.target.c_str(),
               options.mode == MODE_PNG ? "/frame-*.png" : "");
  return 0;
}
