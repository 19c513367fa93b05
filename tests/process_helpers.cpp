// process_helpers.cpp: running the film's programs from tests, and reading
// and comparing the images they write.
#include "process_helpers.h"

#include <fcntl.h>
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
  static int runs = 0;
  const fs::path output = fs::temp_directory_path() /
                          ("test-run-" + std::to_string(getpid()) + "-" + std::to_string(++runs));
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    for (const env_change& change : env) {
      if (change.value)
        setenv(change.name, change.value, 1);
      else
        unsetenv(change.name);
    }
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) _exit(126);
    dup2(fd, 1);
    dup2(fd, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (child < 0) return result;
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (seconds_since(start) > limit) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.timed_out = true;
      break;
    }
    if (watch) watch(child, seconds_since(start));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!result.timed_out && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  std::ifstream in(output);
  std::stringstream text;
  text << in.rdbuf();
  result.output = text.str();
  fs::remove(output);
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
