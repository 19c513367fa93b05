// command.cpp: the capture tool and the viewer run as an installed package's
// commands (see command.h).
#include "programs/common/command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "toolkit/toolkit.h"

namespace {

// A variable's value, or null when it is unset or empty.
const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

}  // namespace

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const char* command_name(const char* program) {
  const char* name = variable("SKYWARD_COMMAND");
  return name ? name : program;
}

bool command_begin(int* argc, char*** argv, const char** name) {
  if (!system_open_standard_streams()) return false;
  system_utf8_arguments(argc, argv);
  *name = command_name(*name);
  return true;
}

std::string command_text(const std::string& text, const char* program) {
  const std::string from = program, to = command_name(program);
  std::string result;
  size_t start = 0;
  for (size_t found; (found = text.find(from, start)) != std::string::npos;
       start = found + from.size())
    result += text.substr(start, found - start) + to;
  return result + text.substr(start);
}

std::string asset_folder_text() {
  if (const char* folder = variable("SKYWARD_ASSET_DIR"))
    return std::string("It reads the film's asset files from ") + folder +
           "; the files and folders\nit is given are taken from the current folder.\n";
  return "Run it where the film's asset files are (the build folder).\n";
}

bool enter_asset_folder(const char* program, const std::vector<std::string*>& paths) {
  const char* folder = variable("SKYWARD_ASSET_DIR");
  if (!folder) return true;
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  if (error) {
    std::fprintf(stderr, "%s: cannot use the current folder: %s\n", program,
                 error.message().c_str());
    return false;
  }
  for (std::string* path : paths)
    if (!path->empty() && std::filesystem::u8path(*path).is_relative())
      *path = (here / std::filesystem::u8path(*path)).lexically_normal().u8string();
  std::filesystem::current_path(folder, error);
  if (error) {
    std::fprintf(stderr, "%s: cannot use %s: %s\n", program, folder, error.message().c_str());
    return false;
  }
  return true;
}
