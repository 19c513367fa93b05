// assets.cpp: loading the film's models and textures.
//
// Textures come through the window layer's TGA reader; models through the
// model importer's plain C interface, of which only the first mesh's faces,
// positions and first texture-coordinate set are used. Normals and tangents
// are always computed afresh. Files are input from disk: a model that cannot
// be used gives no record and one line on stderr, never a crash.
#include "film/assets.h"

#include <assimp/cimport.h>
#include <assimp/mesh.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

int terrain_normal_map = -1;
int spaceship_texture = -1;
int spaceship_normal_map = -1;
mesh_record* terrains[4] = {};
mesh_record* spaceship = nullptr;
mesh_record* orvane = nullptr;
mesh_record* kelthar = nullptr;
mesh_record* ring = nullptr;
mesh_record* greetings = nullptr;

const film_asset film_assets[FILM_ASSET_COUNT] = {
    {film_asset_files[NORMAL_MAP_FILE], &terrain_normal_map, nullptr, false},
    {film_asset_files[SPACESHIP_MODEL_FILE], nullptr, &spaceship, false},
    {film_asset_files[SPACESHIP_TEXTURE_FILE], &spaceship_texture, nullptr, false},
    {film_asset_files[SPACESHIP_NORMAL_MAP_FILE], &spaceship_normal_map, nullptr, false},
    {film_asset_files[ORVANE_FILE], nullptr, &orvane, false},
    {film_asset_files[KELTHAR_FILE], nullptr, &kelthar, false},
    {film_asset_files[RING_FILE], nullptr, &ring, false},
    {film_asset_files[GREETINGS_FILE], nullptr, &greetings, true},
};

namespace {

// What the start-up check decoded or loaded, kept for the load that follows
// so that no file is read and decoded twice.
struct kept_asset {
  std::string path;
  tga_image image;          // a checked TGA file, or no pixels
  mesh_record* model;       // a checked model file, or null
  system_file_status file;  // the file as it was when checked
};

// Whether the file is still the one that was checked: same file, size and
// modification time.
bool unchanged(const system_file_status& before, const system_file_status& now) {
  return before.type == now.type && before.size == now.size &&
         std::equal(before.identity, before.identity + 4, now.identity);
}
std::vector<kept_asset> kept_assets;

// Takes the kept asset of the path out of the list, if there is one.
bool take_kept(const char* path, kept_asset* out) {
  for (size_t i = 0; i < kept_assets.size(); ++i) {
    if (kept_assets[i].path != path) continue;
    *out = kept_assets[i];
    kept_assets.erase(kept_assets.begin() + static_cast<long>(i));
    return true;
  }
  return false;
}

}  // namespace

int load_texture(const char* path) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  kept_asset kept{};
  if (take_kept(path, &kept) && kept.image.pixels && kept.image.width <= max_size &&
      kept.image.height <= max_size) {
    window_upload_tga(&kept.image);
  } else {
    // On failure the window layer has said why; the texture stays without an image.
    window_load_texture(path);
  }
  window_free_tga(&kept.image);
  glBindTexture(GL_TEXTURE_2D, 0);
  return static_cast<int>(name);
}

namespace {

// CalcTangentSpace | JoinIdenticalVertices | Triangulate | SortByPType: shared
// vertices, triangles only, and meshes split by primitive type.
constexpr unsigned import_flags = 0x800B;

bool ends_with(const char* text, const char* end) {
  const size_t length = std::strlen(text), end_length = std::strlen(end);
  return length >= end_length && std::strcmp(text + length - end_length, end) == 0;
}

// Limits on a model, checked before anything is allocated for it: a file
// larger than the limit is not read, and a first mesh with more vertices or
// faces than these is refused.
constexpr long long max_model_file_bytes = 256LL << 20;
constexpr unsigned max_model_vertices = 1u << 22;
constexpr unsigned max_model_faces = 1u << 22;

// The importer's last error, up to its first line break.
std::string import_error() {
  const char* reason = aiGetErrorString();
  if (!reason || !*reason) reason = "not a readable model";
  return std::string(reason, std::strcspn(reason, "\r\n"));
}

bool is_finite(const aiVector3D& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Why the first mesh of the scene cannot be used, or null when it can.
const char* unusable_first_mesh(const aiScene* scene) {
  if (scene->mNumMeshes == 0 || !scene->mMeshes || !scene->mMeshes[0]) return "it holds no mesh";
  const aiMesh* first = scene->mMeshes[0];
  if (first->mNumFaces == 0 || !first->mFaces ||
      !(first->mPrimitiveTypes & aiPrimitiveType_TRIANGLE))
    return "no triangles in its first mesh";
  if (!first->mVertices || first->mNumVertices == 0) return "its first mesh has no vertices";
  if (first->mNumFaces > max_model_faces) return "its first mesh has too many faces";
  if (first->mNumVertices > max_model_vertices) return "its first mesh has too many vertices";
  for (unsigned i = 0; i < first->mNumFaces; ++i) {
    const aiFace& face = first->mFaces[i];
    if (face.mNumIndices != 3 || !face.mIndices)
      return "its first mesh has faces that are not triangles";
    for (unsigned j = 0; j < 3; ++j) {
      if (face.mIndices[j] >= first->mNumVertices)
        return "its first mesh has faces naming vertices that do not exist";
    }
  }
  // A position or coordinate of nan or infinity draws nothing, or slows every
  // frame down, without a word: refuse it here instead.
  const bool has_coordinates = first->mNumUVComponents[0] != 0 && first->mTextureCoords[0];
  for (unsigned v = 0; v < first->mNumVertices; ++v) {
    if (!is_finite(first->mVertices[v])) return "its first mesh has a position that is not finite";
    if (has_coordinates && !is_finite(first->mTextureCoords[0][v]))
      return "its first mesh has a texture coordinate that is not finite";
  }
  return nullptr;
}

// The first mesh of the scene as a record, or null when memory runs out.
mesh_record* record_of(const aiMesh* model) {
  const unsigned faces = model->mNumFaces;

  // Room for three vertices per face, the most that the faces can use, in
  // the model's own numbering. A model that keeps vertices no face uses may
  // number them beyond that; the record then grows to its highest named one.
  unsigned vertex_count = faces * 3;
  for (unsigned i = 0; i < faces; ++i) {
    for (unsigned j = 0; j < 3; ++j) {
      const unsigned v = model->mFaces[i].mIndices[j];
      if (v >= vertex_count) vertex_count = v + 1;
    }
  }

  auto* record = static_cast<mesh_record*>(std::calloc(1, sizeof(mesh_record)));
  if (!record) return nullptr;
  const size_t attribute_bytes = static_cast<size_t>(vertex_count) * 3 * sizeof(float);
  record->positions = static_cast<float*>(std::calloc(1, attribute_bytes));
  record->normals = static_cast<float*>(std::malloc(attribute_bytes));
  record->tangents = static_cast<float*>(std::malloc(attribute_bytes));
  // Slots that no face names are never read; zeroed so they hold no garbage.
  record->texture_coordinates = static_cast<float*>(std::calloc(1, attribute_bytes));
  record->indices =
      static_cast<unsigned*>(std::malloc(static_cast<size_t>(faces) * 3 * sizeof(unsigned)));
  if (!record->positions || !record->normals || !record->tangents || !record->texture_coordinates ||
      !record->indices) {
    free_mesh(record);
    return nullptr;
  }
  record->triangle_count = faces;
  record->vertex_count = vertex_count;

  const bool has_coordinates = model->mNumUVComponents[0] != 0 && model->mTextureCoords[0];
  for (unsigned i = 0; i < faces; ++i) {
    for (unsigned j = 0; j < 3; ++j) {
      const unsigned v = model->mFaces[i].mIndices[j];
      record->indices[static_cast<size_t>(i) * 3 + j] = v;
      float* position = record->positions + static_cast<size_t>(v) * 3;
      position[0] = model->mVertices[v].x;
      position[1] = model->mVertices[v].y;
      position[2] = model->mVertices[v].z;
      if (has_coordinates) {
        float* coordinate = record->texture_coordinates + static_cast<size_t>(v) * 3;
        coordinate[0] = model->mTextureCoords[0][v].x;
        coordinate[1] = model->mTextureCoords[0][v].y;
        coordinate[2] = model->mTextureCoords[0][v].z;
      }
    }
  }
  return record;
}

// The importer reads a texture coordinate of nan or infinity in an OBJ file
// as 0, so those are looked for in the text itself: the reason, or null.
const char* non_finite_texture_coordinate(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return nullptr;  // the importer names the problem
  const char* problem = nullptr;
  char line[4096];
  while (!problem && std::fgets(line, sizeof line, file)) {
    const char* at = line;
    while (*at == ' ' || *at == '\t') ++at;
    if (at[0] != 'v' || at[1] != 't' || (at[2] != ' ' && at[2] != '\t')) continue;
    at += 2;
    for (;;) {
      char* end = nullptr;
      const float value = std::strtof(at, &end);
      if (end == at) break;
      if (!std::isfinite(value))
        problem = "its first mesh has a texture coordinate that is not finite";
      at = end;
    }
  }
  std::fclose(file);
  return problem;
}

// Loads the first mesh of a model file into *out; returns an empty text, or
// the reason it cannot be used (the importer's own words, when it has them).
std::string read_mesh(const char* path, mesh_record** out) {
  *out = nullptr;
  system_file_status status{};
  bool missing = false;
  if (const char* problem = system_stat_file(path, &status, &missing)) return problem;
  if (status.type != SYSTEM_FILE_REGULAR) return "it is not a regular file";
  if (status.size > max_model_file_bytes) return "the file is too large";
  try {
    const aiScene* scene = aiImportFile(path, import_flags);
    if (!scene) return import_error();
    if (const char* reason = unusable_first_mesh(scene)) {
      aiReleaseImport(scene);
      return reason;
    }
    if (const char* reason =
            ends_with(path, ".obj") ? non_finite_texture_coordinate(path) : nullptr) {
      aiReleaseImport(scene);
      return reason;
    }
    mesh_record* record = record_of(scene->mMeshes[0]);
    aiReleaseImport(scene);
    if (!record) return "not enough memory to load it";
    compute_vertex_attributes(record);
    *out = record;
    return std::string();
  } catch (const std::bad_alloc&) {
    return "not enough memory to load it";
  }
}

}  // namespace

mesh_record* load_mesh(const char* path) {
  kept_asset kept{};
  if (take_kept(path, &kept) && kept.model) return kept.model;
  mesh_record* record = nullptr;
  const std::string reason = read_mesh(path, &record);
  if (!record)
    std::fprintf(stderr, "%s: cannot use %s: %s\n", system_program_name(), path, reason.c_str());
  return record;
}

std::string check_asset(const char* path) {
  kept_asset kept{path, tga_image{}, nullptr, {}};
  // A file checked before and not changed since need not be read again (the
  // capture tool checks before it looks for a display, then once more).
  bool missing = false;
  if (!system_stat_file(path, &kept.file, &missing)) {
    for (const kept_asset& earlier : kept_assets)
      if (earlier.path == path && unchanged(earlier.file, kept.file)) return std::string();
  }
  // Whatever an earlier check kept of it is out of date now.
  kept_asset old{};
  if (take_kept(path, &old)) {
    window_free_tga(&old.image);
    free_mesh(old.model);
  }
  std::string reason;
  if (ends_with(path, ".tga")) {
    const char* problem = window_read_tga(path, 0, &kept.image);
    if (problem) reason = problem;
  } else {
    reason = read_mesh(path, &kept.model);
  }
  if (!reason.empty()) return reason;
  try {
    kept_assets.push_back(kept);
  } catch (const std::bad_alloc&) {
    window_free_tga(&kept.image);
    free_mesh(kept.model);
  }
  return std::string();
}

// A second showing loads the model again: the first one's record goes first.
void load_greetings_mesh() {
  unload_greetings_mesh();
  greetings = load_mesh("greetings.obj");
}

void unload_greetings_mesh() {
  free_mesh(greetings);
  greetings = nullptr;
}
