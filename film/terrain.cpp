// terrain.cpp: the terrain generator and the terrain's shading.
//
// The generator is a fragment stage that mesh() renders one pixel per grid
// vertex: output 0 is the vertex position (height in y), output 1 its texture
// coordinate. Its heights come from gradient noise driven by the pixel
// position alone; the offset set by set_terrain_seed only chooses, through its
// y component, whether the mountain range covers the whole tile (y >= 1) or
// only the tile's far quarter, fading out to plateau by its middle (y = 0).
// The tiles are drawn as grey relief lit through a tiled normal map.
#include "film/terrain.h"

#include "film/assets.h"
#include "film/surfaces.h"

int terrain_generator = -1;
int terrain_shader = -1;

const char* const terrain_shaders[2] = {
    // [0] The terrain generator.
    R"glsl(
uniform vec2 _resolution;
uniform vec2 _offset;

vec4 permute(vec4 v) {
  return mod((34.0 * v + 1.0) * v, 289.0);
}

vec2 fade(vec2 t) {
  return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

// Two-dimensional gradient noise, about -1 to 1.
float perlin(vec2 P) {
  vec4 I = mod(floor(P.xyxy) + vec4(0.0, 0.0, 1.0, 1.0), 289.0);
  vec4 F = fract(P.xyxy) - vec4(0.0, 0.0, 1.0, 1.0);
  // One hash per corner: (x0, y0), (x1, y0), (x0, y1), (x1, y1).
  vec4 z = fract(permute(permute(I.xzxz) + I.yyww) * 0.0243902439) * 2.0 - 1.0;
  vec4 w = abs(z) - 0.5;
  z = z - floor(z + 0.5);
  // Each pair of gradients is scaled to unit length as one 4-vector.
  vec4 g01 = normalize(vec4(z.x, w.x, z.y, w.y));
  vec4 g23 = normalize(vec4(z.z, w.z, z.w, w.w));
  float n0 = dot(g01.xy, F.xy);
  float n1 = dot(g01.zw, F.zy);
  float n2 = dot(g23.xy, F.xw);
  float n3 = dot(g23.zw, F.zw);
  vec2 f = fade(F.xy);
  float a = mix(n0, n1, f.x);
  float b = mix(n2, n3, f.x);
  return 2.3 * mix(a, b, f.y);
}

// Fractal sum of octaves; the first octave already has weight gain.
float brownian(vec2 P, int octaves, float lacunarity, float gain) {
  float result = 0.0;
  float amplitude = 1.0;
  vec2 seed = P;
  // A constant bound, as WebGL's shading language requires; stops early.
  for (int i = 0; i < 16; i++) {
    if (i >= octaves) break;
    amplitude *= gain;
    result += amplitude * perlin(seed);
    seed *= lacunarity;
  }
  return result;
}

// The height at pixel position pix for the mask coordinate m; 20 pixels on
// every side fade to the base height so neighbouring tiles meet.
float get_displacement(vec2 pix, vec2 m) {
  float foundation = brownian(pix, 1, 2.05, 0.5) * 0.025;
  float plateau = perlin(pix * 0.125) * 0.05 + foundation;
  float mountain_range = foundation + brownian(pix * 0.01, 5, 2.01, 0.5) * 0.5 +
                         brownian(pix * 0.015, 5, 2.01, 0.5) * 1.75 + 0.5;
  float D = plateau + mix(mountain_range, 0.0, smoothstep(-0.25, 0.0, m.y - 0.5));
  D = mix(D, plateau + mountain_range, step(1.0, m.y));
  vec2 R = _resolution;
  D *= smoothstep(0.0, 20.0, pix.y) * (1.0 - smoothstep(R.y - 20.0, R.y - 1.0, pix.y)) *
       smoothstep(0.0, 20.0, pix.x) * (1.0 - smoothstep(R.x - 20.0, R.x - 1.0, pix.x));
  return (0.5 * D + 0.5) * 0.25 - 0.25;
}

void main() {
  vec2 uv = gl_FragCoord.xy / _resolution;
  float h = get_displacement(gl_FragCoord.xy, uv + _offset) * 3.0;
  gl_FragData[0] = vec4(10.0 * (uv.x - 0.5), h, 10.0 * (uv.y - 0.5), 1.0);
  gl_FragData[1] = vec4(uv.x, uv.y, 0.0, 0.0);
}
)glsl",
    // [1] The terrain's surface: a Lambert term of the tiled normal map,
    // sharpened and dimmed, then gamma-encoded.
    R"glsl(
uniform sampler2D _normal_map;

varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;

void main() {
  vec3 n = 2.0 * texture2D(_normal_map, gl_TexCoord[0].st * 15.0).xyz - 1.0;
  float lambert = clamp(dot(_light, n), 0.0, 1.0);
  float g = pow(pow(lambert, 3.5) * 0.25, 0.45454545);
  gl_FragColor = vec4(g, g, g, 1.0);
}
)glsl"};

void set_terrain_seed(float x, float y) {
  glUseProgram(terrain_generator);
  glUniform2f(glGetUniformLocation(terrain_generator, "_offset"), x, y);
  glUseProgram(0);
}

void render_terrain(const mesh_record* tile) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, terrain_normal_map);
  glUseProgram(terrain_shader);
  render(tile);
  glUseProgram(0);
  glBindTexture(GL_TEXTURE_2D, 0);
}
