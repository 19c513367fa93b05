// blur.cpp: the separable Gaussian blur: its kernel, computed on the CPU, and
// the pieces its two fragment programs are stitched from.
//
// A blur program samples its source (uniform f, unit 0) 29 times around the
// texture coordinate: the centre weighted a[14], and the two texels at each
// distance v = 1..14, 1/m apart, weighted a[14 - v]. Piece 1 or 2 decides
// whether the offsets run vertically or horizontally.
#include <cmath>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

const char blur_piece_open[] = "#define x(m) g+=texture2D(f,s m vec2(";
const char blur_piece_vertical[] = "0.,float(v)*t";
const char blur_piece_horizontal[] = "float(v)*t,0.";
const char blur_piece_main[] = R"glsl())*a[14-v]
uniform sampler2D f;
uniform float m;
uniform float a[15];
void main()
{
  vec2 s = gl_TexCoord[0].xy;
  float t = 1.0 / m;
  vec4 g = texture2D(f, s) * a[14];
  for (int v = 1; v < 15; v++) {
    x(+);
    x(-);
  }
  gl_FragData[0] = g;
}
)glsl";

float* generate_gaussian_weights(float sigma) {
  // Below a third the kernel would have no weights at all; a third gives the
  // single weight 1, which is what any smaller blur amounts to.
  if (!(sigma >= 1.0f / 3.0f)) sigma = 1.0f / 3.0f;
  const int r = static_cast<int>(3.0L * sigma) - 1;
  const int n = 2 * r + 1;
  float* weights = static_cast<float*>(toolkit_allocate(sizeof(float) * n));
  float sum = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float d = static_cast<float>(i - r);
    const float exponent = static_cast<float>(-static_cast<double>(d) * d /
                                              (2.0 * static_cast<double>(sigma) * sigma));
    weights[i] = static_cast<float>(std::exp(exponent) / (sigma * 2.506628));
    sum += weights[i];
  }
  for (int i = 0; i < n; ++i) weights[i] /= sum;
  return weights;
}
