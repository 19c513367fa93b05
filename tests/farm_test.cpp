// Captures cut into ranges of frames: demo-capture --frames against the
// whole-film capture, and the farm (programs/farm/skyward-farm.py) that
// renders the ranges on this machine's job slots, checks them, joins them,
// resumes a stopped run and fails cleanly; then the farm tried as a careless
// and a hostile user would (each fault found in the bash farm, one test each). Runs the
// programs built next to the film; the path through a real ssh host is
// checked by scripts/checks/farm-ssh-check.sh, the Slurm farm by
// scripts/checks/farm-slurm-check.sh.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
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
// --capture; with a log, each rendering run (not the farm's --fingerprint
// questions) first appends its --frames range to it. With `assets`, the
// capture reads the film's files from that folder: another build of the film.
std::string capture_command(const fs::path& log = {}, const fs::path& assets = {}) {
  std::string command;
  if (!log.empty())
    command = "case \" $* \" in *\" --fingerprint \"*) ;; *) printf \"%s\\n\" \"$2\" >> '" +
              log.string() + "';; esac; ";
  const fs::path build = fs::current_path();
  if (assets.empty()) return command + "cd '" + build.string() + "' && ./demo-capture";
  return command + "cd '" + assets.string() + "' && '" + (build / "demo-capture").string() + "'";
}

// The farm under test: the source tree's, or $FARM_UNDER_TEST (another farm,
// such as the bash one this replaced, to show what each test catches).
std::string farm_program() {
  const char* other = std::getenv("FARM_UNDER_TEST");
  return other && *other ? other : FARM_SCRIPT;
}

// The farm script's command line with the options and output.
std::string farm_command(const std::string& options, const fs::path& output) {
  return std::string("'") + farm_program() + "' " + options + " '" + output.string() + "'";
}

// Runs the farm with `capture` as its capture command (given through the
// environment, which needs no quoting); `watch` as run_process's.
run_result run_farm(const std::string& options, const fs::path& output, const std::string& capture,
                    const std::function<void(pid_t, double)>& watch = {}) {
  return run_process({"/bin/sh", "-c", "exec " + farm_command(options, output)}, fs::current_path(),
                     {{"SKYWARD_FARM_CAPTURE", capture.c_str()}}, 600, watch);
}

// Runs the farm with its arguments as they are (no shell between), from
// `folder`, with more environment.
run_result run_farm_arguments(const std::vector<std::string>& arguments, const fs::path& folder,
                              const std::string& capture, std::vector<env_change> env = {},
                              double limit = 600,
                              const std::function<void(pid_t, double)>& watch = {}) {
  std::vector<std::string> command = {farm_program()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  env.push_back({"SKYWARD_FARM_CAPTURE", capture.c_str()});
  return run_process(command, folder, env, limit, watch);
}

// The number of files named range-* in a folder (none if it is missing).
int ranges_in(const fs::path& folder) {
  int ranges = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    ranges += entry.path().filename().string().rfind("range-", 0) == 0;
  return ranges;
}

// Every process whose command line mentions `text` (but this one).
std::vector<std::string> processes_mentioning(const std::string& text) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(getpid()))
      continue;
    std::string line = text_of(entry.path() / "cmdline");
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (line.find(text) != std::string::npos) found.push_back(pid + ": " + line);
  }
  return found;
}

// Whether the video decodes whole: every frame, and not one decoding error.
bool decodes_whole(const fs::path& video) {
  const run_result run =
      run_command("ffmpeg -v error -xerror -i '" + video.string() + "' -f null - 2>&1");
  return run.status == 0 && run.output.empty();
}

// Writes an executable shell script.
void write_script(const fs::path& path, const std::string& text) {
  std::ofstream(path) << "#!/bin/sh\n" << text;
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
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
      {"--frames 1-2", "--frames is for --video and --png; it cannot be used without one of them"},
      {"--benchmark --frames 1-2",
       "--frames is for --video and --png; it cannot be combined with --benchmark"},
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

// ---------------------------------------------------------------------------
// The farm tried as a careless user and a hostile one would. Each
// test is one of the faults found in the bash farm, and failed with it.

namespace {

const char* const quick = "--size 64x36 --fps 1 --ranges 4 -j 2";

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) result.push_back(word);
  return result;
}

// Runs the farm with the quick settings into `video`, stopping it with
// SIGTERM once `ranges` ranges are rendered; the ranges kept.
std::set<std::string> stopped_run(const fs::path& video, const std::string& capture, int ranges) {
  const fs::path work = video.parent_path() / ".skyward-farm" / video.filename();
  const run_result run = run_farm(quick, video, capture, [&](pid_t pid, double) {
    if (ranges_in(work) >= ranges) kill(pid, SIGTERM);
  });
  EXPECT_NE(run.status, 0) << run.output;
  std::set<std::string> kept;
  for (const auto& entry : fs::directory_iterator(work))
    if (entry.path().filename().string().rfind("range-", 0) == 0)
      kept.insert(entry.path().filename().string());
  return kept;
}

}  // namespace

// Fault 1: a run stopped, then started again with another build of the film
// (one asset file changed), joined the first build's ranges. Each range
// carries the fingerprint of the build that rendered it; those of another
// build are named, set aside and rendered again.
TEST(FarmFaults, ResumeWithAnotherBuildRendersEveryRangeAgain) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("another-build");
  const fs::path video = out / "film.mp4", log = out / "ranges.log";
  // The second build: this build's asset files, the greetings changed.
  const fs::path second = out / "second-build";
  fs::create_directories(second);
  for (const char* name :
       {"normal-map.tga", "spaceship.obj", "spaceship.tga", "spaceship-normal-map.tga",
        "orvane.obj", "kelthar.obj", "ring.obj", "greetings.obj"})
    fs::copy_file(name, second / name);
  std::ofstream(second / "greetings.obj", std::ios::app) << "\n# the second build\n";

  const std::set<std::string> kept = stopped_run(video, capture_command(log), 2);
  ASSERT_GE(kept.size(), 2u);
  fs::remove(log);
  const run_result run = run_farm(quick, video, capture_command(log, second));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("0 ranges already rendered, 4 to render"), std::string::npos)
      << run.output;
  for (const std::string& name : kept) {
    const std::string said = name + " was rendered by another build";
    EXPECT_NE(run.output.find(said), std::string::npos) << run.output;
  }
  // Every range was rendered again, by the second build.
  std::vector<std::string> rendered = lines_of(text_of(log));
  std::sort(rendered.begin(), rendered.end());
  EXPECT_EQ(rendered, (std::vector<std::string>{"1-28", "29-57", "58-86", "87-115"}));
  EXPECT_EQ(probe(video).frames, film_frames);
  fs::remove_all(out);
}

// Fault 2: a damaged range (4 KiB zeroed, or cut short) counted as done and
// was joined. A range is done only once it decodes whole and its digest is
// recorded; a range whose digest has changed, or one that arrives damaged, is
// named, set aside and rendered again, and the run still ends with the film.
TEST(FarmFaults, DamagedRangeIsRenderedAgain) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("damaged");
  const fs::path video = out / "film.mp4", log = out / "ranges.log";
  const fs::path work = out / ".skyward-farm" / "film.mp4";
  const std::set<std::string> kept = stopped_run(video, capture_command(log), 2);
  ASSERT_GE(kept.size(), 2u);
  const std::string zeroed = *kept.begin(), cut = *std::next(kept.begin());
  {
    std::fstream file(work / zeroed, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(fs::file_size(work / zeroed) / 3));
    const std::string zeros(4096, '\0');
    file.write(zeros.data(), static_cast<std::streamsize>(
                                 std::min<uintmax_t>(4096, fs::file_size(work / zeroed) / 2)));
  }
  fs::resize_file(work / cut, fs::file_size(work / cut) / 2);
  fs::remove(log);

  // The first range rendered in this run arrives cut short once: caught by
  // the decoding check, before it counts.
  const fs::path once = out / "damaged-once";
  const std::string damaging =
      capture_command(log) +
      " \"$@\" || exit $?; for a; do v=$a; done; if [ -f \"$v\" ] && [ ! -e '" + once.string() +
      "' ]; then : > '" + once.string() + "'; truncate -s -3000 \"$v\"; fi; exit 0; :";
  const run_result run = run_farm(quick, video, damaging);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::exists(once));
  for (const std::string& name : {zeroed, cut})
    EXPECT_NE(run.output.find(name + " is not the file that was checked"), std::string::npos)
        << run.output;
  EXPECT_NE(run.output.find("does not decode"), std::string::npos) << run.output;
  // The two damaged ranges were rendered again; the film is whole.
  const std::vector<std::string> rendered = lines_of(text_of(log));
  for (const std::string& name : {zeroed, cut}) {
    const std::string range = std::to_string(std::atoi(name.c_str() + 6)) + "-" +
                              std::to_string(std::atoi(name.c_str() + 13));
    EXPECT_NE(std::find(rendered.begin(), rendered.end(), range), rendered.end()) << range;
  }
  EXPECT_EQ(probe(video).frames, film_frames);
  EXPECT_TRUE(decodes_whole(video));
  fs::remove_all(out);
}

// Fault 3: options the capture refuses were tried range after range, and
// --retries '' retried for ever. Every option is checked before anything is
// rendered, the capture's by demo-capture itself: its own sentence, status 2.
TEST(FarmFaults, BadOptionsAreRefusedBeforeAnythingIsRendered) {
  const fs::path out = scratch("options");
  const fs::path log = out / "ranges.log";
  const struct {
    std::string options, said;
    int status;
  } refused[] = {
      {"--retries ''", "--retries takes a whole number from 1 to 100, not ''", 2},
      {"--retries 0", "--retries takes a whole number", 2},
      {"--ranges 18446744073709551616", "--ranges takes a whole number from 1 to 1000000", 2},
      {"-j -3", "--jobs takes a whole number", 2},
      {"--size 0x0", "--size: '0x0' is not WxH with sides from 16 to 8192", 2},
      {"--size 8x8", "--size: '8x8' is not WxH with sides from 16 to 8192", 2},
      {"--size 65x36", "--video needs an even width and height", 2},
      {"--fps 0.5", "--fps: '0.5' is not a rate from 1 to 1000", 2},
      {"--fps 2000", "--fps: '2000' is not a rate from 1 to 1000", 2},
      {"--partition x", "--partition is for --slurm", 2},
      {"--capture false", "cannot run the capture command on ", 1},
      {"--capture 'cd /nonexistent'", "cannot run the capture command on ", 1},
  };
  for (const auto& bad : refused) {
    const run_result run = run_farm(bad.options, out / "film.mp4", capture_command(log));
    EXPECT_EQ(run.status, bad.status) << bad.options << ": " << run.output;
    const std::vector<std::string> lines = lines_of(run.output);
    ASSERT_EQ(lines.size(), 1u) << bad.options << ": " << run.output;
    EXPECT_EQ(lines[0].rfind("skyward-farm: ", 0), 0u) << run.output;
    EXPECT_NE(lines[0].find(bad.said), std::string::npos) << bad.options << ": " << run.output;
    // A reason is always given: never an empty one after the colon.
    EXPECT_NE(lines[0].back(), ':') << run.output;
  }
  // Nothing was rendered, and no work folder was made.
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(names_in(out), std::vector<std::string>{});
  fs::remove_all(out);
}

// Fault 4: two runs on one output both rendered everything and both failed
// at the join. The second is refused at once, naming the first.
TEST(FarmFaults, SecondRunOnTheSameOutputIsRefused) {
  const fs::path out = scratch("lock");
  const fs::path video = out / "film.mp4", log = out / "ranges.log";
  run_result second;
  pid_t first_pid = 0;
  // Once a capture renders into the work folder, as any farm has one.
  const std::string rendering = (out / ".skyward-farm").string();
  const run_result first = run_farm(quick, video, capture_command(log), [&](pid_t pid, double) {
    if (first_pid != 0 || processes_mentioning(rendering).empty()) return;
    first_pid = pid;
    second = run_farm(quick, video, capture_command(log));
    kill(pid, SIGTERM);
  });
  ASSERT_NE(first_pid, 0) << first.output;
  EXPECT_EQ(second.status, 1) << second.output;
  const std::vector<std::string> lines = lines_of(second.output);
  ASSERT_EQ(lines.size(), 1u) << second.output;
  char host[256] = "";
  gethostname(host, sizeof host);
  EXPECT_NE(lines[0].find("another run is rendering into it (pid " + std::to_string(first_pid) +
                          " on " + host + ")"),
            std::string::npos)
      << lines[0];
  fs::remove_all(out);
}

// Fault 5: kill -KILL of the farm left its progress loop printing for ever and
// the workers rendering. Whatever ends the farm, its workers end with it and
// nothing prints after it.
TEST(FarmFaults, KilledFarmLeavesNoWorkerAndNoProgress) {
  const fs::path out = scratch("killed");
  const fs::path video = out / "film.mp4";
  const std::string rendering = (out / ".skyward-farm").string();
  double killed_at = -1;
  const run_result run = run_farm_arguments(
      {"--size", "64x36", "--fps", "1", "--ranges", "4", "-j", "2", video.string()}, out,
      capture_command(), {{"FARM_PROGRESS", "1"}}, 60, [&](pid_t pid, double seconds) {
        if (killed_at < 0 && processes_mentioning(rendering).size() >= 2) {
          kill(pid, SIGKILL);
          killed_at = seconds;
        }
      });
  ASSERT_GE(killed_at, 0) << run.output;
  EXPECT_FALSE(run.timed_out) << "something held the farm's output open: " << run.output;
  // The watcher ends the workers within its grace of 5 s.
  std::vector<std::string> left;
  for (int i = 0; i < 100; ++i) {
    left = processes_mentioning(out.string());
    if (left.empty()) break;
    usleep(100000);
  }
  EXPECT_EQ(left, std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(video));
  fs::remove_all(out);
}

// Fault 6: a full disk at the join said "cannot join ...: " with no reason,
// and a full disk at the start left an empty settings file that refused every
// later run. Every write says its reason; the state is never half written.
TEST(FarmFaults, FullDiskIsReportedWithItsReason) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("full");
  const fs::path video = out / "film.mp4";
  const fs::path work = out / ".skyward-farm" / "film.mp4";
  // No file may grow (ulimit -f 0; the write fails with EFBIG as a full disk
  // fails with ENOSPC), twice: the same sentence, never "another capture".
  for (int i = 0; i < 2; ++i) {
    const run_result run =
        run_process({"/bin/sh", "-c", "ulimit -f 0; exec " + farm_command(quick, video)},
                    fs::current_path(), {{"SKYWARD_FARM_CAPTURE", capture_command().c_str()}}, 120);
    EXPECT_EQ(run.status, 1) << run.output;
    const std::vector<std::string> lines = lines_of(run.output);
    ASSERT_EQ(lines.size(), 1u) << run.output;
    EXPECT_EQ(lines[0].rfind("skyward-farm: cannot write " + work.string() + "/", 0), 0u)
        << run.output;
    EXPECT_NE(lines[0].find(": File too large"), std::string::npos) << run.output;
  }
  for (const auto& entry : fs::recursive_directory_iterator(work))
    EXPECT_TRUE(entry.is_directory() || entry.path().filename() == "lock" ||
                fs::file_size(entry.path()) > 0)
        << entry.path() << " is empty";

  // The join's output may not grow past 32 KiB: its reason is said, the
  // ranges are kept, and the next run joins them without rendering again.
  const fs::path small_ffmpeg = out / "small-ffmpeg";
  write_script(small_ffmpeg,
               "case \" $* \" in *\" concat \"*) ulimit -f 64;; esac\ntrap '' XFSZ\n"
               "exec ffmpeg \"$@\"\n");
  const run_result full = run_farm(std::string(quick) + " --ffmpeg '" + small_ffmpeg.string() + "'",
                                   video, capture_command());
  EXPECT_EQ(full.status, 1) << full.output;
  const std::string last = lines_of(full.output).back();
  EXPECT_EQ(last.rfind("skyward-farm: cannot join the ranges into " + video.string() + ": ", 0), 0u)
      << full.output;
  EXPECT_NE(last.find("File too large"), std::string::npos) << full.output;
  EXPECT_EQ(ranges_in(work), 4);
  const run_result again = run_farm(quick, video, capture_command());
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_NE(again.output.find("4 ranges already rendered, 0 to render"), std::string::npos)
      << again.output;
  EXPECT_EQ(probe(video).frames, film_frames);
  fs::remove_all(out);
}

// Fault 7: a legal output name of 244 characters rendered everything, then
// failed on a temporary name too long, at every rerun.
TEST(FarmFaults, LongestOutputNameWorks) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("long");
  const fs::path video = out / (std::string(240, 'n') + ".mp4");
  const run_result run = run_farm(quick, video, capture_command());
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(probe(video).frames, film_frames);
  EXPECT_EQ(names_in(out), std::vector<std::string>{video.filename().string()});
  fs::remove_all(out);
}

// Fault 8: an output named {1}.mp4 rendered on an ssh host: parallel put the
// range in its place in --return, the ranges stayed on the host and stray
// folders appeared. Names are the user's, whatever they hold; here braces,
// quotes, non-ASCII, a dollar and back quotes, through an "ssh" that hands
// its command line to a shell as sshd does.
TEST(FarmFaults, AnyNameWorksThroughSsh) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("names");
  const fs::path ssh = out / "fake-ssh";
  write_script(ssh,
               "# fake-ssh HOST COMMAND: COMMAND run by a shell, as sshd runs it\n"
               "shift\nexec sh -c \"$*\"\n");
  const std::string name = "{1} it's \"\xc3\xbc\" $HOME `x`.mp4";
  const run_result run =
      run_farm_arguments({"--size", "64x36", "--fps", "1", "--ranges", "4", "--sshlogin",
                          "2/render-host", "--ssh", ssh.string(), (out / name).string()},
                         out, capture_command());
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("on render-host"), std::string::npos) << run.output;
  EXPECT_EQ(names_in(out), (std::vector<std::string>{"fake-ssh", name}));
  // probe() quotes for a shell: the video under a plain name.
  fs::rename(out / name, out / "plain.mp4");
  EXPECT_EQ(probe(out / "plain.mp4").frames, film_frames);
  fs::remove_all(out);
}

// Fault 9: out.mkv got an MP4 stream under that name. The container follows
// the extension as for demo-capture; one that cannot hold the video is
// refused before anything is rendered.
TEST(FarmFaults, ContainerFollowsTheExtension) {
  if (!on_path("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const fs::path out = scratch("container");
  // A name with a leading dash, after --, from the output's folder.
  const run_result refused = run_farm_arguments(
      {"--size", "64x36", "--fps", "1", "--", "-film.txt"}, out, capture_command());
  EXPECT_EQ(refused.status, 1) << refused.output;
  ASSERT_EQ(lines_of(refused.output).size(), 1u) << refused.output;
  EXPECT_NE(refused.output.find("cannot write a video named -film.txt: ffmpeg cannot write "
                                "H.264 in a '.txt' file"),
            std::string::npos)
      << refused.output;
  EXPECT_EQ(names_in(out), std::vector<std::string>{});
  const run_result run = run_farm(quick, out / "film.mkv", capture_command());
  ASSERT_EQ(run.status, 0) << run.output;
  const run_result format = run_command(
      "ffprobe -v error -show_entries format=format_name -of "
      "default=nw=1:nk=1 '" +
      (out / "film.mkv").string() + "'");
  EXPECT_EQ(words(format.output), std::vector<std::string>{"matroska,webm"});
  EXPECT_EQ(probe(out / "film.mkv").frames, film_frames);
  fs::remove_all(out);
}
