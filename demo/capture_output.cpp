// capture_output.cpp: the files and folders demo-capture writes, in
// system-neutral code: the video's temporary name.
#include <filesystem>
#include <string>

#include "demo/capture.h"

namespace {

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

}  // namespace

std::string temporary_video_name(const std::string& target, const std::string& tag) {
  // Same folder, so that the final rename cannot cross file systems; same
  // extension, so that ffmpeg picks the same container. The name's stem is
  // shortened as much as needed for the whole to stay a legal name however
  // long the one given is.
  const std::filesystem::path path(target);
  const std::string extension = path.extension().string();
  const std::string suffix = ".partial-" + tag + extension;
  const std::string stem = path.stem().string();
  const size_t room = longest_name > suffix.size() + 1 ? longest_name - suffix.size() - 1 : 0;
  std::string name = "." + cut_to(stem, room) + suffix;
  // An extension too long to keep leaves a name ffmpeg will refuse with a
  // reason of its own, but still a legal one.
  if (name.size() > longest_name) name = cut_to(name, longest_name);
  return (path.parent_path() / name).string();
}
