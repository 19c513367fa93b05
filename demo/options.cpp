// options.cpp: the checks of the options that demo-capture, demo-view and the
// browser build share.
#include "demo/options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

bool parse_number(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end && *end == '\0' && std::isfinite(*value);
}

std::string check_size(const std::string& value, int* width, int* height) {
  int w = 0, h = 0;
  char extra = 0;
  if (std::sscanf(value.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w < 16 || h < 16 || w > 8192 ||
      h > 8192)
    return "'" + value + "' is not WxH with sides from 16 to 8192";
  *width = w;
  *height = h;
  return "";
}

std::string check_fps(const std::string& value, double* fps) {
  double rate = 0;
  if (!parse_number(value, &rate) || rate < 1 || rate > 1000)
    return "'" + value + "' is not a rate from 1 to 1000";
  *fps = rate;
  return "";
}

std::string check_moment(const std::string& value, double* moment) {
  double seconds = 0;
  if (!parse_number(value, &seconds) || seconds < 0 || seconds > 115)
    return "'" + value + "' is not a moment from 0 to 115 seconds";
  *moment = seconds;
  return "";
}
