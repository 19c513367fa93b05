// capture_encoder.cpp: the ffmpeg child that encodes demo-capture's frames
// into a video, and the stop signals. Every POSIX-only call of the capture
// tool (posix_spawn, pipes, waitpid, signals) is in this file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/capture.h"

extern char** environ;

// Set by SIGINT and SIGTERM while a video is being made: the frame loop stops
// and removes the unfinished file.
static volatile sig_atomic_t stop_signal = 0;

static void on_stop_signal(int signal_number) {
  stop_signal = signal_number;
}

void catch_stop_signals() {
  // A dead reader must show up as a write error, not end this program.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int stop_signal_caught() {
  return stop_signal;
}

const char* signal_name(int signal_number) {
  return strsignal(signal_number);
}

static std::string temporary_name(const std::filesystem::path& path) {
  // Same folder, so that the final rename cannot cross file systems; same
  // extension, so that ffmpeg picks the same container.
  const std::string name = "." + path.stem().string() + ".partial-" + std::to_string(getpid()) +
                           path.extension().string();
  return (path.parent_path() / name).string();
}

bool start_encoder(const capture_options& options, encoder* child) {
  const std::filesystem::path path(options.target);
  if (!path.parent_path().empty() && !make_folder(path.parent_path().string())) return false;
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
    std::fprintf(stderr, "%s: cannot make a pipe to ffmpeg: %s\n", capture_program_name,
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
  pid_t pid = -1;
  const int result = search
                         ? posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                         : posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipe_ends[0]);
  if (result != 0) {
    close(pipe_ends[1]);
    child->pid = -1;
    std::fprintf(stderr, "%s: cannot run %s: %s%s\n", capture_program_name, options.ffmpeg.c_str(),
                 std::strerror(result),
                 result == ENOENT && search ? " (install the ffmpeg package)" : "");
    return false;
  }
  child->pid = pid;
  child->input = pipe_ends[1];
  return true;
}

// How the child ended, for an error line; empty if it exited with status 0.
static std::string wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return std::string("cannot wait for it: ") + std::strerror(errno);
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "stopped";
}

void abandon_encoder(encoder* child, const capture_options& options) {
  // A child that died tells why; one still running is stopped.
  if (!stop_signal && child->input >= 0) {
    close(child->input);
    child->input = -1;
    const std::string ended = wait_for(child->pid);
    child->pid = -1;
    if (!ended.empty())
      std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", capture_program_name,
                   options.ffmpeg.c_str(), ended.c_str(), options.target.c_str());
  }
  if (child->input >= 0) close(child->input);
  child->input = -1;
  if (child->pid > 0) {
    kill(child->pid, SIGTERM);
    wait_for(child->pid);
    child->pid = -1;
  }
  std::remove(child->temporary.c_str());
}

bool finish_encoder(encoder* child, const capture_options& options) {
  close(child->input);
  child->input = -1;
  const std::string ended = wait_for(child->pid);
  child->pid = -1;
  if (!ended.empty()) {
    std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", capture_program_name,
                 options.ffmpeg.c_str(), ended.c_str(), child->path.c_str());
    std::remove(child->temporary.c_str());
    return false;
  }
  if (std::rename(child->temporary.c_str(), child->path.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot rename %s to %s: %s\n", capture_program_name,
                 child->temporary.c_str(), child->path.c_str(), std::strerror(errno));
    std::remove(child->temporary.c_str());
    return false;
  }
  return true;
}

bool encoder_write(encoder* child, const unsigned char* bytes, size_t count) {
  const int fd = child->input;
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
