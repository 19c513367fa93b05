// demo-view driven by keys put in the window layer's queue, one turn of the
// viewer after each group of keys, in a window of 320 x 180 at 60 frames per
// second. What it shows is saved with S and compared with what demo-capture
// writes for the same moment and image. The viewer is opened once, with a
// shaders folder of its own, and kept for every test in the order written.
#include "programs/view/view.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process_helpers.h"

namespace fs = std::filesystem;

namespace {

constexpr double fps = 60;

const fs::path scratch = fs::temp_directory_path() / ("view_test_" + std::to_string(getpid()));
// A name beyond ASCII, as a user's folder may have: paths are UTF-8 on every
// system.
const fs::path shader_folder = scratch / fs::u8path("shaders \xce\xa9");

view_state* viewer() {
  static view_state* view = nullptr;
  if (view) return view;
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  view_options options;
  options.width = 320;
  options.height = 180;
  options.fps = fps;
  options.shaders = shader_folder.u8string();
  view = new view_state;
  if (!view_open(view, options)) {
    delete view;
    view = nullptr;
    return nullptr;
  }
  // Paused at the start, before the play clock moves.
  window_inject_key(WINDOW_KEY_SPACE, 0);
  view_frame(view);
  return view;
}

// Types the keys, then lets the viewer take one turn.
void press(view_state* view, const std::vector<window_key>& keys) {
  for (const window_key& key : keys) window_inject_key(key.key, key.mods);
  view_frame(view);
}

window_key key(int code, int mods = 0) {
  return {code, mods};
}
window_key shifted(int code) {
  return {code, WINDOW_MOD_SHIFT};
}
window_key letter(char c) {
  return {WINDOW_KEY_A + (c - 'A'), 0};
}
std::vector<window_key> times(int count, window_key k) {
  return std::vector<window_key>(static_cast<size_t>(count), k);
}

// Saves the image shown (the S key) and reads it back.
rgb_image saved(view_state* view) {
  const std::string before = view->message;
  press(view, {letter('S')});
  rgb_image image;
  const std::string prefix = "saved ";
  EXPECT_EQ(view->message.rfind(prefix, 0), 0u) << view->message;
  const std::string name = view->message.substr(prefix.size());
  EXPECT_TRUE(read_png(name, &image)) << name;
  fs::remove(name);
  return image;
}

std::string moment_text(long frame) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", static_cast<double>(frame) / fps);
  return text;
}

// demo-capture's still of a frame at 320 x 180 and 60 fps.
rgb_image captured(long frame, const std::string& layer = "final") {
  const fs::path out = scratch / ("capture-" + layer + "-" + std::to_string(frame));
  const run_result run =
      run_command("./demo-capture --size 320x180 --fps 60 --at " + moment_text(frame) +
                  " --layer " + layer + " --out " + out.string());
  EXPECT_EQ(run.status, 0) << run.output;
  rgb_image image;
  for (const auto& entry : fs::directory_iterator(out))
    EXPECT_TRUE(read_png(entry.path().string(), &image));
  return image;
}

void expect_same_picture(const rgb_image& shown, const rgb_image& expected,
                         const std::string& what) {
  ASSERT_EQ(shown.width, expected.width) << what;
  ASSERT_EQ(shown.height, expected.height) << what;
  EXPECT_GE(psnr(shown, expected), 40.0) << what;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

TEST(View, KeysSeekExactlyForwardBackwardAndFrameByFrame) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  ASSERT_FALSE(view->playing);
  EXPECT_EQ(view->frame, 1);

  struct seek_case {
    const char* keys;
    std::vector<window_key> typed;
    long frame;  // where the keys lead, counted by hand
  };
  const std::vector<seek_case> cases = {
      {"Right x3", times(3, key(WINDOW_KEY_RIGHT)), 3 * 60},
      {"Shift+Right x3, Left",
       {shifted(WINDOW_KEY_RIGHT), shifted(WINDOW_KEY_RIGHT), shifted(WINDOW_KEY_RIGHT),
        key(WINDOW_KEY_LEFT)},
       32 * 60},
      {"Period x3, Comma",
       {key(WINDOW_KEY_PERIOD), key(WINDOW_KEY_PERIOD), key(WINDOW_KEY_PERIOD),
        key(WINDOW_KEY_COMMA)},
       32 * 60 + 2},
      {"Shift+Left (back, replayed)", {shifted(WINDOW_KEY_LEFT)}, 22 * 60 + 2},
      {"End, Shift+Left, Left",
       {key(WINDOW_KEY_END), shifted(WINDOW_KEY_LEFT), key(WINDOW_KEY_LEFT)},
       104 * 60},
      {"Home, Period x2",
       {key(WINDOW_KEY_HOME), key(WINDOW_KEY_PERIOD), key(WINDOW_KEY_PERIOD)},
       3},
  };
  for (const seek_case& c : cases) {
    press(view, c.typed);
    ASSERT_EQ(view->frame, c.frame) << c.keys;
    expect_same_picture(saved(view), captured(c.frame), c.keys);
  }
  // Frame steps are for a paused film only; Space plays on from the frame shown.
  press(view, {key(WINDOW_KEY_SPACE)});
  EXPECT_TRUE(view->playing);
  EXPECT_GE(view->frame, 3);
  press(view, {key(WINDOW_KEY_SPACE), key(WINDOW_KEY_HOME)});
  const long paused_at = view->frame;
  press(view, {key(WINDOW_KEY_SPACE), key(WINDOW_KEY_PERIOD), key(WINDOW_KEY_SPACE)});
  EXPECT_EQ(view->frame, paused_at);
  EXPECT_FALSE(view->playing);
}

TEST(View, LayerKeysShowTheImagesOfDemoCaptureLayer) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  press(view, {key(WINDOW_KEY_HOME), shifted(WINDOW_KEY_RIGHT), shifted(WINDOW_KEY_RIGHT),
               shifted(WINDOW_KEY_RIGHT)});
  ASSERT_EQ(view->frame, 30 * 60);
  const char* const images[6] = {"final", "scene", "atmosphere", "flare", "composite", "focus"};
  for (int i = 5; i >= 0; --i) {
    press(view, {key(WINDOW_KEY_0 + 1 + i)});
    EXPECT_STREQ(film_steps[view->shown].image, images[i]);
    expect_same_picture(saved(view), captured(view->frame, images[i]), images[i]);
  }
  press(view, {key(WINDOW_KEY_0 + 4), key(WINDOW_KEY_0)});
  EXPECT_STREQ(film_steps[view->shown].image, "final");
}

TEST(View, SavesTheImageOnScreen) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  press(view, {key(WINDOW_KEY_0 + 1)});
  const rgb_image image = saved(view);
  // What a turn puts on screen before its swap, with no overlay on.
  view_present(view, 320, 180);
  std::vector<unsigned char> screen(320 * 180 * 3);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, 320, 180, GL_RGB, GL_UNSIGNED_BYTE, screen.data());
  rgb_image shown;
  shown.width = 320;
  shown.height = 180;
  for (int y = 0; y < 180; ++y)  // bottom row first on screen, top row first in the file
    shown.rgb.insert(shown.rgb.end(), screen.begin() + (179 - y) * 320 * 3,
                     screen.begin() + (180 - y) * 320 * 3);
  expect_same_picture(shown, image, "the window's back buffer");
  // With the overlay on, the text covers part of it.
  press(view, {letter('T')});
  view_present(view, 320, 180);
  std::vector<unsigned char> with_overlay(screen.size());
  glReadPixels(0, 0, 320, 180, GL_RGB, GL_UNSIGNED_BYTE, with_overlay.data());
  EXPECT_NE(with_overlay, screen);
  press(view, {letter('T')});

  // Into a folder whose name is beyond ASCII.
  const fs::path stills = scratch / fs::u8path("stills \xc3\xa9");
  fs::create_directories(stills);
  const std::string before = view->options.folder;
  view->options.folder = stills.u8string();
  const std::string into = view_save(view);
  view->options.folder = before;
  EXPECT_EQ(names_in(stills).size(), 1u) << into;
  rgb_image again;
  EXPECT_TRUE(read_png(into, &again)) << into;
  EXPECT_EQ(again.rgb, image.rgb);
}

TEST(View, ShaderFilesAreWrittenWatchedAndRebuilt) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->shaders.watching);
  // One file per stage, holding the built-in text.
  for (const film_program& program : film_programs) {
    EXPECT_EQ(read_text(shader_folder / (std::string(program.name) + ".frag")), *program.fragment);
    if (program.vertex)
      EXPECT_EQ(read_text(shader_folder / (std::string(program.name) + ".vert")), *program.vertex);
    else
      EXPECT_FALSE(fs::exists(shader_folder / (std::string(program.name) + ".vert")));
  }
  press(view, {key(WINDOW_KEY_HOME), shifted(WINDOW_KEY_RIGHT), key(WINDOW_KEY_0 + 3)});
  ASSERT_STREQ(film_steps[view->shown].image, "atmosphere");
  const rgb_image good = saved(view);
  const fs::path file = shader_folder / "atmosphere.frag";
  const std::string original = read_text(file);

  // Each bad file keeps the last good program running and says why.
  struct bad_case {
    const char* what;
    std::string text;  // written to the file; "-" deletes it
    const char* reason;
  };
  const std::vector<bad_case> cases = {
      {"a text that does not compile", "void main() { this is not a shader; }\n",
       "does not compile"},
      {"a text that does not link", "void helper();\n", "does not link"},
      {"an empty file", "", "the file is empty"},
      {"a binary file",
       std::string("\x7f"
                   "ELF\0\0\x01\x02",
                   8),
       "not text"},
      {"a huge file", std::string((1 << 20) + 1, ' '), "larger than 1 MB"},
      {"a deleted file", "-", "no such file"},
  };
  for (const bad_case& c : cases) {
    if (c.text == "-")
      fs::remove(file);
    else
      write_text(file, c.text);
    press(view, {});
    const std::string log = view_shaders_log(&view->shaders);
    EXPECT_NE(log.find(c.reason), std::string::npos) << c.what << ": " << log;
    EXPECT_NE(log.find("atmosphere"), std::string::npos) << c.what << ": " << log;
    expect_same_picture(saved(view), good, c.what);
  }

  // A file that builds again is picked up: a plain red sky, then the original.
  write_text(file, "void main()\n{\n  gl_FragData[0] = vec4(1.0, 0.0, 0.0, 1.0);\n}\n");
  press(view, {});
  EXPECT_EQ(view_shaders_log(&view->shaders), "");
  std::printf("shader rebuild at 320x180: %.1f ms\n", view->shaders.last_rebuild_ms);
  const rgb_image red = saved(view);
  ASSERT_FALSE(red.rgb.empty());
  for (size_t i = 0; i < red.rgb.size(); i += 3) {
    ASSERT_EQ(red.rgb[i], 255) << "pixel " << i / 3;
    ASSERT_EQ(red.rgb[i + 1], 0) << "pixel " << i / 3;
    ASSERT_EQ(red.rgb[i + 2], 0) << "pixel " << i / 3;
  }
  write_text(file, original);
  press(view, {});
  EXPECT_EQ(view_shaders_log(&view->shaders), "");
  EXPECT_EQ(good.rgb, saved(view).rgb);
}

TEST(View, AResizedWindowHasTheFilmAtItsNewSize) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  press(view, {key(WINDOW_KEY_0 + 1), key(WINDOW_KEY_HOME), key(WINDOW_KEY_RIGHT)});
  for (const auto& size : {std::pair<int, int>{240, 136}, std::pair<int, int>{320, 180}}) {
    window_set_size(size.first, size.second);
    for (int turn = 0; turn < 100 && TVJAYSLH[0] != size.first; ++turn) {
      window_wait_events(0.02);
      press(view, {});
    }
    ASSERT_EQ(TVJAYSLH[0], size.first);
    ASSERT_EQ(TVJAYSLH[1], size.second);
    const film_image image = view_image(view);
    EXPECT_EQ(image.width, static_cast<unsigned>(size.first));
    EXPECT_EQ(image.height, static_cast<unsigned>(size.second));
    if (size.first == 240) {
      const fs::path out = scratch / "capture-240";
      const run_result run = run_command("./demo-capture --size 240x136 --fps 60 --at " +
                                         moment_text(view->frame) + " --out " + out.string());
      ASSERT_EQ(run.status, 0) << run.output;
      rgb_image expected;
      for (const auto& entry : fs::directory_iterator(out))
        read_png(entry.path().string(), &expected);
      expect_same_picture(saved(view), expected, "after a resize to 240x136");
    }
  }
}

// Whatever size the user drags the window to, the viewer goes on: a side of
// one pixel, or one wider than any texture, is drawn at the nearest size the
// film's targets can have.
TEST(View, AWindowResizedToOnePixelOrBeyondTheGpuGoesOn) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  const std::pair<int, int> sizes[] = {{1, 1}, {100, 1}, {1, 100}, {17000, 100}, {320, 180}};
  for (const auto& size : sizes) {
    const std::string what = std::to_string(size.first) + "x" + std::to_string(size.second);
    window_set_size(size.first, size.second);
    int width = 0, height = 0;
    for (int turn = 0; turn < 50; ++turn) {
      window_wait_events(0.02);
      ASSERT_TRUE(view_frame(view)) << what;
      window_framebuffer_size(&width, &height);
      if (width == size.first && height == size.second) break;
    }
    ASSERT_TRUE(view_frame(view)) << what;  // a whole turn at the size obtained
    std::printf("window %s: framebuffer %dx%d, film drawn at %dx%d\n", what.c_str(), width, height,
                TVJAYSLH[0], TVJAYSLH[1]);
    EXPECT_GE(TVJAYSLH[0], 16) << what;
    EXPECT_GE(TVJAYSLH[1], 16) << what;
    EXPECT_LE(TVJAYSLH[0], 8192) << what;
    EXPECT_EQ(TVJAYSLH[0], std::clamp(width, 16, view->largest_side)) << what;
    EXPECT_EQ(TVJAYSLH[1], std::clamp(height, 16, view->largest_side)) << what;
    EXPECT_FALSE(view->failed) << what;
  }
  // Back at its first size, the film is whole again.
  ASSERT_EQ(TVJAYSLH[0], 320);
  press(view, {key(WINDOW_KEY_0 + 1), key(WINDOW_KEY_HOME), key(WINDOW_KEY_RIGHT)});
  expect_same_picture(saved(view), captured(view->frame), "after the resizes");
}

TEST(View, AShadersFolderThatCannotBeMadeIsOneLineAndTheBuiltInTextsGoOn) {
#ifdef _WIN32
  // A file where a folder of the path should be.
  fs::create_directories(scratch);
  write_text(scratch / "a-file", "");
  const std::string folder = (scratch / "a-file" / "shaders").string();
#else
  const std::string folder = "/proc/no-such-folder/shaders";
#endif
  view_shaders shaders;
  testing::internal::CaptureStderr();
  view_shaders_start(&shaders, folder);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(shaders.watching);
  EXPECT_EQ(said.find("demo-view: cannot use the shaders folder " + folder + ": "), 0u) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_FALSE(view_shaders_check(&shaders));
}

#ifndef _WIN32
// Links, a small file system to fill up and the installed command are POSIX
// matters: the Windows build has neither a tmpfs to mount nor the package's
// commands.

// A small file system mounted for a test (tmpfs), to fill up; unmounted at
// the end. Mounting needs the superuser and a system that allows it.
struct small_mount {
  fs::path path;
  bool mounted = false;
  explicit small_mount(const fs::path& where, const char* options = "size=256k") : path(where) {
    fs::create_directories(path);
    mounted = std::system(("mount -t tmpfs -o " + std::string(options) + " tmpfs " + path.string() +
                           " 2>/dev/null")
                              .c_str()) == 0;
  }
  ~small_mount() {
    if (mounted) std::system(("umount " + path.string()).c_str());
    fs::remove_all(path);
  }
  // Fills the file system to its last byte.
  void fill() {
    std::FILE* filler = std::fopen((path / "filler").c_str(), "wb");
    std::vector<char> block(4096, 'x');
    while (filler && std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    if (filler) std::fclose(filler);
    for (size_t bytes = 512; bytes > 0; bytes /= 2) {  // the last partial block
      filler = std::fopen((path / "filler").c_str(), "ab");
      while (filler && std::fwrite(block.data(), 1, bytes, filler) == bytes &&
             std::fflush(filler) == 0) {
      }
      if (filler) std::fclose(filler);
    }
  }
};

// A file name of the shaders folder, taken by a link: never written through,
// even when the link points at nothing; that program alone keeps its built-in
// text and says why, the other files are written and watched.
TEST(View, ShaderFilesAreNeverWrittenThroughLinksAndABadNameCostsThatNameOnly) {
  ASSERT_NE(viewer(), nullptr);
  const fs::path folder = scratch / "linked-shaders";
  const fs::path elsewhere = scratch / "elsewhere";
  fs::create_directories(folder);
  fs::create_directories(elsewhere);
  const std::string first = std::string(film_programs[0].name) + ".frag";
  const std::string last = std::string(film_programs[FILM_PROGRAM_COUNT - 1].name) + ".frag";
  fs::create_symlink(elsewhere / "created.frag", folder / first);
  fs::create_symlink(scratch / "no-such-folder" / "created.frag", folder / last);
  view_shaders shaders;
  testing::internal::CaptureStderr();
  view_shaders_start(&shaders, folder.string());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(shaders.watching) << said;
  EXPECT_FALSE(fs::exists(elsewhere / "created.frag")) << "written through the link";
  EXPECT_FALSE(fs::exists(scratch / "no-such-folder"));
  EXPECT_TRUE(fs::is_symlink(folder / first));
  EXPECT_TRUE(fs::is_symlink(folder / last));
  EXPECT_NE(shaders.errors[0].find(first), std::string::npos) << said;
  EXPECT_NE(shaders.errors[FILM_PROGRAM_COUNT - 1].find(last), std::string::npos) << said;
  for (int index = 1; index < FILM_PROGRAM_COUNT - 1; ++index) {
    const film_program& program = film_programs[index];
    EXPECT_EQ(shaders.errors[index], "") << program.name;
    EXPECT_EQ(read_text(folder / (std::string(program.name) + ".frag")), *program.fragment);
  }
  for (const std::string& name : names_in(folder))
    EXPECT_EQ(name.find("partial"), std::string::npos) << name;
  fs::remove_all(folder);
  fs::remove_all(elsewhere);
}

// On a full file system no shader file is left empty or cut short (the next
// run would refuse it): each program says it could not be written and keeps
// its built-in text, and once there is room a new start writes them all. A
// still saved there says why it was not.
TEST(View, AFullFileSystemLeavesNoShaderFileAndSavingAStillSaysWhy) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  small_mount disk(scratch / "small-disk");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here (not the superuser?)";
  const fs::path folder = disk.path / "shaders";
  fs::create_directories(folder);
  disk.fill();
  view_shaders shaders;
  testing::internal::CaptureStderr();
  view_shaders_start(&shaders, folder.string());
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(shaders.watching);
  EXPECT_EQ(names_in(folder), std::vector<std::string>{}) << said;
  for (int index = 0; index < FILM_PROGRAM_COUNT; ++index)
    EXPECT_NE(shaders.errors[index].find("No space left on device"), std::string::npos)
        << film_programs[index].name << ": " << shaders.errors[index];
  EXPECT_EQ(said.find("demo-view: cannot write " + folder.string()), 0u) << said;
  EXPECT_FALSE(view_shaders_check(&shaders));  // nothing came, nothing to rebuild

  // A still into the full folder.
  const fs::path before = fs::current_path();
  fs::current_path(disk.path);
  testing::internal::CaptureStderr();
  press(view, {letter('S')});
  const std::string still_said = testing::internal::GetCapturedStderr();
  fs::current_path(before);
  EXPECT_EQ(view->message.rfind("cannot write view-", 0), 0u) << view->message;
  EXPECT_NE(view->message.find(": No space left on device"), std::string::npos) << view->message;
  EXPECT_NE(still_said.find(": No space left on device\n"), std::string::npos) << still_said;
  EXPECT_EQ(names_in(disk.path), (std::vector<std::string>{"filler", "shaders"}));

  fs::remove(disk.path / "filler");
  view_shaders again;
  view_shaders_start(&again, folder.string());
  for (int index = 0; index < FILM_PROGRAM_COUNT; ++index)
    EXPECT_EQ(again.errors[index], "") << film_programs[index].name;
}

#endif  // _WIN32

TEST(View, SizeAndRateAreRefusedAsDemoCaptureRefusesThem) {
  for (const std::string option :
       {"--size 0x0", "--size 100x", "--size 9000x100", "--size 4294968576x720", "--fps 0",
        "--fps abc", "--fps 0x10", "--fps 1001", "--fps 30 --fps 30", "--size", "--nonsense"}) {
    const run_result view = run_command("./demo-view " + option);
    const run_result capture = run_command("./demo-capture " + option);
    EXPECT_EQ(view.status, 2) << option << ": " << view.output;
    std::string expected = capture.output;
    for (size_t at = expected.find("demo-capture"); at != std::string::npos;
         at = expected.find("demo-capture", at))
      expected.replace(at, std::string("demo-capture").size(), "demo-view");
    EXPECT_EQ(view.output, expected) << option;
  }
  const run_result twice = run_command("./demo-view --shaders a --shaders b");
  EXPECT_EQ(twice.status, 2) << twice.output;
  EXPECT_EQ(twice.output.find("demo-view: --shaders is given more than once\n"), 0u)
      << twice.output;
  const run_result help = run_command("./demo-view --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find(view_keys_text), std::string::npos) << help.output;
}

#ifndef _WIN32
// Run by the package's command (packaging/skyward-view.sh), the viewer is
// started in the user's folder with SKYWARD_ASSET_DIR and SKYWARD_COMMAND set:
// its help and messages speak of the command, and S saves into the folder it
// was started in, not into the asset folder it reads from.
TEST(View, AsAnInstalledCommandItSpeaksOfItselfAndSavesWhereTheUserIs) {
  const fs::path assets = fs::current_path();
  const fs::path user = scratch / "user";
  fs::create_directories(user);
  const std::vector<env_change> env{{"SKYWARD_COMMAND", "skyward-view"},
                                    {"SKYWARD_ASSET_DIR", assets.c_str()}};
  const std::string program = (assets / "demo-view").string();
  const run_result help = run_process({program, "--help"}, user, env, 60);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("Usage: skyward-view [options]\n", 0), 0u) << help.output;
  EXPECT_NE(help.output.find(view_keys_text), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("reads the film's asset files from " + assets.string()),
            std::string::npos)
      << help.output;
  for (const char* build_words : {"demo-view", "demo-capture", "build folder"})
    EXPECT_EQ(help.output.find(build_words), std::string::npos) << build_words;
  const run_result bad = run_process({program, "--fps", "0"}, user, env, 60);
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.output.rfind("skyward-view: ", 0), 0u) << bad.output;
  EXPECT_NE(bad.output.find("(see skyward-view --help)"), std::string::npos) << bad.output;
  const std::vector<env_change> nowhere{{"SKYWARD_COMMAND", "skyward-view"},
                                        {"SKYWARD_ASSET_DIR", "/nonexistent-skyward-assets"}};
  const run_result missing = run_process({program}, user, nowhere, 60);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output,
            "skyward-view: cannot use /nonexistent-skyward-assets: No such file or directory\n");

  // The folder S saves into is the one the viewer was given.
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  const std::string before = view->options.folder;
  view->options.folder = user.string();
  const std::string saved = view_save(view);
  view->options.folder = before;
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(fs::path(saved).parent_path(), user);
  EXPECT_TRUE(fs::exists(saved)) << saved;
  fs::remove_all(user);
}

#endif  // _WIN32

TEST(View, EscapeQuits) {
  view_state* view = viewer();
  ASSERT_NE(view, nullptr);
  press(view, {letter('T'), key(WINDOW_KEY_0 + 0)});  // draws with the overlay on
  window_inject_key(WINDOW_KEY_ESCAPE, 0);
  EXPECT_FALSE(view_frame(view));
  view_close(view);
  fs::remove_all(scratch);
}
