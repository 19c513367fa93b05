// system_posix.cpp: what the toolkit needs from a POSIX system (Linux). Its
// Windows counterpart is system_windows.cpp; each build compiles one of them.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "toolkit/toolkit.h"

const char* system_program_name() {
  return program_invocation_short_name;
}

int system_open_standard_streams() {
  // Descriptors are handed out lowest first, so each closed one in turn gets
  // /dev/null. Without this, the first file or connection the program opens
  // (the X display's socket) would take the place of a closed stderr, and
  // error text would be written into it.
  for (int stream = 0; stream <= 2; ++stream) {
    if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return 0;
    if (opened != stream) {
      const int moved = dup2(opened, stream);
      close(opened);
      if (moved != stream) return 0;
    }
  }
  return 1;
}

int system_run_windowed(int (*body)()) {
  return body();
}

static system_file_status status_of(const struct stat& status) {
  system_file_status out{};
  out.type = S_ISREG(status.st_mode)   ? SYSTEM_FILE_REGULAR
             : S_ISDIR(status.st_mode) ? SYSTEM_FILE_FOLDER
                                       : SYSTEM_FILE_OTHER;
  out.size = static_cast<long long>(status.st_size);
  out.identity[0] = static_cast<unsigned long long>(status.st_dev);
  out.identity[1] = static_cast<unsigned long long>(status.st_ino);
  out.identity[2] = static_cast<unsigned long long>(status.st_mtim.tv_sec);
  out.identity[3] = static_cast<unsigned long long>(status.st_mtim.tv_nsec);
  return out;
}

const char* system_stat_file(const char* path, system_file_status* out, bool* missing) {
  struct stat status {};
  *missing = false;
  if (stat(path, &status) != 0) {
    *missing = errno == ENOENT;
    return std::strerror(errno);
  }
  *out = status_of(status);
  return nullptr;
}

const char* system_read_file(const char* path, long long max_bytes,
                             std::vector<unsigned char>* bytes) {
  // Opened without blocking (a FIFO would wait for a writer) and checked on
  // the open descriptor, so that nothing can be swapped in between.
  const int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return std::strerror(errno);
  struct stat status {};
  const char* problem = nullptr;
  if (fstat(file, &status) != 0)
    problem = std::strerror(errno);
  else if (!S_ISREG(status.st_mode))
    problem = "it is not a regular file";
  else if (status.st_size > max_bytes)
    problem = "the file is too large";
  else {
    try {
      bytes->resize(static_cast<size_t>(status.st_size));
      size_t done = 0;
      while (done < bytes->size()) {
        const ssize_t got = read(file, bytes->data() + done, bytes->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          problem = std::strerror(errno);
          break;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
      }
      bytes->resize(done);
    } catch (const std::bad_alloc&) {
      problem = "not enough memory to read it";
    }
  }
  close(file);
  return problem;
}

const char* system_missing_display() {
  return std::getenv("DISPLAY") ? nullptr : "no X display: run it under xvfb-run";
}

unsigned long long system_peak_memory_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<unsigned long long>(usage.ru_maxrss) * 1024;  // Linux counts KiB
}

const char* system_peak_memory_source() {
  return "getrusage ru_maxrss";
}
