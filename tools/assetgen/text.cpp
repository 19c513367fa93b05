// text.cpp: extruded text from TrueType glyph outlines.
//
// FreeType gives each glyph's outline as contours of lines and Bezier arcs; the arcs are
// flattened into polygons, GLU's tessellator cuts each glyph's polygons (holes included) into
// the triangles of the front and back faces, and a wall of quads joins the two faces along
// every contour. Walls are smooth along flattened curves and split at sharp corners.
#include <GL/glu.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cstdio>
#include <deque>

#include "tools/assetgen/assetgen.h"

namespace {

struct point {
  double x, y;
};
using contour = std::vector<point>;

// Allowed distance between a flattened arc and the true curve, in font units (of 2048 per em).
constexpr double FLATNESS = 1.0;

struct outline_walk {
  std::vector<contour> contours;
  point pen;
};

point to_point(const FT_Vector* v) {
  return {static_cast<double>(v->x), static_cast<double>(v->y)};
}

int on_move(const FT_Vector* to, void* user) {
  outline_walk* walk = static_cast<outline_walk*>(user);
  walk->contours.emplace_back();
  walk->pen = to_point(to);
  walk->contours.back().push_back(walk->pen);
  return 0;
}

int on_line(const FT_Vector* to, void* user) {
  outline_walk* walk = static_cast<outline_walk*>(user);
  walk->pen = to_point(to);
  walk->contours.back().push_back(walk->pen);
  return 0;
}

// Number of pieces that keep a Bezier arc within FLATNESS of its chords.
int pieces_for(double bend) {
  const int n = static_cast<int>(std::ceil(std::sqrt(bend / (8.0 * FLATNESS))));
  return n < 1 ? 1 : (n > 64 ? 64 : n);
}

int on_conic(const FT_Vector* control, const FT_Vector* to, void* user) {
  outline_walk* walk = static_cast<outline_walk*>(user);
  const point a = walk->pen, b = to_point(control), c = to_point(to);
  const int n = pieces_for(std::hypot(a.x - 2 * b.x + c.x, a.y - 2 * b.y + c.y));
  for (int i = 1; i <= n; ++i) {
    const double k = static_cast<double>(i) / n, j = 1.0 - k;
    walk->contours.back().push_back(
        {j * j * a.x + 2 * j * k * b.x + k * k * c.x, j * j * a.y + 2 * j * k * b.y + k * k * c.y});
  }
  walk->pen = c;
  return 0;
}

int on_cubic(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to,
             void* user) {
  outline_walk* walk = static_cast<outline_walk*>(user);
  const point a = walk->pen, b = to_point(control1), c = to_point(control2), d = to_point(to);
  const double bend = std::max(std::hypot(a.x - 2 * b.x + c.x, a.y - 2 * b.y + c.y),
                               std::hypot(b.x - 2 * c.x + d.x, b.y - 2 * c.y + d.y));
  const int n = pieces_for(1.5 * bend);
  for (int i = 1; i <= n; ++i) {
    const double k = static_cast<double>(i) / n, j = 1.0 - k;
    const double wa = j * j * j, wb = 3 * j * j * k, wc = 3 * j * k * k, wd = k * k * k;
    walk->contours.back().push_back(
        {wa * a.x + wb * b.x + wc * c.x + wd * d.x, wa * a.y + wb * b.y + wc * c.y + wd * d.y});
  }
  walk->pen = d;
  return 0;
}

// Drops repeated points, including the closing copy of the first point.
void tidy(contour& c) {
  contour kept;
  for (const point& p : c) {
    if (!kept.empty() && std::hypot(p.x - kept.back().x, p.y - kept.back().y) < 1e-3) continue;
    kept.push_back(p);
  }
  while (kept.size() > 1 &&
         std::hypot(kept.front().x - kept.back().x, kept.front().y - kept.back().y) < 1e-3)
    kept.pop_back();
  c = kept;
}

// The tessellator's output: triangles as triples of indices into a list of points.
struct tessellation {
  std::deque<point> points;  // a deque keeps the addresses GLU holds on to
  std::deque<size_t> numbers;
  std::vector<size_t> triangle_corners;
  bool failed = false;
};

void GLAPIENTRY tess_begin(GLenum, void*) {}
void GLAPIENTRY tess_end(void*) {}
// With an edge-flag callback the tessellator emits separate triangles only.
void GLAPIENTRY tess_edge_flag(GLboolean, void*) {}
void GLAPIENTRY tess_vertex(void* data, void* user) {
  static_cast<tessellation*>(user)->triangle_corners.push_back(*static_cast<size_t*>(data));
}
void GLAPIENTRY tess_combine(GLdouble coords[3], void* [4], GLfloat[4], void** out, void* user) {
  // Crossing contours would leave the front face with corners the walls lack.
  tessellation* t = static_cast<tessellation*>(user);
  t->failed = true;
  t->points.push_back({coords[0], coords[1]});
  t->numbers.push_back(t->points.size() - 1);
  *out = &t->numbers.back();
}
void GLAPIENTRY tess_error(GLenum, void* user) {
  static_cast<tessellation*>(user)->failed = true;
}

typedef void(GLAPIENTRY* glu_callback)();

// Triangles covering the inside of the contours (non-zero winding), counter-clockwise.
bool tessellate(const std::vector<contour>& contours, tessellation* out) {
  for (const contour& c : contours)
    for (const point& p : c) {
      out->points.push_back(p);
      out->numbers.push_back(out->points.size() - 1);
    }
  GLUtesselator* tess = gluNewTess();
  gluTessCallback(tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<glu_callback>(tess_begin));
  gluTessCallback(tess, GLU_TESS_END_DATA, reinterpret_cast<glu_callback>(tess_end));
  gluTessCallback(tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<glu_callback>(tess_vertex));
  gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, reinterpret_cast<glu_callback>(tess_edge_flag));
  gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<glu_callback>(tess_combine));
  gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<glu_callback>(tess_error));
  gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_NONZERO);
  gluTessNormal(tess, 0.0, 0.0, 1.0);
  gluTessBeginPolygon(tess, out);
  size_t next = 0;
  for (const contour& c : contours) {
    gluTessBeginContour(tess);
    for (size_t i = 0; i < c.size(); ++i, ++next) {
      GLdouble coords[3] = {c[i].x, c[i].y, 0.0};
      gluTessVertex(tess, coords, &out->numbers[next]);
    }
    gluTessEndContour(tess);
  }
  gluTessEndPolygon(tess);
  gluDeleteTess(tess);
  // Make every triangle counter-clockwise seen from +z.
  std::vector<size_t>& t = out->triangle_corners;
  for (size_t i = 0; i + 2 < t.size(); i += 3) {
    const point a = out->points[t[i]], b = out->points[t[i + 1]], c = out->points[t[i + 2]];
    if ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x) < 0) std::swap(t[i + 1], t[i + 2]);
  }
  return !out->failed;
}

double signed_area(const contour& c) {
  double area = 0.0;
  for (size_t i = 0; i < c.size(); ++i) {
    const point a = c[i], b = c[(i + 1) % c.size()];
    area += a.x * b.y - b.x * a.y;
  }
  return area * 0.5;
}

// Texture-coordinate ranges of the three kinds of faces, kept apart so that the importer never
// joins a face corner with a wall corner at the same place.
constexpr float BACK_OFFSET = 100.0f;
constexpr float WALL_OFFSET = 200.0f;
// Walls turn sharply at corners sharper than this (cosine of 35 degrees).
constexpr double SHARP_COSINE = 0.819;

// Adds the front face, the back face and the walls of one glyph. Contours go counter-clockwise
// around filled areas and clockwise around holes; scale turns font units into model units.
void extrude_glyph(const std::vector<contour>& contours, double scale, float depth, float* wall_s,
                   model* out) {
  tessellation faces;
  if (!tessellate(contours, &faces))
    std::fprintf(stderr, "assetgen: warning: a glyph outline crosses itself\n");
  const float front = depth * 0.5f, back = -depth * 0.5f;
  auto place = [&](point p, float z) {
    return vec3{static_cast<float>(p.x * scale), static_cast<float>(p.y * scale), z};
  };
  std::vector<uint32_t> front_numbers, back_numbers;
  for (const point& p : faces.points) {
    vertex v{};
    v.position = place(p, front);
    v.s = v.position.x;
    v.t = v.position.y;
    front_numbers.push_back(add_vertex(*out, v));
    v.position.z = back;
    v.s += BACK_OFFSET;
    back_numbers.push_back(add_vertex(*out, v));
  }
  const std::vector<size_t>& t = faces.triangle_corners;
  for (size_t i = 0; i + 2 < t.size(); i += 3) {
    add_triangle(*out, front_numbers[t[i]], front_numbers[t[i + 1]], front_numbers[t[i + 2]]);
    add_triangle(*out, back_numbers[t[i]], back_numbers[t[i + 2]], back_numbers[t[i + 1]]);
  }

  for (const contour& given : contours) {
    // Start at a sharp corner if there is one, so the seam of the wall falls on an edge.
    const size_t n = given.size();
    if (n == 0) continue;  // an empty outline has no wall
    auto is_sharp = [&](size_t i) {
      const point a = given[(i + n - 1) % n], b = given[i], c = given[(i + 1) % n];
      const double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - b.x, vy = c.y - b.y;
      return (ux * vx + uy * vy) / (std::hypot(ux, uy) * std::hypot(vx, vy)) < SHARP_COSINE;
    };
    size_t start = 0;
    for (size_t i = 0; i < n; ++i)
      if (is_sharp(i)) {
        start = i;
        break;
      }
    contour c;
    for (size_t i = 0; i <= n; ++i) c.push_back(given[(start + i) % n]);
    std::vector<bool> sharp;
    for (size_t i = 0; i <= n; ++i) sharp.push_back(is_sharp((start + i) % n));

    // Wall corners: s runs along the contour, t across the wall; a sharp corner gets two pairs.
    uint32_t previous_front = 0, previous_back = 0;
    for (size_t i = 0; i <= n; ++i) {
      if (i > 0)
        *wall_s += static_cast<float>(std::hypot(c[i].x - c[i - 1].x, c[i].y - c[i - 1].y) * scale);
      vertex v{};
      v.position = place(c[i], front);
      v.s = WALL_OFFSET + *wall_s;
      v.t = 1.0f;
      uint32_t arriving_front = add_vertex(*out, v);
      v.position.z = back;
      v.t = 0.0f;
      uint32_t arriving_back = add_vertex(*out, v);
      if (i > 0) {
        // Filled area on the left of the direction of travel: the wall faces right.
        add_triangle(*out, previous_back, arriving_back, arriving_front);
        add_triangle(*out, previous_back, arriving_front, previous_front);
      }
      previous_front = arriving_front;
      previous_back = arriving_back;
      if (i > 0 && i < n && sharp[i]) {
        *wall_s += 0.5f;
        v = out->vertices[arriving_front];
        v.s = WALL_OFFSET + *wall_s;
        previous_front = add_vertex(*out, v);
        v.position.z = back;
        v.t = 0.0f;
        previous_back = add_vertex(*out, v);
      }
    }
    *wall_s += 1.0f;
  }
}

}  // namespace

bool extrude_text(const char* font_path, const char* text, float cap_height, float depth,
                  model* out) {
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0) {
    std::fprintf(stderr, "assetgen: cannot start FreeType\n");
    return false;
  }
  if (FT_New_Face(library, font_path, 0, &face) != 0) {
    std::fprintf(stderr, "assetgen: cannot read font %s\n", font_path);
    FT_Done_FreeType(library);
    return false;
  }
  const FT_Int32 flags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;
  FT_Load_Char(face, 'H', flags);
  FT_BBox capital;
  FT_Outline_Get_CBox(&face->glyph->outline, &capital);
  const double scale = cap_height / static_cast<double>(capital.yMax);

  FT_Outline_Funcs funcs{};
  funcs.move_to = on_move;
  funcs.line_to = on_line;
  funcs.conic_to = on_conic;
  funcs.cubic_to = on_cubic;

  double pen_x = 0.0;
  float wall_s = 0.0f;
  FT_UInt previous = 0;
  for (const char* p = text; *p; ++p) {
    const FT_UInt glyph = FT_Get_Char_Index(face, static_cast<unsigned char>(*p));
    if (previous && glyph && FT_HAS_KERNING(face)) {
      FT_Vector kern;
      FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNSCALED, &kern);
      pen_x += static_cast<double>(kern.x);
    }
    FT_Load_Glyph(face, glyph, flags);
    outline_walk walk;
    FT_Outline_Decompose(&face->glyph->outline, &funcs, &walk);
    const bool clockwise_fill =
        FT_Outline_Get_Orientation(&face->glyph->outline) == FT_ORIENTATION_TRUETYPE;
    std::vector<contour> contours;
    for (contour& c : walk.contours) {
      tidy(c);
      if (c.size() < 3 || std::fabs(signed_area(c)) < 1.0) continue;
      if (clockwise_fill) std::reverse(c.begin(), c.end());
      for (point& q : c) q.x += pen_x;
      contours.push_back(c);
    }
    if (!contours.empty()) extrude_glyph(contours, scale, depth, &wall_s, out);
    pen_x += static_cast<double>(face->glyph->advance.x);
    previous = glyph;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return true;
}

void centre_horizontally(model& m) {
  float low = 1e30f, high = -1e30f;
  for (const vertex& v : m.vertices) {
    low = std::min(low, v.position.x);
    high = std::max(high, v.position.x);
  }
  const float shift = -(low + high) * 0.5f;
  for (vertex& v : m.vertices) v.position.x += shift;
}
