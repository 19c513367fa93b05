// capture.h: the parts of demo-capture, the film rendered with a clock of its
// own. capture.cpp reads the options, makes stills and picks the mode;
// capture_film.cpp renders the whole film frame by frame (read-back ring,
// PNG frames, progress); capture_encoder.cpp runs the ffmpeg child that turns
// the frames into a video, and holds every POSIX-only call of the tool;
// capture_benchmark.cpp times the start-up and the frame's steps.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "demo/film.h"

// The program's name, at the start of every line it prints on stderr.
extern const char* const capture_program_name;

enum capture_mode { MODE_STILLS, MODE_VIDEO, MODE_PNG, MODE_BENCHMARK };

struct capture_options {
  capture_mode mode = MODE_STILLS;
  std::vector<double> moments{3, 13, 30, 58, 70};
  int width = 0;  // 0 until given: the mode's default
  int height = 0;
  double fps = 60;
  std::string out = ".";
  std::string layer = "final";  // an image of film_steps
  std::string target;           // the video file or the PNG folder
  std::string ffmpeg = "ffmpeg";
  bool overlap = true;
};

// Opens the hidden window the film is drawn in, after the checks that can
// fail without one; false with a line on stderr.
bool open_capture_window(const capture_options& options);
// open_capture_window, the loaders and film_create; false with a line on
// stderr, the window closed.
bool start_film(const capture_options& options, film_layers* layers);
// Makes a folder and those above it if missing; false with a line on stderr.
bool make_folder(const std::string& path);
// Seconds of a steady clock.
double seconds_now();

// --video and --png: every frame of the film. Returns the exit status.
int capture_film(const capture_options& options);
// --benchmark. Returns the exit status.
int run_benchmark(const capture_options& options);

// The ffmpeg child and the files it writes (capture_encoder.cpp).
struct encoder {
  int pid = -1;
  int input = -1;         // write end of the pipe to its standard input
  std::string temporary;  // what ffmpeg writes
  std::string path;       // what the user asked for, made by renaming temporary
};

// From now on SIGINT and SIGTERM stop the capture (stop_signal_caught) and a
// dead reader shows up as a write error instead of ending the program.
void catch_stop_signals();
// The signal that asked the capture to stop, or 0.
int stop_signal_caught();
// The name of a signal, for an error line.
const char* signal_name(int signal_number);
// Starts ffmpeg reading raw RGB frames of the options' size and rate on a
// pipe; false with a line on stderr.
bool start_encoder(const capture_options& options, encoder* child);
// Hands bytes to the child; false on a write error (errno set) or a stop
// signal.
bool encoder_write(encoder* child, const unsigned char* bytes, size_t count);
// Ends the input, waits for the child, and on success gives the file its
// name. On failure prints the reason and removes the file.
bool finish_encoder(encoder* child, const capture_options& options);
// After a failed capture: a child that died says why, one still running is
// stopped, and what it wrote is removed.
void abandon_encoder(encoder* child, const capture_options& options);
