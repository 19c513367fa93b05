// demo-capture as a user runs it: stills at chosen moments, and its answers
// to bad options. Runs the program built next to the film.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "gl_fixture.h"

namespace {

struct run_result {
  int status;
  std::string output;
};

// Runs demo-capture with the arguments, capturing stdout and stderr.
run_result run_capture(const std::string& arguments) {
  const std::string command = "./demo-capture " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  run_result result{-1, ""};
  if (!pipe) return result;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, count);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

struct image_stats {
  int width = 0, height = 0;
  double mean[3] = {0, 0, 0};  // per channel, over the whole image, in [0, 1]
  double spread = 0;           // standard deviation of brightness
};

bool load_stats(const std::string& path, image_stats* stats) {
  int channels = 0;
  unsigned char* pixels = stbi_load(path.c_str(), &stats->width, &stats->height, &channels, 3);
  if (!pixels) return false;
  const int w = stats->width, h = stats->height;
  double sum = 0, sum_sq = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = pixels + (static_cast<size_t>(y) * w + x) * 3;
      double brightness = 0;
      for (int c = 0; c < 3; ++c) {
        stats->mean[c] += p[c] / 255.0;
        brightness += p[c] / 255.0 / 3;
      }
      sum += brightness;
      sum_sq += brightness * brightness;
    }
  const double n = static_cast<double>(w) * h;
  for (double& m : stats->mean) m /= n;
  stats->spread = std::sqrt(std::max(0.0, sum_sq / n - (sum / n) * (sum / n)));
  stbi_image_free(pixels);
  return true;
}

}  // namespace

TEST(Capture, StillsShowBlackThenSkyAndTerrainThenBlack) {
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("capture_test_" + std::to_string(getpid()));
  const run_result run = run_capture("--at 112,0,13 --size 96x54 --out " + out.string());
  ASSERT_EQ(run.status, 0) << run.output;

  image_stats start, thirteen, end;
  ASSERT_TRUE(load_stats((out / "still-000.000.png").string(), &start)) << run.output;
  ASSERT_TRUE(load_stats((out / "still-013.000.png").string(), &thirteen)) << run.output;
  ASSERT_TRUE(load_stats((out / "still-112.000.png").string(), &end)) << run.output;
  EXPECT_EQ(thirteen.width, 96);
  EXPECT_EQ(thirteen.height, 54);

  // The film fades in from black and is black again after 111 s.
  for (double m : start.mean) EXPECT_LT(m, 0.02);
  for (double m : end.mean) EXPECT_EQ(m, 0.0);

  // At 13 s: a lit picture with structure (sky, terrain, title), not a flat
  // colour.
  EXPECT_GT((thirteen.mean[0] + thirteen.mean[1] + thirteen.mean[2]) / 3, 0.08);
  EXPECT_GT(thirteen.spread, 0.02);
  std::filesystem::remove_all(out);
}

TEST(Capture, BadOptionsEndWithAClearMessageAndStatusTwo) {
  const char* const bad[] = {"--size 10x", "--size 0x0", "--at 200", "--at 3,x",
                             "--fps -5",   "--bogus",    "--at"};
  for (const char* arguments : bad) {
    const run_result run = run_capture(arguments);
    EXPECT_EQ(run.status, 2) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find("demo-capture: "), std::string::npos) << arguments;
  }
}

TEST(Capture, HelpExplainsEveryOption) {
  const run_result run = run_capture("--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--at", "--size", "--fps", "--out", "--help"})
    EXPECT_NE(run.output.find(option), std::string::npos) << option;
}
