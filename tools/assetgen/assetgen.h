// assetgen.h: the film's asset generator: models, images and the parts that make them.
//
// Each asset has one function that builds it (text.cpp, ring.cpp, spaceship.cpp, rocks.cpp);
// model.cpp holds the triangle-model record and its OBJ writer, image.cpp the image record and
// its TGA and PNG writers, raster.cpp a small CPU rasterizer used for baking and for previews,
// preview.cpp the preview mode. Everything is deterministic: no clock, no unseeded randomness,
// no unordered containers, so the same build writes the same bytes.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

struct vec3 {
  float x, y, z;
};
inline vec3 operator+(vec3 a, vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline vec3 operator-(vec3 a, vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline vec3 operator*(vec3 a, float k) {
  return {a.x * k, a.y * k, a.z * k};
}
inline vec3 operator*(float k, vec3 a) {
  return a * k;
}
inline float dot(vec3 a, vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline vec3 cross(vec3 a, vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(vec3 a) {
  return std::sqrt(dot(a, a));
}
inline vec3 normalize(vec3 a) {
  const float l = length(a);
  return l > 0.0f ? a * (1.0f / l) : a;
}
inline vec3 lerp(vec3 a, vec3 b, float k) {
  return a + (b - a) * k;
}
inline float clamp01(float x) {
  return x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
}
inline float smoothstep(float e0, float e1, float x) {
  const float k = clamp01((x - e0) / (e1 - e0));
  return k * k * (3.0f - 2.0f * k);
}
constexpr float PI = 3.14159265358979f;

// ---------------------------------------------------------------------------
// Models (model.cpp).

// One corner of the generated geometry. s and t are the texture coordinate written to the OBJ
// file. The rest serves the spaceship's texture bake and is not written: the surface normal to
// light the texel with, the material, and a panel coordinate in model units along and across
// the part's surface.
struct vertex {
  vec3 position;
  float s, t;
  vec3 normal;
  int material;
  float pu, pv;
};

// A triangle model: counter-clockwise triangles seen from outside.
struct model {
  std::vector<vertex> vertices;
  std::vector<uint32_t> indices;
};

uint32_t add_vertex(model& m, const vertex& v);
void add_triangle(model& m, uint32_t a, uint32_t b, uint32_t c);
// Appends every vertex and triangle of part to m.
void append(model& m, const model& part);
// Adds a grid of rows x columns vertices (row-major) as quads. Triangles whose corners repeat a
// position (at a pole, where a row collapses to a point) are left out, so the result stays a
// clean closed surface.
void add_grid(model& m, const std::vector<vertex>& grid, int rows, int columns);
// Reverses the winding of every triangle.
void flip_winding(model& m);
// Signed volume enclosed by the triangles; positive for a closed model wound outward.
double signed_volume(const model& m);
// Per-vertex normals from the area-weighted faces around each vertex index.
void smooth_normals(model& m);
// Writes v, vt and f v/vt lines; equal positions and equal texture coordinates are written once,
// every number with the digits it takes to read back the same float.
// Returns false (with a line on stderr) when the file cannot be written.
bool write_obj(const model& m, const std::string& path);

// ---------------------------------------------------------------------------
// Images (image.cpp).

// Eight-bit image, rows top to bottom as stored in the file; OpenGL sees the last row at t = 0.
struct image {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;
};

inline uint8_t to_byte(float x) {
  return static_cast<uint8_t>(clamp01(x) * 255.0f + 0.5f);
}
image make_image(int width, int height, int channels);
// Uncompressed TGA (no run-length encoding), so any TGA reader takes it.
bool write_tga(const image& picture, const std::string& path);
bool write_png(const image& picture, const std::string& path);
// The PNG file of the picture, in memory (empty when it cannot be encoded).
std::vector<uint8_t> png_bytes(const image& picture);

// ---------------------------------------------------------------------------
// The assets.

// Extruded text from the glyph outlines of a TrueType font, in model units. The front face
// looks along +z; the baseline lies at y = 0 and the text starts at x = 0. height is the capital
// height, depth the thickness along z. Returns false (with a line on stderr) when the font
// cannot be read.
bool extrude_text(const char* font_path, const char* text, float cap_height, float depth,
                  model* out);
// Moves a model so that its bounding box is centred horizontally on x = 0.
void centre_horizontally(model& m);
model make_ring();
// The spaceship model with its colour texture and tangent-space normal map.
bool make_spaceship(const char* font_path, model* ship, image* colour, image* normals);
// A seamlessly tiling tangent-space normal map of rocky ground.
image make_rock_normal_map(int size);

// ---------------------------------------------------------------------------
// The program's icon (icon.cpp).

// The sizes in pixels the icon is written at: those of the desktop's icon themes (the build's
// film_icon_sizes names the same files).
constexpr int ICON_SIZES[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The icon at size x size pixels, RGBA: the ship (its model and baked colour texture, as
// make_spaceship makes them) over the film's sky on a rounded square, transparent around it.
image draw_icon(const model& ship, const image& colour, int size);
// The sizes the Windows icon file holds.
constexpr int WINDOWS_ICON_SIZES[] = {16, 24, 32, 48, 64, 128, 256};
// A Windows icon file holding the pictures (square, four channels, at most 256 pixels): 32-bit
// bitmaps below 256 pixels, PNG at 256 (ico.cpp).
std::vector<uint8_t> icon_file_bytes(const std::vector<image>& icons);
bool write_icon_file(const std::vector<image>& icons, const std::string& path);

// ---------------------------------------------------------------------------
// Preview (preview.cpp): renders the written files, read back as the film reads them.
bool write_previews(const std::string& directory);
