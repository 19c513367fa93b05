// pieces.h: what the toolkit's own files share and the header does not offer:
// the shader pieces that make up the toolkit's piece table (each lives beside
// the code that documents it; startup.cpp gathers them), and the hand-over of
// a new context to the GL error reports.
#pragma once

extern const char blur_piece_open[];        // opens the blur tap macro
extern const char blur_piece_vertical[];    // vertical tap offset
extern const char blur_piece_horizontal[];  // horizontal tap offset
extern const char blur_piece_main[];        // closes the macro; blur main
extern const char pass_through_vertex[];    // copies texture coordinates, ftransform
extern const char white_noise_fragment[];   // per-pixel white noise
extern const char simplex_piece[];          // 3-D simplex noise r with permutation t
extern const char fbm_piece_main[];         // fBm uniforms and main

// Asks the current context for synchronous debug output of its errors, for
// toolkit_gl_stage to name. Called before GLEW is initialised, so the entry
// point comes from the context's own lookup (glfwGetProcAddress and the like).
void toolkit_listen_to_gl_errors(void (*(*get_proc)(const char* name))());

// Whether a space-separated list (GL or EGL extensions) holds the word whole.
bool toolkit_has_word(const char* list, const char* word);

// Keeps the input libraries the windowing library loaded at its start (on
// Windows: XInput and DirectInput, for joysticks) in memory until the
// process ends, whatever its termination frees. Under Wine, XInput's update
// thread signals that it has stopped and then still runs a few instructions
// of the library; freeing the library at that moment made that thread jump
// into unmapped memory ("Unhandled page fault on execute access") after the
// program had finished. Does nothing elsewhere.
void system_keep_input_libraries();
