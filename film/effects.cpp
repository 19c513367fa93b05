// effects.cpp: the film's ten programs with their shader texts, the lit
// surfaces of the ship and the texts, and the full-screen passes of each
// frame: atmosphere, sun flare, composite, depth of field and the radial
// speed blur (which runs through the toolkit's transform).
//
// Every other pass follows one pattern: orthographic to the target, bind the
// target's framebuffer, bind each input texture on its own unit (selecting
// the unit first), make the program current, set its uniforms (looked up by
// name each time), draw quad, then release the program and the framebuffer.
// Nothing here allocates memory once the programs exist.
#include "film/effects.h"

#include "film/assets.h"
#include "film/film.h"
#include "film/terrain.h"

int occluder_shader = -1;
int terrain_generator = -1;
int terrain_shader = -1;
int spaceship_shader = -1;
int text_shader = -1;
int post_processing = -1;
int atmosphere = -1;
int sun_flare = -1;
int depth_of_field = -1;
int radial_blur = -1;

// ---------------------------------------------------------------------------
// Lit surfaces.

// Solid black, for shapes that only hide what lies behind them.
static const char occluder_fragment[] = R"glsl(
void main()
{
  gl_FragData[0] = vec4(0.0, 0.0, 0.0, 1.0);
}
)glsl";

// The vertex stage of every three-dimensional object. The colour array carries
// the vertex tangent. A light direction above and behind the viewer is turned
// with the model (w = 0, so translation is ignored) and then used as a point;
// light, eye and half vector leave in tangent space.
static const char lit_vertex[] = R"glsl(
varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;

void main()
{
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_MultiTexCoord1;
  gl_TexCoord[2] = gl_MultiTexCoord2;
  gl_TexCoord[3] = gl_MultiTexCoord3;

  vec3 position = (gl_ModelViewMatrix * gl_Vertex).xyz;
  vec3 normal = normalize(gl_NormalMatrix * gl_Normal);
  vec3 tangent = normalize(gl_NormalMatrix * gl_Color.rgb);
  vec3 binormal = cross(normal, tangent);

  vec3 light_point = (gl_ModelViewMatrix * vec4(0.0, 5.0, 10.0, 0.0)).xyz;
  vec3 light = normalize(light_point - position);
  _light = normalize(vec3(dot(light, tangent), dot(light, binormal), dot(light, normal)));
  _eye = normalize(vec3(dot(position, tangent), dot(position, binormal), dot(position, normal)));
  vec3 half_vector = normalize(position + light);
  _half_vector = vec3(dot(half_vector, tangent), dot(half_vector, binormal),
                      dot(half_vector, normal));

  gl_Position = gl_ProjectionMatrix * vec4(position, 1.0);
}
)glsl";

// The title and greetings letters: an opaque grey from a fixed tangent-space
// normal, lit by a Lambert term over an ambient floor with a small highlight
// from the half vector, so that the faces of the letters read as solid.
static const char text_fragment[] = R"glsl(
uniform sampler2D _normal_map;

varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;

void main()
{
  vec3 normal = 2.0 * vec3(0.0, 0.0, 1.0) - 1.0;
  float diffuse = clamp(dot(_light, normal), 0.0, 1.0);
  float highlight = clamp(dot(normalize(_half_vector), normalize(normal)), 0.0, 1.0);
  float specular = clamp(0.2 + 0.65 * diffuse + 0.15 * pow(highlight, 8.0), 0.0, 1.0);
  gl_FragData[0] = vec4(specular, specular, specular, 1.0);
}
)glsl";

// The ship shows its texture as it is, alpha included; the light is not used.
static const char ship_fragment[] = R"glsl(
uniform sampler2D _texture;
uniform sampler2D _normal_map;

varying vec3 _light;
varying vec3 _eye;
varying vec3 _half_vector;

void main()
{
  gl_FragData[0] = texture2D(_texture, gl_TexCoord[0].st);
}
)glsl";

// ---------------------------------------------------------------------------
// Full-screen stages. All read texture coordinate set 0 as quad supplies it:
// (0, 0) at the bottom-left of the target, (1, 1) at the top-right.

// The composite: the scene over a gradient sky with sun-tinted fog, clouds
// and the sun's shafts; then vignette, line jitter and the fades.
static const char composite_fragment[] = R"glsl(
uniform sampler2D _render_texture;
uniform sampler2D _depth_texture;
uniform sampler2D _atmosphere_texture;
uniform sampler2D _sun_flare_texture;
uniform float _time;
uniform float _noise_amount;

const vec4 SUN_COLOR = vec4(1.0, 0.63, 0.3, 1.0);
const vec4 SKY_TOP = vec4(10.0, 20.0, 56.0, 255.0) / 255.0;
const vec4 SKY_MIDDLE = vec4(164.0, 123.0, 155.0, 255.0) / 255.0;

vec2 random(vec2 c)
{
  float s = 0.5 + 0.5 * sin(dot(c, vec2(12.9898, 78.233)));
  return 2.0 * fract(s * vec2(43758.5453, 87517.0906)) - 1.0;
}

vec4 fog(vec4 base, float depth, vec3 direction, vec3 sun, float k)
{
  float fog_factor = exp(-0.033 * depth);
  float sun_factor = max(dot(direction, sun), 0.0);
  vec4 result = mix(base, SUN_COLOR, pow(sun_factor, 1.0 + 7.0 * (1.0 - k)));
  return mix(base, result, fog_factor);
}

float vignette(vec2 uv)
{
  return 1.0 - pow(distance(uv, vec2(0.5, 0.5)), 2.0 + 0.05 * (0.5 + 0.5 * sin(60.0 * _time)));
}

void main()
{
  vec2 uv = gl_TexCoord[0].xy;
  uv.x += random(vec2(_time, uv.y + _time)).x * _noise_amount;

  vec4 background = mix(SKY_MIDDLE, SKY_TOP, 1.35 * uv.y);
  vec4 color = texture2D(_render_texture, uv);
  float z = texture2D(_depth_texture, uv).r;
  float d = 0.2 / (100.1 - 99.9 * z);

  color += texture2D(_sun_flare_texture, uv) * 0.75 * SUN_COLOR;
  background = fog(background, 100.0 * d, normalize(vec3(uv.x - 0.5, uv.y - 0.5, 100.0 * d)),
                   normalize(vec3(2.0, -1.25, 10.0)), 0.75);

  // Clouds; the cube is written out because its base may be negative.
  vec4 atmosphere = SUN_COLOR * texture2D(_atmosphere_texture, uv);
  float clear = 1.0 - atmosphere.a;
  background += atmosphere * (clear * clear * clear);

  if (d < 1.0) {
    color = mix(background, color, exp(-3.0 * d));
  }
  color = mix(background, color, color.a);
  color.a = 1.0;

  color = clamp(color * vignette(uv), 0.0, 1.0);
  if (_time > 106.0) {
    color *= 1.0 - clamp((_time - 106.0) * 0.2, 0.0, 1.0);
  } else {
    color *= clamp(_time * 0.2, 0.0, 1.0);
  }
  gl_FragData[0] = color;
}
)glsl";

// Drifting cloud density: six octaves of 3-D simplex noise over (uv, time).
static const char atmosphere_fragment[] = R"glsl(
uniform float _time;

vec3 mod289(vec3 x)
{
  return x - floor(x * (1.0 / 289.0)) * 289.0;
}

vec4 mod289(vec4 x)
{
  return x - floor(x * (1.0 / 289.0)) * 289.0;
}

vec4 permute(vec4 x)
{
  return mod289(((x * 34.0) + 1.0) * x);
}

vec4 taylorInvSqrt(vec4 r)
{
  return 1.79284291400159 - 0.85373472095314 * r;
}

float simplex(vec3 v)
{
  const vec2 C = vec2(1.0 / 6.0, 1.0 / 3.0);
  const vec4 D = vec4(0.0, 0.5, 1.0, 2.0);

  vec3 i = floor(v + dot(v, C.yyy));
  vec3 x0 = v - i + dot(i, C.xxx);

  vec3 g = step(x0.yzx, x0.xyz);
  vec3 l = 1.0 - g;
  vec3 i1 = min(g.xyz, l.zxy);
  vec3 i2 = max(g.xyz, l.zxy);
  vec3 x1 = x0 - i1 + C.xxx;
  vec3 x2 = x0 - i2 + C.yyy;
  vec3 x3 = x0 - D.yyy;

  i = mod289(i);
  vec4 p = permute(permute(permute(i.z + vec4(0.0, i1.z, i2.z, 1.0)) + i.y +
                           vec4(0.0, i1.y, i2.y, 1.0)) +
                   i.x + vec4(0.0, i1.x, i2.x, 1.0));

  float n_ = 0.142857142857;
  vec3 ns = n_ * D.wyz - D.xzx;
  vec4 j = p - 49.0 * floor(p * ns.z * ns.z);
  vec4 x_ = floor(j * ns.z);
  vec4 y_ = floor(j - 7.0 * x_);
  vec4 x = x_ * ns.x + ns.yyyy;
  vec4 y = y_ * ns.x + ns.yyyy;
  vec4 h = 1.0 - abs(x) - abs(y);

  vec4 b0 = vec4(x.xy, y.xy);
  vec4 b1 = vec4(x.zw, y.zw);
  vec4 s0 = floor(b0) * 2.0 + 1.0;
  vec4 s1 = floor(b1) * 2.0 + 1.0;
  vec4 sh = -step(h, vec4(0.0));
  vec4 a0 = b0.xzyw + s0.xzyw * sh.xxyy;
  vec4 a1 = b1.xzyw + s1.xzyw * sh.zzww;

  vec3 p0 = vec3(a0.xy, h.x);
  vec3 p1 = vec3(a0.zw, h.y);
  vec3 p2 = vec3(a1.xy, h.z);
  vec3 p3 = vec3(a1.zw, h.w);
  vec4 norm = taylorInvSqrt(vec4(dot(p0, p0), dot(p1, p1), dot(p2, p2), dot(p3, p3)));
  p0 *= norm.x;
  p1 *= norm.y;
  p2 *= norm.z;
  p3 *= norm.w;

  vec4 m = max(0.6 - vec4(dot(x0, x0), dot(x1, x1), dot(x2, x2), dot(x3, x3)), 0.0);
  m = m * m;
  return 42.0 * dot(m * m, vec4(dot(p0, x0), dot(p1, x1), dot(p2, x2), dot(p3, x3)));
}

float brownian(vec3 p, float lacunarity, float gain)
{
  float result = 0.0;
  float amplitude = 1.0;
  vec3 seed = p;
  for (int octave = 0; octave < 6; octave++) {
    amplitude *= gain;
    result += amplitude * simplex(seed);
    seed *= lacunarity;
  }
  return result;
}

void main()
{
  vec2 uv = gl_TexCoord[0].xy;
  float a = brownian(vec3(uv.x, uv.y, _time * 0.0625), 2.01, 0.5);
  gl_FragData[0] = vec4(abs(0.75 * a));
}
)glsl";

// Light shafts: 64 taps from the pixel towards the sun at (0.7, 0.75) of the
// sky colour and the sun disc, darkened by clouds and cut off by the scene.
static const char sun_flare_fragment[] = R"glsl(
uniform sampler2D _depth_texture;
uniform sampler2D _atmosphere_texture;
uniform float _aspect_ratio;

const vec4 SKY_MIDDLE = vec4(164.0, 123.0, 155.0, 255.0) / 255.0;

vec4 sun(vec2 uv, float k)
{
  float edge = length((uv - vec2(0.7, k)) * vec2(_aspect_ratio, 1.0)) - 0.0125;
  return vec4(1.0 - step(0.00625, edge));
}

// One tap of the shafts. (Not called sample: a keyword in later GLSL.)
vec4 shaft(vec2 uv)
{
  vec4 col = SKY_MIDDLE + sun(uv, 0.75);
  col *= 1.0 - 3.0 * texture2D(_atmosphere_texture, uv);
  col *= step(0.99, texture2D(_depth_texture, uv).r);
  return col;
}

void main()
{
  vec2 uv = gl_TexCoord[0].xy;
  vec2 delta = (uv - vec2(0.7, 0.75)) * (0.84 / 64.0);
  vec4 sum = vec4(0.0);
  for (int i = 1; i <= 64; i++) {
    sum += shaft(uv - float(i) * delta) * 5.65;
  }
  gl_FragData[0] = sum * 0.0034;
}
)glsl";

// Thin-lens depth of field: 45 taps on five rings, each tap with a split of
// the colour channels (chromatic aberration) and a boost of bright colours.
static const char depth_of_field_fragment[] = R"glsl(
uniform sampler2D _render_texture;
uniform sampler2D _depth_texture;
uniform vec2 _resolution;
uniform float _focal_depth;
uniform float _focal_length;
uniform float _f_stop;
uniform float CHROMATIC_ABERRATION_FACTOR;

const float CIRCLE_OF_CONFUSION = 0.03;
const float THRESHOLD = 0.3;
const float GAIN = 2.0;
const float BIAS = 0.5;
const int INITIAL_SAMPLE_COUNT = 3;
const int NUMBER_OF_RINGS = 5;

vec2 random(vec2 c)
{
  float s = 0.5 + 0.5 * sin(dot(c, vec2(12.9898, 78.233)));
  return 2.0 * fract(s * vec2(43758.5453, 87517.0906)) - 1.0;
}

vec3 get_color(vec2 p, float blur)
{
  vec2 texel_size = 1.0 / _resolution;
  vec4 o = vec4(0.0, 1.0, 0.866, -0.5) * vec4(texel_size, texel_size) *
           CHROMATIC_ABERRATION_FACTOR * blur;
  vec3 color;
  color.r = texture2D(_render_texture, p + o.xy).r;
  color.g = texture2D(_render_texture, p + vec2(-o.z, o.w)).g;
  color.b = texture2D(_render_texture, p + o.zw).b;
  float luminance = dot(color, vec3(0.299, 0.587, 0.114));
  return color * (1.0 + max((luminance - THRESHOLD) * GAIN, 0.0) * blur);
}

void main()
{
  vec2 uv = gl_TexCoord[0].xy;
  float z = texture2D(_depth_texture, uv).r;
  float depth = 100.0 * 0.2 / (100.1 - 99.9 * z);

  float f = _focal_length;
  float s = 1000.0 * _focal_depth;
  float p = 1000.0 * depth;
  float a = p * f / (p - f);
  float b = s * f / (s - f);
  float g = (s - f) / (s * _f_stop * CIRCLE_OF_CONFUSION);
  float blur = clamp(abs(a - b) * g, 0.0, 1.0);

  vec2 displacement = blur / _resolution + random(uv) * 0.0001 * blur;
  vec3 color = texture2D(_render_texture, uv).rgb;
  if (blur >= 0.05) {
    float weight = 1.0;
    for (int i = 1; i <= NUMBER_OF_RINGS; i++) {
      float k = float(i) / float(NUMBER_OF_RINGS);
      int count = i * INITIAL_SAMPLE_COUNT;
      float angle = 6.283185 / float(count);
      float contribution = mix(1.0, k, BIAS);
      // Loops run to constant bounds (as WebGL's shading language requires)
      // and stop early.
      for (int j = 0; j < NUMBER_OF_RINGS * INITIAL_SAMPLE_COUNT; j++) {
        if (j >= count) break;
        float t = float(j) * angle;
        vec2 offset = float(i) * vec2(cos(t), sin(t)) * displacement;
        color += get_color(uv + offset, blur) * contribution;
        weight += contribution;
      }
    }
    color /= weight;
  }
  gl_FragData[0] = vec4(clamp(color, 0.0, 1.0), 1.0);
}
)glsl";

// Speed streaks: ten taps from the pixel towards the image centre, the
// pixel itself excluded. _time is declared for the frame to set; the output
// does not depend on it.
static const char radial_blur_fragment[] = R"glsl(
uniform sampler2D _render_texture;
uniform float _speed;
uniform float _time;

void main()
{
  vec2 uv = gl_TexCoord[0].xy;
  vec2 delta = (uv - vec2(0.5, 0.5)) * (1.0 / 10.0 * _speed);
  vec4 color = vec4(0.0);
  for (int i = 1; i <= 10; i++) {
    color += texture2D(_render_texture, uv - float(i) * delta);
  }
  gl_FragData[0] = clamp(0.1 * color, 0.0, 1.0);
}
)glsl";

const char* const generic_shaders[3] = {occluder_fragment, lit_vertex, text_fragment};
const char* const spaceship_shaders[1] = {ship_fragment};
const char* const post_processing_shaders[5] = {composite_fragment, atmosphere_fragment,
                                                sun_flare_fragment, depth_of_field_fragment,
                                                radial_blur_fragment};

// The ten programs in the order they are created. A program without a
// vertex text runs behind the fixed-function vertex stage; the lit ones have
// their own copy of the lit vertex stage, compiled after the fragment stage.
const film_program film_programs[FILM_PROGRAM_COUNT] = {
    {"occluder_shader", nullptr, &generic_shaders[0], &occluder_shader},
    {"terrain_generator", nullptr, &terrain_shaders[0], &terrain_generator},
    {"terrain_shader", &generic_shaders[1], &terrain_shaders[1], &terrain_shader},
    {"spaceship_shader", &generic_shaders[1], &spaceship_shaders[0], &spaceship_shader},
    {"text_shader", &generic_shaders[1], &generic_shaders[2], &text_shader},
    {"post_processing", nullptr, &post_processing_shaders[0], &post_processing},
    {"atmosphere", nullptr, &post_processing_shaders[1], &atmosphere},
    {"sun_flare", nullptr, &post_processing_shaders[2], &sun_flare},
    {"depth_of_field", nullptr, &post_processing_shaders[3], &depth_of_field},
    {"radial_blur", nullptr, &post_processing_shaders[4], &radial_blur},
};

void create_programs() {
  for (const film_program& entry : film_programs) {
    if (*entry.handle != -1) continue;  // made already, while the loading bar ran
    const int fragment_shader = shader(*entry.fragment, GL_FRAGMENT_SHADER);
    const int vertex_shader = entry.vertex ? shader(*entry.vertex, GL_VERTEX_SHADER) : -1;
    *entry.handle = program(vertex_shader, -1, fragment_shader);
  }
}

// ---------------------------------------------------------------------------
// Lit surfaces.

void render_spaceship() {
  glPushMatrix();
  glScalef(0.075f, 0.075f, 0.075f);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, spaceship_texture);
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, spaceship_normal_map);
  glUseProgram(spaceship_shader);
  glUniform1i(glGetUniformLocation(spaceship_shader, "_normal_map"), 1);
  render(spaceship);
  glUseProgram(0);
  glPopMatrix();
}

void render_text(const mesh_record* model) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, terrain_normal_map);
  glUseProgram(text_shader);
  render(model);
  glUseProgram(0);
}

// ---------------------------------------------------------------------------
// Passes.

static void bind_texture(GLenum unit, GLuint texture) {
  glActiveTexture(unit);
  glBindTexture(GL_TEXTURE_2D, texture);
}

void generate_atmosphere(const layer_record* target) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glUseProgram(atmosphere);
  glUniform1f(glGetUniformLocation(atmosphere, "_time"), TIME);
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void generate_sun_flare(const layer_record* atmosphere_layer, const layer_record* target) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  bind_texture(GL_TEXTURE0, P4E6JEEC->depth_texture);
  bind_texture(GL_TEXTURE1, atmosphere_layer->texture);
  glUseProgram(sun_flare);
  glUniform1i(glGetUniformLocation(sun_flare, "_atmosphere_texture"), 1);
  glUniform1f(glGetUniformLocation(sun_flare, "_aspect_ratio"),
              static_cast<float>(TVJAYSLH[0]) / static_cast<float>(TVJAYSLH[1]));
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void post_process(const layer_record* atmosphere_layer, const layer_record* flare_layer,
                  const layer_record* target, float noise_amount) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  bind_texture(GL_TEXTURE0, P4E6JEEC->color_texture);
  bind_texture(GL_TEXTURE1, P4E6JEEC->depth_texture);
  bind_texture(GL_TEXTURE2, atmosphere_layer->texture);
  bind_texture(GL_TEXTURE3, flare_layer->texture);
  glUseProgram(post_processing);
  glUniform1i(glGetUniformLocation(post_processing, "_depth_texture"), 1);
  glUniform1i(glGetUniformLocation(post_processing, "_atmosphere_texture"), 2);
  glUniform1i(glGetUniformLocation(post_processing, "_sun_flare_texture"), 3);
  glUniform1f(glGetUniformLocation(post_processing, "_time"), TIME);
  glUniform1f(glGetUniformLocation(post_processing, "_noise_amount"), noise_amount);
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void apply_depth_of_field(const layer_record* source, const accumulator_record* depth_source,
                          const layer_record* target, float focal_depth, float f_stop,
                          float focal_length, float chromatic_aberration) {
  orthographic(target->width, target->height);
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  bind_texture(GL_TEXTURE0, source->texture);
  bind_texture(GL_TEXTURE1, depth_source->depth_texture);
  glUseProgram(depth_of_field);
  glUniform1f(glGetUniformLocation(depth_of_field, "_focal_depth"), focal_depth);
  glUniform1f(glGetUniformLocation(depth_of_field, "_focal_length"), focal_length);
  glUniform1f(glGetUniformLocation(depth_of_field, "_f_stop"), f_stop);
  glUniform2f(glGetUniformLocation(depth_of_field, "_resolution"),
              static_cast<float>(target->width), static_cast<float>(target->height));
  glUniform1i(glGetUniformLocation(depth_of_field, "_depth_texture"), 1);
  glUniform1f(glGetUniformLocation(depth_of_field, "CHROMATIC_ABERRATION_FACTOR"),
              chromatic_aberration);
  quad(static_cast<float>(target->width), static_cast<float>(target->height));
  glUseProgram(0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void apply_radial_blur(const layer_record* source, const layer_record* target, float speed) {
  glUseProgram(radial_blur);
  glUniform1f(glGetUniformLocation(radial_blur, "_time"), TIME);
  glUniform1f(glGetUniformLocation(radial_blur, "_speed"), speed * 0.25f);
  glUseProgram(0);
  transform(source, target, radial_blur);
}
