// files_posix.cpp: file status and whole-file reading on POSIX systems, for
// the Linux build and the browser build's runtime alike. Windows has its own
// in system_windows.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "toolkit/toolkit.h"

std::FILE* system_open_file(const char* path, const char* mode) {
  return std::fopen(path, mode);
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
