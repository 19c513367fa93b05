// obj_fuzz.cpp: feeds arbitrary bytes, as an OBJ file, to the film's model
// loader load_mesh, through the same importer call and flags the film uses.
// The bytes go to a file on a memory file system (the importer chooses its
// reader by the file's extension). An accepted model must name only vertices
// its record holds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "film/assets.h"

namespace {

std::string scratch_path() {
  return "/dev/shm/obj-fuzz-" + std::to_string(getpid()) + ".obj";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratch_path();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  mesh_record* record = load_mesh(path.c_str());
  std::remove(path.c_str());
  if (!record) return 0;
  if (record->triangle_count == 0) std::abort();
  volatile float sink = 0.0f;
  for (size_t i = 0; i < static_cast<size_t>(record->triangle_count) * 3; ++i) {
    const unsigned v = record->indices[i];
    if (v >= record->vertex_count) std::abort();
    sink = record->positions[v * 3 + 2] + record->normals[v * 3 + 2] + record->tangents[v * 3 + 2] +
           record->texture_coordinates[v * 3 + 2];
  }
  (void)sink;
  free_mesh(record);
  return 0;
}
