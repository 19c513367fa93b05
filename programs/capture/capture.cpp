// capture.cpp: demo-capture, the film rendered with a clock of its own.
//
// It runs the film's start-up and frame function in a hidden window, stepping
// the clock at a fixed rate instead of reading it. Four modes:
//   stills (default)  the final image of chosen moments, as PNG files; frames
//                     between the moments are not drawn: the script's state is
//                     stepped alone, exactly as a drawn frame would step it;
//   --video FILE      every frame of the film, encoded by an ffmpeg child
//                     process that reads raw frames on its standard input;
//   --png DIR         every frame of the film as numbered PNG files;
//   --benchmark       times of the start-up steps and of each pass of the
//                     frame at a few moments, and the memory the film holds.
// Every frame shown is the frame the film shows at that moment when played at
// that rate. The loading bars are not part of any output. This file reads
// the options (which mode reads which: option_table) and runs the mode.
#include "programs/capture/capture.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "programs/common/cli_options.h"
#include "programs/common/command.h"

namespace {

const char* const usage_text =
    "Usage: demo-capture [options]\n"
    "Renders the film without a visible window: stills of chosen moments (the default),\n"
    "the whole film as a video or as numbered PNG frames, or a benchmark.\n"
    "\n"
    "  --at T1,T2,...   moments to capture as stills, in seconds from the start of the film\n"
    "                   (0 to 115; default 3,13,30,58,70)\n"
    "  --video FILE     render every frame of the film (fades included, 115 s) and encode\n"
    "                   it with ffmpeg: H.264, yuv420p, crf 18, no B-frames, closed groups\n"
    "                   of pictures (as for --frames); the container follows the\n"
    "                   file's extension (.mp4 if none). Needs an even width and height\n"
    "  --png DIR        render every frame of the film to DIR/frame-000001.png, ...;\n"
    "                   DIR must not hold frame-*.png files of an earlier run\n"
    "  --frames A-B     with --video or --png: render only frames A to B (counted from 1)\n"
    "                   of the whole film at --fps, each exactly as in the whole film\n"
    "                   (the script is stepped to frame A without drawing). PNG frames\n"
    "                   keep their whole-film names, and DIR may hold other frames; a\n"
    "                   video of a range starts with a key frame and joins the videos of\n"
    "                   the ranges around it without re-encoding (ffmpeg's concat\n"
    "                   demuxer with -c copy)\n"
    "  --benchmark      time the start-up steps and each pass of the frame at a few\n"
    "                   moments (GPU timer queries), and report the memory held\n"
    "  --size WxH       image size in pixels (default 1920x1080 for --video and --png,\n"
    "                   1280x720 otherwise)\n"
    "  --fps N          rate at which the film's clock is stepped (default 60); the\n"
    "                   script's motion depends on it, as it does on a real frame rate.\n"
    "                   The film has 115 x N frames, the first at 1/N s\n"
    "  --out DIR        folder for the stills, made if missing (default: current folder)\n"
    "  --layer NAME     stills of an intermediate image instead of the final one: scene\n"
    "                   (the drawn objects before any pass), atmosphere, flare, composite\n"
    "                   (sky, fog and scene before depth of field) or focus (the\n"
    "                   depth-of-field result before the speed blur)\n"
    "  --until T       --video and --png: only the film's first T seconds (default: all)\n"
    "  --no-overlap     read each frame back before drawing the next, instead of reading\n"
    "                   it while the next is drawn (to compare capture rates)\n"
    "  --ffmpeg PATH    the ffmpeg program to run (default: ffmpeg from PATH)\n"
    "  --gl WAY         how to reach OpenGL: x11 (a hidden window on the X display),\n"
    "                   egl (no X server: a GPU's EGL device, else Mesa's surfaceless\n"
    "                   EGL) or auto (the default: egl when $DISPLAY is unset, else x11)\n"
    "  --fingerprint    check the other options as a capture would, then print one line\n"
    "                   naming the film they render (the program's version, a digest of\n"
    "                   the asset files and shader texts, size, rate and frame count)\n"
    "                   and render nothing; skyward-farm compares the hosts' lines\n"
    "  --help           show this text\n"
    "\n"
    "Stills are named still-SSS.mmm.png after their moments, so they sort in the order\n"
    "of the film. A video is written under a temporary name in the same folder and\n"
    "renamed when ffmpeg has finished it; it never replaces anything but a regular file.\n"
    "A failed or interrupted capture leaves no file and no folder that it made.\n";

// --frames: "A-B", two frame numbers from 1; the reason on failure. Whether
// they lie in the film is checked once the rate is known.
std::string parse_frames(const std::string& text, long* first, long* last) {
  const size_t dash = text.find('-');
  std::string reason = "'" + text + "' is not a range of frames A-B (such as 1-600)";
  if (dash == std::string::npos) return reason;
  const std::string from = text.substr(0, dash), to = text.substr(dash + 1);
  for (const std::string& number : {from, to})
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos)
      return reason;
  *first = std::stol(from);
  *last = std::stol(to);
  if (*first < 1) return "frames are counted from 1, not from " + from;
  if (*first > *last) return "the range " + text + " ends before it starts";
  return "";
}

// --at: moments in seconds, comma-separated; the reason on failure.
std::string parse_moments(const std::string& text, std::vector<double>* moments) {
  moments->clear();
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    double moment = 0;
    if (!parse_number(item, &moment)) return "'" + item + "' is not a number of seconds";
    if (moment < 0 || moment > FILM_LENGTH) return item + " s is outside the film (0 to 115 s)";
    moments->push_back(moment);
    if (comma == std::string::npos) return "";
    start = comma + 1;
  }
}

[[noreturn]] void fail_usage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n(see %s --help)\n", capture_program_name, message.c_str(),
               capture_program_name);
  std::exit(2);
}

// The modes as the user chooses them, in the order of capture_mode.
const std::vector<const char*> mode_names = {"stills", "--video", "--png", "--benchmark"};

// Which modes read each option: the one place that says it. An option of the
// parser without a row here is refused in every mode.
constexpr unsigned every_mode =
    1u << MODE_STILLS | 1u << MODE_VIDEO | 1u << MODE_PNG | 1u << MODE_BENCHMARK;
constexpr unsigned whole_film_modes = 1u << MODE_VIDEO | 1u << MODE_PNG;
const std::vector<option_readers> option_table = {
    {"--help", every_mode},
    {"--at", 1u << MODE_STILLS},
    {"--out", 1u << MODE_STILLS},
    {"--layer", 1u << MODE_STILLS},
    {"--video", 1u << MODE_VIDEO},
    {"--ffmpeg", 1u << MODE_VIDEO},
    {"--png", 1u << MODE_PNG},
    {"--frames", whole_film_modes},
    {"--until", whole_film_modes},
    {"--no-overlap", whole_film_modes},
    {"--benchmark", 1u << MODE_BENCHMARK},
    {"--size", every_mode},
    {"--fps", every_mode},
    {"--gl", every_mode},
    {"--fingerprint", every_mode},
};

capture_options parse_options(int argc, char** argv) {
  capture_options options;
  CLI::App app{"demo-capture", "demo-capture"};
  app.set_help_flag();  // the help is usage_text, printed below
  // An option given twice is refused once parsed (repeated_option).
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool help = false, benchmark = false, no_overlap = false, fingerprint = false;
  std::string at, size, video, png;
  app.add_flag("-h,--help", help);
  app.add_flag("--benchmark", benchmark);
  app.add_flag("--no-overlap", no_overlap);
  app.add_flag("--fingerprint", fingerprint);
  app.add_option("--at", at)
      ->check(CLI::Validator(
          [&options](std::string& value) { return parse_moments(value, &options.moments); },
          "T1,..."));
  add_size_and_fps_options(&app, &size, &options.width, &options.height, &options.fps);
  app.add_option("--out", options.out);
  app.add_option("--layer", options.layer)
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            if (film_step_for_image(value.c_str()) >= 0) return "";
            return "'" + value + "' is not one of scene, atmosphere, flare, composite, focus";
          },
          "NAME"));
  const CLI::Validator named(
      [](std::string& value) { return value.empty() ? "needs a non-empty name" : ""; }, "NAME");
  app.add_option("--video", video)->check(named);
  app.add_option("--png", png)->check(named);
  app.add_option("--ffmpeg", options.ffmpeg);
  std::string frames;
  app.add_option("--frames", frames)
      ->check(CLI::Validator(
          [&options](std::string& value) {
            return parse_frames(value, &options.first_frame, &options.last_frame);
          },
          "A-B"));
  app.add_option("--until", options.until)
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            double seconds = 0;
            if (!parse_number(value, &seconds)) return "'" + value + "' is not a number of seconds";
            if (!(seconds > 0 && seconds <= FILM_LENGTH))
              return value + " s is outside the film (more than 0, up to 115 s)";
            return "";
          },
          "T"));
  std::string gl = "auto";
  app.add_option("--gl", gl)->check(CLI::IsMember({"x11", "egl", "auto"}));
  try {
    app.parse(argc, argv);
  } catch (const std::exception& error) {  // CLI::ParseError and its kin
    fail_usage(error.what());
  }
  if (help) {
    // The name is the installed command's where the package runs it.
    const std::string help =
        command_text(usage_text, "demo-capture") + asset_folder_text() +
        "Without an X display it renders through EGL, with no X server; the pictures\n"
        "are the same as through X with the same driver.\n";
    std::fputs(help.c_str(), stdout);
    std::exit(standard_output_written() ? 0 : 1);
  }
  const std::string repeated = repeated_option(app);
  if (!repeated.empty()) fail_usage(repeated);
  const int modes = !video.empty() + !png.empty() + benchmark;
  if (modes > 1)
    fail_usage(std::string(!video.empty() ? "--video" : "--png") +
               " cannot be combined with another of --video, --png, --benchmark");
  if (!video.empty()) options.mode = MODE_VIDEO;
  if (!png.empty()) options.mode = MODE_PNG;
  if (benchmark) options.mode = MODE_BENCHMARK;
  // An option the chosen mode does not read is refused rather than left
  // unread.
  const std::string unread = unread_option(app, option_table, mode_names, options.mode);
  if (!unread.empty()) fail_usage(unread);
  options.target = !video.empty() ? video : png;
  options.overlap = !no_overlap;
  options.fingerprint = fingerprint;
  options.gl = gl == "x11" ? WINDOW_GL_X11 : gl == "egl" ? WINDOW_GL_EGL : WINDOW_GL_AUTO;
  const bool whole_film = options.mode == MODE_VIDEO || options.mode == MODE_PNG;
  if (!frames.empty() && options.until < FILM_LENGTH)
    fail_usage("--frames cannot be combined with --until");
  const long frame_count = film_frame_count(options.fps);
  char fps_text[32];
  std::snprintf(fps_text, sizeof fps_text, "%g", options.fps);
  if (!frames.empty() && options.last_frame > frame_count)
    fail_usage("the range " + frames + " goes past the film's last frame, " +
               std::to_string(frame_count) + " at --fps " + fps_text);
  if (options.width == 0) {
    options.width = whole_film ? 1920 : 1280;
    options.height = whole_film ? 1080 : 720;
  }
  // H.264 in yuv420p stores colour at half resolution in both directions.
  if (options.mode == MODE_VIDEO && (options.width % 2 || options.height % 2))
    fail_usage("--video needs an even width and height");
  return options;
}

}  // namespace

// The program, ended by main through system_end_process.
static int run(int argc, char** argv) {
  if (!command_begin(&argc, &argv, &capture_program_name)) return 1;
  try {
    capture_options options = parse_options(argc, argv);
    // Run as an installed command: the paths given (and the default output
    // folder) are the user's, then the assets are read from their folder. A
    // bare --ffmpeg name is looked up on PATH and stays as it is.
    std::vector<std::string*> paths{&options.out, &options.target};
    if (options.ffmpeg.find('/') != std::string::npos) paths.push_back(&options.ffmpeg);
    if (!enter_asset_folder(capture_program_name, paths)) return 1;
    if (options.fingerprint) return print_fingerprint(options);
    int status = 0;
    switch (options.mode) {
      case MODE_VIDEO:
      case MODE_PNG:
        status = capture_film(options);
        break;
      case MODE_BENCHMARK:
        status = run_benchmark(options);
        break;
      case MODE_STILLS:
        status = capture_stills(options);
        break;
    }
    // A failed or interrupted capture leaves no file and no folder it made.
    if (status != 0) remove_what_was_made();
    return status;
  } catch (const std::exception& error) {  // out of memory, or a file system error
    std::fprintf(stderr, "%s: %s\n", capture_program_name, error.what());
    remove_what_was_made();
    return 1;
  }
}

int main(int argc, char** argv) {
  return system_end_process(run(argc, argv));
}
