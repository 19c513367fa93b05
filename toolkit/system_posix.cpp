// system_posix.cpp: what the toolkit needs from a POSIX system (Linux). Its
// Windows counterpart is system_windows.cpp; each build compiles one of them.
// File access, which the browser build shares, is in files_posix.cpp.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/pieces.h"
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

void system_utf8_arguments(int*, char***) {}

int system_end_process(int status) {
  return status;
}

int system_run_windowed(int (*body)()) {
  return body();
}

void system_keep_input_libraries() {}

// A display is an X display named by $DISPLAY, or a Wayland compositor's
// socket where Wayland clients look for it: $WAYLAND_DISPLAY (wayland-0 when
// unset) in $XDG_RUNTIME_DIR, or $WAYLAND_DISPLAY itself when it is a path.
const char* system_missing_display() {
  const char* x_display = std::getenv("DISPLAY");
  if (x_display && x_display[0]) return nullptr;
  const char* named = std::getenv("WAYLAND_DISPLAY");
  const char* name = named && named[0] ? named : "wayland-0";
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  static char reason[600];
  const char* const advice = "run it on a desktop or under xvfb-run";
  std::string socket_path;
  if (name[0] == '/') {
    socket_path = name;
  } else if (folder && folder[0]) {
    socket_path = std::string(folder) + "/" + name;
  } else if (named && named[0]) {
    std::snprintf(reason, sizeof reason,
                  "no display: DISPLAY is not set, and WAYLAND_DISPLAY (%s) needs "
                  "XDG_RUNTIME_DIR, which is not set: %s",
                  name, advice);
    return reason;
  } else {
    std::snprintf(reason, sizeof reason,
                  "no display: none of DISPLAY, WAYLAND_DISPLAY and XDG_RUNTIME_DIR is set: %s",
                  advice);
    return reason;
  }
  struct stat status {};
  if (stat(socket_path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) return nullptr;
  std::snprintf(reason, sizeof reason,
                "no display: DISPLAY is not set, and %s is no Wayland socket: %s",
                socket_path.c_str(), advice);
  return reason;
}

unsigned long long system_peak_memory_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<unsigned long long>(usage.ru_maxrss) * 1024;  // Linux counts KiB
}

const char* system_peak_memory_source() {
  return "getrusage ru_maxrss";
}

// Writes the whole block to the descriptor; false with errno set.
static bool write_all(int file, const void* bytes, size_t size) {
  const char* at = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = write(file, at, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    at += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Gives the temporary file the name, unless the name is taken. The move that
// refuses to replace is tried first; on a file system without it, a hard
// link (which refuses too); on one without links, a look at the name before
// the move (a name made in between could then be replaced).
static int move_without_replacing(const char* temporary, const char* path) {
  if (renameat2(AT_FDCWD, temporary, AT_FDCWD, path, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(temporary, path) == 0) {
    unlink(temporary);
    return 0;
  }
  // A file system without hard links (EOPNOTSUPP, which Linux also calls
  // ENOTSUP) or with too many: fall back to a checked rename.
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return -1;
  struct stat status {};
  if (lstat(path, &status) == 0) {
    errno = EEXIST;
    return -1;
  }
  if (errno != ENOENT) return -1;
  return rename(temporary, path);
}

const char* system_create_file(const char* path, const void* bytes, size_t size, bool* existed) {
  *existed = false;
  struct stat status {};
  if (lstat(path, &status) == 0) {  // lstat: a link is there, wherever it points
    *existed = true;
    return nullptr;
  }
  if (errno != ENOENT) return std::strerror(errno);
  // mkstemp creates the temporary file exclusively: never through a link.
  std::string temporary = std::string(path) + ".partial-XXXXXX";
  const int file = mkstemp(temporary.data());
  if (file < 0) return std::strerror(errno);
  // mkstemp makes it private; the file gets the permissions a plain creation
  // would give it.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(file, 0666 & ~mask);
  bool written = write_all(file, bytes, size) && fsync(file) == 0;
  int fault = errno;
  if (close(file) != 0 && written) {
    written = false;
    fault = errno;
  }
  if (written && move_without_replacing(temporary.c_str(), path) == 0) return nullptr;
  if (written) fault = errno;
  unlink(temporary.c_str());
  if (written && fault == EEXIST) {  // taken while the file was being written
    *existed = true;
    return nullptr;
  }
  return std::strerror(fault);
}
