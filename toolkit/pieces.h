// pieces.h: the shader pieces that make up the toolkit's piece table. Each
// lives beside the code that documents it; startup.cpp gathers them.
#pragma once

extern const char blur_piece_open[];        // opens the blur tap macro
extern const char blur_piece_vertical[];    // vertical tap offset
extern const char blur_piece_horizontal[];  // horizontal tap offset
extern const char blur_piece_main[];        // closes the macro; blur main
extern const char pass_through_vertex[];    // copies texture coordinates, ftransform
extern const char white_noise_fragment[];   // per-pixel white noise
extern const char simplex_piece[];          // 3-D simplex noise r with permutation t
extern const char fbm_piece_main[];         // fBm uniforms and main
