// demo-capture as a user runs it: stills at chosen moments, the whole film as
// PNG frames and as a video, its answers to bad options and to an ffmpeg that
// fails. Runs the program built next to the film.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "process_helpers.h"

namespace {

// Runs demo-capture with the arguments, capturing stdout and stderr.
run_result run_capture(const std::string& arguments) {
  return run_command("./demo-capture " + arguments);
}

// A fresh, empty folder named after the test, in the test program's scratch
// folder.
std::filesystem::path scratch(const std::string& name) {
  const std::filesystem::path path = scratch_file(name);
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

// An executable shell script.
void write_script(const std::filesystem::path& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
}

// Largest difference of any channel of two 8-bit images of the same size.
int largest_difference(const std::string& a_path, const std::string& b_path) {
  rgb_image a, b;
  if (!read_png(a_path, &a) || !read_png(b_path, &b) || a.width != b.width || a.height != b.height)
    return 256;
  int largest = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i)
    largest = std::max(largest, std::abs(a.rgb[i] - b.rgb[i]));
  return largest;
}

struct image_stats {
  int width = 0, height = 0;
  double mean[3] = {0, 0, 0};  // per channel, over the whole image, in [0, 1]
  double spread = 0;           // standard deviation of brightness
};

bool load_stats(const std::string& path, image_stats* stats) {
  rgb_image image;
  if (!read_png(path, &image)) return false;
  stats->width = image.width;
  stats->height = image.height;
  const unsigned char* pixels = image.rgb.data();
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
  return true;
}

double brightness(const image_stats& stats) {
  return (stats.mean[0] + stats.mean[1] + stats.mean[2]) / 3;
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

// --layer picks the image a step of the frame leaves: the half-size sky and
// flare, and the chain's images before and after each full-size pass.
TEST(Capture, LayersAreTheImagesOfTheFramesSteps) {
  const std::filesystem::path out = scratch("layers");
  std::map<std::string, std::string> still;
  for (const char* layer : {"scene", "atmosphere", "flare", "composite", "focus", "final"}) {
    const std::filesystem::path folder = out / layer;
    const run_result run = run_capture(std::string("--at 30 --size 64x36 --layer ") + layer +
                                       " --out " + folder.string());
    ASSERT_EQ(run.status, 0) << layer << ": " << run.output;
    still[layer] = (folder / "still-030.000.png").string();
    image_stats stats;
    ASSERT_TRUE(load_stats(still[layer], &stats)) << layer;
    const bool half = std::string(layer) == "atmosphere" || std::string(layer) == "flare";
    EXPECT_EQ(stats.width, half ? 32 : 64) << layer;
    EXPECT_EQ(stats.height, half ? 18 : 36) << layer;
  }
  // At 30 s the depth of field and the speed blur both change the picture.
  EXPECT_GT(largest_difference(still["composite"], still["focus"]), 8);
  EXPECT_GT(largest_difference(still["focus"], still["final"]), 8);
  EXPECT_GT(largest_difference(still["scene"], still["composite"]), 8);
  std::filesystem::remove_all(out);
}

TEST(Capture, BadOptionsEndWithAClearMessageAndStatusTwo) {
  const char* const bad[] = {"--size 10x",
                             "--size 0x0",
                             "--at 200",
                             "--at 3,x",
                             "--fps -5",
                             "--bogus",
                             "--at",
                             "--video film.mp4 --size 33x18",
                             "--video film.mp4 --png frames",
                             "--benchmark --png frames"};
  for (const char* arguments : bad) {
    const run_result run = run_capture(arguments);
    EXPECT_EQ(run.status, 2) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find("demo-capture: "), std::string::npos) << arguments;
  }
}

// Numbers are decimal and whole: nothing wraps around or is read in another
// base. An option given twice is refused with its reason rather than one of
// its values dropped. Each is refused before any display is looked for.
TEST(Capture, LooseNumbersAndRepeatedOptionsAreRefused) {
  struct refused {
    const char* arguments;
    const char* reason;
  };
  const refused cases[] = {
      {"--size 4294968576x720", "--size: '4294968576x720' is not WxH"},
      {"--size 1280x4294967312", "--size: '1280x4294967312' is not WxH"},
      {"--size 0x10x720", "--size: '0x10x720' is not WxH"},
      {"--size +640x360", "--size: '+640x360' is not WxH"},
      {"--size ' 640x360'", "--size: ' 640x360' is not WxH"},
      {"--fps 0x10", "--fps: '0x10' is not a rate"},
      {"--fps ' 30'", "--fps: ' 30' is not a rate"},
      {"--at 0x10", "--at: '0x10' is not a number of seconds"},
      {"--at 3,0x1", "--at: '0x1' is not a number of seconds"},
      {"--at infinity", "--at: 'infinity' is not a number of seconds"},
      {"--at 3 --at 5", "--at is given more than once"},
      {"--size 64x36 --size 32x18", "--size is given more than once"},
      {"--benchmark --benchmark", "--benchmark is given more than once"},
  };
  for (const refused& c : cases) {
    const run_result run =
        run_command(std::string("env -u DISPLAY ./demo-capture --gl x11 ") + c.arguments);
    EXPECT_EQ(run.status, 2) << c.arguments << ": " << run.output;
    EXPECT_EQ(run.output.find(std::string("demo-capture: ") + c.reason), 0u)
        << c.arguments << ": " << run.output;
  }
  // Decimal forms stay accepted: they reach the missing display.
  for (const char* good : {"--at 3.5e1,0.25,+7 --fps 2.5e1", "--size 00640x0360 --fps 30."}) {
    const run_result run = run_command(
        std::string(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR ./demo-capture --gl x11 ") +
        good);
    EXPECT_EQ(run.status, 1) << good << ": " << run.output;
    EXPECT_NE(run.output.find("no display"), std::string::npos) << good << ": " << run.output;
  }
}

// Every option in every mode: a mode runs with each option it reads, and
// refuses each of the others, naming the modes the option is for, with status
// 2 before anything is read, rather than leaving it unread. The
// options are those the help names: one the help gains without a row here
// fails.
TEST(Capture, EachModeRefusesEveryOptionItDoesNotRead) {
  const std::filesystem::path folder = scratch("modes"), empty = scratch("modes-empty");
  const std::string program = (std::filesystem::current_path() / "demo-capture").string();
  struct mode {
    const char* name;
    std::string arguments;
  };
  const mode modes[] = {{"stills", ""},
                        {"--video", "--video " + (folder / "film.mp4").string()},
                        {"--png", "--png " + (folder / "frames").string()},
                        {"--benchmark", "--benchmark"}};
  struct option {
    const char* name;
    std::string value;
    std::set<std::string> readers;  // the modes that read it
  };
  const std::set<std::string> every = {"stills", "--video", "--png", "--benchmark"};
  const std::set<std::string> whole_film = {"--video", "--png"};
  const std::vector<option> options = {
      {"--at", "3", {"stills"}},        {"--out", (folder / "stills").string(), {"stills"}},
      {"--layer", "scene", {"stills"}}, {"--ffmpeg", "ffmpeg", {"--video"}},
      {"--frames", "1-2", whole_film},  {"--until", "3", whole_film},
      {"--no-overlap", "", whole_film}, {"--size", "64x36", every},
      {"--fps", "30", every},           {"--gl", "x11", every},
      {"--fingerprint", "", every},
  };
  const run_result help = run_capture("--help");
  ASSERT_EQ(help.status, 0);
  for (size_t at = help.output.find("\n  --"); at != std::string::npos;
       at = help.output.find("\n  --", at + 1)) {
    const std::string name =
        help.output.substr(at + 3, help.output.find_first_of(" \n", at + 3) - at - 3);
    const bool known = name == "--help" ||
                       std::any_of(std::begin(modes), std::end(modes),
                                   [&](const mode& m) { return name == m.name; }) ||
                       std::any_of(options.begin(), options.end(),
                                   [&](const option& o) { return name == o.name; });
    EXPECT_TRUE(known) << name << " is in the help but not in this test's table";
  }
  for (const mode& m : modes)
    for (const option& o : options) {
      const std::string given = std::string(o.name) + (o.value.empty() ? "" : " ") + o.value;
      SCOPED_TRACE(m.name + (" with " + given));
      // Run where the film's asset files are not, a mode that reads every
      // option given goes on to its start and stops there, at the first
      // missing asset.
      const run_result run =
          run_command("cd " + empty.string() + " && " + program + " " + m.arguments + " " + given);
      if (o.readers.count(m.name)) {
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("demo-capture: cannot read "), std::string::npos) << run.output;
        continue;
      }
      EXPECT_EQ(run.status, 2) << run.output;
      const std::string line = run.output.substr(0, run.output.find('\n'));
      EXPECT_EQ(line.rfind(std::string("demo-capture: ") + o.name + " is for ", 0), 0u) << line;
      for (const std::string& reader : o.readers)
        EXPECT_NE(line.find(reader), std::string::npos) << line;
      const std::string refusal = m.name == std::string("stills")
                                      ? "; it cannot be used without"
                                      : std::string("; it cannot be combined with ") + m.name;
      EXPECT_NE(line.find(refusal), std::string::npos) << line;
    }
  std::filesystem::remove_all(folder);
  std::filesystem::remove_all(empty);
}

// The help text and the option parser are written apart: every option the
// help names must be one the parser knows. Each is given alone and without a
// display, so that nothing is rendered: an option that wants a value says it
// is missing, a flag stops at the missing display, an unknown one is "not
// expected".
TEST(Capture, EveryOptionTheHelpNamesIsAccepted) {
  const run_result help = run_capture("--help");
  ASSERT_EQ(help.status, 0);
  std::set<std::string> options;
  for (size_t at = help.output.find("\n  --"); at != std::string::npos;
       at = help.output.find("\n  --", at + 1)) {
    const size_t start = at + 3;
    const size_t end = help.output.find_first_of(" \n", start);
    options.insert(help.output.substr(start, end - start));
  }
  EXPECT_GE(options.size(), 10u);
  for (const std::string& option : options) {
    // --fingerprint renders nothing, so needs no display (its own test below).
    if (option == "--help" || option == "--fingerprint") continue;
    const run_result run = run_command("env -u DISPLAY ./demo-capture --gl x11 " + option);
    EXPECT_NE(run.status, 0) << option << ": " << run.output;
    EXPECT_NE(run.output.find("demo-capture: "), std::string::npos) << option << ": " << run.output;
    EXPECT_EQ(run.output.find("not expected"), std::string::npos) << option << ": " << run.output;
  }
}

// --fingerprint checks the options as a capture would and names the film in
// one line, rendering nothing and making no file: the same line for the same
// film, another for other settings (the farm compares them).
TEST(Capture, FingerprintNamesTheFilmAndRendersNothing) {
  const std::string video = scratch_file("fingerprint.mkv").string();
  const run_result one =
      run_command("env -u DISPLAY ./demo-capture --fingerprint --size 64x36 --fps 2 --video '" +
                  video + "' 2>&1");
  ASSERT_EQ(one.status, 0) << one.output;
  EXPECT_EQ(one.output.rfind("skyward ", 0), 0u) << one.output;
  EXPECT_NE(one.output.find(" size=64x36 fps=2 frames=230\n"), std::string::npos) << one.output;
  EXPECT_EQ(std::count(one.output.begin(), one.output.end(), '\n'), 1) << one.output;
  EXPECT_FALSE(std::filesystem::exists(video));
  const run_result again = run_command(
      "./demo-capture --fingerprint --size 64x36 --fps 2 --frames 3-9 --video x.mp4 2>&1");
  EXPECT_EQ(again.output, one.output);
  const run_result other = run_command("./demo-capture --fingerprint --size 64x36 --fps 3 2>&1");
  EXPECT_NE(other.output, one.output);
  const run_result bad = run_command("./demo-capture --fingerprint --size 8x8 2>&1");
  EXPECT_EQ(bad.status, 2) << bad.output;
  EXPECT_EQ(bad.output.rfind("demo-capture: --size: '8x8' is not WxH", 0), 0u) << bad.output;
}

// Text that cannot be written is an error, not a silent success.
TEST(Capture, HelpAndBenchmarkToAFullDeviceFail) {
  for (const char* arguments : {"--help", "--benchmark --size 64x36"}) {
    const run_result run =
        run_command(std::string("(./demo-capture ") + arguments + " >/dev/full)");
    EXPECT_EQ(run.status, 1) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find("demo-capture: cannot write the standard output: No space left"),
              std::string::npos)
        << arguments << ": " << run.output;
  }
}

TEST(Capture, PngFramesAreTheWholeFilmWithItsFades) {
  const std::filesystem::path out = scratch("png");
  const run_result run =
      run_capture("--png " + (out / "frames").string() + " --size 32x18 --fps 1");
  ASSERT_EQ(run.status, 0) << run.output;

  // One frame per second: frame k is drawn at k s, the last at 115 s.
  const std::vector<std::string> names = names_in(out / "frames");
  ASSERT_EQ(names.size(), 115u) << run.output;
  EXPECT_EQ(names.front(), "frame-000001.png");
  EXPECT_EQ(names.back(), "frame-000115.png");
  std::vector<double> light(116, 0.0);  // brightness of frame k
  for (int k = 1; k <= 115; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", k);
    image_stats stats;
    ASSERT_TRUE(load_stats((out / "frames" / name).string(), &stats)) << name;
    ASSERT_EQ(stats.width, 32) << name;
    ASSERT_EQ(stats.height, 18) << name;
    light[k] = brightness(stats);
  }

  // Fade-in: the image is scaled by t / 5 up to 5 s, so it grows every
  // second and the frame at 1 s has a fifth of the light of the one at 5 s.
  for (int k = 1; k < 5; ++k) EXPECT_LT(light[k], light[k + 1]) << k << " s";
  EXPECT_NEAR(light[1] / light[5], 0.2, 0.05);
  // Fade-out: scaled by 1 - (t - 106) / 5 from 106 s, black from 111 s on.
  for (int k = 107; k <= 110; ++k)
    EXPECT_NEAR(light[k] / light[106], 1.0 - (k - 106) * 0.2, 0.05) << k << " s";
  for (int k = 111; k <= 115; ++k) EXPECT_EQ(light[k], 0.0) << k << " s";

  // The frames are the film's, the right way up and in their colours: frame
  // 13 is the still of 13 s at the same rate (the two read-backs may round a
  // channel differently by one level).
  ASSERT_EQ(run_capture("--at 13 --fps 1 --size 32x18 --out " + out.string()).status, 0);
  EXPECT_LE(largest_difference((out / "frames" / "frame-000013.png").string(),
                               (out / "still-013.000.png").string()),
            1);
  std::filesystem::remove_all(out);
}

TEST(Capture, FailingFfmpegEndsWithAReasonAndLeavesNoFile) {
  const std::filesystem::path tools = scratch("tools");
  std::filesystem::create_directories(tools / "empty");
  write_script(tools / "ffmpeg", "exit 1\n");
  // Writes part of its output file, as an encoder that crashes would.
  write_script(tools / "dies-midway",
               "for a; do last=$a; done\nhead -c 3000 > \"$last\"\nexit 3\n");
  write_script(tools / "fails-at-end", "for a; do last=$a; done\ncat > \"$last\"\nexit 1\n");
  // As ffmpeg 5.1 does on a full disk: an error on stderr, and status 0.
  write_script(tools / "trailer-fails",
               "for a; do last=$a; done\ncat > \"$last\"\n"
               "echo \"Error writing trailer of $last: No space left on device\" >&2\n");
  const std::string path = "PATH=" + tools.string() + ":$PATH ";
  const struct {
    std::string command;
    std::string reason;
  } cases[] = {
      {path + "./demo-capture", "ffmpeg failed (exit status 1)"},
      {"./demo-capture --ffmpeg " + (tools / "dies-midway").string(), "(exit status 3)"},
      {"./demo-capture --ffmpeg " + (tools / "fails-at-end").string(), "(exit status 1)"},
      {"./demo-capture --ffmpeg " + (tools / "trailer-fails").string(),
       "(exit status 0: Error writing trailer of "},
      {"./demo-capture --ffmpeg " + (tools / "missing").string(), "No such file or directory"},
      {"PATH=" + (tools / "empty").string() + " ./demo-capture",
       "cannot run ffmpeg: No such file or directory (install the ffmpeg package)"},
  };
  for (const auto& c : cases) {
    const std::filesystem::path out = scratch("videos");
    const std::string video = (out / "film.mp4").string();
    const run_result run = run_command(c.command + " --video " + video + " --size 32x18 --fps 1");
    EXPECT_EQ(run.status, 1) << c.command << ": " << run.output;
    EXPECT_NE(run.output.find("demo-capture: "), std::string::npos) << c.command;
    EXPECT_NE(run.output.find(c.reason), std::string::npos) << c.command << ": " << run.output;
    // Neither the requested file nor the temporary one is left.
    EXPECT_EQ(names_in(out), std::vector<std::string>{}) << c.command;
    std::filesystem::remove_all(out);
  }
  std::filesystem::remove_all(tools);
}

// A video never takes the place of anything but a regular file: a device, a
// FIFO, a socket or a folder, a name ending in / and a folder that cannot be
// written are refused before anything is rendered (here: before the missing
// display would be noticed), and are left as they were.
TEST(Capture, VideoRefusesWhatIsNotAFileBeforeRendering) {
  const std::filesystem::path out = scratch("targets");
  write_script(out / "encoder", "for a; do last=$a; done\ncat > \"$last\"\n");
  std::filesystem::create_directories(out / "folder");
  ASSERT_EQ(mkfifo((out / "fifo").c_str(), 0644), 0);
  const int unix_socket = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (out / "socket").c_str());
  ASSERT_EQ(bind(unix_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::vector<std::string> targets = {(out / "folder").string(),        (out / "fifo").string(),
                                      (out / "socket").string(),        (out / "new/").string(),
                                      (out / "folder" / "..").string(), "/proc/capture_test.mp4"};
  // A device node of its own (the null device's numbers), where one can be made.
  if (mknod((out / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    targets.push_back((out / "null").string());
  // A link, even to a regular file: the rename would replace the link.
  std::ofstream(out / "file") << "kept";
  std::filesystem::create_symlink(out / "file", out / "link");
  targets.push_back((out / "link").string());
  const std::vector<std::string> before = names_in(out);
  for (const std::string& target : targets) {
    const run_result run =
        run_command("env -u DISPLAY ./demo-capture --gl x11 --size 32x18 --fps 1 --ffmpeg " +
                    (out / "encoder").string() + " --video " + target);
    EXPECT_EQ(run.status, 1) << target << ": " << run.output;
    EXPECT_EQ(run.output.rfind("demo-capture: cannot use " + target + ": ", 0), 0u)
        << target << ": " << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
  }
  EXPECT_EQ(names_in(out), before);
  EXPECT_EQ(names_in(out / "folder"), std::vector<std::string>{});
  struct stat node {};
  EXPECT_TRUE(stat((out / "fifo").c_str(), &node) == 0 && S_ISFIFO(node.st_mode));
  EXPECT_TRUE(stat((out / "socket").c_str(), &node) == 0 && S_ISSOCK(node.st_mode));
  EXPECT_TRUE(std::filesystem::is_symlink(out / "link"));
  EXPECT_EQ(text_of((out / "file").string()), "kept");
  if (targets.size() > 7) {
    EXPECT_TRUE(stat((out / "null").c_str(), &node) == 0 && S_ISCHR(node.st_mode));
  }
  close(unix_socket);
  std::filesystem::remove_all(out);
}

// Any name the file system accepts is a name the video can have, however
// long, in one-byte or in multi-byte characters.
TEST(Capture, VideoTakesTheLongestLegalName) {
  const std::filesystem::path out = scratch("long_names");
  write_script(out / "encoder", "for a; do last=$a; done\ncat > \"$last\"\n");
  std::filesystem::create_directories(out / "videos");
  std::string accented;
  for (int i = 0; i < 125; ++i) accented += "\xc3\xa9";  // 250 bytes
  for (const std::string& name : {std::string(251, 'a') + ".mp4", accented + ".mkv"}) {
    ASSERT_LE(name.size(), 255u);
    const std::filesystem::path video = out / "videos" / name;
    const run_result run = run_capture("--video '" + video.string() + "' --size 32x18 --fps 1 " +
                                       "--ffmpeg " + (out / "encoder").string());
    EXPECT_EQ(run.status, 0) << name.size() << " bytes: " << run.output;
    EXPECT_EQ(names_in(out / "videos"), std::vector<std::string>{name}) << run.output;
    std::filesystem::remove(video);
  }
  std::filesystem::remove_all(out);
}

// Runs demo-capture with `arguments` (split at spaces) and stderr in `log`,
// sends it `signal_number` once `wanted` shows in the log, and returns what
// the run gave (timed_out when `wanted` never showed or the program did not
// end: limits that only catch a hang).
run_result signal_capture(const std::string& arguments, const std::string& log, const char* wanted,
                          int signal_number) {
  // A log left by an earlier run must not be taken for this one's.
  std::filesystem::remove(log);
  // The shell replaces itself with the program, which keeps its process id:
  // once the log shows `wanted`, the process is the program.
  const std::vector<std::string> words{"/bin/sh", "-c",
                                       "exec ./demo-capture " + arguments + " 2>'" + log + "'"};
  bool sent = false;
  return run_process(words, std::filesystem::current_path(), {}, 600.0, [&](pid_t pid, double) {
    if (!sent && text_of(log).find(wanted) != std::string::npos) {
      kill(pid, signal_number);
      sent = true;
    }
  });
}

// Whether the process has ended (gone, or a zombie waiting to be reaped).
bool process_ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// Every signal that would end the program stops the capture the same way:
// ffmpeg stopped, no file left, not even a folder it made, status 128 +
// the signal.
TEST(Capture, TerminatedVideoLeavesNoFile) {
  const std::filesystem::path out = scratch("terminated");
  write_script(out / "encoder", "for a; do last=$a; done\ncat > \"$last\"\n");
  std::filesystem::create_directories(out / "videos");
  const std::string log = (out / "log.txt").string();
  const std::string video = (out / "videos" / "new" / "film.mp4").string();
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1}) {
    const run_result run =
        signal_capture("--video " + video + " --size 64x36 --ffmpeg " + (out / "encoder").string(),
                       log, "frames/s", signal_number);
    const std::string text = text_of(log);
    ASSERT_FALSE(run.timed_out) << strsignal(signal_number) << ": " << text;
    EXPECT_EQ(run.status, 128 + signal_number) << text;
    EXPECT_NE(text.find("interrupted"), std::string::npos) << text;
    EXPECT_EQ(names_in(out / "videos"), std::vector<std::string>{}) << strsignal(signal_number);
  }
  std::filesystem::remove_all(out);
}

// Ctrl-C during --png: the frames written are removed with the folder, and
// the line says which frames are not written.
TEST(Capture, InterruptedPngFramesAreNamedAndRemoved) {
  const std::filesystem::path out = scratch("interrupted-png");
  const std::string log = (out / "log.txt").string();
  const std::string frames = (out / "frames").string();
  const run_result run =
      signal_capture("--png " + frames + " --size 32x18 --fps 10", log, "frames/s", SIGINT);
  const std::string text = text_of(log);
  ASSERT_FALSE(run.timed_out) << text;
  EXPECT_EQ(run.status, 128 + SIGINT) << text;
  EXPECT_NE(
      text.find("demo-capture: interrupted by Interrupt; " + frames + "/frame-*.png not written\n"),
      std::string::npos)
      << text;
  EXPECT_EQ(names_in(out), std::vector<std::string>{"log.txt"});
  std::filesystem::remove_all(out);
}

// Ctrl-C while ffmpeg finishes the file (here: an encoder that would take ten
// minutes after its input ends) stops the encoder instead of waiting for it,
// and leaves no file.
TEST(Capture, InterruptWhileTheEncoderFinishesLeavesNoFile) {
  const std::filesystem::path out = scratch("finishing");
  const std::string pid_file = (out / "encoder.pid").string();
  write_script(
      out / "encoder",
      "echo $$ > '" + pid_file + "'\nfor a; do last=$a; done\ncat > \"$last\"\nexec sleep 600\n");
  std::filesystem::create_directories(out / "videos");
  const std::string log = (out / "log.txt").string();
  const run_result run =
      signal_capture("--video " + (out / "videos" / "film.mp4").string() +
                         " --size 32x18 --fps 1 --ffmpeg " + (out / "encoder").string(),
                     log, "115/115 frames", SIGINT);
  const std::string text = text_of(log);
  ASSERT_FALSE(run.timed_out) << "the capture waited for the encoder: " << text;
  EXPECT_EQ(run.status, 128 + SIGINT) << text;
  EXPECT_NE(text.find("interrupted by Interrupt while"), std::string::npos) << text;
  const pid_t encoder = static_cast<pid_t>(std::atol(text_of(pid_file).c_str()));
  ASSERT_GT(encoder, 0) << "the encoder never started";
  // The encoder was stopped, not left running: it ends within a generous
  // limit that only catches one left behind.
  for (int i = 0; i < 600 && !process_ended(encoder); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(process_ended(encoder)) << "the encoder was left running";
  if (!process_ended(encoder)) kill(encoder, SIGKILL);  // never leave it behind
  EXPECT_EQ(names_in(out / "videos"), std::vector<std::string>{});
  std::filesystem::remove_all(out);
}

// A run that fails (here: X11 asked for without a display) removes the folders it made for
// its output, and only those.
TEST(Capture, FailedRunLeavesNoFolderItMade) {
  const std::filesystem::path out = scratch("folders");
  for (const std::string& arguments :
       {"--out " + (out / "a" / "b").string(), "--png " + (out / "c" / "d").string(),
        "--video " + (out / "e" / "f" / "film.mp4").string()}) {
    const run_result run = run_command("env -u DISPLAY ./demo-capture --gl x11 " + arguments);
    EXPECT_EQ(run.status, 1) << arguments << ": " << run.output;
    EXPECT_EQ(names_in(out), std::vector<std::string>{}) << arguments;
  }
  std::filesystem::remove_all(out);
}

// A folder named relative to the working folder, as a user types it, is made
// there; a missing one-word folder is no error.
TEST(Capture, StillsGoToAFolderNamedRelativeToTheWorkingFolder) {
  const std::string out = "relative-stills-" + std::to_string(getpid());
  std::filesystem::remove_all(out);
  const run_result run = run_capture("--at 3 --size 64x36 --fps 10 --out " + out);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(out) / "still-003.000.png"))
      << run.output;
  std::filesystem::remove_all(out);
}

// Files that cannot be written whole (here: beyond a file size limit, with
// SIGXFSZ ignored, as a full disk would stop them) end the run with one line
// naming the file and the reason, and leave nothing: no cut-off still, frame
// or video, and no folder the run made.
TEST(Capture, WriteErrorsEndTheRunAndLeaveNothing) {
  const std::filesystem::path out = scratch("write_errors");
  std::vector<std::pair<std::string, std::string>> runs = {
      {"--at 13 --out " + (out / "stills").string(),
       (out / "stills" / "still-013.000.png").string()},
      {"--fps 1 --png " + (out / "frames").string(), (out / "frames" / "frame-0").string()}};
  if (on_path("ffmpeg"))
    runs.push_back({"--fps 1 --video " + (out / "video" / "film.mp4").string(), "film.mp4"});
  for (const auto& [arguments, file] : runs) {
    const run_result run = run_command("sh -c 'trap \"\" XFSZ; ulimit -f 2; exec ./demo-capture " +
                                       arguments + " --size 64x36'");
    EXPECT_EQ(run.status, 1) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find(file), std::string::npos) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find("File too large"), std::string::npos) << run.output;
    EXPECT_EQ(names_in(out), std::vector<std::string>{}) << arguments;
  }
  std::filesystem::remove_all(out);
}

// PNG frames never mix with those of an earlier run: a folder that holds
// frame-*.png files is refused before anything is rendered, and left as it is.
TEST(Capture, PngFramesRefuseAFolderWithEarlierFrames) {
  const std::filesystem::path out = scratch("earlier_frames");
  std::ofstream(out / "frame-000007.png") << "earlier";
  const run_result run = run_command(
      "env -u DISPLAY ./demo-capture --gl x11 --fps 1 --size 32x18 --png " + out.string());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(run.output.rfind("demo-capture: cannot use " + out.string() +
                                 ": it holds frame-*.png files of an earlier run",
                             0),
            0u)
      << run.output;
  EXPECT_EQ(names_in(out), std::vector<std::string>{"frame-000007.png"});
  EXPECT_EQ(text_of((out / "frame-000007.png").string()), "earlier");
  std::filesystem::remove_all(out);
}

TEST(Capture, VideoIs115SecondsWithOneFramePerStep) {
  if (!on_path("ffmpeg") || !on_path("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::filesystem::path out = scratch("video");
  const std::string video = (out / "film.mp4").string();
  const run_result run = run_capture("--video " + video + " --size 32x18 --fps 1");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(names_in(out), std::vector<std::string>{"film.mp4"});

  const run_result probe = run_command(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,pix_fmt,width,height,nb_read_frames:format=duration -of "
      "default=noprint_wrappers=1 " +
      video);
  ASSERT_EQ(probe.status, 0) << probe.output;
  std::istringstream lines(probe.output);
  std::string line, codec, format;
  int width = 0, height = 0, frames = 0;
  double duration = 0;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "codec_name") codec = value;
    if (key == "pix_fmt") format = value;
    if (key == "width") width = std::atoi(value.c_str());
    if (key == "height") height = std::atoi(value.c_str());
    if (key == "nb_read_frames") frames = std::atoi(value.c_str());
    if (key == "duration") duration = std::atof(value.c_str());
  }
  EXPECT_EQ(codec, "h264");
  EXPECT_EQ(format, "yuv420p");
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 18);
  EXPECT_EQ(frames, 115);
  EXPECT_NEAR(duration, 115.0, 0.01) << probe.output;
  std::filesystem::remove_all(out);
}

TEST(Capture, BenchmarkTimesEveryStepAndCountsTheMemory) {
  const run_result run = run_capture("--benchmark --size 64x36");
  ASSERT_EQ(run.status, 0) << run.output;
  for (const char* step :
       {"toolkit loader", "programs", "terrain tile 1", "terrain tile 4", "normal-map.tga",
        "spaceship.obj", "ring.obj", "scene", "atmosphere", "flare", "composite", "depth of field",
        "radial blur", "present", "whole frame", "Peak resident memory"})
    EXPECT_NE(run.output.find(step), std::string::npos) << step << "\n" << run.output;
  // One row per moment, each with a positive whole-frame time.
  for (const char* moment :
       {"     3 s", "    13 s", "    30 s", "    45 s", "    58 s", "    70 s", "   100 s"}) {
    const size_t row = run.output.find(moment);
    ASSERT_NE(row, std::string::npos) << moment << "\n" << run.output;
    const std::string line = run.output.substr(row, run.output.find('\n', row) - row);
    const double whole = std::atof(line.substr(line.find_last_of(' ') + 1).c_str());
    EXPECT_GT(whole, 0.0) << line;
  }
  // Two 512 x 512 RGB16F generator textures are 3 MiB; the composite layer
  // has the window's size, the atmosphere layer half of it.
  EXPECT_NE(run.output.find("2 x 512 x 512 RGB16F (6 B/pixel)                    3.00 MiB"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("composite_layer 64 x 36"), std::string::npos);
  EXPECT_NE(run.output.find("atmosphere_layer 32 x 18"), std::string::npos);
}

// Run by the package's command (packaging/skyward-capture.sh), the tool is
// started in the user's folder with SKYWARD_ASSET_DIR naming the folder of the
// assets and SKYWARD_COMMAND its name: the stills go to the user's folder (by
// default or named relative to it), a --ffmpeg path is the user's too, the
// assets are read from their folder, and the help and every message speak of
// the command, not of the build.
TEST(Capture, AsAnInstalledCommandItWritesWhereTheUserIs) {
  const std::filesystem::path assets = std::filesystem::current_path();
  const std::string program = (assets / "demo-capture").string();
  const std::filesystem::path user = scratch("installed");
  const std::vector<env_change> env{{"SKYWARD_COMMAND", "skyward-capture"},
                                    {"SKYWARD_ASSET_DIR", assets.c_str()}};
  auto run = [&](const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_process(command, user, env, 600);
  };

  const run_result help = run({"--help"});
  EXPECT_EQ(help.status, 0) << help.output;
  EXPECT_EQ(help.output.rfind("Usage: skyward-capture [options]\n", 0), 0u) << help.output;
  EXPECT_NE(help.output.find("reads the film's asset files from " + assets.string()),
            std::string::npos)
      << help.output;
  for (const char* build_words : {"demo-capture", "build folder"})
    EXPECT_EQ(help.output.find(build_words), std::string::npos) << build_words;

  const run_result bad = run({"--size", "10x"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.output.rfind("skyward-capture: ", 0), 0u) << bad.output;
  EXPECT_NE(bad.output.find("(see skyward-capture --help)"), std::string::npos) << bad.output;

  const std::string still = "still-003.000.png";
  const bool left_in_assets = std::filesystem::exists(assets / still);
  const run_result plain = run({"--at", "3", "--size", "64x36", "--fps", "10"});
  EXPECT_EQ(plain.status, 0) << plain.output;
  EXPECT_TRUE(std::filesystem::exists(user / still)) << plain.output;
  EXPECT_EQ(std::filesystem::exists(assets / still), left_in_assets) << plain.output;
  const run_result named = run({"--at", "3", "--size", "64x36", "--fps", "10", "--out", "stills"});
  EXPECT_EQ(named.status, 0) << named.output;
  EXPECT_TRUE(std::filesystem::exists(user / "stills" / still)) << named.output;

  // An encoder named relative to the user's folder is the one run.
  write_script(user / "encoder", "echo encoder-ran >&2\nexit 1\n");
  const run_result video =
      run({"--ffmpeg", "./encoder", "--video", "film.mp4", "--size", "32x18", "--fps", "1"});
  EXPECT_EQ(video.status, 1) << video.output;
  EXPECT_NE(video.output.find("encoder-ran"), std::string::npos) << video.output;
  EXPECT_EQ(video.output.find("demo-capture"), std::string::npos) << video.output;

  const std::vector<env_change> nowhere{{"SKYWARD_COMMAND", "skyward-capture"},
                                        {"SKYWARD_ASSET_DIR", "/nonexistent-skyward-assets"}};
  const run_result missing = run_process({program, "--at", "3"}, user, nowhere, 60);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output,
            "skyward-capture: cannot use /nonexistent-skyward-assets: No such file or directory\n");
  std::filesystem::remove_all(user);
}
