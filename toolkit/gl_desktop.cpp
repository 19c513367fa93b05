// gl_desktop.cpp: the desktop OpenGL side of the calls whose browser side is
// in gl_web.cpp. The driver takes the texts as they are, and meshes are drawn
// from client-side arrays.
#include "toolkit/toolkit.h"

void gl_shader_source(GLuint shader, GLenum, int count, const char* const* texts) {
  glShaderSource(shader, count, texts, nullptr);
}

void render(const mesh_record* mesh) {
  glVertexPointer(3, GL_FLOAT, 0, mesh->positions);
  glNormalPointer(GL_FLOAT, 0, mesh->normals);
  glColorPointer(3, GL_FLOAT, 0, mesh->tangents);
  glTexCoordPointer(3, GL_FLOAT, 0, mesh->texture_coordinates);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh->triangle_count * 3), GL_UNSIGNED_INT,
                 mesh->indices);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

void gl_link_program(GLuint program) {
  glLinkProgram(program);
}

// One two-pixel rectangle per cell, so the last column and row of cells also
// cover the last column and row of pixels.
void gl_cover_grid(unsigned width, unsigned height) {
  for (unsigned x = 0; x < width; ++x)
    for (unsigned y = 0; y < height; ++y)
      glRecti(static_cast<GLint>(x), static_cast<GLint>(y), static_cast<GLint>(x + 2),
              static_cast<GLint>(y + 2));
}

void gl_forget_mesh(const mesh_record*) {}

bool gl_compiles_in_background() {
  return false;
}
