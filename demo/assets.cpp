// assets.cpp: loading the film's models and textures.
//
// Textures come through the window layer's TGA reader; models through the
// model importer's plain C interface, of which only the first mesh's faces,
// positions and first texture-coordinate set are used. Normals and tangents
// are always computed afresh. Files are input from disk: a model that cannot
// be used gives no record and one line on stderr, never a crash.
#include "demo/assets.h"

#include <assimp/cimport.h>
#include <assimp/mesh.h>
#include <assimp/scene.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    {"normal-map.tga", &terrain_normal_map, nullptr, false},
    {"spaceship.obj", nullptr, &spaceship, false},
    {"spaceship.tga", &spaceship_texture, nullptr, false},
    {"spaceship-normal-map.tga", &spaceship_normal_map, nullptr, false},
    {"orvane.obj", nullptr, &orvane, false},
    {"kelthar.obj", nullptr, &kelthar, false},
    {"ring.obj", nullptr, &ring, false},
    {"greetings.obj", nullptr, &greetings, true},
};

int load_texture(const char* path) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  // On failure the window layer has said why; the texture stays without an image.
  window_load_texture(path);
  glBindTexture(GL_TEXTURE_2D, 0);
  return static_cast<int>(name);
}

namespace {

// CalcTangentSpace | JoinIdenticalVertices | Triangulate | SortByPType: shared
// vertices, triangles only, and meshes split by primitive type.
constexpr unsigned import_flags = 0x800B;

// The importer's last error, up to its first line break, for one stderr line.
void print_import_error(const char* path) {
  const char* reason = aiGetErrorString();
  if (!reason || !*reason) reason = "not a readable model";
  const size_t length = std::strcspn(reason, "\r\n");
  std::fprintf(stderr, "cannot load %s: %.*s\n", path, static_cast<int>(length), reason);
}

// Why the first mesh of the scene cannot be used, or null when it can.
const char* unusable_first_mesh(const aiScene* scene) {
  if (scene->mNumMeshes == 0 || !scene->mMeshes || !scene->mMeshes[0]) return "it holds no mesh";
  const aiMesh* first = scene->mMeshes[0];
  if (first->mNumFaces == 0 || !first->mFaces ||
      !(first->mPrimitiveTypes & aiPrimitiveType_TRIANGLE))
    return "no triangles in its first mesh";
  if (!first->mVertices || first->mNumVertices == 0) return "its first mesh has no vertices";
  // Three vertex slots per face must be countable in 32 bits.
  if (first->mNumFaces > 0xffffffffu / 3) return "its first mesh has too many faces";
  for (unsigned i = 0; i < first->mNumFaces; ++i) {
    const aiFace& face = first->mFaces[i];
    if (face.mNumIndices != 3 || !face.mIndices)
      return "its first mesh has faces that are not triangles";
    for (unsigned j = 0; j < 3; ++j) {
      if (face.mIndices[j] >= first->mNumVertices)
        return "its first mesh has faces naming vertices that do not exist";
    }
  }
  return nullptr;
}

}  // namespace

mesh_record* load_mesh(const char* path) {
  const aiScene* scene = aiImportFile(path, import_flags);
  if (!scene) {
    print_import_error(path);
    return nullptr;
  }
  if (const char* reason = unusable_first_mesh(scene)) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, reason);
    aiReleaseImport(scene);
    return nullptr;
  }
  const aiMesh* model = scene->mMeshes[0];
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

  mesh_record* record = static_cast<mesh_record*>(toolkit_allocate(sizeof(mesh_record)));
  const size_t attribute_bytes = static_cast<size_t>(vertex_count) * 3 * sizeof(float);
  record->positions = static_cast<float*>(toolkit_allocate(attribute_bytes));
  record->normals = static_cast<float*>(toolkit_allocate(attribute_bytes));
  record->tangents = static_cast<float*>(toolkit_allocate(attribute_bytes));
  record->texture_coordinates = static_cast<float*>(toolkit_allocate(attribute_bytes));
  record->indices =
      static_cast<unsigned*>(toolkit_allocate(static_cast<size_t>(faces) * 3 * sizeof(unsigned)));
  record->triangle_count = faces;
  record->vertex_count = vertex_count;
  // Slots that no face names are never read; zero them so they hold no garbage.
  std::memset(record->positions, 0, attribute_bytes);
  std::memset(record->texture_coordinates, 0, attribute_bytes);

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
  aiReleaseImport(scene);

  compute_vertex_attributes(record);
  return record;
}

void load_greetings_mesh() {
  greetings = load_mesh("greetings.obj");
}
