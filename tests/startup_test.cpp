// startup_test.cpp: the players started in conditions they cannot run in, and
// on screens they were not built for. Each case runs demo720 or demo1080 from
// the build folder as a child process with a short time limit and checks its
// exit status and its one line on stderr.
//
// The screen cases use a private Xvfb server with one 1280 x 720 screen and no
// window manager, so they do not depend on the display the tests run under;
// the players run and are driven through the tests' program harness.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "film/assets.h"
#include "program_harness.h"

namespace fs = std::filesystem;

namespace {

const fs::path build = build_folder();

// A folder holding links to the eight asset files, for breaking one of them.
struct asset_folder {
  fs::path path;
  asset_folder() {
    path = fs::temp_directory_path() / ("startup-assets-" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
    for (const film_asset& asset : film_assets)
      fs::create_symlink(build / asset.file, path / asset.file);
  }
  ~asset_folder() { fs::remove_all(path); }
  fs::path replace(const char* name) {
    fs::remove(path / name);
    return path / name;
  }
};

// Runs demo720 in `folder` with no display: it must end with status 1 and
// one line, which is returned ("" after a failed expectation). The limit only
// catches a hang.
std::string only_line_without_display(const fs::path& folder,
                                      const std::vector<env_change>& wayland = {
                                          {"WAYLAND_DISPLAY", nullptr},
                                          {"XDG_RUNTIME_DIR", nullptr}}) {
  std::vector<env_change> env = wayland;
  env.push_back({"DISPLAY", nullptr});
  const program_run result = run_program("demo720", folder, env, 120.0);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.lines.size(), 1u) << result.output;
  return result.lines.size() == 1 ? result.lines[0] : "";
}

TEST(StartupFaults, AMissingOrUnusableAssetEndsTheProgramBeforeAnyWindowNamingTheFile) {
  struct fault {
    const char* name;
    std::function<void(const fs::path&)> make;  // creates the broken file
    const char* reason;
  };
  const std::vector<fault> faults = {
      {"ring.obj", [](const fs::path&) {}, "no such file"},
      {"spaceship.tga", [](const fs::path& p) { fs::create_directory(p); },
       "it is a folder, not a file"},
      {"greetings.obj", [](const fs::path& p) { std::ofstream{p}; }, "the file is empty"},
      {"normal-map.tga", [](const fs::path& p) { fs::create_symlink("nowhere.tga", p); },
       "no such file"},
  };
  for (const fault& f : faults) {
    SCOPED_TRACE(f.name);
    asset_folder folder;
    f.make(folder.replace(f.name));
    // No display at all: the asset check must come first, so its line is the
    // one printed, and no window could have been opened.
    const std::string line = only_line_without_display(folder.path);
    EXPECT_EQ(line.rfind(std::string("demo720: cannot read ") + f.name + ": " + f.reason, 0), 0u)
        << line;
  }
}

TEST(StartupFaults, AnUnreadableAssetIsNamed) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
  asset_folder folder;
  const fs::path path = folder.replace("kelthar.obj");
  std::ofstream{path} << "v 0 0 0\n";
  fs::permissions(path, fs::perms::none);
  EXPECT_EQ(only_line_without_display(folder.path),
            "demo720: cannot read kelthar.obj: Permission denied");
}

// A folder for a Wayland compositor's socket, with a socket bound (and no
// compositor behind it) under the name given.
struct runtime_folder {
  fs::path path;
  explicit runtime_folder(const char* socket_name) {
    path = fs::temp_directory_path() / ("startup-runtime-" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
    if (!socket_name) return;
    const std::string socket_path = (path / socket_name).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~runtime_folder() {
    if (listener >= 0) close(listener);
    fs::remove_all(path);
  }
  int listener = -1;
};

TEST(StartupFaults, NoDisplayEndsTheProgramWithOneLineNamingWhatIsMissing) {
  // Said before the window system is asked, in the same words as every program.
  const std::string advice = ": run it on a desktop or under xvfb-run";
  EXPECT_EQ(
      only_line_without_display(build),
      "demo720: no display: none of DISPLAY, WAYLAND_DISPLAY and XDG_RUNTIME_DIR is set" + advice);
  EXPECT_EQ(only_line_without_display(
                build, {{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_RUNTIME_DIR", nullptr}}),
            "demo720: no display: DISPLAY is not set, and WAYLAND_DISPLAY (wayland-7) needs "
            "XDG_RUNTIME_DIR, which is not set" +
                advice);
  // A runtime folder without the socket: the default name, then a file (not
  // a socket) under the name given.
  runtime_folder empty(nullptr);
  const std::string folder = empty.path.string();
  EXPECT_EQ(only_line_without_display(
                build, {{"WAYLAND_DISPLAY", nullptr}, {"XDG_RUNTIME_DIR", folder.c_str()}}),
            "demo720: no display: DISPLAY is not set, and " + folder +
                "/wayland-0 is no Wayland socket" + advice);
  std::ofstream{empty.path / "wayland-3"} << "not a socket";
  EXPECT_EQ(only_line_without_display(
                build, {{"WAYLAND_DISPLAY", "wayland-3"}, {"XDG_RUNTIME_DIR", folder.c_str()}}),
            "demo720: no display: DISPLAY is not set, and " + folder +
                "/wayland-3 is no Wayland socket" + advice);
}

TEST(StartupFaults, AWaylandSocketIsADisplay) {
  // With a Wayland socket and no X display, the display check lets the
  // window system be asked: this build's windowing library (X11 only, or
  // Wayland with no compositor behind the socket) then says why it cannot
  // start, in one line of its own.
  runtime_folder runtime("wayland-5");
  const std::string folder = runtime.path.string();
  const std::string socket_path = folder + "/wayland-5";
  const std::vector<std::vector<env_change>> ways = {
      {{"WAYLAND_DISPLAY", "wayland-5"}, {"XDG_RUNTIME_DIR", folder.c_str()}},
      {{"WAYLAND_DISPLAY", socket_path.c_str()}, {"XDG_RUNTIME_DIR", nullptr}},
  };
  for (const std::vector<env_change>& way : ways) {
    SCOPED_TRACE(way[0].value);
    const std::string line = only_line_without_display(build, way);
    EXPECT_EQ(line.rfind("demo720: no display", 0), std::string::npos) << line;
    EXPECT_EQ(line.rfind("demo720: cannot ", 0), 0u) << line;
  }
}

TEST(StartupFaults, AnOpenGLWithoutWhatTheFilmNeedsIsNamed) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  struct limited_gl {
    const char* version;
    const char* extensions;
    const char* reason;
  };
  const limited_gl cases[] = {
      {"1.5", "", "OpenGL 2.0 is not available"},
      {"2.1", "-GL_ARB_framebuffer_object -GL_EXT_framebuffer_object",
       "framebuffer objects are not available"},
      {"2.1", "-GL_ARB_texture_float", "half-float textures are not available"},
  };
  for (const limited_gl& gl : cases) {
    SCOPED_TRACE(gl.reason);
    const program_run result = run_program("demo720", build,
                                           {{"DISPLAY", screen.display.c_str()},
                                            {"MESA_GL_VERSION_OVERRIDE", gl.version},
                                            {"MESA_EXTENSION_OVERRIDE", gl.extensions}},
                                           20.0);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.lines.size(), 1u) << result.output;
    EXPECT_EQ(result.lines[0],
              std::string("demo720: this OpenGL cannot run the film: ") + gl.reason);
  }
}

TEST(StartupFaults, AWindowClosedByTheSystemEndsTheFilmCleanly) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  // Once the film shows, the close request comes once, as a window manager
  // would send it. The limit only catches a hang.
  film_lookout film{screen.display};
  bool asked = false;
  double asked_at = 0.0;
  const program_run result = run_program("demo720", build, {{"DISPLAY", screen.display.c_str()}},
                                         300.0, [&](pid_t pid, double seconds) {
                                           if (film.showing(seconds) && !asked) {
                                             asked = request_close(screen.display, pid);
                                             asked_at = seconds;
                                           }
                                         });
  EXPECT_TRUE(film.seen) << "the film never showed";
  EXPECT_TRUE(asked) << "no window of demo720 was found";
  EXPECT_FALSE(result.timed_out) << "still running " << 300.0 - asked_at << " s after the request";
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(result.lines.empty()) << result.output;
}

// Mean absolute difference of two RGB images of the same size, 0 to 255.
double difference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(static_cast<int>(a[i]) - b[i]);
  return sum / static_cast<double>(a.size());
}

// What a screen would show if the picture were not scaled but drawn at its
// own size from the bottom-left corner: the bottom-left part of the picture,
// of the screen's size, stretched here to the image's size for comparison.
std::vector<unsigned char> cropped_corner(const std::vector<unsigned char>& rgb, int width,
                                          int height, double fraction_x, double fraction_y) {
  std::vector<unsigned char> out(rgb.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>(x * fraction_x);
      const int sy = height - 1 - static_cast<int>((height - 1 - y) * fraction_y);
      for (int c = 0; c < 3; ++c)
        out[(static_cast<size_t>(y) * width + x) * 3 + c] =
            rgb[(static_cast<size_t>(sy) * width + sx) * 3 + c];
    }
  return out;
}

TEST(SmallerScreen, Demo1080ShowsTheCentredBarAndTheWholePictureOnA1280x720Screen) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  constexpr int small_width = 160, small_height = 90;
  // The loading bar, in the 512 x 4 box centred on the screen,
  // and a few pictures of the film from about ten seconds in. On a loaded
  // machine the film runs at a frame or two a second and its first frames are
  // dark; more than one picture keeps the test from hanging on one of those.
  bool bar_seen = false;
  std::vector<std::vector<unsigned char>> pictures;
  double next_picture = 10.0;
  const program_run result =
      run_program("demo1080", build, {{"DISPLAY", screen.display.c_str()}}, 300.0,
                  [&](pid_t pid, double seconds) {
                    if (!bar_seen) bar_seen = loading_bar_shows(screen.display);
                    if (pictures.size() < 4 && seconds > next_picture) {
                      next_picture = seconds + 3.0;
                      auto picture = grab_screen(screen.display,
                                                 "scale=" + std::to_string(small_width) + ":" +
                                                     std::to_string(small_height) + ":flags=area",
                                                 "rgb24", small_width * small_height * 3);
                      // A black screen is no picture of the film: it has not begun yet.
                      double sum = 0.0;
                      for (unsigned char v : picture) sum += v;
                      if (!picture.empty() && sum >= 8.0 * picture.size())
                        pictures.push_back(picture);
                      if (pictures.size() == 4 || seconds > 240.0)
                        request_close(screen.display, pid);
                    }
                  });
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(bar_seen) << "no loading bar in the centre of the screen";
  ASSERT_FALSE(pictures.empty()) << "no screenshot of the film";

  // The same stretch of the film captured at the small size, a still every
  // half second: the screenshot, whatever the moment, must look like one of
  // them scaled down, and less like the cropped corner of any of them. The
  // script's motion depends on the frame rate, and a loaded machine plays at
  // a frame or two a second: the stills are stepped at 10 and at 2 frames a
  // second.
  std::string moments;
  for (int i = 1; i <= 40; ++i) moments += (i > 1 ? "," : "") + std::to_string(i * 0.5);
  std::vector<rgb_image> still_images;
  for (const char* fps : {"10", "2"}) {
    const fs::path stills =
        fs::temp_directory_path() / ("startup-stills-" + std::to_string(getpid()));
    const run_result capture =
        run_command("./demo-capture --size 160x90 --fps " + std::string(fps) + " --out " +
                    stills.string() + " --at " + moments);
    ASSERT_EQ(capture.status, 0) << capture.output;
    for (const auto& entry : fs::directory_iterator(stills)) {
      rgb_image image;
      ASSERT_TRUE(read_png(entry.path().string(), &image));
      ASSERT_EQ(image.width, small_width);
      still_images.push_back(image);
    }
    fs::remove_all(stills);
  }
  // The picture most like a scaled still decides: the others may show a
  // moment the stills, stepped at another rate, do not.
  double best_scaled = 1e9, best_cropped = 1e9;
  for (const auto& picture : pictures) {
    double scaled = 1e9, cropped = 1e9;
    for (const rgb_image& still : still_images) {
      scaled = std::min(scaled, difference(picture, still.rgb));
      cropped =
          std::min(cropped, difference(picture, cropped_corner(still.rgb, still.width, still.height,
                                                               1280.0 / 1920.0, 720.0 / 1080.0)));
    }
    if (scaled / cropped < best_scaled / best_cropped) {
      best_scaled = scaled;
      best_cropped = cropped;
    }
  }
  std::printf("screenshot against the nearest still: %.1f scaled, %.1f as a cropped corner\n",
              best_scaled, best_cropped);
  EXPECT_LT(best_scaled, 0.6 * best_cropped);
  EXPECT_LT(best_scaled, 30.0);
}

// ---------------------------------------------------------------------------
// Hostile files and streams.

TEST(HostileInput, AFifoOrDeviceInPlaceOfAnAssetIsRefusedWithoutWaiting) {
  struct fault {
    const char* name;
    std::function<void(const fs::path&)> make;
  };
  const std::vector<fault> faults = {
      {"spaceship.obj", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
      {"normal-map.tga", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
  };
  for (const fault& f : faults) {
    SCOPED_TRACE(f.name);
    asset_folder folder;
    f.make(folder.replace(f.name));
    EXPECT_EQ(only_line_without_display(folder.path),
              std::string("demo720: cannot read ") + f.name + ": it is not a regular file");
  }
}

TEST(HostileInput, ACorruptImageOrModelIsRefusedBeforeAnyWindowWithOneLine) {
  std::string noise;
  for (int i = 0; i < 4000; ++i) noise += static_cast<char>((i * 7919 + 13) % 251);
  struct fault {
    const char* name;
    std::string bytes;
  };
  const std::vector<fault> faults = {
      {"spaceship.tga", noise},
      {"normal-map.tga", std::string("\0\0\x02", 3) + std::string(15, '\0') + noise},
      {"spaceship-normal-map.tga", std::string("\0\0\x02", 3) + std::string(9, '\0') +
                                       std::string("\0\x04\0\x04\x18\0", 6) + noise},
      {"orvane.obj", noise},
      {"ring.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2"},
      {"kelthar.obj", "v 0 0 nan\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"greetings.obj", "v 0 0 0\nv inf 0 0\nv 0 1 0\nf 1 2 3\n"},
  };
  for (const fault& f : faults) {
    SCOPED_TRACE(f.name);
    asset_folder folder;
    std::ofstream(folder.replace(f.name), std::ios::binary) << f.bytes;
    // No display: the check must refuse the file before it would need one.
    const program_run result = run_program("demo720", folder.path, {{"DISPLAY", nullptr}}, 20.0);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.lines.size(), 1u) << result.output;
    EXPECT_EQ(result.output, result.lines[0] + "\n");
    EXPECT_EQ(result.lines[0].rfind(std::string("demo720: cannot use ") + f.name + ": ", 0), 0u)
        << result.lines[0];
  }
}

// Where a descriptor of the process leads, as /proc shows it.
std::string descriptor_target(pid_t pid, int fd) {
  std::error_code error;
  const fs::path target =
      fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
  return error ? std::string("(closed)") : target.string();
}

TEST(HostileInput, ClosedStandardStreamsAreNotTakenByTheDisplayConnection) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  const std::string path = (build / "demo720").string();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    close(0);
    close(2);
    setenv("DISPLAY", screen.display.c_str(), 1);
    execl(path.c_str(), "demo720", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once the program holds a socket, it has opened its display connection.
  bool connected = false;
  for (int i = 0; i < 400 && !connected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int fd = 0; fd < 64 && !connected; ++fd)
      connected = descriptor_target(child, fd).rfind("socket:", 0) == 0;
  }
  const std::string input = descriptor_target(child, 0);
  const std::string error = descriptor_target(child, 2);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(connected);
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(error, "/dev/null");
}

TEST(FullScreen, ThePointerIsHiddenAndOneShortTapOfEscapeEndsTheFilm) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  ASSERT_EQ(pointer_visible(screen.display), 1) << "the bare screen shows no pointer to hide";
  int pointer = -1;
  film_lookout film{screen.display};
  bool tapped = false;
  double tapped_at = 0.0;
  // The limit only catches a hang.
  const program_run result = run_program("demo720", build, {{"DISPLAY", screen.display.c_str()}},
                                         300.0, [&](pid_t, double seconds) {
                                           if (pointer == -1 && film.showing(seconds))
                                             pointer = pointer_visible(screen.display);
                                           // Over the film: one short tap.
                                           if (film.seen && !tapped) {
                                             tapped = tap_key(screen.display, "Escape");
                                             tapped_at = seconds;
                                           }
                                         });
  ASSERT_TRUE(film.seen) << "the film never showed: " << result.output;
  EXPECT_EQ(pointer, 0) << "the pointer shows over the full-screen window";
  EXPECT_TRUE(tapped) << "xdotool failed";
  EXPECT_FALSE(result.timed_out) << "still playing " << 300.0 - tapped_at << " s after the tap";
  EXPECT_EQ(result.status, 0) << result.output;
}

// Escape is read only while the film plays: a tap during the loading bar is
// forgotten when the film begins (it once ended the film after its first,
// still black frame), and a tap during the film still ends it. The limit only
// catches a hang.
TEST(FullScreen, AnEscapeTappedDuringTheLoadingBarDoesNotEndTheFilm) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  const auto tap = [&]() { return tap_key(screen.display, "Escape"); };
  bool bar_tapped = false, film_tapped = false;
  const program_run result = run_program(
      "demo720", build, {{"DISPLAY", screen.display.c_str()}}, 300.0, [&](pid_t, double seconds) {
        if (!bar_tapped && seconds < 60.0) {
          bar_tapped = loading_bar_shows(screen.display) && tap();
        } else if (bar_tapped && !film_tapped && screen_shows_a_picture(screen.display)) {
          film_tapped = tap();
        }
      });
  ASSERT_TRUE(bar_tapped) << "no loading bar seen: " << result.output;
  EXPECT_TRUE(film_tapped) << "the film ended before it showed, after a tap during the bar";
  EXPECT_FALSE(result.timed_out) << "still playing at the time limit after the tap in the film";
  EXPECT_EQ(result.status, 0) << result.output;
}

// An Escape pressed during the loading bar and still held down when the film
// begins is down: the film ends after its first frame, which is black, so no
// picture of the film shows while the key is held. The key stays down until
// the program ends, or until a picture shows (the fault: then it is released
// and tapped, to end the run). The limit only catches a hang.
TEST(FullScreen, AnEscapeHeldFromTheLoadingBarIntoTheFilmEndsIt) {
  private_screen screen(1280, 720);
  ASSERT_FALSE(screen.display.empty()) << "cannot start Xvfb";
  bool held = false, picture = false;
  const program_run result = run_program(
      "demo720", build, {{"DISPLAY", screen.display.c_str()}}, 300.0, [&](pid_t, double seconds) {
        if (!held && seconds < 60.0) {
          held = loading_bar_shows(screen.display) && send_key(screen.display, "keydown", "Escape");
        } else if (held && !picture && screen_shows_a_picture(screen.display)) {
          picture = true;
          send_key(screen.display, "keyup", "Escape");
          tap_key(screen.display, "Escape");
        }
      });
  if (held && !picture) send_key(screen.display, "keyup", "Escape");
  ASSERT_TRUE(held) << "no loading bar seen: " << result.output;
  EXPECT_FALSE(picture) << "the film played on with Escape held down since the loading bar: "
                        << result.output;
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.status, 0) << result.output;
}

}  // namespace
