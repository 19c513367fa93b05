// system_windows.cpp: what the toolkit needs from Windows. Its POSIX
// counterpart is system_posix.cpp; each build compiles one of them.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/toolkit.h"

const char* system_program_name() {
  static char name[MAX_PATH] = "";
  if (name[0]) return name;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    std::strcpy(name, "program");
    return name;
  }
  const char* start = path;
  for (const char* c = path; *c; ++c)
    if (*c == '\\' || *c == '/') start = c + 1;
  std::strcpy(name, start);
  char* dot = std::strrchr(name, '.');
  if (dot && _stricmp(dot, ".exe") == 0) *dot = '\0';
  return name;
}

// Where standard error was sent while a windowed program runs without one.
static FILE* kept_errors = nullptr;

// Whether standard error was sent to a file or a pipe by whoever started the
// program (a script, a test). A windowed program started from the desktop or
// a command prompt has none, or a character device nobody reads.
static bool standard_error_is_kept() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

// At exit: shows what the program wrote to standard error, if anything, in
// one message box titled with the program's name.
static void show_kept_errors() {
  std::fflush(stderr);
  std::string text;
  std::rewind(kept_errors);
  char chunk[1024];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, kept_errors)) > 0) text.append(chunk, got);
  std::fclose(kept_errors);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!text.empty())
    MessageBoxA(nullptr, text.c_str(), system_program_name(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int system_run_windowed(int (*body)()) {
  if (!standard_error_is_kept()) {
    // A file in the user's temporary folder that is deleted once closed
    // ("D"); standard error is rebound to it until the program ends.
    char folder[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, folder) && GetTempFileNameA(folder, "err", 0, path)) {
      kept_errors = std::fopen(path, "w+bD");
      if (kept_errors && std::freopen("NUL", "w", stderr) &&
          _dup2(_fileno(kept_errors), _fileno(stderr)) == 0) {
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        std::atexit(show_kept_errors);
      }
    }
  }
  return body();
}
