// process_helpers.h: what the tests that run programs or write files share:
// one way to run a program and read what it printed, a scratch folder, and one
// PNG reader with the peak signal-to-noise ratio that compares two images.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct run_result {
  int status = -1;         // exit status, or -1 when killed or not exited
  bool timed_out = false;  // killed at the time limit
  std::string output;      // all of stdout and stderr
};

// One environment change: a value, or null to unset the variable.
struct env_change {
  const char* name;
  const char* value;
};

// Runs the program (a path, or a name looked up on PATH) with its arguments in
// `folder`, its stdout and stderr both captured, killing it after `limit`
// seconds. While it runs, `watch` is called about every 50 ms with its
// process id and the seconds since its start.
run_result run_process(const std::vector<std::string>& arguments,
                       const std::filesystem::path& folder, const std::vector<env_change>& env,
                       double limit, const std::function<void(pid_t, double)>& watch = {});

// Runs a shell command line in the current folder (limit: 15 minutes).
run_result run_command(const std::string& command_line);

// A path in this test program's own scratch folder (made on first use under
// /tmp, removed when the program ends).
std::filesystem::path scratch_file(const std::string& name);
// Writes the bytes to scratch_file(name) and returns its path.
std::string write_file(const std::string& name, const std::string& bytes);

// An 8-bit RGB image, top row first.
struct rgb_image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// Reads a PNG (or another image stb_image knows) as RGB; false if it cannot.
bool read_png(const std::string& path, rgb_image* out);

// 10 log10(255^2 / mean squared error) over R, G and B of two images of the
// same size; infinite for identical images, 0 for images of different sizes.
double psnr(const rgb_image& a, const rgb_image& b);
