// process_helpers.cpp: running the film's programs from tests.
#include "process_helpers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

static double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

run_result run_process(const std::vector<std::string>& arguments, const fs::path& folder,
                       const std::vector<env_change>& env, double limit,
                       const std::function<void(pid_t, double)>& watch) {
  run_result result;
  if (arguments.empty()) return result;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // A pipe, not a file: a child that limits its own file sizes (ulimit -f)
  // must not cut off what it says.
  int output[2];
  if (pipe(output) != 0) return result;
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    for (const env_change& change : env) {
      if (change.value)
        setenv(change.name, change.value, 1);
      else
        unsetenv(change.name);
    }
    close(output[0]);
    dup2(output[1], 1);
    dup2(output[1], 2);
    close(output[1]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(output[1]);
  if (child < 0) {
    close(output[0]);
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  bool open_pipe = true;
  int status = 0;
  for (;;) {
    // Read what came, waiting at most 50 ms for more.
    if (open_pipe) {
      pollfd ready{output[0], POLLIN, 0};
      if (poll(&ready, 1, 50) > 0) {
        char buffer[4096];
        const ssize_t count = read(output[0], buffer, sizeof buffer);
        if (count > 0)
          result.output.append(buffer, static_cast<size_t>(count));
        else
          open_pipe = false;
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!open_pipe && waitpid(child, &status, WNOHANG) == child) break;
    if (seconds_since(start) > limit) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.timed_out = true;
      break;
    }
    if (watch) watch(child, seconds_since(start));
  }
  close(output[0]);
  if (!result.timed_out && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

run_result run_command(const std::string& command_line) {
  return run_process({"/bin/sh", "-c", command_line}, fs::current_path(), {}, 900.0);
}

bool on_path(const char* program) {
  return run_command(std::string("command -v ") + program + " >/dev/null").status == 0;
}

private_screen::private_screen(int width, int height) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return;
  server = fork();
  if (server == 0) {
    close(pipe_ends[0]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(pipe_ends[1]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_ends[1]);
  // The server writes its display number once it accepts connections.
  char number[16] = {};
  ssize_t got = 0;
  for (ssize_t n; got < 15 && (n = read(pipe_ends[0], number + got, 15 - got)) > 0;) got += n;
  close(pipe_ends[0]);
  if (got > 0 && number[0] >= '0' && number[0] <= '9')
    display = ":" + std::to_string(std::atoi(number));
}

private_screen::~private_screen() {
  if (server > 0) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }
}
