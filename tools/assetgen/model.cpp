// model.cpp: the triangle-model record, grids of quads, and the OBJ writer.
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "tools/assetgen/assetgen.h"

uint32_t add_vertex(model& m, const vertex& v) {
  vertex copy = v;
  // -0 and +0 print differently; keep one of them so equal places stay equal in the file.
  copy.position = copy.position + vec3{0.0f, 0.0f, 0.0f};
  m.vertices.push_back(copy);
  return static_cast<uint32_t>(m.vertices.size() - 1);
}

void add_triangle(model& m, uint32_t a, uint32_t b, uint32_t c) {
  m.indices.push_back(a);
  m.indices.push_back(b);
  m.indices.push_back(c);
}

void append(model& m, const model& part) {
  const uint32_t base = static_cast<uint32_t>(m.vertices.size());
  m.vertices.insert(m.vertices.end(), part.vertices.begin(), part.vertices.end());
  for (uint32_t index : part.indices) m.indices.push_back(base + index);
}

static bool same_place(vec3 a, vec3 b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

static void add_unless_degenerate(model& m, uint32_t a, uint32_t b, uint32_t c) {
  const vec3 pa = m.vertices[a].position, pb = m.vertices[b].position, pc = m.vertices[c].position;
  if (same_place(pa, pb) || same_place(pb, pc) || same_place(pa, pc)) return;
  add_triangle(m, a, b, c);
}

void add_grid(model& m, const std::vector<vertex>& grid, int rows, int columns) {
  const uint32_t base = static_cast<uint32_t>(m.vertices.size());
  for (const vertex& v : grid) add_vertex(m, v);
  for (int r = 0; r + 1 < rows; ++r) {
    for (int c = 0; c + 1 < columns; ++c) {
      const uint32_t a = base + r * columns + c, b = a + 1, d = a + columns, e = d + 1;
      add_unless_degenerate(m, a, b, e);
      add_unless_degenerate(m, a, e, d);
    }
  }
}

void flip_winding(model& m) {
  for (size_t i = 0; i + 2 < m.indices.size(); i += 3)
    std::swap(m.indices[i + 1], m.indices[i + 2]);
}

double signed_volume(const model& m) {
  double volume = 0.0;
  for (size_t i = 0; i + 2 < m.indices.size(); i += 3) {
    const vec3 a = m.vertices[m.indices[i]].position, b = m.vertices[m.indices[i + 1]].position,
               c = m.vertices[m.indices[i + 2]].position;
    volume += (static_cast<double>(a.x) *
                   (static_cast<double>(b.y) * c.z - static_cast<double>(b.z) * c.y) +
               static_cast<double>(a.y) *
                   (static_cast<double>(b.z) * c.x - static_cast<double>(b.x) * c.z) +
               static_cast<double>(a.z) *
                   (static_cast<double>(b.x) * c.y - static_cast<double>(b.y) * c.x)) /
              6.0;
  }
  return volume;
}

void smooth_normals(model& m) {
  std::vector<vec3> sums(m.vertices.size(), vec3{0.0f, 0.0f, 0.0f});
  for (size_t i = 0; i + 2 < m.indices.size(); i += 3) {
    const uint32_t a = m.indices[i], b = m.indices[i + 1], c = m.indices[i + 2];
    const vec3 n = cross(m.vertices[b].position - m.vertices[a].position,
                         m.vertices[c].position - m.vertices[a].position);
    sums[a] = sums[a] + n;
    sums[b] = sums[b] + n;
    sums[c] = sums[c] + n;
  }
  for (size_t i = 0; i < m.vertices.size(); ++i) m.vertices[i].normal = normalize(sums[i]);
}

// Keys that compare floats by their bits, so the order of the maps is fixed.
static uint32_t bits(float x) {
  uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

bool write_obj(const model& m, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    return false;
  }
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, int> position_numbers;
  std::map<std::pair<uint32_t, uint32_t>, int> coordinate_numbers;
  std::vector<int> position_of(m.vertices.size()), coordinate_of(m.vertices.size());
  std::string text;
  char line[128];
  for (size_t i = 0; i < m.vertices.size(); ++i) {
    const vec3 p = m.vertices[i].position;
    auto key = std::make_tuple(bits(p.x), bits(p.y), bits(p.z));
    auto found = position_numbers.find(key);
    if (found == position_numbers.end()) {
      const int number = static_cast<int>(position_numbers.size()) + 1;
      found = position_numbers.emplace(key, number).first;
      std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
      text += line;
    }
    position_of[i] = found->second;
  }
  for (size_t i = 0; i < m.vertices.size(); ++i) {
    const vertex& v = m.vertices[i];
    auto key = std::make_pair(bits(v.s + 0.0f), bits(v.t + 0.0f));
    auto found = coordinate_numbers.find(key);
    if (found == coordinate_numbers.end()) {
      const int number = static_cast<int>(coordinate_numbers.size()) + 1;
      found = coordinate_numbers.emplace(key, number).first;
      std::snprintf(line, sizeof line, "vt %.9g %.9g\n", v.s + 0.0f, v.t + 0.0f);
      text += line;
    }
    coordinate_of[i] = found->second;
  }
  for (size_t i = 0; i + 2 < m.indices.size(); i += 3) {
    const uint32_t a = m.indices[i], b = m.indices[i + 1], c = m.indices[i + 2];
    std::snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d\n", position_of[a], coordinate_of[a],
                  position_of[b], coordinate_of[b], position_of[c], coordinate_of[c]);
    text += line;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}
