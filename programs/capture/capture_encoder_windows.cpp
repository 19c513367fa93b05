// capture_encoder_windows.cpp: the ffmpeg child that encodes demo-capture's
// frames into a video, and the stop requests, on Windows (CreateProcess with
// pipes to the child's standard input and from its standard error, Ctrl-C
// through the console's handler). Its POSIX counterpart is
// capture_encoder.cpp; each build compiles one. Both behave alike: the same
// arguments (-xerror), the child's errors read while it runs, the same lines
// for each failure, and the file renamed only once it is whole on the disk.
// Paths and the command line are UTF-8 here and UTF-16 for Windows' calls.
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
#include <thread>
#include <vector>

#include "programs/capture/capture.h"

// Set by Ctrl-C, Ctrl-Break or the console closing while a video is being
// made: the frame loop stops and removes the unfinished file.
static volatile LONG stop_signal = 0;
// The running child; the encoder record keeps its process id.
static HANDLE child_process = nullptr;
// Reads the child's standard error into the encoder's error_text until the
// pipe ends (a pipe cannot be waited on together with the frames' writes).
static std::thread error_reader;

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
static std::wstring wide(const std::string& text) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(count > 1 ? static_cast<size_t>(count - 1) : 0, L'\0');
  if (count > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), count);
  return out;
}

static void remove_file(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path), ignored);
}

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

bool start_encoder(const capture_options& options, encoder* child) {
  const std::vector<std::string> arguments =
      encoder_arguments(options, child->path, child->temporary);
  std::string command;
  for (const std::string& argument : arguments) command += argument_text(argument) + " ";
  command.pop_back();

  // The read end of the frames' pipe and the write end of the errors' pipe
  // are inherited by the child; the other ends stay here only.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE input_read = nullptr, input_write = nullptr, errors_read = nullptr, errors_write = nullptr;
  if (!CreatePipe(&input_read, &input_write, &inherit, 1 << 20)) {
    std::fprintf(stderr, "%s: cannot make a pipe to ffmpeg: %s\n", capture_program_name,
                 error_text(GetLastError()).c_str());
    return false;
  }
  if (!CreatePipe(&errors_read, &errors_write, &inherit, 0)) {
    std::fprintf(stderr, "%s: cannot make a pipe from ffmpeg: %s\n", capture_program_name,
                 error_text(GetLastError()).c_str());
    CloseHandle(input_read);
    CloseHandle(input_write);
    return false;
  }
  SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errors_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input_read;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = errors_write;
  PROCESS_INFORMATION process{};
  // A process group of its own, so that Ctrl-C reaches only this program,
  // which then stops the child and removes its unfinished file.
  std::wstring command_line = wide(command);
  const BOOL started =
      CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                     nullptr, nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  CloseHandle(input_read);
  CloseHandle(errors_write);
  if (!started) {
    CloseHandle(input_write);
    CloseHandle(errors_read);
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
  child->input = _open_osfhandle(reinterpret_cast<intptr_t>(input_write), _O_WRONLY | _O_BINARY);
  child->error_text.clear();
  error_reader = std::thread([errors_read, child] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(errors_read, buffer, sizeof buffer, &got, nullptr) && got > 0)
      if (child->error_text.size() < 16384) child->error_text.append(buffer, got);
    CloseHandle(errors_read);
  });
  return true;
}

// The first line the child said, or "". Only once the reader has ended.
static std::string first_error(const encoder& child) {
  const std::string& text = child.error_text;
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_first_of("\r\n", start) - start);
}

// Waits for the child to end, then for the end of what it said; how it ended
// ("" for exit status 0). Stops waiting at a stop request: "stopped", the
// child still running.
static std::string wait_for_child() {
  if (!child_process) return "";
  while (WaitForSingleObject(child_process, 250) == WAIT_TIMEOUT)
    if (stop_signal) return "stopped";
  DWORD status = 0;
  GetExitCodeProcess(child_process, &status);
  CloseHandle(child_process);
  child_process = nullptr;
  // The child's end closed its side of the errors' pipe.
  if (error_reader.joinable()) error_reader.join();
  return status == 0 ? "" : "exit status " + std::to_string(status);
}

// Stops a child still running and forgets it.
static void stop_child() {
  if (child_process) {
    TerminateProcess(child_process, 1);
    WaitForSingleObject(child_process, INFINITE);
    CloseHandle(child_process);
    child_process = nullptr;
  }
  if (error_reader.joinable()) error_reader.join();
}

static void report_failure(const capture_options& options, const encoder& child,
                           const std::string& ended) {
  const std::string said = first_error(child);
  std::fprintf(stderr, "%s: %s failed (%s%s%s); %s not written\n", capture_program_name,
               options.ffmpeg.c_str(), ended.empty() ? "exit status 0" : ended.c_str(),
               said.empty() ? "" : ": ", said.c_str(), options.target.c_str());
}

void abandon_encoder(encoder* child, const capture_options& options) {
  // A child that died tells why (even one that said nothing and exited with
  // status 0 before the film's end); one still running is stopped.
  if (!stop_signal && child->input >= 0) {
    _close(child->input);
    child->input = -1;
    const std::string ended = wait_for_child();
    if (!stop_signal) report_failure(options, *child, ended);
  }
  if (child->input >= 0) _close(child->input);
  child->input = -1;
  stop_child();
  child->pid = -1;
  remove_file(child->temporary);
}

bool finish_encoder(encoder* child, const capture_options& options) {
  _close(child->input);
  child->input = -1;
  // ffmpeg may take a while to finish the file: a stop request meanwhile
  // stops it and the capture, as it would during the frames.
  const std::string ended = wait_for_child();
  if (stop_signal) {
    stop_child();
    child->pid = -1;
    remove_file(child->temporary);
    return false;
  }
  child->pid = -1;
  // An error it said counts as a failure even with exit status 0.
  if (!ended.empty() || !first_error(*child).empty()) {
    report_failure(options, *child, ended);
    remove_file(child->temporary);
    return false;
  }
  // The file must be on the disk whole: a write the system delayed can still
  // fail here, and an encoder that wrote nothing has not made a video.
  std::string fault;
  const int file = _wopen(wide(child->temporary).c_str(), _O_RDWR | _O_BINARY);
  long long size = -1;
  if (file < 0 || (size = _filelengthi64(file)) < 0 || _commit(file) != 0)
    fault = std::strerror(errno);
  else if (size == 0)
    fault = options.ffmpeg + " wrote nothing";
  if (file >= 0 && _close(file) != 0 && fault.empty()) fault = std::strerror(errno);
  if (!fault.empty()) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", capture_program_name, child->path.c_str(),
                 fault.c_str());
    remove_file(child->temporary);
    return false;
  }
  if (!video_may_replace(*child)) {
    remove_file(child->temporary);
    return false;
  }
  // The finished file takes the target's name in one step, replacing an
  // earlier file of that name (Windows' rename would refuse to).
  if (!MoveFileExW(wide(child->temporary).c_str(), wide(child->path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::fprintf(stderr, "%s: cannot rename %s to %s: %s\n", capture_program_name,
                 child->temporary.c_str(), child->path.c_str(), error_text(GetLastError()).c_str());
    remove_file(child->temporary);
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
