// process_helpers_windows.cpp: running the film's programs from tests on
// Windows, through the command interpreter. Only run_command is offered here.
#include <cstdio>
#include <string>

#include "process_helpers.h"

run_result run_command(const std::string& command_line) {
  // cmd.exe takes "./name" for an option switch: the leading "./" the tests
  // write for the program in the current folder becomes ".\".
  std::string line = command_line;
  if (line.rfind("./", 0) == 0) line.replace(0, 2, ".\\");
  run_result result;
  std::FILE* pipe = _popen((line + " 2>&1").c_str(), "rb");
  if (!pipe) return result;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
  result.status = _pclose(pipe);
  // What a Windows program writes in text mode ends its lines with "\r\n".
  std::string text;
  for (size_t i = 0; i < result.output.size(); ++i)
    if (!(result.output[i] == '\r' && i + 1 < result.output.size() && result.output[i + 1] == '\n'))
      text += result.output[i];
  result.output = text;
  return result;
}
