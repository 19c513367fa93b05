// view_names.cpp: the viewer's name and its keys, which the viewer's help,
// its overlay and its shader files all say; defined apart from the three so
// that each reads them without calling into another.
#include "programs/view/view.h"

const char* view_program_name = "demo-view";

const char* const view_keys_text =
    "  Space            pause / resume (the film starts playing at 0 s)\n"
    "  Right / Left     +1 s / -1 s; with Shift +10 s / -10 s\n"
    "  Period / Comma   one frame forward / back at the --fps rate, while paused\n"
    "  Home / End       0 s / 115 s\n"
    "  1 to 6           the final image, or the scene, atmosphere, flare, composite\n"
    "                   or focus image (0 or 1: the final image again)\n"
    "  T                overlay: film time, frame rate, GPU time of each step\n"
    "  S                save the image shown as view-SSS.mmm.png in the current folder\n"
    "  H                this help on screen\n"
    "  Escape           quit (as does closing the window)\n";
