// options.cpp: the checks of the options that demo-capture, demo-view and the
// browser build share.
#include "film/options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

bool parse_number(const std::string& text, double* value) {
  // Decimal digits, a point, a sign and an exponent only: strtod alone would
  // also take "0x10" as sixteen, "inf", "nan" and leading blanks.
  if (text.empty() || text.find_first_not_of("0123456789.+-eE") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return errno == 0 && end && *end == '\0' && std::isfinite(*value);
}

namespace {

// A side of --size: 1 to 5 decimal digits, nothing else (no sign, no blank),
// so that no value can wrap around to a small one.
bool parse_side(const std::string& text, int* side) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *side = std::atoi(text.c_str());
  return true;
}

}  // namespace

std::string check_size(const std::string& value, int* width, int* height, int largest) {
  const size_t x = value.find('x');
  int w = 0, h = 0;
  if (x == std::string::npos || !parse_side(value.substr(0, x), &w) ||
      !parse_side(value.substr(x + 1), &h) || w < 16 || h < 16 || w > largest || h > largest)
    return "'" + value + "' is not WxH with sides from 16 to " + std::to_string(largest);
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
