// capture_encoder.cpp: the ffmpeg child that encodes demo-capture's frames
// into a video, and the stop signals. Every POSIX-only call of the capture
// tool (posix_spawn, pipes, waitpid, signals) is in this file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "programs/capture/capture.h"

extern char** environ;

// Set by a signal that would end the program while a capture runs: the
// frame loop stops, and what the run made is removed.
static volatile sig_atomic_t stop_signal = 0;

static void on_stop_signal(int signal_number) {
  stop_signal = signal_number;
}

// The signals whose default action ends the program and that come from
// outside it (a fault such as SIGSEGV is not one of them), with the real-time
// ones added in stop_signals().
static const int terminating_signals[] = {
    SIGHUP,    SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
    SIGALRM,   SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The signals catch_stop_signals caught: the child gets them back at their
// defaults; one ignored stays ignored for it too.
static sigset_t caught_signals;

static sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : terminating_signals) sigaddset(&set, number);
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) sigaddset(&set, number);
  return set;
}

void catch_stop_signals() {
  // A dead reader must show up as a write error, not end this program.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  const sigset_t set = stop_signals();
  sigemptyset(&caught_signals);
  for (int number = 1; number < NSIG; ++number) {
    if (sigismember(&set, number) != 1) continue;
    // One ignored at the start stays ignored (nohup, a shell's trap '').
    struct sigaction before {};
    if (sigaction(number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    if (sigaction(number, &action, nullptr) == 0) sigaddset(&caught_signals, number);
  }
}

int stop_signal_caught() {
  return stop_signal;
}

const char* signal_name(int signal_number) {
  return strsignal(signal_number);
}

bool start_encoder(const capture_options& options, encoder* child) {
  std::vector<std::string> arguments = encoder_arguments(options, child->path, child->temporary);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipe_ends[2], error_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "%s: cannot make a pipe to ffmpeg: %s\n", capture_program_name,
                 std::strerror(errno));
    return false;
  }
  if (pipe2(error_ends, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "%s: cannot make a pipe from ffmpeg: %s\n", capture_program_name,
                 std::strerror(errno));
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    return false;
  }
  // The child gets the read end as its standard input, default signal
  // handling, and a process group of its own so that Ctrl-C reaches only this
  // program, which then stops the child and removes its unfinished file.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error_ends[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults = caught_signals;
  sigaddset(&defaults, SIGPIPE);
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
  close(error_ends[1]);
  if (result != 0) {
    close(pipe_ends[1]);
    close(error_ends[0]);
    child->pid = -1;
    std::fprintf(stderr, "%s: cannot run %s: %s%s\n", capture_program_name, options.ffmpeg.c_str(),
                 std::strerror(result),
                 result == ENOENT && search ? " (install the ffmpeg package)" : "");
    return false;
  }
  child->pid = pid;
  child->input = pipe_ends[1];
  child->errors = error_ends[0];
  // Frames are written only as far as the pipe takes them, so that the
  // capture can read the child's errors while it waits (encoder_write).
  fcntl(child->input, F_SETFL, fcntl(child->input, F_GETFL) | O_NONBLOCK);
  return true;
}

// Reads what the child says on its standard error, keeping the first few
// kilobytes; at its end the pipe is closed.
static void read_errors(encoder* child) {
  char buffer[4096];
  const ssize_t count = read(child->errors, buffer, sizeof buffer);
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (count <= 0) {
    close(child->errors);
    child->errors = -1;
    return;
  }
  if (child->error_text.size() < 16384)
    child->error_text.append(buffer, static_cast<size_t>(count));
}

// Reads the child's standard error to its end (the child has finished or
// died); false if a stop signal came first.
static bool read_errors_to_end(encoder* child) {
  while (child->errors >= 0) {
    if (stop_signal) return false;
    pollfd polled{child->errors, POLLIN, 0};
    if (poll(&polled, 1, 250) > 0) read_errors(child);
  }
  return !stop_signal;
}

// The first line the child said, or "".
static std::string first_error(const encoder& child) {
  const std::string& text = child.error_text;
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_first_of("\r\n", start) - start);
}

// How a child ended, for an error line; empty if it exited with status 0.
static std::string how_it_ended(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "stopped";
}

// Waits for the child; how it ended.
static std::string wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return std::string("cannot wait for it: ") + std::strerror(errno);
  return how_it_ended(status);
}

void abandon_encoder(encoder* child, const capture_options& options) {
  // A child that died tells why; one still running is stopped.
  if (!stop_signal && child->input >= 0) {
    close(child->input);
    child->input = -1;
    if (read_errors_to_end(child)) {
      std::string ended = wait_for(child->pid);
      child->pid = -1;
      if (ended.empty()) ended = "exit status 0";
      const std::string said = first_error(*child);
      std::fprintf(stderr, "%s: %s failed (%s%s%s); %s not written\n", capture_program_name,
                   options.ffmpeg.c_str(), ended.c_str(), said.empty() ? "" : ": ", said.c_str(),
                   options.target.c_str());
    }
  }
  if (child->input >= 0) close(child->input);
  child->input = -1;
  if (child->errors >= 0) close(child->errors);
  child->errors = -1;
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
  // ffmpeg may take a while to finish the file: a stop signal meanwhile stops
  // it and the capture, as it would during the frames.
  int status = 0;
  pid_t done = 0;
  if (!read_errors_to_end(child)) {
    abandon_encoder(child, options);
    return false;
  }
  while (!stop_signal && (done = waitpid(child->pid, &status, WNOHANG)) == 0) {
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (stop_signal && done == 0) {
    abandon_encoder(child, options);
    return false;
  }
  const std::string ended = done == child->pid ? how_it_ended(status) : wait_for(child->pid);
  child->pid = -1;
  if (stop_signal) {
    std::remove(child->temporary.c_str());
    return false;
  }
  // ffmpeg 5.1 exits with status 0 after "Error writing trailer ...: No
  // space left on device" unless told -xerror; an error it said counts as a
  // failure either way.
  const std::string said = first_error(*child);
  if (!ended.empty() || !said.empty()) {
    std::fprintf(stderr, "%s: %s failed (%s%s%s); %s not written\n", capture_program_name,
                 options.ffmpeg.c_str(), ended.empty() ? "exit status 0" : ended.c_str(),
                 said.empty() ? "" : ": ", said.c_str(), child->path.c_str());
    std::remove(child->temporary.c_str());
    return false;
  }
  // The file must be on the disk whole: a write the system delayed can still
  // fail here, and an encoder that wrote nothing has not made a video.
  const int file = open(child->temporary.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat facts {};
  std::string fault;
  if (file < 0 || fstat(file, &facts) != 0 || fsync(file) != 0)
    fault = std::strerror(errno);
  else if (facts.st_size == 0)
    fault = options.ffmpeg + " wrote nothing";
  if (file >= 0) close(file);
  if (!fault.empty()) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", capture_program_name, child->path.c_str(),
                 fault.c_str());
    std::remove(child->temporary.c_str());
    return false;
  }
  if (!video_may_replace(*child)) {
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
  while (count > 0) {
    pollfd polled[2] = {{child->input, POLLOUT, 0}, {child->errors, POLLIN, 0}};
    const int ready = poll(polled, child->errors >= 0 ? 2 : 1, 250);
    if (stop_signal) return false;
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    if (child->errors >= 0 && polled[1].revents) read_errors(child);
    if (!polled[0].revents) continue;
    const ssize_t written = write(child->input, bytes, count);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}
