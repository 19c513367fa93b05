// gl_web.cpp: the OpenGL the film uses that a browser's WebGL 1, under
// Emscripten's fixed-function emulation, lacks. Built only for the web; the
// desktop builds get these calls from the driver.
//
// - The rectangle, attribute-stack and vertex calls the emulation leaves out,
//   made from the calls it has.
// - glReadBuffer: WebGL 1 reads only colour attachment 0; the choice is passed
//   to the page's context adapter (programs/web/webgl.js), which reads another
//   attachment through a framebuffer of its own.
// - A program without a vertex shader gets the pass-through one.
// - The terrain generator's grid: one rectangle over all its pixels, not one
//   per cell (65,536 a tile), each of which would be a draw of its own here.
// - Meshes: the emulation draws client-side arrays only with 16-bit indices
//   and small vertex counts, so each mesh goes into buffer objects on its
//   first draw and is drawn from them, feeding the inputs and matrices that
//   the emulation's rewritten shaders read; a mesh drawn with no program
//   current gets what the fixed-function pipeline draws (lighting and
//   texturing off): its clamped colour array, from a small program.
// - Shaders compile and programs link in the background where WebGL offers
//   KHR_parallel_shader_compile (asking for it turns it on), so that the page
//   need not wait for them.
// - Shader texts: gl_NormalMatrix, which the emulation does not provide, is
//   computed from the model-view matrix it does provide, and a fragment stage
//   that writes a second output asks for the draw-buffers extension.
#include <emscripten.h>

#include <string>
#include <vector>

#include "toolkit/pieces.h"
#include "toolkit/toolkit.h"

extern "C" {

void glRectf(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2) {
  glBegin(GL_QUADS);
  glVertex2f(x1, y1);
  glVertex2f(x2, y1);
  glVertex2f(x2, y2);
  glVertex2f(x1, y2);
  glEnd();
}

void glRecti(GLint x1, GLint y1, GLint x2, GLint y2) {
  glRectf(static_cast<GLfloat>(x1), static_cast<GLfloat>(y1), static_cast<GLfloat>(x2),
          static_cast<GLfloat>(y2));
}

void glVertex2s(GLshort x, GLshort y) {
  glVertex2f(x, y);
}

// The film pushes only the viewport, and only one level deep.
static GLint saved_viewport[4];

void glPushAttrib(GLbitfield) {
  glGetIntegerv(GL_VIEWPORT, saved_viewport);
}

void glPopAttrib() {
  glViewport(saved_viewport[0], saved_viewport[1], saved_viewport[2], saved_viewport[3]);
}

// And of the client state only the pack alignment, which WebGL 1 has.
static GLint saved_pack_alignment = 4;

void glPushClientAttrib(GLbitfield) {
  glGetIntegerv(GL_PACK_ALIGNMENT, &saved_pack_alignment);
}

void glPopClientAttrib() {
  glPixelStorei(GL_PACK_ALIGNMENT, saved_pack_alignment);
}

void glReadBuffer(GLenum mode) {
  EM_ASM({ GLctx.skywardReadBuffer = $0; }, mode);
}

// A depth-only target needs no draw-buffer setting in WebGL 1.
void glDrawBuffer(GLenum) {}

}  // extern "C"

void gl_cover_grid(unsigned width, unsigned height) {
  glRecti(0, 0, static_cast<GLint>(width + 1), static_cast<GLint>(height + 1));
}

static void replace_all(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// The inverse transpose of the model-view matrix's upper 3 x 3, from cofactors.
static const char normal_matrix_function[] = R"glsl(
mat3 web_normal_matrix()
{
  mat3 m = mat3(gl_ModelViewMatrix[0].xyz, gl_ModelViewMatrix[1].xyz, gl_ModelViewMatrix[2].xyz);
  mat3 c = mat3(cross(m[1], m[2]), cross(m[2], m[0]), cross(m[0], m[1]));
  return c * (1.0 / dot(m[0], c[0]));
}
)glsl";

void gl_shader_source(GLuint shader, GLenum type, int count, const char* const* texts) {
  std::string text;
  for (int i = 0; i < count; ++i) text += texts[i];
  if (type == GL_VERTEX_SHADER && text.find("gl_NormalMatrix") != std::string::npos) {
    replace_all(&text, "gl_NormalMatrix", "web_normal_matrix()");
    const size_t main_at = text.find("void main");
    text.insert(main_at == std::string::npos ? 0 : main_at, normal_matrix_function);
  }
  if (type == GL_FRAGMENT_SHADER && text.find("gl_FragData[1]") != std::string::npos)
    text = "#extension GL_EXT_draw_buffers : require\n" + text;
  const char* joined = text.c_str();
  glShaderSource(shader, 1, &joined, nullptr);
}

bool gl_compiles_in_background() {
  // One context for the program's whole life: asked once.
  static const int offered =
      EM_ASM_INT({ return GLctx.getExtension('KHR_parallel_shader_compile') ? 1 : 0; });
  return offered == 1;
}

void gl_link_program(GLuint program) {
  GLuint attached[8];
  GLsizei count = 0;
  glGetAttachedShaders(program, 8, &count, attached);
  bool has_vertex = false;
  for (GLsizei i = 0; i < count; ++i) {
    GLint type = 0;
    glGetShaderiv(attached[i], GL_SHADER_TYPE, &type);
    if (type == GL_VERTEX_SHADER) has_vertex = true;
  }
  if (!has_vertex) {
    static GLuint pass_through = 0;
    if (!pass_through)
      pass_through = static_cast<GLuint>(shader(pass_through_vertex, GL_VERTEX_SHADER));
    glAttachShader(program, pass_through);
  }
  glLinkProgram(program);
}

// A mesh's buffer objects, known by its record and its arrays (consolidate
// replaces the arrays of a record).
struct mesh_buffers {
  const mesh_record* mesh;
  const float* positions;
  unsigned triangle_count;
  GLuint arrays[4];  // positions, normals, tangents, texture coordinates
  GLuint indices;
};
static std::vector<mesh_buffers> uploaded;

static const mesh_buffers& buffers_of(const mesh_record* mesh) {
  for (const mesh_buffers& known : uploaded)
    if (known.mesh == mesh && known.positions == mesh->positions &&
        known.triangle_count == mesh->triangle_count)
      return known;
  mesh_buffers made{mesh, mesh->positions, mesh->triangle_count, {}, 0};
  const float* sources[4] = {mesh->positions, mesh->normals, mesh->tangents,
                             mesh->texture_coordinates};
  glGenBuffers(4, made.arrays);
  for (int i = 0; i < 4; ++i) {
    glBindBuffer(GL_ARRAY_BUFFER, made.arrays[i]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh->vertex_count) * 3 * sizeof(float),
                 sources[i], GL_STATIC_DRAW);
  }
  glGenBuffers(1, &made.indices);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, made.indices);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER,
               static_cast<GLsizeiptr>(mesh->triangle_count) * 3 * sizeof(unsigned), mesh->indices,
               GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  uploaded.push_back(made);
  return uploaded.back();
}

void gl_forget_mesh(const mesh_record* mesh) {
  for (size_t i = 0; i < uploaded.size(); ++i) {
    if (uploaded[i].mesh != mesh) continue;
    glDeleteBuffers(4, uploaded[i].arrays);
    glDeleteBuffers(1, &uploaded[i].indices);
    uploaded.erase(uploaded.begin() + static_cast<long>(i--));
  }
}

// What the fixed-function pipeline does with a mesh when no program is
// current (lighting and texturing are off): the colour array, clamped, as the
// colour of each vertex.
static const char fixed_colour_vertex[] = R"glsl(
void main()
{
  gl_FrontColor = clamp(gl_Color, 0.0, 1.0);
  gl_Position = ftransform();
}
)glsl";
static const char fixed_colour_fragment[] = R"glsl(
void main()
{
  gl_FragColor = gl_Color;
}
)glsl";

void render(const mesh_record* mesh) {
  const mesh_buffers& buffers = buffers_of(mesh);
  // The program glUseProgram made current, as the emulation keeps it (the
  // context's own may be one of the emulation's).
  const GLuint current = static_cast<GLuint>(EM_ASM_INT({ return GL.currProgram || 0; }));
  static GLuint fixed_colour = 0;
  if (!current && !fixed_colour) {
    fixed_colour = static_cast<GLuint>(program(shader(fixed_colour_vertex, GL_VERTEX_SHADER), -1,
                                               shader(fixed_colour_fragment, GL_FRAGMENT_SHADER)));
    programs_finish();  // drawn with at once: checked at once
  }
  const GLuint used = current ? current : fixed_colour;
  glUseProgram(used);
  GLfloat matrix[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
  glUniformMatrix4fv(glGetUniformLocation(used, "u_modelView"), 1, GL_FALSE, matrix);
  glGetFloatv(GL_PROJECTION_MATRIX, matrix);
  glUniformMatrix4fv(glGetUniformLocation(used, "u_projection"), 1, GL_FALSE, matrix);
  // The emulation's names for gl_Vertex, gl_Normal, gl_Color, gl_MultiTexCoord0.
  static const char* const inputs[4] = {"a_position", "a_normal", "a_color", "a_texCoord0"};
  GLint locations[4];
  for (int i = 0; i < 4; ++i) {
    locations[i] = glGetAttribLocation(used, inputs[i]);
    if (locations[i] < 0) continue;
    glBindBuffer(GL_ARRAY_BUFFER, buffers.arrays[i]);
    glEnableVertexAttribArray(static_cast<GLuint>(locations[i]));
    glVertexAttribPointer(static_cast<GLuint>(locations[i]), 3, GL_FLOAT, GL_FALSE, 0, nullptr);
  }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers.indices);
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh->triangle_count * 3), GL_UNSIGNED_INT,
                 nullptr);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  for (int i = 0; i < 4; ++i)
    if (locations[i] >= 0) glDisableVertexAttribArray(static_cast<GLuint>(locations[i]));
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (!current) glUseProgram(0);
}
