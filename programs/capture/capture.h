// capture.h: the parts of demo-capture, the film rendered with a clock of its
// own. capture.cpp reads the options and runs the chosen mode, one file each:
// capture_stills.cpp the stills of chosen moments; capture_film.cpp the whole
// film frame by frame (read-back ring, PNG frames, progress);
// capture_benchmark.cpp times the start-up and the frame's steps. What the
// modes share: capture_common.cpp (the name, the film's start, the standard
// output); capture_encoder.cpp runs the ffmpeg child that turns the frames
// into a video, and holds every POSIX-only call of the tool;
// capture_output.cpp names, checks and cleans up the files it writes. The
// modes call only what they share, never capture.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "film/film.h"

// The program's name, at the start of every line it prints on stderr: the
// installed command's name where the package runs it (command.h).
extern const char* capture_program_name;

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
  // --frames A-B: the frames of the whole-film capture that are rendered,
  // first to last (frame k at k / fps s); 0 and 0 for the whole film.
  long first_frame = 0;
  long last_frame = 0;
  window_gl gl = WINDOW_GL_AUTO;  // how the film reaches OpenGL (--gl)
  double until = FILM_LENGTH;     // --video and --png: the film's first seconds only
  bool fingerprint = false;       // --fingerprint: check the options, say the film, render nothing
};

// Starts the film in a hidden window of the options' size (film_start);
// false with a line on stderr, the window closed.
bool start_film(const capture_options& options, film_layers* layers);
// Makes a folder and those above it if missing, and notes the ones it made;
// false with a line on stderr (capture_output.cpp).
bool make_folder(const std::string& path);
// Notes a file this run has written (or begun to write).
void note_file_made(const std::string& path);
// After a failed or interrupted run: removes the files noted and the folders
// made, those only if empty.
void remove_what_was_made();
// Flushes the standard output; false with a line on stderr if anything
// written to it was lost (a full device, a closed pipe) (capture_common.cpp).
bool standard_output_written();

// Stills of options.moments (the default mode). Returns the exit status.
int capture_stills(const capture_options& options);
// --video and --png: every frame of the film, or those of --frames. Returns
// the exit status.
int capture_film(const capture_options& options);
// --benchmark. Returns the exit status.
int run_benchmark(const capture_options& options);
// --fingerprint: prints one line naming the film the options would render
// (version, a digest of the asset files and shader texts, size, rate and
// frame count) and renders nothing; the exit status
// (capture_fingerprint.cpp).
int print_fingerprint(const capture_options& options);

// The name ffmpeg writes the video `target` under until it is finished: a
// hidden name in the same folder with the same extension, marked with `tag`,
// no longer than the longest legal file name (capture_output.cpp).
std::string temporary_video_name(const std::string& target, const std::string& tag);

// The encoder's settings that let the videos of neighbouring ranges of
// frames (--frames) join by stream copy, used for every video so that a
// whole-film video is encoded as a single range would be: no B-frames (each
// packet's decoding time is its presentation time, whatever the range's
// length), closed groups of pictures (no frame refers across a key frame).
// Every video starts with a key frame, its clock at 0, at the rate -r gives.
std::vector<std::string> join_encoder_arguments();
// The encoder's whole command line: options.ffmpeg reading raw frames of the
// options' size and rate on its standard input and writing H.264 (with
// join_encoder_arguments) into `temporary`, in MP4 when `target` names no
// other container; the same on every system.
std::vector<std::string> encoder_arguments(const capture_options& options,
                                           const std::string& target, const std::string& temporary);

// The ffmpeg child and the files it writes (capture_encoder.cpp).
struct encoder {
  int pid = -1;
  int input = -1;          // write end of the pipe to its standard input
  int errors = -1;         // read end of the pipe from its standard error
  std::string error_text;  // what it said there (it says only errors)
  std::string temporary;   // what ffmpeg writes
  std::string path;        // what the user asked for, made by renaming temporary
};

// Before anything is rendered: refuses a video target that is not a regular
// file or nothing (a device, a FIFO, a socket, a folder, a name ending in /,
// a link: the rename would replace the link), makes its folder, and makes
// the temporary file empty there, which shows that the folder can be
// written. Sets child's path and temporary; false with a line on stderr
// (capture_output.cpp).
bool prepare_video(const capture_options& options, encoder* child);
// Before anything is rendered for --png: makes the folder, refuses one that
// holds frame-*.png files (an earlier run's; for a range of frames, only
// files of that range count), and shows that a file can be made there by
// making the first frame's; false with a line on stderr.
bool prepare_frame_folder(const std::string& folder, long first, long last, bool whole_film);
// Just before the rename: false with a line on stderr if something other than
// a regular file has taken the video's place.
bool video_may_replace(const encoder& child);

// From now on every signal that would end the program (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, ...; not those ignored when it started, as under nohup)
// stops the capture instead (stop_signal_caught), and a dead reader shows up
// as a write error instead of ending the program.
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
// Ends the input, waits for the child, and on success (exit status 0, no
// error said, the file complete on disk) gives the file its name. On failure prints the reason and
// removes the file; a stop signal while the child finishes stops it (false, stop_signal_caught
// set).
bool finish_encoder(encoder* child, const capture_options& options);
// After a failed capture: a child that died says why, one still running is
// stopped, and what it wrote is removed.
void abandon_encoder(encoder* child, const capture_options& options);
