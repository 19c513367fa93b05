// capture_encoder_windows.cpp: the ffmpeg child that encodes demo-capture's
// frames into a video, and the stop requests, on Windows (CreateProcess with a
// pipe to the child's standard input, Ctrl-C through the console's handler).
// Its POSIX counterpart is capture_encoder.cpp; each build compiles one.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "programs/capture/capture.h"

// Set by Ctrl-C, Ctrl-Break or the console closing while a video is being
// made: the frame loop stops and removes the unfinished file.
static volatile LONG stop_signal = 0;
// The running child; the encoder record keeps its process id.
static HANDLE child_process = nullptr;

static BOOL WINAPI on_console_event(DWORD event) {
  InterlockedExchange(&stop_signal, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  return TRUE;
}

void catch_stop_signals() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int stop_signal_caught() {
  return static_cast<int>(stop_signal);
}

const char* signal_name(int signal_number) {
  return signal_number == SIGINT ? "Ctrl-C" : "a request to end";
}

// The text of a Windows error code, without its line break.
static std::string error_text(DWORD code) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text ? text : "error " + std::to_string(code);
  LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
    result.pop_back();
  return result;
}

// One argument quoted the way the C runtime's command-line parser reads it.
static std::string argument_text(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    out += c;
  }
  out.append(backslashes, '\\');
  return out + "\"";
}

static std::string temporary_name(const std::filesystem::path& path) {
  // Same folder, so that the final rename cannot cross volumes; same
  // extension, so that ffmpeg picks the same container.
  const std::string name = "." + path.stem().string() + ".partial-" +
                           std::to_string(GetCurrentProcessId()) + path.extension().string();
  return (path.parent_path() / name).string();
}

bool start_encoder(const capture_options& options, encoder* child) {
  const std::filesystem::path path(options.target);
  if (!path.parent_path().empty()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
      std::fprintf(stderr, "%s: cannot make the folder %s: %s\n", capture_program_name,
                   path.parent_path().string().c_str(), error.message().c_str());
      return false;
    }
  }
  child->path = options.target;
  child->temporary = temporary_name(path);

  char size[32], rate[32];
  std::snprintf(size, sizeof size, "%dx%d", options.width, options.height);
  std::snprintf(rate, sizeof rate, "%.9g", options.fps);
  std::string command;
  for (const std::string& argument :
       {options.ffmpeg,          std::string("-hide_banner"), std::string("-loglevel"),
        std::string("error"),    std::string("-y"),           std::string("-f"),
        std::string("rawvideo"), std::string("-pix_fmt"),     std::string("rgb24"),
        std::string("-s"),       std::string(size),           std::string("-framerate"),
        std::string(rate),       std::string("-i"),           std::string("pipe:0"),
        std::string("-c:v"),     std::string("libx264"),      std::string("-preset"),
        std::string("medium"),   std::string("-crf"),         std::string("18"),
        std::string("-pix_fmt"), std::string("yuv420p"),      std::string("-r"),
        std::string(rate)})
    command += argument_text(argument) + " ";
  for (const std::string& argument : join_encoder_arguments())
    command += argument_text(argument) + " ";
  if (path.extension().empty()) command += "-f mp4 ";
  if (path.extension() == ".mp4" || path.extension() == ".mov") command += "-movflags +faststart ";
  command += argument_text(child->temporary);

  // The read end is inherited as the child's standard input; the write end
  // stays here only.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 1 << 20)) {
    std::fprintf(stderr, "%s: cannot make a pipe to ffmpeg: %s\n", capture_program_name,
                 error_text(GetLastError()).c_str());
    return false;
  }
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // A process group of its own, so that Ctrl-C reaches only this program,
  // which then stops the child and removes its unfinished file.
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                     nullptr, nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  CloseHandle(read_end);
  if (!started) {
    CloseHandle(write_end);
    child->pid = -1;
    std::fprintf(stderr, "%s: cannot run %s: %s%s\n", capture_program_name, options.ffmpeg.c_str(),
                 error_text(start_error).c_str(),
                 start_error == ERROR_FILE_NOT_FOUND
                     ? " (put ffmpeg.exe on the PATH or give --ffmpeg)"
                     : "");
    return false;
  }
  CloseHandle(process.hThread);
  child_process = process.hProcess;
  child->pid = static_cast<int>(process.dwProcessId);
  child->input = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_WRONLY | _O_BINARY);
  return true;
}

// How the child ended, for an error line; empty if it exited with status 0.
static std::string wait_for_child() {
  if (!child_process) return "";
  WaitForSingleObject(child_process, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(child_process, &status);
  CloseHandle(child_process);
  child_process = nullptr;
  return status == 0 ? "" : "exit status " + std::to_string(status);
}

void abandon_encoder(encoder* child, const capture_options& options) {
  // A child that died tells why; one still running is stopped.
  if (!stop_signal && child->input >= 0) {
    _close(child->input);
    child->input = -1;
    const std::string ended = wait_for_child();
    child->pid = -1;
    if (!ended.empty())
      std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", capture_program_name,
                   options.ffmpeg.c_str(), ended.c_str(), options.target.c_str());
  }
  if (child->input >= 0) _close(child->input);
  child->input = -1;
  if (child_process) {
    TerminateProcess(child_process, 1);
    wait_for_child();
  }
  child->pid = -1;
  std::remove(child->temporary.c_str());
}

bool finish_encoder(encoder* child, const capture_options& options) {
  _close(child->input);
  child->input = -1;
  const std::string ended = wait_for_child();
  child->pid = -1;
  if (!ended.empty()) {
    std::fprintf(stderr, "%s: %s failed (%s); %s not written\n", capture_program_name,
                 options.ffmpeg.c_str(), ended.c_str(), child->path.c_str());
    std::remove(child->temporary.c_str());
    return false;
  }
  // Windows' rename does not replace a file: remove the old one first.
  std::remove(child->path.c_str());
  if (std::rename(child->temporary.c_str(), child->path.c_str()) != 0) {
    std::fprintf(stderr, "%s: cannot rename %s to %s: %s\n", capture_program_name,
                 child->temporary.c_str(), child->path.c_str(), std::strerror(errno));
    std::remove(child->temporary.c_str());
    return false;
  }
  return true;
}

bool encoder_write(encoder* child, const unsigned char* bytes, size_t count) {
  while (count > 0) {
    if (stop_signal) return false;
    const unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
    const int written = _write(child->input, bytes, chunk);
    if (written < 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}
