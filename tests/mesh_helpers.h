// mesh_helpers.h: building and copying mesh records in tests and benchmarks
// (the toolkit's free_mesh frees them), and a welding reference that
// searches every kept vertex.
#pragma once

#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/toolkit.h"

// A record with room for the given counts, every attribute float set to
// `fill` (so tests can see what a function overwrites).
inline mesh_record* new_mesh(unsigned vertex_count, unsigned triangle_count, float fill = 0.0f) {
  mesh_record* m = static_cast<mesh_record*>(std::malloc(sizeof(mesh_record)));
  const size_t floats = static_cast<size_t>(vertex_count) * 3;
  float** arrays[4] = {&m->positions, &m->normals, &m->tangents, &m->texture_coordinates};
  for (float** array : arrays) {
    *array = static_cast<float*>(std::malloc((floats ? floats : 1) * sizeof(float)));
    for (size_t i = 0; i < floats; ++i) (*array)[i] = fill;
  }
  const size_t corners = static_cast<size_t>(triangle_count) * 3;
  m->indices = static_cast<unsigned*>(std::malloc((corners ? corners : 1) * sizeof(unsigned)));
  m->vertex_count = vertex_count;
  m->triangle_count = triangle_count;
  return m;
}

// A record with the given positions (three floats per vertex) and indices;
// the other attributes are zero.
inline mesh_record* mesh_from(const std::vector<float>& positions,
                              const std::vector<unsigned>& indices) {
  mesh_record* m = new_mesh(static_cast<unsigned>(positions.size() / 3),
                            static_cast<unsigned>(indices.size() / 3));
  std::memcpy(m->positions, positions.data(), positions.size() * sizeof(float));
  std::memcpy(m->indices, indices.data(), indices.size() * sizeof(unsigned));
  return m;
}

inline mesh_record* copy_mesh(const mesh_record* from) {
  mesh_record* m = new_mesh(from->vertex_count, from->triangle_count);
  const size_t bytes = static_cast<size_t>(from->vertex_count) * 3 * sizeof(float);
  std::memcpy(m->positions, from->positions, bytes);
  std::memcpy(m->normals, from->normals, bytes);
  std::memcpy(m->tangents, from->tangents, bytes);
  std::memcpy(m->texture_coordinates, from->texture_coordinates, bytes);
  std::memcpy(m->indices, from->indices, static_cast<size_t>(from->triangle_count) * 3 * 4);
  return m;
}

inline std::vector<float> floats_of(const float* array, unsigned vertex_count) {
  return std::vector<float>(array, array + static_cast<size_t>(vertex_count) * 3);
}

inline std::vector<unsigned> indices_of(const mesh_record* m) {
  return std::vector<unsigned>(m->indices, m->indices + static_cast<size_t>(m->triangle_count) * 3);
}

// Welds by comparing every corner with every vertex kept so far, first match
// wins. The new arrays have room for one vertex per corner, so this also runs
// where the kept vertices would outnumber the old ones.
inline void consolidate_by_full_search(mesh_record* m, float distance) {
  const size_t corners = static_cast<size_t>(m->triangle_count) * 3;
  const size_t room = corners > m->vertex_count ? corners : m->vertex_count;
  float* attributes[4];
  for (float*& array : attributes)
    array = static_cast<float*>(std::malloc((room ? room : 1) * 3 * sizeof(float)));
  const float* old_attributes[4] = {m->positions, m->normals, m->tangents, m->texture_coordinates};
  unsigned* indices =
      static_cast<unsigned*>(std::malloc((corners ? corners : 1) * sizeof(unsigned)));
  const float limit = distance * distance;
  unsigned kept = 0;
  for (size_t c = 0; c < corners; ++c) {
    const float* v = m->positions + static_cast<size_t>(m->indices[c]) * 3;
    unsigned found = kept;
    for (unsigned k = 0; k < kept; ++k) {
      const float* p = attributes[0] + static_cast<size_t>(k) * 3;
      const float dx = v[0] - p[0];
      const float dy = v[1] - p[1];
      const float dz = v[2] - p[2];
      if (dx * dx + dy * dy + dz * dz < limit) {
        found = k;
        break;
      }
    }
    if (found == kept) {
      for (int a = 0; a < 4; ++a) {
        std::memcpy(attributes[a] + static_cast<size_t>(kept) * 3,
                    old_attributes[a] + static_cast<size_t>(m->indices[c]) * 3, 3 * sizeof(float));
      }
      ++kept;
    }
    indices[c] = found;
  }
  std::free(m->positions);
  std::free(m->normals);
  std::free(m->tangents);
  std::free(m->texture_coordinates);
  std::free(m->indices);
  m->positions = attributes[0];
  m->normals = attributes[1];
  m->tangents = attributes[2];
  m->texture_coordinates = attributes[3];
  m->indices = indices;
  m->vertex_count = kept;
}

// A grid of width x height cells connected as generated grids are (vertex
// y * (width + 1) + x, column by column), with positions (x, height, y) from
// the given heights and texture coordinates (x / width, y / height, 0).
inline mesh_record* grid_mesh(unsigned width, unsigned height, const std::vector<float>& heights) {
  const unsigned w = width + 1;
  mesh_record* m = new_mesh(w * (height + 1), 2 * width * height);
  for (unsigned y = 0; y <= height; ++y) {
    for (unsigned x = 0; x <= width; ++x) {
      const size_t v = static_cast<size_t>(y) * w + x;
      m->positions[v * 3 + 0] = static_cast<float>(x);
      m->positions[v * 3 + 1] = heights[v % heights.size()];
      m->positions[v * 3 + 2] = static_cast<float>(y);
      m->texture_coordinates[v * 3 + 0] = static_cast<float>(x) / width;
      m->texture_coordinates[v * 3 + 1] = static_cast<float>(y) / height;
    }
  }
  unsigned* index = m->indices;
  for (unsigned x = 0; x < width; ++x) {
    for (unsigned y = 0; y < height; ++y) {
      const unsigned b = y * w + x;
      const unsigned corners[6] = {b + w, b + w + 1, b + 1, b + w, b + 1, b};
      std::memcpy(index, corners, sizeof corners);
      index += 6;
    }
  }
  return m;
}
