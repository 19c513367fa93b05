// headless_test.cpp: demo-capture with no X server (--gl egl, and auto
// without $DISPLAY) against demo-capture on an X display (--gl x11, on a
// private Xvfb server when the test has no display): the same build and
// driver must give the same pixels, and each way must fail in one line where
// it cannot work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "process_helpers.h"

#ifndef SOURCE_DIR
#error "SOURCE_DIR must name the source folder (for scripts/lib/xvfb.sh)"
#endif

namespace {

std::filesystem::path fresh_folder(const std::string& name) {
  const std::filesystem::path path = scratch_file(name);
  std::filesystem::remove_all(path);
  return path;
}

// demo-capture through EGL, with no display named at all.
run_result capture_egl(const std::string& arguments) {
  return run_command("env -u DISPLAY ./demo-capture --gl egl " + arguments);
}

// demo-capture through X11: on the test's display, else on a private Xvfb
// server started for the run, as the scripts start one.
run_result capture_x11(const std::string& arguments) {
  return run_command("bash -c '. " SOURCE_DIR
                     "/scripts/lib/xvfb.sh && on_display ./demo-capture "
                     "--gl x11 " +
                     arguments + "'");
}

struct compared {
  int largest = 256;  // largest difference of any channel; 256: not comparable
  double psnr = 0;
};

compared compare(const std::filesystem::path& a_path, const std::filesystem::path& b_path) {
  rgb_image a, b;
  compared result;
  if (!read_png(a_path.string(), &a) || !read_png(b_path.string(), &b) || a.width != b.width ||
      a.height != b.height)
    return result;
  result.largest = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i)
    result.largest = std::max(result.largest, std::abs(a.rgb[i] - b.rgb[i]));
  result.psnr = psnr(a, b);
  return result;
}

}  // namespace

// The final image and an intermediate one at three moments: through EGL and
// through X11 the driver draws the same pixels (a pbuffer instead of a hidden
// window's back buffer changes nothing the film reads).
TEST(Headless, StillsThroughEglEqualThoseThroughX11) {
  const std::string moments = "--at 3,30,70 --size 320x180 --fps 60";
  for (const char* layer : {"final", "composite"}) {
    const std::filesystem::path egl = fresh_folder(std::string("egl-") + layer);
    const std::filesystem::path x11 = fresh_folder(std::string("x11-") + layer);
    const std::string shown = std::string(" --layer ") + layer;
    const run_result through_egl = capture_egl(moments + shown + " --out " + egl.string());
    ASSERT_EQ(through_egl.status, 0) << through_egl.output;
    const run_result through_x11 = capture_x11(moments + shown + " --out " + x11.string());
    ASSERT_EQ(through_x11.status, 0) << through_x11.output;
    for (const char* still : {"still-003.000.png", "still-030.000.png", "still-070.000.png"}) {
      const compared difference = compare(egl / still, x11 / still);
      EXPECT_EQ(difference.largest, 0)
          << layer << " " << still << ": EGL and X11 differ by up to " << difference.largest
          << " (PSNR " << difference.psnr << " dB)";
    }
  }
}

// Without $DISPLAY the default is EGL, and the benchmark says what it ran on:
// vendor, renderer, version and the EGL display.
TEST(Headless, WithoutADisplayTheBenchmarkRunsThroughEgl) {
  const run_result run = run_command("env -u DISPLAY ./demo-capture --benchmark --size 64x36");
  ASSERT_EQ(run.status, 0) << run.output;
  const size_t line = run.output.find("\nOpenGL: ");
  ASSERT_NE(line, std::string::npos) << run.output;
  const std::string text =
      run.output.substr(line + 9, run.output.find('\n', line + 1) - (line + 9));
  // Four fields: vendor | renderer | version | through EGL ...
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t bar = text.find(" | ", start);
    fields.push_back(text.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 3;
  }
  ASSERT_EQ(fields.size(), 4u) << text;
  for (const std::string& field : fields) EXPECT_FALSE(field.empty()) << text;
  EXPECT_NE(fields[2].find('.'), std::string::npos) << "no version number: " << text;
  EXPECT_EQ(fields[3].rfind("through EGL ", 0), 0u) << text;
}

// --gl egl never talks to an X server, even one named by a $DISPLAY that does
// not exist; --gl x11 without a display fails in one line, as does an
// unknown way.
TEST(Headless, EachWayFailsInOneLineWhereItCannotWork) {
  const std::filesystem::path out = fresh_folder("bogus-display");
  const run_result egl = run_command(
      "DISPLAY=:987 ./demo-capture --gl egl --at 3 --size 32x18 "
      "--out " +
      out.string());
  EXPECT_EQ(egl.status, 0) << egl.output;
  EXPECT_TRUE(std::filesystem::exists(out / "still-003.000.png")) << egl.output;

  const run_result x11 = run_command(
      "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR ./demo-capture --gl x11 --at 3 --size "
      "32x18");
  EXPECT_EQ(x11.status, 1) << x11.output;
  EXPECT_EQ(x11.output.rfind("demo-capture: no display", 0), 0u) << x11.output;
  EXPECT_EQ(std::count(x11.output.begin(), x11.output.end(), '\n'), 1) << x11.output;

  const run_result unknown = run_command("./demo-capture --gl vulkan");
  EXPECT_EQ(unknown.status, 2) << unknown.output;
  EXPECT_EQ(unknown.output.rfind("demo-capture: --gl: ", 0), 0u) << unknown.output;
}

// --until: the film's first seconds only, every frame the one the whole film
// has at that moment.
TEST(Headless, UntilRendersTheFirstSecondsOnly) {
  const std::filesystem::path out = fresh_folder("until");
  const run_result frames =
      capture_egl("--size 64x36 --fps 5 --until 1.3 --png " + (out / "frames").string());
  ASSERT_EQ(frames.status, 0) << frames.output;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(out / "frames"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 6u) << frames.output;  // 0.2, 0.4, ... 1.2 s
  EXPECT_EQ(names.back(), "frame-000006.png");
  const run_result still = capture_egl("--size 64x36 --fps 5 --at 1.2 --out " + out.string());
  ASSERT_EQ(still.status, 0) << still.output;
  // (The two read-backs may round a channel differently by one level.)
  EXPECT_LE(compare(out / "frames" / "frame-000006.png", out / "still-001.200.png").largest, 1);

  for (const char* bad : {"0", "116", "soon"}) {
    const run_result refused = capture_egl(std::string("--until ") + bad + " --png x");
    EXPECT_EQ(refused.status, 2) << bad << ": " << refused.output;
    EXPECT_NE(refused.output.find("--until"), std::string::npos) << refused.output;
  }
}
