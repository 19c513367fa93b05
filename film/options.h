// options.h: the checks of the options that demo-capture, demo-view and the
// browser build share, so that all accept and refuse the same values with the
// same words.
#pragma once

#include <string>

// A number with nothing after it, or false.
bool parse_number(const std::string& text, double* value);
// --size WxH: sides from 16 to `largest` (the native programs' 8192 unless a
// program allows less). Sets *width and *height and returns "", or returns
// the reason the value is refused, which names the limit.
std::string check_size(const std::string& value, int* width, int* height, int largest = 8192);
// --fps N: a rate from 1 to 1000. Sets *fps and returns "", or the reason.
std::string check_fps(const std::string& value, double* fps);
// A moment of the film: seconds from 0 to 115. Sets *moment and returns "",
// or the reason.
std::string check_moment(const std::string& value, double* moment);
