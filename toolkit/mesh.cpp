// mesh.cpp: generated grids, vertex attributes, welding and drawing.
//
// A mesh_record is an indexed triangle list with four separate attribute
// arrays of three floats per vertex. `mesh` renders a height-field program
// into the generator framebuffer and reads it back as a grid; `consolidate`
// welds nearby vertices; `render` draws a record with client-side arrays.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/toolkit.h"

namespace {

// Side of the generator framebuffer's attachments: the most grid vertices
// that fit across or up.
constexpr unsigned generator_size = 512;

}  // namespace

mesh_record* mesh(int program, unsigned width, unsigned height) {
  if (width == 0 || height == 0 || width > generator_size - 1 || height > generator_size - 1) {
    std::fprintf(stderr,
                 "mesh: a grid of %u x %u cells does not fit the %u x %u generator framebuffer\n",
                 width, height, generator_size, generator_size);
    return nullptr;
  }
  const unsigned w = width + 1;
  const unsigned h = height + 1;
  const size_t vertex_count = static_cast<size_t>(w) * h;
  const size_t triangle_count = static_cast<size_t>(2) * width * height;

  mesh_record* grid = static_cast<mesh_record*>(toolkit_allocate(sizeof(mesh_record)));
  const size_t attribute_bytes = vertex_count * 3 * sizeof(float);
  grid->positions = static_cast<float*>(toolkit_allocate(attribute_bytes));
  grid->normals = static_cast<float*>(toolkit_allocate(attribute_bytes));
  grid->tangents = static_cast<float*>(toolkit_allocate(attribute_bytes));
  grid->texture_coordinates = static_cast<float*>(toolkit_allocate(attribute_bytes));
  grid->indices = static_cast<unsigned*>(toolkit_allocate(triangle_count * 3 * sizeof(unsigned)));
  grid->triangle_count = static_cast<unsigned>(triangle_count);
  grid->vertex_count = static_cast<unsigned>(vertex_count);

  glPushAttrib(GL_VIEWPORT_BIT);
  glBindFramebuffer(GL_FRAMEBUFFER, HVATQD0L);
  const GLenum outputs[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
  glDrawBuffers(2, outputs);
  orthographic(w, h);

  glUseProgram(program);
  glUniform2f(glGetUniformLocation(program, "_resolution"), static_cast<float>(width),
              static_cast<float>(height));

  // Each cell's two triangles, column by column, in the order the desktop's
  // rectangles cover the cells.
  gl_cover_grid(width, height);
  unsigned* index = grid->indices;
  for (unsigned x = 0; x < width; ++x) {
    for (unsigned y = 0; y < height; ++y) {
      const unsigned b = y * w + x;
      index[0] = b + w;
      index[1] = b + w + 1;
      index[2] = b + 1;
      index[3] = b + w;
      index[4] = b + 1;
      index[5] = b;
      index += 6;
    }
  }
  glUseProgram(0);

  // Rows of W pixels of three floats arrive tightly packed, bottom row first,
  // whatever packing the caller had set.
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glPixelStorei(GL_PACK_SKIP_ROWS, 0);
  glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glReadPixels(0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h), GL_RGB, GL_FLOAT,
               grid->positions);
  glReadBuffer(GL_COLOR_ATTACHMENT1);
  glReadPixels(0, 0, static_cast<GLsizei>(w), static_cast<GLsizei>(h), GL_RGB, GL_FLOAT,
               grid->texture_coordinates);
  glPopClientAttrib();

  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glPopAttrib();
  glFinish();

  compute_vertex_attributes(grid);
  return grid;
}

void compute_vertex_attributes(mesh_record* mesh) {
  const size_t floats = static_cast<size_t>(mesh->vertex_count) * 3;
  std::memset(mesh->normals, 0, floats * sizeof(float));
  std::memset(mesh->tangents, 0, floats * sizeof(float));

  const float* positions = mesh->positions;
  const float* coordinates = mesh->texture_coordinates;
  for (unsigned k = 0; k < mesh->triangle_count; ++k) {
    const unsigned* corner = mesh->indices + static_cast<size_t>(k) * 3;
    const float* p0 = positions + static_cast<size_t>(corner[0]) * 3;
    const float* p1 = positions + static_cast<size_t>(corner[1]) * 3;
    const float* p2 = positions + static_cast<size_t>(corner[2]) * 3;
    const float t0 = coordinates[static_cast<size_t>(corner[0]) * 3 + 1];
    const float t1 = coordinates[static_cast<size_t>(corner[1]) * 3 + 1];
    const float t2 = coordinates[static_cast<size_t>(corner[2]) * 3 + 1];

    // The second edge runs from the second corner to the third.
    const float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const float e2[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
    const float d1 = t1 - t0;
    const float d2 = t2 - t1;

    // Unnormalised: twice the triangle's area, so larger faces weigh more.
    const float normal[3] = {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e2[2] * e1[0],
                             e1[0] * e2[1] - e2[0] * e1[1]};
    // Not divided by the texture mapping's determinant: its sign follows the
    // triangle's winding in texture space.
    const float tangent[3] = {e2[0] * d1 - e1[0] * d2, e2[1] * d1 - e1[1] * d2,
                              e2[2] * d1 - e1[2] * d2};

    for (int j = 0; j < 3; ++j) {
      float* n = mesh->normals + static_cast<size_t>(corner[j]) * 3;
      float* t = mesh->tangents + static_cast<size_t>(corner[j]) * 3;
      for (int c = 0; c < 3; ++c) {
        n[c] += normal[c];
        t[c] += tangent[c];
      }
    }
  }

  for (size_t i = 0; i < floats; i += 3) {
    float* vectors[2] = {mesh->normals + i, mesh->tangents + i};
    for (float* v : vectors) {
      const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (length != 0.0f) {
        v[0] /= length;
        v[1] /= length;
        v[2] /= length;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Welding.
//
// Each new vertex is the first kept vertex (in kept order) whose squared
// distance from the corner's position, summed in floats as below, is below
// the squared welding distance. Finding it by looking at every kept vertex is
// quadratic, so kept vertices are filed in a hash of cubic cells twice the
// welding distance wide: any vertex that passes the test lies in one of the
// 27 cells around the corner's cell, and each cell lists its vertices in kept
// order, so the answer is the lowest passing index among those cells' first
// passing entries.

namespace {

constexpr unsigned no_vertex = 0xffffffffu;

inline float squared_distance(const float* a, const float* b) {
  const float dx = a[0] - b[0];
  const float dy = a[1] - b[1];
  const float dz = a[2] - b[2];
  return dx * dx + dy * dy + dz * dz;
}

inline bool is_finite_point(const float* p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

// Points that pass the test are less than the distance apart on each axis
// (the float sums are monotonic), so their cell coordinates differ by less
// than half a cell. Keeping the coordinates below 2^48 keeps their rounding
// in doubles far below the other half cell: such points always lie in
// neighbouring cells. Beyond it (a distance tiny beside the coordinates) the
// search looks at every kept vertex instead.
constexpr double largest_cell_coordinate = 281474976710656.0;  // 2^48

struct weld_cell {
  int64_t key[3];
  unsigned first;  // lowest kept vertex in the cell, or no_vertex if the slot is empty
  unsigned last;   // highest, where the next one is appended
};

struct weld_grid {
  weld_cell* cells;
  size_t mask;     // slot count - 1, a power of two minus one
  unsigned* next;  // per kept vertex: the next kept vertex in its cell
  double inverse_width;
};

inline size_t cell_slot(const weld_grid& grid, const int64_t key[3]) {
  uint64_t h = static_cast<uint64_t>(key[0]) * 0x9e3779b97f4a7c15ull;
  h ^= static_cast<uint64_t>(key[1]) * 0xc2b2ae3d27d4eb4full;
  h ^= static_cast<uint64_t>(key[2]) * 0x165667b19e3779f9ull;
  h ^= h >> 29;
  return static_cast<size_t>(h) & grid.mask;
}

// The slot holding the cell, or the empty slot where it would go.
inline size_t find_cell(const weld_grid& grid, const int64_t key[3]) {
  size_t slot = cell_slot(grid, key);
  while (grid.cells[slot].first != no_vertex &&
         (grid.cells[slot].key[0] != key[0] || grid.cells[slot].key[1] != key[1] ||
          grid.cells[slot].key[2] != key[2])) {
    slot = (slot + 1) & grid.mask;
  }
  return slot;
}

inline void cell_of(const weld_grid& grid, const float* p, int64_t key[3]) {
  for (int c = 0; c < 3; ++c) {
    key[c] = static_cast<int64_t>(std::floor(static_cast<double>(p[c]) * grid.inverse_width));
  }
}

unsigned search_grid(const weld_grid& grid, const float* kept_positions, const float* p,
                     float limit) {
  int64_t centre[3];
  cell_of(grid, p, centre);
  unsigned best = no_vertex;
  for (int64_t dx = -1; dx <= 1; ++dx) {
    for (int64_t dy = -1; dy <= 1; ++dy) {
      for (int64_t dz = -1; dz <= 1; ++dz) {
        const int64_t key[3] = {centre[0] + dx, centre[1] + dy, centre[2] + dz};
        const weld_cell& cell = grid.cells[find_cell(grid, key)];
        for (unsigned m = cell.first; m != no_vertex && m < best; m = grid.next[m]) {
          if (squared_distance(p, kept_positions + static_cast<size_t>(m) * 3) < limit) {
            best = m;
            break;
          }
        }
      }
    }
  }
  return best;
}

void file_in_grid(weld_grid& grid, const float* p, unsigned m) {
  int64_t key[3];
  cell_of(grid, p, key);
  weld_cell& cell = grid.cells[find_cell(grid, key)];
  grid.next[m] = no_vertex;
  if (cell.first == no_vertex) {
    std::memcpy(cell.key, key, sizeof key);
    cell.first = m;
  } else {
    grid.next[cell.last] = m;
  }
  cell.last = m;
}

unsigned search_all(const float* kept_positions, unsigned kept, const float* p, float limit) {
  for (unsigned m = 0; m < kept; ++m) {
    if (squared_distance(p, kept_positions + static_cast<size_t>(m) * 3) < limit) return m;
  }
  return no_vertex;
}

enum weld_search { WELD_NONE, WELD_GRID, WELD_ALL };

}  // namespace

void consolidate(mesh_record* mesh, float distance) {
  const unsigned old_count = mesh->vertex_count;
  const size_t corner_count = static_cast<size_t>(mesh->triangle_count) * 3;
  const size_t attribute_bytes = static_cast<size_t>(old_count) * 3 * sizeof(float);
  float* positions = static_cast<float*>(toolkit_allocate(attribute_bytes));
  float* normals = static_cast<float*>(toolkit_allocate(attribute_bytes));
  float* tangents = static_cast<float*>(toolkit_allocate(attribute_bytes));
  float* coordinates = static_cast<float*>(toolkit_allocate(attribute_bytes));
  unsigned* indices = static_cast<unsigned*>(toolkit_allocate(corner_count * sizeof(unsigned)));

  // Every corner of one old vertex ends in the same new vertex. With a
  // squared distance above zero this is what the search finds anyway (a
  // finite point is at distance 0 from itself, and kept vertices never move);
  // it also bounds the kept vertices by the old count when the squared
  // distance is 0 (a distance of 0, or one so small that its square rounds
  // to 0) or positions are not finite, cases in which no search succeeds.
  unsigned* new_index =
      static_cast<unsigned*>(toolkit_allocate(static_cast<size_t>(old_count) * sizeof(unsigned)));
  for (unsigned i = 0; i < old_count; ++i) new_index[i] = no_vertex;

  const float limit = distance * distance;
  weld_search search = WELD_NONE;
  weld_grid grid = {};
  if (limit > 0.0f && std::isfinite(limit)) {
    search = WELD_GRID;
    grid.inverse_width = 1.0 / (2.0 * std::fabs(static_cast<double>(distance)));
    for (size_t c = 0; c < corner_count && search == WELD_GRID; ++c) {
      const float* p = mesh->positions + static_cast<size_t>(mesh->indices[c]) * 3;
      // Points that are not finite never pass the test and are not filed.
      for (int a = 0; a < 3; ++a) {
        if (std::isfinite(p[a]) &&
            std::fabs(static_cast<double>(p[a]) * grid.inverse_width) >= largest_cell_coordinate) {
          search = WELD_ALL;
        }
      }
    }
  } else if (limit > 0.0f) {
    search = WELD_ALL;  // an infinite squared distance: cells would be infinitely wide
  }
  if (search == WELD_GRID) {
    size_t slots = 16;
    while (slots < static_cast<size_t>(old_count) * 2) slots *= 2;
    grid.cells = static_cast<weld_cell*>(toolkit_allocate(slots * sizeof(weld_cell)));
    for (size_t s = 0; s < slots; ++s) grid.cells[s].first = no_vertex;
    grid.mask = slots - 1;
    grid.next =
        static_cast<unsigned*>(toolkit_allocate(static_cast<size_t>(old_count) * sizeof(unsigned)));
  }

  unsigned kept = 0;
  for (size_t c = 0; c < corner_count; ++c) {
    const unsigned v = mesh->indices[c];
    if (new_index[v] == no_vertex) {
      const float* p = mesh->positions + static_cast<size_t>(v) * 3;
      unsigned m = no_vertex;
      if (search == WELD_GRID && is_finite_point(p)) {
        m = search_grid(grid, positions, p, limit);
      } else if (search == WELD_ALL) {
        m = search_all(positions, kept, p, limit);
      }
      if (m == no_vertex) {
        m = kept++;
        const size_t from = static_cast<size_t>(v) * 3;
        const size_t to = static_cast<size_t>(m) * 3;
        std::memcpy(positions + to, mesh->positions + from, 3 * sizeof(float));
        std::memcpy(normals + to, mesh->normals + from, 3 * sizeof(float));
        std::memcpy(tangents + to, mesh->tangents + from, 3 * sizeof(float));
        std::memcpy(coordinates + to, mesh->texture_coordinates + from, 3 * sizeof(float));
        if (search == WELD_GRID && is_finite_point(p)) file_in_grid(grid, p, m);
      }
      new_index[v] = m;
    }
    indices[c] = new_index[v];
  }

  if (search == WELD_GRID) {
    std::free(grid.cells);
    std::free(grid.next);
  }
  std::free(new_index);

  std::free(mesh->positions);
  std::free(mesh->normals);
  std::free(mesh->tangents);
  std::free(mesh->texture_coordinates);
  std::free(mesh->indices);
  mesh->vertex_count = kept;
  mesh->positions = positions;
  mesh->normals = normals;
  mesh->tangents = tangents;
  mesh->texture_coordinates = coordinates;
  mesh->indices = indices;
}

void free_mesh(mesh_record* mesh) {
  if (!mesh) return;
  gl_forget_mesh(mesh);
  std::free(mesh->positions);
  std::free(mesh->normals);
  std::free(mesh->tangents);
  std::free(mesh->texture_coordinates);
  std::free(mesh->indices);
  std::free(mesh);
}
