// process_helpers.h: one way for tests to run a program and read what it
// printed (POSIX; on Windows only run_command). The file helpers every system
// shares are in test_files.h.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

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

// Whether a program of that name is on PATH.
bool on_path(const char* program);

// A private Xvfb server with one screen of the given size, stopped when this
// goes out of scope; `display` is empty when it could not start.
struct private_screen {
  pid_t server = -1;
  std::string display;
  private_screen(int width, int height);
  ~private_screen();
  private_screen(const private_screen&) = delete;
  private_screen& operator=(const private_screen&) = delete;
};
