// fake_encoder.cpp: stands in for ffmpeg where the Windows build is checked
// under Wine and no Windows ffmpeg exists (scripts/windows/check.sh). It
// reads the frames on standard input and, by FAKE_ENCODER:
//   copy (default)  writes them to the file named by its last argument, as
//                   ffmpeg writes its output there, and fails with a line on
//                   standard error when that write fails;
//   quit            reads a little and exits with status 0, long before the end;
//   fail            says an error on standard error and exits with status 1.
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
  const char* mode = std::getenv("FAKE_ENCODER");
  if (!mode) mode = "copy";
  _setmode(_fileno(stdin), _O_BINARY);
  char buffer[65536];
  if (std::strcmp(mode, "quit") == 0) {
    (void)std::fread(buffer, 1, 100, stdin);
    return 0;
  }
  if (std::strcmp(mode, "fail") == 0) {
    std::fputs("Unknown encoder 'libx264'\n", stderr);
    return 1;
  }
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 2) return 2;
  std::FILE* out = _wfopen(arguments[count - 1], L"wb");
  if (!out) {
    std::fprintf(stderr, "cannot open the output: %s\n", std::strerror(errno));
    return 1;
  }
  size_t got;
  bool written = true;
  while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
    if (std::fwrite(buffer, 1, got, out) != got) written = false;
  if (std::fflush(out) != 0) written = false;
  if (std::fclose(out) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "Error writing the output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
