// preview.cpp: pictures of the written assets, read back the way the film reads them.
//
// Each model is imported with the film's importer flags, given normals and tangents by the
// film's rule (sums of unnormalised face vectors over shared vertices, the tangent from t
// alone), and drawn with back faces culled from the front, the side, three-quarters and the
// rear. Texts are lit from their light direction, the ring is coloured by its tangents as the
// film shows it, the ship by its texture. A few frames then show the models where and as large
// as the film shows them, and the textures are written out as PNG files.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <assimp/cimport.h>
#include <assimp/scene.h>
#include <stb/stb_image.h>

#include <cstdio>

#include "film/asset_files.h"
#include "tools/assetgen/raster.h"

namespace {

// A model as the film holds it: corners, normals, tangents and texture coordinates.
struct film_mesh {
  std::vector<vec3> positions, normals, tangents;
  std::vector<float> s, t;
  std::vector<uint32_t> indices;
  vec3 low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
};

bool import(const std::string& path, film_mesh* out) {
  const aiScene* scene = aiImportFile(path.c_str(), 0x800B);
  if (!scene || scene->mNumMeshes == 0) {
    std::fprintf(stderr, "assetgen: cannot import %s\n", path.c_str());
    if (scene) aiReleaseImport(scene);
    return false;
  }
  const aiMesh* m = scene->mMeshes[0];
  for (unsigned i = 0; i < m->mNumVertices; ++i) {
    const vec3 p{m->mVertices[i].x, m->mVertices[i].y, m->mVertices[i].z};
    out->positions.push_back(p);
    out->s.push_back(m->mTextureCoords[0] ? m->mTextureCoords[0][i].x : 0.0f);
    out->t.push_back(m->mTextureCoords[0] ? m->mTextureCoords[0][i].y : 0.0f);
    out->low = {std::min(out->low.x, p.x), std::min(out->low.y, p.y), std::min(out->low.z, p.z)};
    out->high = {std::max(out->high.x, p.x), std::max(out->high.y, p.y),
                 std::max(out->high.z, p.z)};
  }
  for (unsigned f = 0; f < m->mNumFaces; ++f)
    for (unsigned k = 0; k < 3 && k < m->mFaces[f].mNumIndices; ++k)
      out->indices.push_back(m->mFaces[f].mIndices[k]);
  aiReleaseImport(scene);
  out->normals.assign(out->positions.size(), vec3{0.0f, 0.0f, 0.0f});
  out->tangents.assign(out->positions.size(), vec3{0.0f, 0.0f, 0.0f});
  for (size_t i = 0; i + 2 < out->indices.size(); i += 3) {
    const uint32_t a = out->indices[i], b = out->indices[i + 1], c = out->indices[i + 2];
    const vec3 e1 = out->positions[b] - out->positions[a],
               e2 = out->positions[c] - out->positions[b];
    const float d1 = out->t[b] - out->t[a], d2 = out->t[c] - out->t[b];
    const vec3 n = cross(e1, e2), g = e2 * d1 - e1 * d2;
    for (uint32_t k : {a, b, c}) {
      out->normals[k] = out->normals[k] + n;
      out->tangents[k] = out->tangents[k] + g;
    }
  }
  for (size_t i = 0; i < out->positions.size(); ++i) {
    out->normals[i] = normalize(out->normals[i]);
    out->tangents[i] = normalize(out->tangents[i]);
  }
  return true;
}

struct texture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // bottom row first, as OpenGL holds it
};

texture load(const std::string& path) {
  texture tex;
  int channels = 0;
  stbi_set_flip_vertically_on_load(1);
  uint8_t* data = stbi_load(path.c_str(), &tex.width, &tex.height, &channels, 4);
  if (data) {
    tex.rgba.assign(data, data + static_cast<size_t>(tex.width) * tex.height * 4);
    stbi_image_free(data);
  }
  return tex;
}

vec3 sample(const texture& tex, float s, float t) {
  if (tex.width == 0) return vec3{1.0f, 0.0f, 1.0f};
  const float x = s * tex.width - 0.5f, y = t * tex.height - 0.5f;
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  const float fx = x - x0, fy = y - y0;
  vec3 sum{0.0f, 0.0f, 0.0f};
  for (int dy = 0; dy < 2; ++dy)
    for (int dx = 0; dx < 2; ++dx) {
      const int xi = ((x0 + dx) % tex.width + tex.width) % tex.width;
      const int yi = ((y0 + dy) % tex.height + tex.height) % tex.height;
      const uint8_t* p = &tex.rgba[(static_cast<size_t>(yi) * tex.width + xi) * 4];
      const float w = (dx ? fx : 1.0f - fx) * (dy ? fy : 1.0f - fy);
      sum = sum + vec3{p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f} * w;
    }
  return sum;
}

enum look { LIT_GREY, TANGENT_COLOUR, TEXTURED };

// Draws the mesh under a model-view and projection matrix.
void draw(canvas& target, const film_mesh& m, const mat4& modelview, const mat4& projection,
          look style, const texture* tex) {
  const mat4 full = multiply(projection, modelview);
  const vec3 light = normalize(vec3{0.0f, 5.0f, 10.0f});
  for (size_t i = 0; i + 2 < m.indices.size(); i += 3) {
    const uint32_t k[3] = {m.indices[i], m.indices[i + 1], m.indices[i + 2]};
    vec4 corner[3];
    for (int j = 0; j < 3; ++j) {
      const vec3 p = m.positions[k[j]];
      corner[j] = transform(full, vec4{p.x, p.y, p.z, 1.0f});
    }
    draw_triangle(target, corner, true, [&](float w0, float w1, float w2) {
      if (style == TEXTURED) {
        const float s = m.s[k[0]] * w0 + m.s[k[1]] * w1 + m.s[k[2]] * w2;
        const float t = m.t[k[0]] * w0 + m.t[k[1]] * w1 + m.t[k[2]] * w2;
        return sample(*tex, s, t);
      }
      if (style == TANGENT_COLOUR) {
        const vec3 g = m.tangents[k[0]] * w0 + m.tangents[k[1]] * w1 + m.tangents[k[2]] * w2;
        return vec3{clamp01(g.x), clamp01(g.y), clamp01(g.z)};
      }
      const vec3 n = normalize(m.normals[k[0]] * w0 + m.normals[k[1]] * w1 + m.normals[k[2]] * w2);
      const float g = 0.2f + 0.8f * std::max(0.0f, dot(n, light));
      return vec3{g, g, g};
    });
  }
}

// Copies a canvas into a panel of a larger picture.
void paste(image& picture, const canvas& panel, int x0, int y0) {
  const image small = to_image(panel);
  for (int y = 0; y < small.height; ++y)
    for (int x = 0; x < small.width; ++x)
      for (int c = 0; c < 3; ++c)
        picture.pixels[(static_cast<size_t>(y0 + y) * picture.width + x0 + x) * 3 + c] =
            small.pixels[(static_cast<size_t>(y) * small.width + x) * 3 + c];
}

// Front, side, three-quarter and rear views in a 2 x 2 sheet.
image four_views(const film_mesh& m, look style, const texture* tex) {
  constexpr int w = 480, h = 360;
  const vec3 centre = (m.low + m.high) * 0.5f;
  const float radius = length(m.high - m.low) * 0.5f;
  const float distance = radius / std::sin(14.0f * PI / 180.0f);
  // Looking at the model's front (+z side for texts, the nose at -z for the ship).
  const vec3 directions[4] = {
      {0.0f, 0.15f, 1.0f}, {1.0f, 0.2f, 0.0f}, {0.8f, 0.45f, -0.8f}, {0.0f, 0.15f, -1.0f}};
  image sheet = make_image(2 * w, 2 * h, 3);
  for (int v = 0; v < 4; ++v) {
    vec3 d = normalize(directions[v]);
    if (style == TEXTURED) d.z = -d.z;  // the ship's front is its nose at -z
    canvas panel = make_canvas(w, h, vec3{0.64f, 0.48f, 0.61f});
    const mat4 view = look_at(centre + d * distance, centre, vec3{0.0f, 1.0f, 0.0f});
    draw(panel, m, view,
         perspective(30.0f, static_cast<float>(w) / h, distance * 0.05f, distance * 3.0f), style,
         tex);
    paste(sheet, panel, (v % 2) * w, (v / 2) * h);
  }
  return sheet;
}

// The film's camera and projection for a frame: eye space after the camera translation.
mat4 film_projection() {
  return perspective(45.0f, 1.7777778f, 0.1f, 15.0f);
}

}  // namespace

bool write_previews(const std::string& directory) {
  const std::string dir = directory + "/";
  film_mesh ship, orvane, kelthar, ring, greetings;
  if (!import(dir + film_asset_files[SPACESHIP_MODEL_FILE], &ship) ||
      !import(dir + film_asset_files[ORVANE_FILE], &orvane) ||
      !import(dir + film_asset_files[KELTHAR_FILE], &kelthar) ||
      !import(dir + film_asset_files[RING_FILE], &ring) ||
      !import(dir + film_asset_files[GREETINGS_FILE], &greetings))
    return false;
  const texture ship_texture = load(dir + film_asset_files[SPACESHIP_TEXTURE_FILE]);
  const texture ship_normals = load(dir + film_asset_files[SPACESHIP_NORMAL_MAP_FILE]);
  const texture ground = load(dir + film_asset_files[NORMAL_MAP_FILE]);

  bool ok = write_png(four_views(ship, TEXTURED, &ship_texture), dir + "preview-spaceship.png") &&
            write_png(four_views(orvane, LIT_GREY, nullptr), dir + "preview-orvane.png") &&
            write_png(four_views(kelthar, LIT_GREY, nullptr), dir + "preview-kelthar.png") &&
            write_png(four_views(ring, TANGENT_COLOUR, nullptr), dir + "preview-ring.png") &&
            write_png(four_views(ring, LIT_GREY, nullptr), dir + "preview-ring-lit.png") &&
            write_png(four_views(greetings, LIT_GREY, nullptr), dir + "preview-greetings.png");

  // Textures as pictures; the ground map also lit and tiled 2 x 2 to show its seams.
  auto texture_picture = [](const texture& tex, bool lit, int tiles) {
    const int size = tex.width * tiles;
    image picture = make_image(size, size, 3);
    const vec3 light = normalize(vec3{-0.5f, 0.6f, 0.6f});
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const int tx = x % tex.width, ty = tex.height - 1 - (y % tex.height);
        const uint8_t* p = &tex.rgba[(static_cast<size_t>(ty) * tex.width + tx) * 4];
        uint8_t* q = &picture.pixels[(static_cast<size_t>(y) * size + x) * 3];
        if (lit) {
          const vec3 n{p[0] / 127.5f - 1.0f, p[1] / 127.5f - 1.0f, p[2] / 127.5f - 1.0f};
          q[0] = q[1] = q[2] = to_byte(std::max(0.0f, dot(n, light)));
        } else {
          q[0] = p[0];
          q[1] = p[1];
          q[2] = p[2];
        }
      }
    return picture;
  };
  ok = ok &&
       write_png(texture_picture(ship_texture, false, 1), dir + "preview-spaceship-texture.png") &&
       write_png(texture_picture(ship_normals, false, 1),
                 dir + "preview-spaceship-normal-map.png") &&
       write_png(texture_picture(ground, false, 1), dir + "preview-normal-map.png") &&
       write_png(texture_picture(ground, true, 2), dir + "preview-normal-map-lit.png");

  // Frames as the film places the models (camera translation, then the model's own).
  constexpr int fw = 960, fh = 540;
  const vec3 sky{164.0f / 255.0f, 123.0f / 255.0f, 155.0f / 255.0f};
  {  // 4 s: both titles, turned by 9 degrees.
    canvas frame = make_canvas(fw, fh, sky);
    const mat4 camera = translation({0.0f, 0.0f, 0.2f - 5.0f});
    draw(frame, orvane,
         multiply(camera, multiply(translation({0.0f, -0.35f, 2.0f}), rotation(9.0f, {0, 1, 0}))),
         film_projection(), LIT_GREY, nullptr);
    draw(frame, kelthar,
         multiply(camera, multiply(translation({0.0f, -0.5f, -4.5f}), rotation(9.0f, {0, 1, 0}))),
         film_projection(), LIT_GREY, nullptr);
    ok = ok && write_png(to_image(frame), dir + "preview-frame-titles.png");
  }
  {  // 10 s and 14 s: the ship drifting past, heading 135 degrees.
    for (int k = 0; k < 2; ++k) {
      const float t = k == 0 ? 10.0f : 14.0f;
      const float distance = 3.05f + 0.05f * (t - 7.1f), height = 0.05f * (t - 7.1f);
      canvas frame = make_canvas(fw, fh, sky);
      const mat4 camera = translation({0.0f, -height, distance - 5.0f});
      const vec3 at{3.0f - 0.25f * t, 0.5f, -3.5f + 0.25f * t};
      const mat4 placed =
          multiply(translation(at), multiply(rotation(135.0f, {0, 1, 0}), scaling(0.075f)));
      draw(frame, ship, multiply(camera, placed), film_projection(), TEXTURED, &ship_texture);
      ok = ok && write_png(to_image(frame), dir + (k == 0 ? "preview-frame-drift-10s.png"
                                                          : "preview-frame-drift-14s.png"));
    }
  }
  {  // 40 s: the ship 1.25 units ahead, seen from behind, rolled by its sway.
    const float sway = std::sin(std::cos(40.0f * 0.05f) + 15.0f) * 0.35f;
    canvas frame = make_canvas(fw, fh, sky);
    const mat4 placed = multiply(translation({2.0f * sway, 0.0f, -1.25f}),
                                 multiply(rotation(sway * 60.0f, {0, 0, 1}), scaling(0.075f)));
    draw(frame, ship, placed, film_projection(), TEXTURED, &ship_texture);
    ok = ok && write_png(to_image(frame), dir + "preview-frame-behind-40s.png");
  }
  {  // 54 s: the three rings, 7 units ahead.
    const float t = 54.0f;
    canvas frame = make_canvas(fw, fh, sky);
    mat4 m = multiply(translation({0.2f, -1.0f, -7.0f}), rotation(t * 75.0f, {1, 1, 1}));
    m = multiply(m, scaling(7.0f));
    draw(frame, ring, m, film_projection(), TANGENT_COLOUR, nullptr);
    m = multiply(m, multiply(rotation(t * 15.0f, {-1, 1, 1}), scaling(0.75f)));
    draw(frame, ring, m, film_projection(), TANGENT_COLOUR, nullptr);
    m = multiply(m, multiply(rotation(t * 15.0f, {-1, 1, 1}), scaling(0.75f)));
    draw(frame, ring, m, film_projection(), TANGENT_COLOUR, nullptr);
    ok = ok && write_png(to_image(frame), dir + "preview-frame-rings-54s.png");
  }
  {  // 70 s and 104 s: the greetings scrolling past 3 units ahead.
    for (int k = 0; k < 2; ++k) {
      const float t = k == 0 ? 70.0f : 104.0f;
      const float sway = std::sin(t - 65.0f) * 0.15f;
      canvas frame = make_canvas(fw, fh, sky);
      const mat4 placed =
          multiply(translation({sway + 2.0f - (t - 61.7f), 0.5f - 1.0f, -3.0f}), scaling(1.5f));
      draw(frame, greetings, placed, film_projection(), LIT_GREY, nullptr);
      ok = ok && write_png(to_image(frame), dir + (k == 0 ? "preview-frame-greetings-70s.png"
                                                          : "preview-frame-greetings-104s.png"));
    }
  }
  return ok;
}
