// Captures cut into ranges of frames: demo-capture --frames against the
// whole-film capture, and the farm script (programs/farm/skyward-farm.sh) that
// renders the ranges with GNU parallel on this machine, joins them, resumes a
// stopped run and fails cleanly. Runs the programs built next to the film;
// the path through an ssh host is checked by scripts/checks/farm-ssh-check.sh.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "process_helpers.h"

namespace fs = std::filesystem;

namespace {

// A fresh, empty folder named after the test, in the test program's scratch
// folder.
fs::path scratch(const std::string& name) {
  const fs::path path = scratch_file(name);
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The command that runs the capture tool built here, for the farm's
// --capture; with a log, each run first appends its --frames range to it.
std::string capture_command(const fs::path& log = {}) {
  std::string command;
  if (!log.empty()) command = "printf \"%s\\n\" \"$2\" >> '" + log.string() + "'; ";
  return command + "cd '" + fs::current_path().string() + "' && ./demo-capture";
}

// The farm script's command line with the options and output.
std::string farm_command(const std::string& options, const fs::path& output) {
  return std::string("'") + FARM_SCRIPT + "' " + options + " '" + output.string() + "'";
}

// Runs the farm with `capture` as its capture command (given through the
// environment, which needs no quoting); `watch` as run_process's.
run_result run_farm(const std::string& options, const fs::path& output, const std::string& capture,
                    const std::function<void(pid_t, double)>& watch = {}) {
  return run_process({"/bin/sh", "-c", "exec " + farm_command(options, output)}, fs::current_path(),
                     {{"SKYWARD_FARM_CAPTURE", capture.c_str()}}, 600, watch);
}

// Frames and duration of a video as ffprobe reads them (frames decoded).
struct video_facts {
  int frames = -1;
  double duration = -1;
};

video_facts probe(const fs::path& video) {
  const run_result run = run_command(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames:format=duration -of default=nw=1 '" +
      video.string() + "'");
  video_facts facts;
  if (run.status != 0) return facts;
  for (const std::string& line : lines_of(run.output)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (line.compare(0, equals, "nb_read_frames") == 0)
      facts.frames = std::atoi(line.c_str() + equals + 1);
    if (line.compare(0, equals, "duration") == 0)
      facts.duration = std::atof(line.c_str() + equals + 1);
  }
  return facts;
}

// Decodes a video into folder/f-0001.png, ...; the number of frames.
int decode(const fs::path& video, const fs::path& folder) {
  fs::create_directories(folder);
  const run_result run = run_command("ffmpeg -v error -i '" + video.string() + "' '" +
                                     (folder / "f-%04d.png").string() + "'");
  return run.status == 0 ? static_cast<int>(names_in(folder).size()) : -1;
}

// The whole film at the tests' size and rate, as one demo-capture run.
const char* const size_and_rate = "--size 64x36 --fps 1";
const int film_frames = 115;  // 115 s at 1 frame per second

}  // namespace

// PNG ranges are the whole film's frames, bit for bit, under the same names,
// and ranges may share one folder; bad ranges are refused with one line.
TEST(Farm, PngRangesAreTheWholeFilmsFrames) {
  const fs::path out = scratch("png");
  run_result whole =
      run_command("./demo-capture --png '" + (out / "whole").string() + "' " + size_and_rate);
  ASSERT_EQ(whole.status, 0) << whole.output;
  ASSERT_EQ(names_in(out / "whole").size(), static_cast<size_t>(film_frames));

  // The first frames, then a range deep in the film whose script state was
  // stepped there without drawing, into the same folder.
  for (const char* range : {"1-3", "76-81"}) {
    const run_result run = run_command("./demo-capture --png '" + (out / "ranges").string() +
                                       "' --frames " + range + " " + size_and_rate);
    ASSERT_EQ(run.status, 0) << run.output;
  }
  const std::vector<std::string> names = names_in(out / "ranges");
  const std::vector<std::string> expected = {
      "frame-000001.png", "frame-000002.png", "frame-000003.png",
      "frame-000076.png", "frame-000077.png", "frame-000078.png",
      "frame-000079.png", "frame-000080.png", "frame-000081.png"};
  ASSERT_EQ(names, expected);
  for (const std::string& name : names)
    EXPECT_TRUE(text_of(out / "ranges" / name) == text_of(out / "whole" / name)) << name;

  // A range whose frames are already there, and ranges that are no ranges:
  // one line each (and the usage hint), status 2 or 1, nothing made.
  const struct {
    std::string options, said;
  } refused[] = {
      {"--png '" + (out / "ranges").string() + "' --frames 75-76 " + size_and_rate,
       "cannot use " + (out / "ranges").string() + ": it holds frame-*.png files"},
      {"--png x --frames 9-3", "the range 9-3 ends before it starts"},
      {"--png x --frames 0-3", "frames are counted from 1"},
      {"--png x --frames 3", "'3' is not a range of frames"},
      {"--png x --frames 1-2-3", "is not a range of frames"},
      {"--png x --frames -3", "is not a range of frames"},
      {"--png x --fps 2 --frames 200-231", "goes past the film's last frame, 230 at --fps 2"},
      {"--png x --fps 1 --frames 100-116", "goes past the film's last frame, 115 at --fps 1"},
      {"--frames 1-2", "--frames needs --video or --png"},
      {"--benchmark --frames 1-2", "--frames needs --video or --png"},
  };
  for (const auto& bad : refused) {
    const run_result run = run_command("./demo-capture " + bad.options);
    EXPECT_NE(run.status, 0) << bad.options;
    const std::vector<std::string> lines = lines_of(run.output);
    ASSERT_FALSE(lines.empty()) << bad.options;
    EXPECT_EQ(lines[0].rfind("demo-capture: ", 0), 0u) << run.output;
    EXPECT_NE(lines[0].find(bad.said), std::string::npos) << run.output;
    EXPECT_LE(lines.size(), 2u) << run.output;
  }
  EXPECT_EQ(names_in(out / "ranges"), expected);
  EXPECT_FALSE(fs::exists("x"));
  fs::remove_all(out);
}

// The farm's video, joined from three ranges rendered two at a time, has the
// frames and duration of one demo-capture run, and the same pictures.
TEST(Farm, VideoJoinedFromRangesMatchesOneRun) {
  if (!on_path("parallel") || !on_path("ffmpeg")) GTEST_SKIP() << "parallel or ffmpeg missing";
  const fs::path out = scratch("join");
  const run_result one =
      run_command("./demo-capture --video '" + (out / "one.mp4").string() + "' " + size_and_rate);
  ASSERT_EQ(one.status, 0) << one.output;
  const run_result farm = run_farm(std::string(size_and_rate) + " --ranges 3 -j 2",
                                   out / "farm.mp4", capture_command());
  ASSERT_EQ(farm.status, 0) << farm.output;
  EXPECT_NE(farm.output.find("3/3 ranges"), std::string::npos) << farm.output;
  // The ranges and the work folder are gone; nothing but the two videos.
  EXPECT_EQ(names_in(out), (std::vector<std::string>{"farm.mp4", "one.mp4"}));

  const video_facts one_facts = probe(out / "one.mp4"), farm_facts = probe(out / "farm.mp4");
  EXPECT_EQ(one_facts.frames, film_frames);
  EXPECT_EQ(farm_facts.frames, one_facts.frames);
  EXPECT_NEAR(farm_facts.duration, one_facts.duration, 0.001);

  ASSERT_EQ(decode(out / "one.mp4", out / "one"), film_frames);
  ASSERT_EQ(decode(out / "farm.mp4", out / "farm"), film_frames);
  double worst = INFINITY;
  std::string worst_name;
  for (const std::string& name : names_in(out / "one")) {
    rgb_image a, b;
    ASSERT_TRUE(read_png((out / "one" / name).string(), &a)) << name;
    ASSERT_TRUE(read_png((out / "farm" / name).string(), &b)) << name;
    const double ratio = psnr(a, b);
    if (ratio < worst) {
      worst = ratio;
      worst_name = name;
    }
  }
  std::printf("worst frame of the joined video: %s at %.1f dB\n", worst_name.c_str(), worst);
  EXPECT_GE(worst, 40.0) << worst_name;
  fs::remove_all(out);
}

// A farm stopped half-way keeps its finished ranges; started again, it
// renders only the ranges that are missing, and the result is whole.
TEST(Farm, StoppedRunResumesWithTheMissingRanges) {
  if (!on_path("parallel") || !on_path("ffmpeg")) GTEST_SKIP() << "parallel or ffmpeg missing";
  const fs::path out = scratch("resume");
  const fs::path video = out / "film.mp4", log = out / "ranges.log";
  const fs::path work = out / ".skyward-farm" / "film.mp4";
  const std::string options = std::string(size_and_rate) + " --ranges 5 -j 1";
  // Stopped (SIGTERM, as a user's kill) once the second range is there.
  std::set<std::string> kept;
  const run_result first = run_farm(options, video, capture_command(log), [&](pid_t pid, double) {
    int ranges = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(work, error))
      ranges += entry.path().filename().string().rfind("range-", 0) == 0;
    if (ranges >= 2) kill(pid, SIGTERM);
  });
  ASSERT_NE(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("interrupted by SIGTERM"), std::string::npos) << first.output;
  EXPECT_FALSE(fs::exists(video));
  for (const auto& entry : fs::directory_iterator(work)) {
    const std::string name = entry.path().filename().string();
    // Only finished ranges and the farm's own notes: no partial video.
    EXPECT_EQ(name.find("partial"), std::string::npos) << name;
    if (name.rfind("range-", 0) == 0) kept.insert(name);
  }
  ASSERT_GE(kept.size(), 2u);
  ASSERT_LT(kept.size(), 5u);
  fs::remove(log);

  const run_result second = run_farm(options, video, capture_command(log));
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_NE(second.output.find(std::to_string(kept.size()) + " ranges already rendered"),
            std::string::npos)
      << second.output;
  // The ranges rendered the second time are exactly those not kept.
  const std::vector<std::string> rendered = lines_of(text_of(log));
  EXPECT_EQ(rendered.size(), 5 - kept.size()) << text_of(log);
  for (const std::string& range : rendered) {
    const size_t dash = range.find('-');
    char name[64];
    std::snprintf(name, sizeof name, "range-%06d-%06d.mp4", std::atoi(range.c_str()),
                  std::atoi(range.c_str() + dash + 1));
    EXPECT_EQ(kept.count(name), 0u) << range << " was rendered again";
  }
  EXPECT_EQ(probe(video).frames, film_frames);
  EXPECT_EQ(names_in(out), (std::vector<std::string>{"film.mp4", "ranges.log"}));
  fs::remove_all(out);
}

// A range that keeps failing is tried the given number of times; then the run
// ends with one line naming the range and the host, and no output is left.
TEST(Farm, FailingRangeEndsTheRunWithOneLine) {
  if (!on_path("parallel") || !on_path("ffmpeg")) GTEST_SKIP() << "parallel or ffmpeg missing";
  const fs::path out = scratch("fail");
  const fs::path video = out / "film.mp4", log = out / "ranges.log";
  // The encoder of every range dies at once.
  const run_result run = run_farm(std::string(size_and_rate) + " --ranges 4 -j 1 --retries 2",
                                  video, capture_command(log) + " --ffmpeg /bin/false");
  EXPECT_NE(run.status, 0);
  const std::vector<std::string> lines = lines_of(run.output);
  ASSERT_FALSE(lines.empty());
  const std::string& last = lines.back();
  EXPECT_EQ(last.rfind("skyward-farm: cannot render frames 1-28 on ", 0), 0u) << run.output;
  EXPECT_NE(last.find("(local)"), std::string::npos) << last;
  EXPECT_NE(last.find("/bin/false failed"), std::string::npos) << last;
  EXPECT_NE(last.find("after 2 tries"), std::string::npos) << last;
  // Tried twice, and no other range started after the run failed.
  EXPECT_EQ(lines_of(text_of(log)), (std::vector<std::string>{"1-28", "1-28"}));
  EXPECT_FALSE(fs::exists(video));
  for (const auto& entry : fs::directory_iterator(out))
    EXPECT_TRUE(entry.path().filename() == ".skyward-farm" ||
                entry.path().filename() == "ranges.log")
        << entry.path();
  fs::remove_all(out);
}
