// process_helpers.cpp: running the film's programs from tests, and reading
// and comparing the images they write.
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

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

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

namespace {

// The scratch folder, removed when the program ends.
struct scratch_folder {
  fs::path path;
  scratch_folder() {
    char name[] = "/tmp/test-scratch.XXXXXX";
    path = mkdtemp(name);
  }
  ~scratch_folder() { fs::remove_all(path); }
};

}  // namespace

fs::path scratch_file(const std::string& name) {
  static scratch_folder folder;
  return folder.path / name;
}

std::string write_file(const std::string& name, const std::string& bytes) {
  const fs::path path = scratch_file(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

bool read_png(const std::string& path, rgb_image* out) {
  int channels = 0;
  unsigned char* pixels = stbi_load(path.c_str(), &out->width, &out->height, &channels, 3);
  if (!pixels) return false;
  out->rgb.assign(pixels, pixels + static_cast<size_t>(out->width) * out->height * 3);
  stbi_image_free(pixels);
  return true;
}

double psnr(const rgb_image& a, const rgb_image& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
    return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    const double d = static_cast<double>(a.rgb[i]) - b.rgb[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.rgb.size());
  if (mse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}
