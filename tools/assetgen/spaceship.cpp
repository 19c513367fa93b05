// spaceship.cpp: the spaceship model, its colour texture and its normal map.
//
// The ship is a set of closed parts: a lofted fuselage with a flat rear bulkhead, a canopy,
// swept wings, twin fins, two wing-root engines and a central main engine, and a gun pod at
// each wing tip. The left-hand parts are mirror images of the right-hand ones and share their
// texture. Every part is one grid of rows of closed loops (poles close the ends), and has its
// own island in the texture atlas.
//
// The film draws the ship unlit, so the colour texture carries all of its shading. Each texel
// is baked from the surface it covers: the part's triangles are rasterized in texture space to
// find the texel's position, normal and material; a key light from above with its shadow, sky
// light with ambient occlusion (both from depth maps of the whole ship seen from many
// directions), panel lines, markings and the glow of the exhausts give its colour. The normal
// map is made from the same panel-line grooves.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstring>

#include "tools/assetgen/raster.h"

namespace {

enum material { HULL, BULKHEAD, GLASS, WING, FIN, ENGINE, NOZZLE, GLOW, POD };

constexpr int ATLAS_SIZE = 1024;
constexpr int GUTTER = 6;
constexpr float SHIP_LENGTH = 9.0f;

struct part {
  model geometry;                  // texture coordinates local to the part, in [0, 1]
  float width, height;             // size of the unrolled surface in model units
  int source = -1;                 // a mirrored part: the part whose island it shares
  int x = 0, y = 0, w = 0, h = 0;  // the island, in texels
};

// One row of a part: a closed loop of points (the first is not repeated) and the material of
// the band that starts at it.
struct row {
  std::vector<vec3> loop;
  int material;
};

// A part from its rows. Texture u runs around the loops, v along the rows, both in proportion
// to distance, so texels stay about square.
part make_part(const std::vector<row>& rows) {
  const int around = static_cast<int>(rows[0].loop.size());
  const int columns = around + 1;
  std::vector<float> v_of(rows.size(), 0.0f);
  float width = 0.0f;
  for (size_t r = 0; r < rows.size(); ++r) {
    float perimeter = 0.0f;
    for (int i = 0; i < around; ++i)
      perimeter += length(rows[r].loop[(i + 1) % around] - rows[r].loop[i]);
    width = std::max(width, perimeter);
    if (r > 0) {
      float step = 0.0f;
      for (int i = 0; i < around; ++i) step += length(rows[r].loop[i] - rows[r - 1].loop[i]);
      v_of[r] = v_of[r - 1] + step / around;
    }
  }
  const float height = v_of.back();
  std::vector<vertex> grid;
  std::vector<float> pv(around, 0.0f);
  for (size_t r = 0; r < rows.size(); ++r) {
    float pu = 0.0f;
    for (int i = 0; i < columns; ++i) {
      const int k = i % around;
      if (i > 0) pu += length(rows[r].loop[k] - rows[r].loop[i - 1]);
      if (r > 0 && i < around) pv[k] += length(rows[r].loop[k] - rows[r - 1].loop[k]);
      vertex v{};
      v.position = rows[r].loop[k];
      v.s = static_cast<float>(i) / around;
      v.t = height > 0.0f ? v_of[r] / height : 0.0f;
      v.material = rows[r].material;
      v.pu = pu;
      v.pv = pv[k];
      grid.push_back(v);
    }
  }
  part p;
  add_grid(p.geometry, grid, static_cast<int>(rows.size()), columns);
  if (signed_volume(p.geometry) < 0.0) flip_winding(p.geometry);
  smooth_normals(p.geometry);
  // The first and last columns are the same places: give them one normal.
  std::vector<vertex>& vs = p.geometry.vertices;
  for (size_t r = 0; r < rows.size(); ++r) {
    vertex &first = vs[r * columns], &last = vs[r * columns + around];
    first.normal = last.normal = normalize(first.normal + last.normal);
  }
  p.width = width;
  p.height = height;
  return p;
}

part mirrored(const part& source, int source_number) {
  part p = source;
  for (vertex& v : p.geometry.vertices) v.position.x = -v.position.x;
  flip_winding(p.geometry);
  p.source = source_number;
  return p;
}

// Rows that shrink a loop to its centre in its own plane: a flat end with a pole.
void add_flat_end(std::vector<row>* rows, const std::vector<vec3>& loop, int material,
                  bool closing) {
  vec3 centre{0.0f, 0.0f, 0.0f};
  for (const vec3& p : loop) centre = centre + p;
  centre = centre * (1.0f / loop.size());
  const float scales[] = {1.0f, 0.72f, 0.45f, 0.2f, 0.0f};
  std::vector<row> end;
  for (float k : scales) {
    row r{loop, material};
    for (vec3& p : r.loop)
      if (k != 1.0f) p = k == 0.0f ? centre : centre + (p - centre) * k;
    end.push_back(r);
  }
  if (closing)
    rows->insert(rows->end(), end.begin(), end.end());
  else
    rows->insert(rows->begin(), end.rbegin(), end.rend());
}

float signed_power(float x, float e) {
  return std::copysign(std::pow(std::fabs(x), e), x);
}

// Fuselage: rounded-box sections from the pointed nose at z = -4.5 to the bulkhead at 2.9.
constexpr float NOSE_Z = -4.5f, REAR_Z = 2.9f;

struct section {
  float half_width, top, bottom, centre;
};

section fuselage_section(float s) {
  const float nose = std::pow(std::sin(std::min(s / 0.55f, 1.0f) * PI * 0.5f), 0.75f);
  const float tail = 1.0f - 0.18f * smoothstep(0.7f, 1.0f, s);
  const float hump = 0.07f * std::exp(-std::pow((s - 0.55f) / 0.18f, 2.0f));
  return {0.78f * nose * tail, (0.5f * std::pow(nose, 1.3f) + hump * nose) * tail,
          0.4f * nose * tail, -0.15f * (1.0f - nose)};
}

part make_fuselage() {
  constexpr int around = 64, along = 44;
  std::vector<float> cosines(around), sines(around);
  for (int i = 0; i < around; ++i) {
    const float angle = 2.0f * PI * i / around;
    cosines[i] = std::cos(angle);
    sines[i] = std::sin(angle);
  }
  std::vector<row> rows;
  for (int j = 0; j <= along; ++j) {
    const float s = std::pow(static_cast<float>(j) / along, 1.15f);
    const section c = fuselage_section(s);
    row r{std::vector<vec3>(around), HULL};
    for (int i = 0; i < around; ++i) {
      const float x = c.half_width * signed_power(cosines[i], 2.0f / 2.6f);
      const float y = signed_power(sines[i], 2.0f / 2.6f) * (sines[i] >= 0.0f ? c.top : c.bottom);
      r.loop[i] = {x, c.centre + y, NOSE_Z + s * (REAR_Z - NOSE_Z)};
    }
    rows.push_back(r);
  }
  add_flat_end(&rows, rows.back().loop, BULKHEAD, true);
  return make_part(rows);
}

// A profile point of a turned part: distance along the axis, radius, the material of the band
// that follows, and whether the surface bends sharply there.
struct turn_point {
  float z, r;
  int material;
  bool sharp;
};

// A surface of revolution about an axis parallel to z through (cx, cy); sections may be
// stretched into ellipses by sx and sy. The profile starts and ends on the axis.
part make_turned(const std::vector<turn_point>& profile, float cx, float cy, float sx, float sy,
                 int around) {
  std::vector<row> rows;
  auto add_row = [&](float z, float r, int material) {
    row w{std::vector<vec3>(around), material};
    for (int i = 0; i < around; ++i) {
      const float angle = 2.0f * PI * i / around;
      w.loop[i] = r == 0.0f ? vec3{cx, cy, z}
                            : vec3{cx + sx * r * std::cos(angle), cy + sy * r * std::sin(angle), z};
    }
    rows.push_back(w);
  };
  for (size_t k = 0; k + 1 < profile.size(); ++k) {
    const turn_point a = profile[k], b = profile[k + 1];
    const int pieces =
        std::max(1, static_cast<int>(std::ceil(std::hypot(b.z - a.z, b.r - a.r) / 0.12f)));
    for (int i = 0; i < pieces; ++i) {
      const float f = static_cast<float>(i) / pieces;
      // A sharp point starts a new band with its own copy of the row, so shading breaks there.
      if (i == 0 && k > 0 && a.sharp) add_row(a.z, a.r, profile[k - 1].material);
      add_row(a.z + (b.z - a.z) * f, a.r + (b.r - a.r) * f, a.material);
    }
  }
  add_row(profile.back().z, profile.back().r, profile.back().material);
  return make_part(rows);
}

// Half thickness of a symmetric wing section at chord position c, for a thickness of 1.
float airfoil(float c) {
  return 5.0f * (0.2969f * std::sqrt(c) - 0.126f * c - 0.3516f * c * c + 0.2843f * c * c * c -
                 0.1015f * c * c * c * c);
}

// A wing or fin from its root to its tip: leading-edge points, chords (along +z), thicknesses,
// and the direction the thickness is measured in at the root.
part make_wing(vec3 root, float root_chord, float root_thickness, vec3 tip, float tip_chord,
               float tip_thickness, int material) {
  constexpr int chord_points = 16, spans = 10;
  vec3 span = tip - root;
  span.z = 0.0f;
  const vec3 up = normalize(cross(vec3{0.0f, 0.0f, 1.0f}, span));
  std::vector<row> rows;
  for (int j = 0; j <= spans; ++j) {
    const float f = static_cast<float>(j) / spans;
    const vec3 edge = lerp(root, tip, f);
    const float chord = root_chord + (tip_chord - root_chord) * f;
    const float thickness = root_thickness + (tip_thickness - root_thickness) * f;
    row r{{}, material};
    for (int side = 0; side < 2; ++side) {
      for (int k = 0; k <= chord_points; ++k) {
        const int n = side == 0 ? k : chord_points - k;
        if (side == 1 && n == 0) break;
        const float c = 0.5f - 0.5f * std::cos(PI * n / chord_points);
        const float half = thickness * airfoil(c) * (side == 0 ? 1.0f : -1.0f);
        r.loop.push_back(edge + vec3{0.0f, 0.0f, c * chord} + up * half);
      }
    }
    rows.push_back(r);
  }
  const std::vector<vec3> root_loop = rows.front().loop, tip_loop = rows.back().loop;
  add_flat_end(&rows, root_loop, material, false);
  add_flat_end(&rows, tip_loop, material, true);
  part p = make_part(rows);
  // Panel coordinates along the span and along the chord, so panels and bands run straight.
  const vec3 outwards = normalize(span);
  for (vertex& v : p.geometry.vertices) {
    v.pu = v.position.z;
    v.pv = dot(v.position - root, outwards);
  }
  return p;
}

std::vector<part> build_parts() {
  std::vector<part> parts;
  parts.push_back(make_fuselage());
  // Canopy: a teardrop bubble half sunk into the top of the nose.
  {
    std::vector<turn_point> profile;
    constexpr int steps = 14;
    for (int i = 0; i <= steps; ++i) {
      const float w = static_cast<float>(i) / steps;
      const float r =
          i == 0 || i == steps ? 0.0f : 0.3f * std::pow(std::sin(PI * w), 0.6f) * (1.0f - 0.3f * w);
      profile.push_back({-3.25f + 2.4f * w, r, GLASS, false});
    }
    parts.push_back(make_turned(profile, 0.0f, 0.27f, 0.85f, 1.0f, 40));
  }
  parts.push_back(
      make_wing({0.55f, -0.12f, -0.7f}, 3.5f, 0.2f, {3.5f, -0.3f, 1.9f}, 1.0f, 0.07f, WING));
  parts.push_back(
      make_wing({0.42f, 0.3f, 1.2f}, 1.7f, 0.11f, {0.88f, 1.5f, 2.35f}, 0.65f, 0.05f, FIN));
  // Wing-root engine: intake cone, intake lip, body, nozzle lip, glowing nozzle.
  parts.push_back(make_turned({{0.05f, 0.0f, NOZZLE, false},
                               {0.22f, 0.12f, NOZZLE, false},
                               {0.34f, 0.17f, NOZZLE, true},
                               {0.2f, 0.25f, ENGINE, true},
                               {0.3f, 0.31f, ENGINE, false},
                               {3.0f, 0.31f, ENGINE, false},
                               {3.25f, 0.28f, ENGINE, false},
                               {3.5f, 0.26f, ENGINE, true},
                               {3.5f, 0.215f, GLOW, true},
                               {3.28f, 0.185f, GLOW, true},
                               {3.22f, 0.08f, GLOW, false},
                               {3.24f, 0.0f, GLOW, false}},
                              1.12f, -0.1f, 1.0f, 1.0f, 40));
  // Main engine at the back of the fuselage.
  parts.push_back(make_turned({{2.0f, 0.0f, ENGINE, false},
                               {2.0f, 0.42f, ENGINE, true},
                               {3.3f, 0.43f, ENGINE, false},
                               {3.45f, 0.41f, ENGINE, false},
                               {3.62f, 0.38f, ENGINE, true},
                               {3.62f, 0.32f, GLOW, true},
                               {3.36f, 0.28f, GLOW, true},
                               {3.3f, 0.12f, GLOW, false},
                               {3.33f, 0.0f, GLOW, false}},
                              0.0f, -0.02f, 1.0f, 1.0f, 48));
  // Gun pod at the wing tip.
  parts.push_back(make_turned({{0.8f, 0.0f, POD, false},
                               {1.3f, 0.07f, POD, false},
                               {1.5f, 0.09f, POD, true},
                               {3.1f, 0.09f, POD, false},
                               {3.3f, 0.065f, POD, true},
                               {3.3f, 0.0f, POD, false}},
                              3.55f, -0.3f, 1.0f, 1.0f, 24));
  // Mirror images of the wing, fin, engine and pod.
  const int right_side_parts[] = {2, 3, 4, 6};
  for (int k : right_side_parts) parts.push_back(mirrored(parts[k], k));
  return parts;
}

// Moves and scales the model so that the ship is SHIP_LENGTH long and centred on the origin.
void centre_and_scale(model* ship) {
  vec3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
  for (const vertex& v : ship->vertices) {
    low = {std::min(low.x, v.position.x), std::min(low.y, v.position.y),
           std::min(low.z, v.position.z)};
    high = {std::max(high.x, v.position.x), std::max(high.y, v.position.y),
            std::max(high.z, v.position.z)};
  }
  const vec3 centre = (low + high) * 0.5f;
  const float k = SHIP_LENGTH / (high.z - low.z);
  for (vertex& v : ship->vertices) v.position = (v.position - centre) * k;
}

// Packs the islands at a density of texels per model unit; false if they overflow.
bool pack(std::vector<part>* parts, float density) {
  std::vector<int> order;
  for (size_t i = 0; i < parts->size(); ++i)
    if ((*parts)[i].source < 0) order.push_back(static_cast<int>(i));
  for (int i : order) {
    part& p = (*parts)[i];
    p.w = static_cast<int>(std::ceil(p.width * density)) + 2 * GUTTER;
    p.h = static_cast<int>(std::ceil(p.height * density)) + 2 * GUTTER;
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return (*parts)[a].h > (*parts)[b].h; });
  // Each island goes where the skyline of those placed before leaves it highest.
  std::vector<int> skyline(ATLAS_SIZE, 0);
  for (int i : order) {
    part& p = (*parts)[i];
    if (p.w > ATLAS_SIZE) return false;
    int best_x = -1, best_y = ATLAS_SIZE;
    for (int x = 0; x + p.w <= ATLAS_SIZE; ++x) {
      const int y = *std::max_element(skyline.begin() + x, skyline.begin() + x + p.w);
      if (y < best_y) {
        best_y = y;
        best_x = x;
      }
    }
    if (best_x < 0 || best_y + p.h > ATLAS_SIZE) return false;
    p.x = best_x;
    p.y = best_y;
    std::fill(skyline.begin() + best_x, skyline.begin() + best_x + p.w, best_y + p.h);
  }
  for (part& p : *parts)
    if (p.source >= 0) {
      const part& s = (*parts)[p.source];
      p.x = s.x;
      p.y = s.y;
      p.w = s.w;
      p.h = s.h;
    }
  return true;
}

// Turns each part's local texture coordinates into atlas coordinates (t = 0 at the bottom).
void place_in_atlas(std::vector<part>* parts) {
  for (part& p : *parts)
    for (vertex& v : p.geometry.vertices) {
      const float tx = p.x + GUTTER + v.s * (p.w - 2 * GUTTER);
      const float ty = p.y + GUTTER + v.t * (p.h - 2 * GUTTER);
      v.s = tx / ATLAS_SIZE;
      v.t = 1.0f - ty / ATLAS_SIZE;
    }
}

// ---------------------------------------------------------------------------
// Depth maps of the whole ship, for occlusion and shadows.

struct depth_map {
  mat4 view_projection;
  canvas target;
};

constexpr float SHIP_RADIUS = 5.2f;

depth_map make_depth_map(const model& ship, vec3 direction, int size) {
  depth_map map;
  const vec3 d = normalize(direction);
  const vec3 up = std::fabs(d.y) > 0.9f ? vec3{0.0f, 0.0f, 1.0f} : vec3{0.0f, 1.0f, 0.0f};
  map.view_projection = multiply(orthographic(SHIP_RADIUS, SHIP_RADIUS, 0.0f, 2.0f * SHIP_RADIUS),
                                 look_at(d * SHIP_RADIUS, vec3{0.0f, 0.0f, 0.0f}, up));
  map.target = make_canvas(size, size, vec3{0.0f, 0.0f, 0.0f});
  for (size_t i = 0; i + 2 < ship.indices.size(); i += 3) {
    vec4 corner[3];
    for (int k = 0; k < 3; ++k) {
      const vec3 p = ship.vertices[ship.indices[i + k]].position;
      corner[k] = transform(map.view_projection, vec4{p.x, p.y, p.z, 1.0f});
    }
    draw_triangle(map.target, corner, false, [](float, float, float) {
      return vec3{0.0f, 0.0f, 0.0f};
    });
  }
  return map;
}

// 1 where the point sees out along the map's direction, 0 where the ship hides it.
float lit_in(const depth_map& map, vec3 p) {
  const vec4 q = transform(map.view_projection, vec4{p.x, p.y, p.z, 1.0f});
  const int x = static_cast<int>((q.x * 0.5f + 0.5f) * map.target.width);
  const int y = static_cast<int>((0.5f - q.y * 0.5f) * map.target.height);
  if (x < 0 || y < 0 || x >= map.target.width || y >= map.target.height) return 1.0f;
  const float bias = 0.012f;
  return q.z <= map.target.depth[static_cast<size_t>(y) * map.target.width + x] + bias ? 1.0f
                                                                                       : 0.0f;
}

// ---------------------------------------------------------------------------
// Markings: a registration painted on the flanks, rendered with FreeType.

struct mask {
  int width = 0, height = 0;
  std::vector<float> coverage;
  float at(float u, float v) const {  // u, v in [0, 1], v upwards
    const int x = static_cast<int>(u * width), y = static_cast<int>((1.0f - v) * height);
    if (u < 0.0f || v < 0.0f || x < 0 || y < 0 || x >= width || y >= height) return 0.0f;
    return coverage[static_cast<size_t>(y) * width + x];
  }
};

mask render_marking(const char* font_path, const char* text) {
  mask m;
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0) return m;
  if (FT_New_Face(library, font_path, 0, &face) != 0) {
    FT_Done_FreeType(library);
    return m;
  }
  constexpr int pixels = 96;
  FT_Set_Pixel_Sizes(face, 0, pixels);
  const int room = pixels * static_cast<int>(std::strlen(text));
  std::vector<float> coverage(static_cast<size_t>(room) * pixels, 0.0f);
  int pen = 0;
  const int baseline = pixels * 80 / 100;
  for (const char* p = text; *p; ++p) {
    if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_RENDER) != 0) continue;
    const FT_Bitmap& b = face->glyph->bitmap;
    for (unsigned y = 0; y < b.rows; ++y)
      for (unsigned x = 0; x < b.width; ++x) {
        const int tx = pen + face->glyph->bitmap_left + static_cast<int>(x);
        const int ty = baseline - face->glyph->bitmap_top + static_cast<int>(y);
        if (tx < 0 || ty < 0 || tx >= room || ty >= pixels) continue;
        coverage[static_cast<size_t>(ty) * room + tx] = b.buffer[y * b.pitch + x] / 255.0f;
      }
    pen += static_cast<int>(face->glyph->advance.x >> 6);
  }
  // Keep the columns the text used.
  m.width = std::max(1, std::min(pen, room));
  m.height = pixels;
  for (int y = 0; y < m.height; ++y)
    for (int x = 0; x < m.width; ++x)
      m.coverage.push_back(coverage[static_cast<size_t>(y) * room + x]);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return m;
}

// ---------------------------------------------------------------------------
// The bake.

struct texel {
  bool covered = false;
  vec3 position, normal;
  int material = 0;
  float pu = 0.0f, pv = 0.0f;
};

// Distance to the nearest multiple of spacing (offset by shift).
float line_distance(float x, float spacing, float shift) {
  const float k = (x - shift) / spacing;
  return std::fabs(k - std::round(k)) * spacing;
}

// Depth of the panel-line grooves at a texel: 0 on a panel, down to -1 in a groove.
float groove(const texel& t) {
  constexpr float width = 0.022f;
  float d = 1e9f;
  switch (t.material) {
    case HULL: {
      const float ring = line_distance(t.pv, 0.95f, 0.3f);
      const int strip = static_cast<int>(std::floor(t.pu / 0.62f));
      const float seam = line_distance(t.pu, 0.62f, 0.0f);
      const float stagger = line_distance(t.pv, 0.95f, 0.3f + 0.47f * (strip & 1));
      d = std::min(ring, std::min(seam, stagger + (strip & 1 ? 0.0f : 1e9f)));
      break;
    }
    case WING:
    case FIN:
      d = std::min(line_distance(t.pv, 0.55f, 0.2f), line_distance(t.pu, 0.7f, 0.1f));
      break;
    case ENGINE:
      d = std::min(line_distance(t.pv, 0.42f, 0.0f), line_distance(t.pu, 0.3f, 0.0f));
      break;
    case POD:
      d = line_distance(t.pv, 0.35f, 0.0f);
      break;
    case GLASS:
      d = std::min(line_distance(t.pv, 0.7f, 0.35f), std::fabs(t.position.x));
      break;
    case BULKHEAD:
      d = line_distance(t.pv, 0.22f, 0.0f);
      break;
    default:
      return 0.0f;
  }
  return -(1.0f - smoothstep(width * 0.35f, width, d));
}

vec3 mix3(vec3 a, vec3 b, float k) {
  return a + (b - a) * k;
}

struct bake_inputs {
  std::vector<depth_map> sky;  // directions over the whole sphere
  depth_map key;
  vec3 key_direction;
  mask registration;
};

vec3 shade(const texel& t, const bake_inputs& in, float panel) {
  const vec3 n = normalize(t.normal);
  if (t.material == GLOW) {
    // The nozzles glow white-hot at the core, which faces straight back, and blue on the walls.
    return mix3(vec3{0.2f, 0.5f, 1.0f}, vec3{0.92f, 0.98f, 1.0f}, smoothstep(0.4f, 0.95f, n.z));
  }
  vec3 albedo;
  const float underside = smoothstep(0.1f, -0.45f, n.y);
  switch (t.material) {
    case HULL: {
      albedo = mix3(vec3{0.82f, 0.83f, 0.84f}, vec3{0.34f, 0.38f, 0.45f}, underside);
      // An orange stripe along each flank and a dark anti-glare panel ahead of the canopy.
      const float stripe = smoothstep(0.05f, 0.03f, std::fabs(t.position.y + 0.05f)) *
                           smoothstep(0.3f, 0.6f, std::fabs(n.x));
      albedo = mix3(albedo, vec3{0.95f, 0.42f, 0.08f}, stripe);
      const float glare = smoothstep(0.6f, 0.8f, n.y) * smoothstep(-4.3f, -4.0f, t.position.z) *
                          (1.0f - smoothstep(-3.9f, -3.75f, t.position.z));
      albedo = mix3(albedo, vec3{0.12f, 0.13f, 0.15f}, glare);
      // The registration on both flanks, reading from tail to nose on the right-hand side.
      if (std::fabs(n.x) > 0.5f && in.registration.width > 0) {
        const float text_height = 0.34f,
                    text_length = text_height * in.registration.width / in.registration.height;
        const float start = -1.05f;
        const float along =
            t.position.x > 0.0f ? (start - t.position.z) : (t.position.z - (start - text_length));
        const float ink =
            in.registration.at(along / text_length, (t.position.y - 0.1f) / text_height);
        albedo = mix3(albedo, vec3{0.1f, 0.11f, 0.13f}, ink);
      }
      break;
    }
    case BULKHEAD:
      albedo = vec3{0.22f, 0.23f, 0.25f};
      break;
    case GLASS: {
      const float sky = smoothstep(-0.1f, 0.9f, n.y);
      const vec3 glass = mix3(vec3{0.03f, 0.05f, 0.09f}, vec3{0.3f, 0.42f, 0.55f}, sky * 0.8f);
      const float streak = smoothstep(0.06f, 0.0f, std::fabs(n.x + 0.35f - 0.3f * n.z));
      return mix3(glass, vec3{0.85f, 0.92f, 1.0f}, streak * 0.7f) *
             (0.55f + 0.45f * (1.0f + panel));
    }
    case WING:
    case FIN: {
      albedo = mix3(vec3{0.76f, 0.77f, 0.79f}, vec3{0.32f, 0.36f, 0.42f}, underside);
      // An orange band with a white pinstripe across the outer end.
      const float start = t.material == WING ? 2.55f : 1.0f;
      const float band = smoothstep(start, start + 0.02f, t.pv);
      const float pinstripe = smoothstep(0.035f, 0.02f, std::fabs(t.pv - start - 0.12f));
      albedo = mix3(albedo, vec3{0.95f, 0.42f, 0.08f}, band);
      albedo = mix3(albedo, vec3{0.92f, 0.92f, 0.9f}, pinstripe);
      break;
    }
    case ENGINE: {
      albedo = vec3{0.36f, 0.37f, 0.4f};
      // Heat tint towards the nozzle.
      const float heat = smoothstep(2.6f, 3.6f, t.position.z);
      albedo = mix3(albedo, vec3{0.32f, 0.26f, 0.34f}, heat);
      break;
    }
    case NOZZLE:
      albedo = vec3{0.1f, 0.1f, 0.11f};
      break;
    case POD:
      albedo = vec3{0.3f, 0.31f, 0.33f};
      if (t.position.z < -0.95f) albedo = vec3{0.85f, 0.2f, 0.1f};
      break;
    default:
      albedo = vec3{1.0f, 0.0f, 1.0f};
  }
  const vec3 lift = n * 0.03f;
  float occlusion = 0.0f, weight = 0.0f;
  for (const depth_map& map : in.sky) {
    const vec3 d = normalize(
        vec3{-map.view_projection.m[2], -map.view_projection.m[6], -map.view_projection.m[10]});
    const float c = dot(n, d);
    if (c <= 0.0f) continue;
    occlusion += c * lit_in(map, t.position + lift);
    weight += c;
  }
  const float ao = weight > 0.0f ? occlusion / weight : 1.0f;
  const float sun = std::max(0.0f, dot(n, in.key_direction)) * lit_in(in.key, t.position + lift);
  const float sky_light = 0.55f + 0.45f * (n.y * 0.5f + 0.5f);
  const float light = 0.5f * sky_light * (0.35f + 0.65f * ao) + 0.7f * sun;
  return albedo * light * (1.0f + 0.45f * panel);
}

// Copies covered texels into uncovered neighbours, so filtering near island edges and at lower
// mipmap levels never picks up the colour of empty texture.
template <class T>
void spread(std::vector<T>* values, std::vector<bool>* covered, int size, int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<T> next = *values;
    std::vector<bool> now = *covered;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const size_t i = static_cast<size_t>(y) * size + x;
        if ((*covered)[i]) continue;
        const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
        for (int k = 0; k < 4; ++k) {
          const int nx = x + dx[k], ny = y + dy[k];
          if (nx < 0 || ny < 0 || nx >= size || ny >= size) continue;
          const size_t j = static_cast<size_t>(ny) * size + nx;
          if ((*covered)[j]) {
            next[i] = (*values)[j];
            now[i] = true;
            break;
          }
        }
      }
    *values = next;
    *covered = now;
  }
}

}  // namespace

bool make_spaceship(const char* font_path, model* ship, image* colour, image* normals) {
  std::vector<part> parts = build_parts();
  float density = 160.0f;
  while (!pack(&parts, density)) density *= 0.95f;
  place_in_atlas(&parts);
  *ship = model{};
  for (const part& p : parts) append(*ship, p.geometry);

  bake_inputs in;
  in.key_direction = normalize(vec3{0.0f, 1.0f, 0.3f});
  in.key = make_depth_map(*ship, in.key_direction, 1024);
  constexpr int sky_directions = 48;
  for (int i = 0; i < sky_directions; ++i) {
    // Directions spread evenly over the sphere (a Fibonacci spiral).
    const float y = 1.0f - 2.0f * (i + 0.5f) / sky_directions, r = std::sqrt(1.0f - y * y);
    const float angle = i * 2.39996323f;
    in.sky.push_back(make_depth_map(*ship, vec3{r * std::cos(angle), y, r * std::sin(angle)}, 384));
  }
  in.registration = render_marking(font_path, "KX-07");

  // Rasterize every baked part in texture space.
  const int size = ATLAS_SIZE;
  std::vector<texel> texels(static_cast<size_t>(size) * size);
  for (const part& p : parts) {
    if (p.source >= 0) continue;
    const model& g = p.geometry;
    for (size_t i = 0; i + 2 < g.indices.size(); i += 3) {
      const vertex* v[3] = {&g.vertices[g.indices[i]], &g.vertices[g.indices[i + 1]],
                            &g.vertices[g.indices[i + 2]]};
      float corner[3][2];
      for (int k = 0; k < 3; ++k) {
        corner[k][0] = v[k]->s * size;
        corner[k][1] = (1.0f - v[k]->t) * size;
      }
      fill_triangle(size, size, corner[0], corner[1], corner[2],
                    [&](int x, int y, float w0, float w1, float w2) {
                      texel& t = texels[static_cast<size_t>(y) * size + x];
                      if (t.covered) return;
                      t.covered = true;
                      t.position = v[0]->position * w0 + v[1]->position * w1 + v[2]->position * w2;
                      t.normal = v[0]->normal * w0 + v[1]->normal * w1 + v[2]->normal * w2;
                      t.material = v[0]->material;
                      t.pu = v[0]->pu * w0 + v[1]->pu * w1 + v[2]->pu * w2;
                      t.pv = v[0]->pv * w0 + v[1]->pv * w1 + v[2]->pv * w2;
                    });
    }
  }

  std::vector<float> heights(texels.size(), 0.0f);
  std::vector<vec3> colours(texels.size(), vec3{0.5f, 0.5f, 0.5f});
  std::vector<bool> covered(texels.size(), false);
  for (size_t i = 0; i < texels.size(); ++i) {
    if (!texels[i].covered) continue;
    covered[i] = true;
    heights[i] = groove(texels[i]);
    colours[i] = shade(texels[i], in, heights[i]);
  }
  std::vector<bool> height_covered = covered;
  spread(&colours, &covered, size, GUTTER + 2);
  spread(&heights, &height_covered, size, GUTTER + 2);

  *colour = make_image(size, size, 4);
  *normals = make_image(size, size, 3);
  auto height_at = [&](int x, int y) {
    x = std::min(std::max(x, 0), size - 1);
    y = std::min(std::max(y, 0), size - 1);
    return heights[static_cast<size_t>(y) * size + x];
  };
  constexpr float strength = 1.2f;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const size_t i = static_cast<size_t>(y) * size + x;
      uint8_t* c = &colour->pixels[i * 4];
      c[0] = to_byte(colours[i].x);
      c[1] = to_byte(colours[i].y);
      c[2] = to_byte(colours[i].z);
      c[3] = 255;
      // Slopes along s and along t (t grows upwards, rows downwards).
      const float ds = (height_at(x + 1, y) - height_at(x - 1, y)) * 0.5f;
      const float dt = (height_at(x, y - 1) - height_at(x, y + 1)) * 0.5f;
      const vec3 n = normalize(vec3{-ds * strength, -dt * strength, 1.0f});
      uint8_t* q = &normals->pixels[i * 3];
      q[0] = to_byte(n.x * 0.5f + 0.5f);
      q[1] = to_byte(n.y * 0.5f + 0.5f);
      q[2] = to_byte(n.z * 0.5f + 0.5f);
    }
  centre_and_scale(ship);
  return true;
}
