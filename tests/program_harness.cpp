// program_harness.cpp: running a program on a screen and driving it (see
// program_harness.h).
#include "program_harness.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

// Last: Xlib defines short macro names (None, Bool, Status) that other headers use.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
// clang-format on

namespace fs = std::filesystem;

namespace {

// The Xlib calls the harness needs, taken from the system's library.
struct xlib {
  void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
  template <typename F>
  F* get(const char* name) {
    return reinterpret_cast<F*>(library ? dlsym(library, name) : nullptr);
  }
};

// The pointer image as the X fixes extension's library returns it (its
// XFixesCursorImage record; the tests take the library from the system
// without its development header).
struct fixes_cursor_image {
  short x, y;
  unsigned short width, height;
  unsigned short xhot, yhot;
  unsigned long cursor_serial;
  unsigned long* pixels;  // ARGB, one per long
  Atom atom;
  const char* name;
};

}  // namespace

fs::path build_folder() {
  static const fs::path folder = fs::current_path();
  return folder;
}

program_run run_program(const std::string& program, const fs::path& folder,
                        const std::vector<env_change>& env, double limit,
                        const std::function<void(pid_t, double)>& watch) {
  program_run result;
  static_cast<run_result&>(result) =
      run_process({(build_folder() / program).string()}, folder, env, limit, watch);
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(program + ":", 0) == 0) result.lines.push_back(line);
  return result;
}

std::vector<unsigned char> grab_screen(const std::string& display, const std::string& filter,
                                       const char* pixel_format, size_t expected_bytes) {
  const fs::path raw = fs::temp_directory_path() / ("harness-grab-" + std::to_string(getpid()));
  const std::string command = "ffmpeg -loglevel error -f x11grab -video_size 1280x720 -i " +
                              display + " -frames:v 1 -vf " + filter + " -pix_fmt " + pixel_format +
                              " -f rawvideo -y " + raw.string() + " 2>/dev/null";
  std::vector<unsigned char> bytes;
  if (std::system(command.c_str()) == 0) {
    std::ifstream in(raw, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  fs::remove(raw);
  if (bytes.size() != expected_bytes) bytes.clear();
  return bytes;
}

bool loading_bar_shows(const std::string& display) {
  const std::vector<unsigned char> box =
      grab_screen(display, "crop=512:64:384:298", "gray", 512 * 64);
  if (box.empty()) return false;
  int above = 0, bar = 0;
  for (size_t i = 0; i < box.size(); ++i) {
    const size_t row = i / 512;
    if (row < 56) above += box[i] > 40;
    if (row >= 60) bar += box[i] > 200;
  }
  return above == 0 && bar > 0 && bar < 2048;
}

bool screen_shows_a_picture(const std::string& display) {
  const auto picture = grab_screen(display, "scale=32:18:flags=area", "gray", 32 * 18);
  double sum = 0.0;
  for (unsigned char v : picture) sum += v;
  return !picture.empty() && sum >= 8.0 * picture.size();
}

bool film_lookout::showing(double seconds) {
  if (!seen && seconds > next_look) {
    next_look = seconds + 1.0;
    seen = screen_shows_a_picture(display);
  }
  return seen;
}

bool send_key(const std::string& display, const char* action, const char* key) {
  return std::system(("DISPLAY=" + display + " xdotool " + action + " " + key).c_str()) == 0;
}

bool tap_key(const std::string& display, const char* key) {
  const bool down = send_key(display, "keydown", key);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return send_key(display, "keyup", key) && down;
}

bool request_close(const std::string& display_name, pid_t pid) {
  xlib x;
  auto open_display = x.get<decltype(XOpenDisplay)>("XOpenDisplay");
  auto close_display = x.get<decltype(XCloseDisplay)>("XCloseDisplay");
  auto intern_atom = x.get<decltype(XInternAtom)>("XInternAtom");
  auto query_tree = x.get<decltype(XQueryTree)>("XQueryTree");
  auto get_property = x.get<decltype(XGetWindowProperty)>("XGetWindowProperty");
  auto free_x = x.get<decltype(XFree)>("XFree");
  auto send_event = x.get<decltype(XSendEvent)>("XSendEvent");
  auto flush = x.get<decltype(XFlush)>("XFlush");
  auto default_root = x.get<decltype(XDefaultRootWindow)>("XDefaultRootWindow");
  if (!open_display || !close_display || !intern_atom || !query_tree || !get_property || !free_x ||
      !send_event || !flush || !default_root)
    return false;
  Display* display = open_display(display_name.c_str());
  if (!display) return false;
  const Atom pid_atom = intern_atom(display, "_NET_WM_PID", False);
  const Atom protocols = intern_atom(display, "WM_PROTOCOLS", False);
  const Atom delete_window = intern_atom(display, "WM_DELETE_WINDOW", False);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  bool asked = false;
  if (query_tree(display, default_root(display), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !asked; ++i) {
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, left = 0;
      unsigned char* value = nullptr;
      if (get_property(display, children[i], pid_atom, 0, 1, False, XA_CARDINAL, &type, &format,
                       &items, &left, &value) == Success &&
          value && items == 1 &&
          static_cast<pid_t>(*reinterpret_cast<unsigned long*>(value)) == pid) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = children[i];
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(delete_window);
        event.xclient.data.l[1] = CurrentTime;
        asked = send_event(display, children[i], False, NoEventMask, &event) != 0;
      }
      if (value) free_x(value);
    }
    if (children) free_x(children);
  }
  flush(display);
  close_display(display);
  return asked;
}

int pointer_visible(const std::string& display_name) {
  xlib x;
  void* fixes = dlopen("libXfixes.so.3", RTLD_NOW);
  auto open_display = x.get<decltype(XOpenDisplay)>("XOpenDisplay");
  auto close_display = x.get<decltype(XCloseDisplay)>("XCloseDisplay");
  auto free_x = x.get<decltype(XFree)>("XFree");
  auto cursor_image = reinterpret_cast<fixes_cursor_image* (*)(Display*)>(
      fixes ? dlsym(fixes, "XFixesGetCursorImage") : nullptr);
  if (!open_display || !close_display || !free_x || !cursor_image) return -1;
  Display* display = open_display(display_name.c_str());
  if (!display) return -1;
  int visible = -1;
  if (fixes_cursor_image* image = cursor_image(display)) {
    visible = 0;
    for (int i = 0; i < image->width * image->height; ++i)
      if ((image->pixels[i] >> 24) & 0xff) visible = 1;
    free_x(image);
  }
  close_display(display);
  return visible;
}
