// capture_output.cpp: the files and folders demo-capture writes, in
// system-neutral code: the checks of the video's target before anything is
// rendered, its temporary name, the guard before the final rename, and the
// record of what a run has made, removed when it fails. Paths are UTF-8
// (std::filesystem::u8path), so that names that are not ASCII work on Windows.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "programs/capture/capture.h"

namespace {

// What this run has made: removed after a failure or an interruption.
struct made_record {
  std::vector<std::string> folders;  // outermost first
  std::vector<std::string> files;
} made;

// The longest file name (one path component) the file systems in use accept,
// in bytes.
const size_t longest_name = 255;

// text cut to at most `bytes` bytes, never inside a UTF-8 sequence.
std::string cut_to(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// What a file system entry is, for an error line.
const char* kind_of(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory:
      return "a folder";
    case std::filesystem::file_type::character:
      return "a character device";
    case std::filesystem::file_type::block:
      return "a block device";
    case std::filesystem::file_type::fifo:
      return "a FIFO";
    case std::filesystem::file_type::socket:
      return "a socket";
    case std::filesystem::file_type::symlink:
      return "a link";
    default:
      return "a special file";
  }
}

// Why the video may not take the place of `path`, or "" when it may: only a
// regular file or nothing is ever replaced; a link is not followed, the
// rename would replace the link itself (/dev/stdout is one).
std::string cannot_replace(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(std::filesystem::u8path(path), error);
  if (status.type() == std::filesystem::file_type::not_found) return "";
  if (error) return error.message();
  if (status.type() == std::filesystem::file_type::regular) return "";
  return std::string("it is ") + kind_of(status.type()) + ", not a regular file";
}

bool refuse(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "%s: cannot use %s: %s\n", capture_program_name, path.c_str(),
               reason.c_str());
  return false;
}

}  // namespace

bool make_folder(const std::string& path) {
  // The folders missing between the first one that exists and path, made one
  // by one so that each is noted.
  std::vector<std::filesystem::path> missing;
  std::error_code error;
  for (std::filesystem::path folder = std::filesystem::u8path(path);
       !folder.empty() && folder != folder.root_path(); folder = folder.parent_path()) {
    // A folder that is not there yet is no error (the standard library says
    // ENOENT in the error code all the same): only whether it exists counts.
    std::error_code looked;
    if (std::filesystem::exists(std::filesystem::symlink_status(folder, looked))) break;
    if (folder.filename().empty()) continue;  // a trailing "/"
    missing.push_back(folder);
  }
  for (auto folder = missing.rbegin(); folder != missing.rend() && !error; ++folder)
    if (std::filesystem::create_directory(*folder, error))
      made.folders.push_back(folder->u8string());
  if (!error && !std::filesystem::is_directory(std::filesystem::u8path(path), error) && !error)
    error = std::make_error_code(std::errc::not_a_directory);
  if (!error) return true;
  std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", capture_program_name, path.c_str(),
               error.message().c_str());
  return false;
}

void note_file_made(const std::string& path) {
  made.files.push_back(path);
}

void remove_what_was_made() {
  std::error_code ignored;
  for (const std::string& file : made.files)
    std::filesystem::remove(std::filesystem::u8path(file), ignored);
  for (auto folder = made.folders.rbegin(); folder != made.folders.rend(); ++folder)
    std::filesystem::remove(std::filesystem::u8path(*folder), ignored);  // only if empty
  made = {};
}

bool prepare_video(const capture_options& options, encoder* child) {
  const std::string& target = options.target;
  const std::filesystem::path path = std::filesystem::u8path(target);
  if (target.back() == '/' || path.filename() == "." || path.filename() == "..")
    return refuse(target, "it names a folder, not a file");
  const std::string reason = cannot_replace(target);
  if (!reason.empty()) return refuse(target, reason);
  child->path = target;
  const std::filesystem::path folder = std::filesystem::u8path(child->path).parent_path();
  if (!folder.empty() && !make_folder(folder.u8string())) return false;
  // The temporary file is made now, empty, under a name no other file has:
  // this proves that the folder can be written before anything is rendered.
  std::random_device random;
  const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tag;
    for (int i = 0; i < 6; ++i) tag += letters[random() % 36];
    child->temporary = temporary_video_name(child->path, tag);
    FILE* file = system_open_file(child->temporary.c_str(), "wx");
    if (file) {
      note_file_made(child->temporary);
      if (std::fclose(file) == 0) return true;
      const int fault = errno;
      std::error_code ignored;
      std::filesystem::remove(std::filesystem::u8path(child->temporary), ignored);
      errno = fault;
    }
    if (errno != EEXIST) break;
  }
  const std::string reason_text = std::strerror(errno);
  child->temporary.clear();
  return refuse(target, "cannot make a file in " +
                            (folder.empty() ? std::string(".") : folder.u8string()) + ": " +
                            reason_text);
}

bool prepare_frame_folder(const std::string& folder, long first, long last, bool whole_film) {
  if (!make_folder(folder)) return false;
  // Frames of an earlier run would be mixed with this run's (fewer frames at
  // a lower rate leave the old ones after the new last frame): refused, so
  // that nothing the user has is deleted or overwritten. A range of frames
  // may join others in one folder: only its own frames' files are refused.
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::u8path(folder), error)) {
    const std::string name = entry.path().filename().u8string();
    if (name.rfind("frame-", 0) != 0 || name.size() <= 10 ||
        name.compare(name.size() - 4, 4, ".png") != 0)
      continue;
    const std::string digits = name.substr(6, name.size() - 10);
    const bool numbered = digits.find_first_not_of("0123456789") == std::string::npos;
    const long number = numbered && digits.size() < 10 ? std::stol(digits) : -1;
    if (whole_film || (number >= first && number <= last))
      return refuse(folder, "it holds frame-*.png files of an earlier run (" + name +
                                "); remove them or choose another folder");
  }
  if (error) return refuse(folder, error.message());
  // The first frame's file is made now, empty, to show that the folder can
  // be written before anything is rendered.
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06ld.png", first);
  const std::string path = (std::filesystem::u8path(folder) / name).u8string();
  FILE* file = system_open_file(path.c_str(), "wx");
  if (file) note_file_made(path);
  if (!file || std::fclose(file) != 0)
    return refuse(folder, std::string("cannot make a file in it: ") + std::strerror(errno));
  return true;
}

std::vector<std::string> encoder_arguments(const capture_options& options,
                                           const std::string& target,
                                           const std::string& temporary) {
  char size[32], rate[32];
  std::snprintf(size, sizeof size, "%dx%d", options.width, options.height);
  std::snprintf(rate, sizeof rate, "%.9g", options.fps);
  // -xerror: an error while writing (a full disk at the trailer, say) ends
  // it with a non-zero status instead of 0; at -loglevel error whatever it
  // prints on stderr is an error, which the capture reads too. -y overwrites
  // the empty temporary file prepare_video made.
  std::vector<std::string> arguments = {
      options.ffmpeg, "-hide_banner", "-loglevel", "error",   "-xerror", "-y",         "-f",
      "rawvideo",     "-pix_fmt",     "rgb24",     "-s",      size,      "-framerate", rate,
      "-i",           "pipe:0",       "-c:v",      "libx264", "-preset", "medium",     "-crf",
      "18",           "-pix_fmt",     "yuv420p",   "-r",      rate};
  // Every video is encoded so that ranges of frames join by stream copy:
  // closed groups of pictures, no B-frames (see join_encoder_arguments).
  for (const std::string& argument : join_encoder_arguments()) arguments.push_back(argument);
  const std::filesystem::path path = std::filesystem::u8path(target);
  if (path.extension().empty()) {
    arguments.push_back("-f");
    arguments.push_back("mp4");
  }
  if (path.extension() == ".mp4" || path.extension() == ".mov") {
    arguments.push_back("-movflags");
    arguments.push_back("+faststart");
  }
  arguments.push_back(temporary);
  return arguments;
}

std::vector<std::string> join_encoder_arguments() {
  return {"-bf", "0", "-flags", "+cgop"};
}

bool video_may_replace(const encoder& child) {
  // The target was checked before the first frame; this catches what took its
  // place while the video was made.
  const std::string reason = cannot_replace(child.path);
  return reason.empty() || refuse(child.path, reason);
}

std::string temporary_video_name(const std::string& target, const std::string& tag) {
  // Same folder, so that the final rename cannot cross file systems; same
  // extension, so that ffmpeg picks the same container. The name's stem is
  // shortened as much as needed for the whole to stay a legal name however
  // long the one given is.
  const std::filesystem::path path = std::filesystem::u8path(target);
  const std::string extension = path.extension().u8string();
  const std::string suffix = ".partial-" + tag + extension;
  const std::string stem = path.stem().u8string();
  const size_t room = longest_name > suffix.size() + 1 ? longest_name - suffix.size() - 1 : 0;
  std::string name = "." + cut_to(stem, room) + suffix;
  // An extension too long to keep leaves a name ffmpeg will refuse with a
  // reason of its own, but still a legal one.
  if (name.size() > longest_name) name = cut_to(name, longest_name);
  return (path.parent_path() / std::filesystem::u8path(name)).u8string();
}
