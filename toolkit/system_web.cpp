// system_web.cpp: what the toolkit needs from the browser build's system.
// Error lines go to the browser's console and, through the page, onto it.
#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

const char* system_program_name() {
  return "skyward";
}

// The browser's runtime gives the program its standard streams.
int system_open_standard_streams() {
  return 1;
}

void system_keep_input_libraries() {}

// The page has made the WebGL context before the program starts.
const char* system_missing_display() {
  return nullptr;
}
