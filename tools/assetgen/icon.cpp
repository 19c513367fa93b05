// icon.cpp: the programs' icon, the film's spaceship seen from ahead and above on a rounded
// square of the film's dusk sky, drawn at each size an icon file carries; and the Windows icon
// file (.ico) that holds them.
//
// Each size is drawn on its own at four times its width and averaged down, so that small sizes
// stay sharp instead of being shrunk from the largest. Outside the rounded square the icon is
// transparent.
#include <cstdio>
#include <cstring>

#include "tools/assetgen/raster.h"

namespace {

// The colour of the ship's texture at (s, t), t = 0 at the image's last row as OpenGL reads it.
vec3 texel(const image& colour, float s, float t) {
  int x = static_cast<int>(std::floor(s * colour.width));
  int y = colour.height - 1 - static_cast<int>(std::floor(t * colour.height));
  x = ((x % colour.width) + colour.width) % colour.width;
  y = ((y % colour.height) + colour.height) % colour.height;
  const uint8_t* p = &colour.pixels[(static_cast<size_t>(y) * colour.width + x) * colour.channels];
  return vec3{p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f};
}

// How much of the pixel centred at (x, y) lies inside a rounded square that fills a side x side
// canvas with a margin, from the signed distance to its edge (one pixel of soft edge).
float inside_badge(float x, float y, float side) {
  const float margin = side * 0.03f, radius = side * 0.2f;
  const float half = side * 0.5f - margin - radius;
  const float dx = std::fmax(std::fabs(x - side * 0.5f) - half, 0.0f);
  const float dy = std::fmax(std::fabs(y - side * 0.5f) - half, 0.0f);
  const float distance = std::sqrt(dx * dx + dy * dy) - radius;
  return clamp01(0.5f - distance);
}

}  // namespace

image draw_icon(const model& ship, const image& colour, int size) {
  constexpr int over = 4;
  const int side = size * over;
  // The sky from its dusk purple at the top to a deep blue at the bottom.
  const vec3 top{0.64f, 0.48f, 0.61f}, bottom{0.10f, 0.09f, 0.24f};
  canvas picture = make_canvas(side, side, top);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      picture.colour[static_cast<size_t>(y) * side + x] =
          lerp(top, bottom, smoothstep(0.0f, 1.0f, (y + 0.5f) / side));

  // The ship fills most of the square: seen from ahead, to one side and above, nose towards the
  // lower left, so that its wings and fin both show.
  vec3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
  for (const vertex& v : ship.vertices) {
    low = {std::fmin(low.x, v.position.x), std::fmin(low.y, v.position.y),
           std::fmin(low.z, v.position.z)};
    high = {std::fmax(high.x, v.position.x), std::fmax(high.y, v.position.y),
            std::fmax(high.z, v.position.z)};
  }
  const vec3 centre = (low + high) * 0.5f;
  const float radius = length(high - low) * 0.5f;
  const float distance = radius * 4.0f;
  const vec3 eye = centre + normalize(vec3{-0.9f, 0.75f, -1.0f}) * distance;
  const mat4 view = look_at(eye, centre, vec3{0.0f, 1.0f, 0.0f});
  const float half = radius * 0.7f;
  const mat4 full = multiply(orthographic(half, half, distance * 0.1f, distance * 2.0f), view);
  const vec3 light = normalize(vec3{-0.4f, 1.0f, -0.3f});
  for (size_t i = 0; i + 2 < ship.indices.size(); i += 3) {
    const vertex* corner_vertex[3] = {&ship.vertices[ship.indices[i]],
                                      &ship.vertices[ship.indices[i + 1]],
                                      &ship.vertices[ship.indices[i + 2]]};
    vec4 corner[3];
    for (int k = 0; k < 3; ++k) {
      const vec3 p = corner_vertex[k]->position;
      corner[k] = transform(full, vec4{p.x, p.y, p.z, 1.0f});
    }
    const vec3 normal = normalize(cross(corner_vertex[1]->position - corner_vertex[0]->position,
                                        corner_vertex[2]->position - corner_vertex[0]->position));
    const float lit = 0.55f + 0.6f * std::fmax(0.0f, dot(normal, light));
    draw_triangle(picture, corner, true, [&](float w0, float w1, float w2) {
      const float s =
          corner_vertex[0]->s * w0 + corner_vertex[1]->s * w1 + corner_vertex[2]->s * w2;
      const float t =
          corner_vertex[0]->t * w0 + corner_vertex[1]->t * w1 + corner_vertex[2]->t * w2;
      const vec3 c = texel(colour, s, t) * lit;
      return vec3{clamp01(c.x), clamp01(c.y), clamp01(c.z)};
    });
  }

  // Averaged down, the colour weighted by how much of each fine pixel the square covers.
  image icon = make_image(size, size, 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      vec3 sum{0.0f, 0.0f, 0.0f};
      float cover = 0.0f;
      for (int fy = 0; fy < over; ++fy)
        for (int fx = 0; fx < over; ++fx) {
          const int px = x * over + fx, py = y * over + fy;
          const float a = inside_badge(px + 0.5f, py + 0.5f, static_cast<float>(side));
          sum = sum + picture.colour[static_cast<size_t>(py) * side + px] * a;
          cover += a;
        }
      uint8_t* out = &icon.pixels[(static_cast<size_t>(y) * size + x) * 4];
      const vec3 c = cover > 0.0f ? sum * (1.0f / cover) : vec3{0.0f, 0.0f, 0.0f};
      out[0] = to_byte(c.x);
      out[1] = to_byte(c.y);
      out[2] = to_byte(c.z);
      out[3] = to_byte(cover / (over * over));
    }
  return icon;
}

namespace {

void put16(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, unsigned value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// One icon image as Windows stores it below 256 pixels: a 32-bit device-independent bitmap
// (its header's height counts the colour rows and the mask's), rows bottom to top in blue,
// green, red, alpha order, then the one-bit mask (set where transparent), each mask row padded
// to four bytes.
std::vector<uint8_t> bitmap_entry(const image& icon) {
  std::vector<uint8_t> out;
  put32(out, 40);
  put32(out, static_cast<unsigned>(icon.width));
  put32(out, static_cast<unsigned>(icon.height * 2));
  put16(out, 1);   // planes
  put16(out, 32);  // bits per pixel
  for (int field = 0; field < 6; ++field) put32(out, 0);
  for (int y = icon.height - 1; y >= 0; --y)
    for (int x = 0; x < icon.width; ++x) {
      const uint8_t* p = &icon.pixels[(static_cast<size_t>(y) * icon.width + x) * 4];
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
    }
  const int row_bytes = (icon.width + 31) / 32 * 4;
  for (int y = icon.height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(static_cast<size_t>(row_bytes), 0);
    for (int x = 0; x < icon.width; ++x)
      if (icon.pixels[(static_cast<size_t>(y) * icon.width + x) * 4 + 3] == 0)
        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

std::vector<uint8_t> icon_file_bytes(const std::vector<image>& icons) {
  // The header, one sixteen-byte entry per image, then the images in the same order: PNG for
  // 256 pixels (as Windows stores its large icons), bitmaps below.
  std::vector<std::vector<uint8_t>> entries;
  for (const image& icon : icons)
    entries.push_back(icon.width >= 256 ? png_bytes(icon) : bitmap_entry(icon));
  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, 1);  // an icon, not a cursor
  put16(out, static_cast<unsigned>(icons.size()));
  size_t offset = 6 + 16 * icons.size();
  for (size_t i = 0; i < icons.size(); ++i) {
    out.push_back(static_cast<uint8_t>(icons[i].width >= 256 ? 0 : icons[i].width));
    out.push_back(static_cast<uint8_t>(icons[i].height >= 256 ? 0 : icons[i].height));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(out, 1);
    put16(out, 32);
    put32(out, static_cast<unsigned>(entries[i].size()));
    put32(out, static_cast<unsigned>(offset));
    offset += entries[i].size();
  }
  for (const std::vector<uint8_t>& entry : entries)
    out.insert(out.end(), entry.begin(), entry.end());
  return out;
}

bool write_icons(const model& ship, const image& colour, const std::string& directory) {
  const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
  std::vector<image> icons;
  for (int size : sizes) {
    icons.push_back(draw_icon(ship, colour, size));
    if (!write_png(icons.back(), directory + "/skyward-" + std::to_string(size) + ".png"))
      return false;
  }
  const std::vector<uint8_t> bytes = icon_file_bytes(icons);
  const std::string path = directory + "/skyward.ico";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    std::remove(path.c_str());
  }
  return written;
}
