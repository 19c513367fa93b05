// system_windows.cpp: what the toolkit needs from Windows. Its POSIX
// counterpart is system_posix.cpp; each build compiles one of them.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

// UTF-8 text as UTF-16, for the wide-character calls, and back.
static std::wstring wide(const char* text) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(count > 1 ? static_cast<size_t>(count - 1) : 0, L'\0');
  if (count > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), count);
  return out;
}

static std::string utf8(const wchar_t* text) {
  const int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(count > 1 ? static_cast<size_t>(count - 1) : 0, '\0');
  if (count > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), count, nullptr, nullptr);
  return out;
}

void system_utf8_arguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return;
  // Kept for the program's lifetime, as main's own arguments are.
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  texts.clear();
  for (int i = 0; i < count; ++i) texts.push_back(utf8(arguments[i]));
  LocalFree(arguments);
  pointers.clear();
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
}

std::FILE* system_open_file(const char* path, const char* mode) {
  return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

const char* system_program_name() {
  static char name[4 * MAX_PATH] = "";
  if (name[0]) return name;
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    std::strcpy(name, "program");
    return name;
  }
  const wchar_t* start = path;
  for (const wchar_t* c = path; *c; ++c)
    if (*c == L'\\' || *c == L'/') start = c + 1;
  // In UTF-8, as every line the program writes.
  const std::string base = utf8(start);
  std::snprintf(name, sizeof name, "%s", base.c_str());
  char* dot = std::strrchr(name, '.');
  if (dot && _stricmp(dot, ".exe") == 0) *dot = '\0';
  return name;
}

int system_open_standard_streams() {
  // A windowed program has no console: its C streams then have no file
  // behind them. Each such stream gets the null device, so that writing to it
  // is harmless.
  FILE* const streams[3] = {stdin, stdout, stderr};
  for (int stream = 0; stream <= 2; ++stream) {
    const int descriptor = _fileno(streams[stream]);
    if (descriptor >= 0 && _get_osfhandle(descriptor) != -1) continue;
    if (!std::freopen("NUL", stream == 0 ? "r" : "w", streams[stream])) return 0;
  }
  return 1;
}

// Where standard error was sent while a windowed program runs without one.
static FILE* kept_errors = nullptr;

// Whether standard error was sent to a file or a pipe by whoever started the
// program (a script, a test). A windowed program started from the desktop or
// a command prompt has none, or a character device nobody reads.
static bool standard_error_is_kept() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

// At exit: shows what the program wrote to standard error, if anything, in
// one message box titled with the program's name.
static void show_kept_errors() {
  if (!kept_errors) return;
  std::fflush(stderr);
  std::string text;
  std::rewind(kept_errors);
  char chunk[1024];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, kept_errors)) > 0) text.append(chunk, got);
  std::fclose(kept_errors);
  kept_errors = nullptr;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!text.empty())
    MessageBoxW(nullptr, wide(text.c_str()).c_str(), wide(system_program_name()).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int system_run_windowed(int (*body)()) {
  if (!standard_error_is_kept()) {
    // A file in the user's temporary folder that is deleted once closed
    // ("D"); standard error is rebound to it until the program ends.
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (GetTempPathW(MAX_PATH, folder) && GetTempFileNameW(folder, L"err", 0, path)) {
      kept_errors = _wfopen(path, L"w+bD");
      if (kept_errors && std::freopen("NUL", "w", stderr) &&
          _dup2(_fileno(kept_errors), _fileno(stderr)) == 0) {
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        std::atexit(show_kept_errors);
      }
    }
  }
  const int status = body();
  show_kept_errors();
  return system_end_process(status);
}

int system_end_process(int status) {
  // The program's own teardown is done and every file it wrote is closed.
  // The process ends here, without the library unloading that follows a
  // return from main: under Wine that unloading raced with the window
  // system's own teardown and now and then failed after the program had
  // finished (an X BadWindow error on unmapping the process's first window,
  // which ends it with status 1). The other fault seen at exit, a jump into
  // unloaded code, was XInput's thread; see system_keep_input_libraries.
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  return status;
}

const char* system_stat_file(const char* path, system_file_status* out, bool* missing) {
  struct _stat64 status {};
  *missing = false;
  const std::wstring name = wide(path);
  if (_wstat64(name.c_str(), &status) != 0) {
    *missing = errno == ENOENT;
    return std::strerror(errno);
  }
  *out = system_file_status{};
  out->type = (status.st_mode & _S_IFMT) == _S_IFREG   ? SYSTEM_FILE_REGULAR
              : (status.st_mode & _S_IFMT) == _S_IFDIR ? SYSTEM_FILE_FOLDER
                                                       : SYSTEM_FILE_OTHER;
  out->size = status.st_size;
  out->identity[0] = static_cast<unsigned long long>(status.st_dev);
  out->identity[1] = static_cast<unsigned long long>(status.st_ino);
  out->identity[2] = static_cast<unsigned long long>(status.st_mtime);
  out->identity[3] = static_cast<unsigned long long>(status.st_ctime);
  // The C runtime's times are whole seconds: the file system's own (in 100 ns
  // steps) tell apart two writes within one second (the viewer's shader
  // files, saved and saved again).
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
    out->identity[2] =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    out->identity[3] = (static_cast<unsigned long long>(data.ftCreationTime.dwHighDateTime) << 32) |
                       data.ftCreationTime.dwLowDateTime;
  }
  return nullptr;
}

const char* system_read_file(const char* path, long long max_bytes,
                             std::vector<unsigned char>* bytes) {
  // Devices (CON, NUL, COM1, ...) are not regular files: refused before any
  // read. The file is read in binary mode, byte for byte.
  system_file_status status{};
  bool missing = false;
  if (const char* problem = system_stat_file(path, &status, &missing)) return problem;
  if (status.type != SYSTEM_FILE_REGULAR) return "it is not a regular file";
  if (status.size > max_bytes) return "the file is too large";
  std::FILE* file = system_open_file(path, "rbN");
  if (!file) return std::strerror(errno);
  const char* problem = nullptr;
  try {
    bytes->resize(static_cast<size_t>(status.size));
    const size_t done = std::fread(bytes->data(), 1, bytes->size(), file);
    if (done < bytes->size() && std::ferror(file)) problem = std::strerror(errno);
    bytes->resize(done);
  } catch (const std::bad_alloc&) {
    problem = "not enough memory to read it";
  }
  std::fclose(file);
  return problem;
}

// The system's words for an error code in UTF-8 (as every line the program
// writes), without the line end it ends with.
static const char* windows_reason(DWORD code) {
  static char text[1024];
  wchar_t words[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, words, 256, nullptr);
  while (length > 0 && (words[length - 1] == L'\n' || words[length - 1] == L'\r' ||
                        words[length - 1] == L'.' || words[length - 1] == L' '))
    words[--length] = L'\0';
  if (length == 0)
    std::snprintf(text, sizeof text, "system error %lu", code);
  else
    std::snprintf(text, sizeof text, "%s", utf8(words).c_str());
  return text;
}

const char* system_create_file(const char* path, const void* bytes, size_t size, bool* existed) {
  *existed = false;
  const std::wstring name = wide(path);
  // Without following a link: a link, even to nothing, is an attribute of
  // the name itself.
  if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) {
    *existed = true;
    return nullptr;
  }
  const DWORD looked = GetLastError();
  if (looked != ERROR_FILE_NOT_FOUND) return windows_reason(looked);
  // A temporary name of its own, made only if new (CREATE_NEW fails on any
  // name that is taken, links included).
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".partial-%lu-%u", GetCurrentProcessId(),
                  static_cast<unsigned>(GetTickCount()) + attempt);
    temporary = name + wide(suffix);
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      return windows_reason(GetLastError());
  }
  if (file == INVALID_HANDLE_VALUE) return windows_reason(ERROR_FILE_EXISTS);
  const char* at = static_cast<const char*>(bytes);
  DWORD fault = 0;
  while (size > 0 && !fault) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, at, chunk, &written, nullptr) || written == 0)
      fault = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    at += written;
    size -= written;
  }
  if (!fault && !FlushFileBuffers(file)) fault = GetLastError();
  if (!CloseHandle(file) && !fault) fault = GetLastError();
  // Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name.
  if (!fault && MoveFileExW(temporary.c_str(), name.c_str(), MOVEFILE_WRITE_THROUGH))
    return nullptr;
  if (!fault) fault = GetLastError();
  DeleteFileW(temporary.c_str());
  if (fault == ERROR_ALREADY_EXISTS || fault == ERROR_FILE_EXISTS) {
    *existed = true;
    return nullptr;
  }
  return windows_reason(fault);
}

const char* system_missing_display() {
  return nullptr;
}

void system_keep_input_libraries() {
  // The libraries GLFW may have loaded for joysticks: the first XInput it
  // found, and DirectInput 8. Pinning a library that is not loaded does
  // nothing.
  static const wchar_t* const names[] = {L"xinput1_4.dll", L"xinput1_3.dll", L"xinput9_1_0.dll",
                                         L"xinput1_2.dll", L"xinput1_1.dll", L"dinput8.dll"};
  for (const wchar_t* name : names) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, name, &module);
  }
}

unsigned long long system_peak_memory_bytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

const char* system_peak_memory_source() {
  return "peak working set";
}
