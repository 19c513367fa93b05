// surfaces.cpp: the film's lit surfaces: the occluder, the ship and the
// titles' letters, each a fragment stage behind the one lit vertex stage, and
// the functions that draw the ship and the texts with them.
#include "film/surfaces.h"

#include "film/assets.h"

int occluder_shader = -1;
int spaceship_shader = -1;
int text_shader = -1;

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

const char* const generic_shaders[3] = {occluder_fragment, lit_vertex, text_fragment};
const char* const spaceship_shaders[1] = {ship_fragment};

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
