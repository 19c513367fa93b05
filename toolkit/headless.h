// headless.h: the window layer's OpenGL context without a window system
// (window_egl.cpp): an EGL context drawing into an off-screen surface of the
// film's size, which is then the default framebuffer. Used by window.cpp
// only; built on Linux (FILM_EGL), absent elsewhere.
#pragma once

// Creates the context on the first EGL display that gives one: a hardware
// device of the device platform, then a software device, then Mesa's
// surfaceless platform; makes it current with a pbuffer of the given size.
// Returns null on success, otherwise why none could be made (every try).
const char* headless_open(int width, int height, int depth_bits, bool debug);
// Releases the context, the surface and the display.
void headless_close();
// The address of a GL entry point of the current context, or null.
void (*headless_proc_address(const char* name))();
// Which display gave the context: "EGL device (NAME)" or "EGL surfaceless".
const char* headless_platform();
