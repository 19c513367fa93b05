// noise.cpp: the pieces of the toolkit's two noise programs.
//
// White noise: 0.5 + 0.5 sin(55 Y cos(5 X sin Y)) of the pixel's window
// position (X, Y), in all four channels; it depends on the position alone.
//
// fBm: the sum over octaves k < o of r(P 2^k f) a^k, written as 0.5 + 0.5 y,
// where P is texture coordinate set 0 and r is texture-free 3-D simplex noise
// (a permutation polynomial modulo 289 and gradients from a 7 x 7 grid folded
// onto an octahedron). With o = 0 no octave runs and every pixel is 0.5; at
// most 32 octaves run. The count reaches the program through fbm_octaves,
// which turns NaN and negative counts into 0 and larger ones into 32 on the
// CPU, where the comparison means what it says.
#include <cmath>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

float fbm_octaves(float octaves) {
  if (std::isnan(octaves) || octaves < 0.0f) return 0.0f;
  return octaves > 32.0f ? 32.0f : octaves;
}

void fbm_uniforms(float frequency, float octaves, float gain) {
  const GLuint fbm = FOBIMQQB[3];
  glUseProgram(fbm);
  glUniform1f(glGetUniformLocation(fbm, "f"), frequency);
  glUniform1f(glGetUniformLocation(fbm, "o"), fbm_octaves(octaves));
  glUniform1f(glGetUniformLocation(fbm, "a"), gain);
  glUseProgram(0);
}

const char white_noise_fragment[] = R"glsl(
void main()
{
  vec2 p = gl_FragCoord.xy;
  gl_FragData[0] = vec4(0.5 + 0.5 * sin(55.0 * p.y * cos(5.0 * p.x * sin(p.y))));
}
)glsl";

const char simplex_piece[] = R"glsl(
vec4 t(vec4 v)
{
  return mod((34.0 * v + 1.0) * v, 289.0);
}
float r(vec3 p)
{
  vec3 i = floor(p + (p.x + p.y + p.z) / 3.0);
  vec3 x0 = p - i + (i.x + i.y + i.z) / 6.0;
  vec3 g = step(x0.yzx, x0);
  vec3 l = 1.0 - g;
  vec3 i1 = min(g, l.zxy);
  vec3 i2 = max(g, l.zxy);
  vec3 x1 = x0 - i1 + 1.0 / 6.0;
  vec3 x2 = x0 - i2 + 2.0 / 6.0;
  vec3 x3 = x0 - 1.0 + 3.0 / 6.0;
  i = mod(i, 289.0);
  vec4 h = t(t(t(i.z + vec4(0.0, i1.z, i2.z, 1.0)) + i.y + vec4(0.0, i1.y, i2.y, 1.0))
             + i.x + vec4(0.0, i1.x, i2.x, 1.0));
  float n = 1.0 / 7.0;
  vec4 j = h - 49.0 * floor(h * n * n);
  vec4 gx = floor(j * n);
  vec4 gy = floor(j - 7.0 * gx);
  gx = 2.0 * n * (gx - 3.25);
  gy = 2.0 * n * (gy - 3.25);
  vec4 gz = 1.0 - abs(gx) - abs(gy);
  vec4 sh = -step(gz, vec4(0.0));
  vec4 A = vec4(gx.x, gy.x, gx.y, gy.y);
  vec4 B = vec4(gx.z, gy.z, gx.w, gy.w);
  A += (2.0 * floor(A) + 1.0) * sh.xxyy;
  B += (2.0 * floor(B) + 1.0) * sh.zzww;
  vec3 G0 = vec3(A.xy, gz.x);
  vec3 G1 = vec3(A.zw, gz.y);
  vec3 G2 = vec3(B.xy, gz.z);
  vec3 G3 = vec3(B.zw, gz.w);
  G0 *= 1.8 - 0.85 * dot(G0, G0);
  G1 *= 1.8 - 0.85 * dot(G1, G1);
  G2 *= 1.8 - 0.85 * dot(G2, G2);
  G3 *= 1.8 - 0.85 * dot(G3, G3);
  vec4 w = max(0.6 - vec4(dot(x0, x0), dot(x1, x1), dot(x2, x2), dot(x3, x3)), 0.0);
  w *= w;
  w *= w;
  return 42.0 * dot(w, vec4(dot(G0, x0), dot(G1, x1), dot(G2, x2), dot(G3, x3)));
}
)glsl";

const char fbm_piece_main[] = R"glsl(
uniform float f;
uniform float o;
uniform float a;
void main()
{
  vec3 P = gl_TexCoord[0].xyz;
  float y = 0.0;
  // A constant bound, as WebGL's shading language requires; stops early.
  for (float k = 0.0; k < 32.0; k += 1.0) {
    if (!(k < o)) break;
    y += r(P * pow(2.0, k) * f) * pow(a, k);
  }
  gl_FragData[0] = vec4(0.5 + 0.5 * y);
}
)glsl";
