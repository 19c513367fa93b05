// Welding: the stated cases, a distance whose square is zero, and agreement
// with a search of every kept vertex on random meshes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "gl_fixture.h"
#include "mesh_helpers.h"

namespace {

TEST(Consolidate, WeldsTheSharedCornersOfTwoSeparateTriangles) {
  const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  const std::vector<unsigned> indices = {0, 1, 2, 3, 4, 5};
  for (float distance : {0.001f, -0.001f}) {
    mesh_record* m = mesh_from(positions, indices);
    consolidate(m, distance);
    EXPECT_EQ(m->vertex_count, 4u) << distance;
    EXPECT_EQ(m->triangle_count, 2u);
    EXPECT_EQ(floats_of(m->positions, m->vertex_count),
              (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}));
    EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2, 1, 3, 2}));

    // Welding again changes nothing.
    consolidate(m, distance);
    EXPECT_EQ(m->vertex_count, 4u);
    EXPECT_EQ(floats_of(m->positions, m->vertex_count),
              (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}));
    EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2, 1, 3, 2}));
    free_mesh(m);
  }
}

TEST(Consolidate, WeldsOnlyCornersStrictlyCloserThanTheDistance) {
  // 0.375^2 + 0.5^2 = 0.625^2 exactly in floats.
  const std::vector<float> positions = {0, 0, 0, 0.375f, 0.5f, 0, 5, 5, 5};
  mesh_record* m = mesh_from(positions, {0, 1, 2});
  consolidate(m, 0.625f);
  EXPECT_EQ(m->vertex_count, 3u);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2}));
  free_mesh(m);

  m = mesh_from(positions, {0, 1, 2});
  consolidate(m, std::nextafter(0.625f, 1.0f));
  EXPECT_EQ(m->vertex_count, 2u);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 0, 1}));
  free_mesh(m);
}

TEST(Consolidate, JoinsTheFirstKeptVertexAndDoesNotChain) {
  // B is kept (0.9 from A); C joins A, the first within 0.6, though B is nearer.
  mesh_record* m = mesh_from({0, 0, 0, 0.9f, 0, 0, 0.5f, 0, 0}, {0, 1, 2});
  consolidate(m, 0.6f);
  EXPECT_EQ(m->vertex_count, 2u);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 0}));
  free_mesh(m);

  // C joins A; E is within 0.6 of C but not of A, so it is kept. The triangle
  // that lost a corner stays.
  m = mesh_from({0, 0, 0, 0.5f, 0, 0, 1, 0, 0}, {0, 1, 2});
  consolidate(m, 0.6f);
  EXPECT_EQ(m->vertex_count, 2u);
  EXPECT_EQ(m->triangle_count, 1u);
  EXPECT_EQ(floats_of(m->positions, 2), (std::vector<float>{0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 0, 1}));
  free_mesh(m);
}

TEST(Consolidate, KeepsTheAttributesOfTheCornerThatCreatedTheVertex) {
  mesh_record* m = mesh_from({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}, {0, 1, 2, 3, 2, 1});
  for (unsigned v = 0; v < 4; ++v) {
    for (int c = 0; c < 3; ++c) {
      m->normals[v * 3 + c] = 10.0f * v + c;
      m->tangents[v * 3 + c] = 20.0f * v + c;
      m->texture_coordinates[v * 3 + c] = 30.0f * v + c;
    }
  }
  consolidate(m, 0.01f);
  ASSERT_EQ(m->vertex_count, 3u);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2, 0, 2, 1}));
  // Vertex 3 welded into vertex 0 and left no trace: nothing is averaged.
  EXPECT_EQ(floats_of(m->normals, 3), (std::vector<float>{0, 1, 2, 10, 11, 12, 20, 21, 22}));
  EXPECT_EQ(floats_of(m->tangents, 3), (std::vector<float>{0, 1, 2, 20, 21, 22, 40, 41, 42}));
  EXPECT_EQ(floats_of(m->texture_coordinates, 3),
            (std::vector<float>{0, 1, 2, 30, 31, 32, 60, 61, 62}));
  free_mesh(m);
}

TEST(Consolidate, KeepsOnlyNamedVerticesInOrderOfFirstUseWithTheOldCapacity) {
  std::vector<float> positions;
  for (int v = 0; v < 6; ++v) positions.insert(positions.end(), {float(v), 0, 0});
  mesh_record* m = mesh_from(positions, {4, 1, 4, 5, 1, 3});
  consolidate(m, 0.5f);
  EXPECT_EQ(m->vertex_count, 4u);
  EXPECT_EQ(floats_of(m->positions, 4), (std::vector<float>{4, 0, 0, 1, 0, 0, 5, 0, 0, 3, 0, 0}));
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 0, 2, 1, 3}));
  const size_t old_bytes = 6 * 3 * sizeof(float);
  EXPECT_GE(malloc_usable_size(m->positions), old_bytes);
  EXPECT_GE(malloc_usable_size(m->normals), old_bytes);
  EXPECT_GE(malloc_usable_size(m->tangents), old_bytes);
  EXPECT_GE(malloc_usable_size(m->texture_coordinates), old_bytes);
  free_mesh(m);
}

// With a squared distance of zero nothing passes the distance test; corners
// that name the same old vertex still share one new vertex, so the new
// arrays never overflow. Exact duplicates at different old indices stay apart.
TEST(Consolidate, ZeroSquaredDistanceWeldsOnlyCornersOfTheSameVertex) {
  const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0};
  const std::vector<unsigned> indices = {0, 1, 2, 2, 1, 3, 3, 0, 1};
  for (float distance : {0.0f, -0.0f, 1e-30f, std::numeric_limits<float>::quiet_NaN()}) {
    mesh_record* m = mesh_from(positions, indices);
    consolidate(m, distance);
    EXPECT_EQ(m->vertex_count, 4u) << distance;
    EXPECT_EQ(floats_of(m->positions, 4), positions);
    EXPECT_EQ(indices_of(m), indices);
    free_mesh(m);
  }
}

TEST(Consolidate, VerticesThatAreNotFiniteNeverWeldButKeepOneSlotEach) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  mesh_record* m = mesh_from({nan, 0, 0, inf, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 1, 0, 3, 0, 2, 1});
  consolidate(m, 0.5f);
  EXPECT_EQ(m->vertex_count, 3u);
  EXPECT_EQ(indices_of(m), (std::vector<unsigned>{0, 1, 2, 1, 0, 2, 0, 2, 1}));
  EXPECT_TRUE(std::isnan(m->positions[0]));
  EXPECT_EQ(m->positions[3], inf);
  free_mesh(m);
}

// Random meshes whose positions sit on a lattice of the welding distance, so
// that many pairs are exactly the distance apart or lie on the hash's cell
// borders, some of them nudged by one unit in the last place either way.
mesh_record* random_mesh(std::mt19937& random, unsigned vertex_count, unsigned triangle_count,
                         float spacing, float offset, int lattice) {
  mesh_record* m = new_mesh(vertex_count, triangle_count);
  std::uniform_int_distribution<int> step(-lattice, lattice);
  std::uniform_int_distribution<int> nudge(-1, 1);
  std::uniform_real_distribution<float> any(-1.0f, 1.0f);
  for (size_t i = 0; i < static_cast<size_t>(vertex_count) * 3; ++i) {
    float value = offset + static_cast<float>(step(random)) * spacing;
    const int n = nudge(random);
    if (n != 0) value = std::nextafter(value, n * std::numeric_limits<float>::infinity());
    if (random() % 8 == 0) value = offset + any(random) * spacing * lattice;
    m->positions[i] = value;
    m->normals[i] = any(random);
    m->tangents[i] = any(random);
    m->texture_coordinates[i] = any(random);
  }
  std::uniform_int_distribution<unsigned> vertex(0, vertex_count - 1);
  for (size_t c = 0; c < static_cast<size_t>(triangle_count) * 3; ++c)
    m->indices[c] = vertex(random);
  return m;
}

void expect_same_welding(const mesh_record* a, const mesh_record* b, const char* what) {
  ASSERT_EQ(a->vertex_count, b->vertex_count) << what;
  ASSERT_EQ(a->triangle_count, b->triangle_count) << what;
  const size_t bytes = static_cast<size_t>(a->vertex_count) * 3 * sizeof(float);
  EXPECT_EQ(std::memcmp(a->positions, b->positions, bytes), 0) << what;
  EXPECT_EQ(std::memcmp(a->normals, b->normals, bytes), 0) << what;
  EXPECT_EQ(std::memcmp(a->tangents, b->tangents, bytes), 0) << what;
  EXPECT_EQ(std::memcmp(a->texture_coordinates, b->texture_coordinates, bytes), 0) << what;
  EXPECT_EQ(indices_of(a), indices_of(b)) << what;
}

TEST(Consolidate, MatchesTheFullSearchOnRandomMeshes) {
  struct setting {
    float distance;
    float spacing;  // lattice step of the positions
    float offset;
    int lattice;  // steps either side of the offset on each axis
    const char* what;
  };
  const setting settings[] = {
      {0.25f, 0.25f, 0.0f, 4, "exact distance, on cell borders"},
      {-0.25f, 0.125f, 0.0f, 6, "negative distance, half-distance lattice"},
      {0.1f, 0.1f, 3.7f, 5, "inexact distance, offset lattice"},
      {0.001f, 0.0007f, -12.0f, 8, "small distance"},
      {3.0f, 1.5f, 1000.0f, 3, "far from the origin"},
      {1e-12f, 1.0f, 1e6f, 4, "distance tiny beside the coordinates"},
      {1e30f, 1e17f, 0.0f, 4, "squared distance beyond float range"},
  };
  std::mt19937 random(20240611);
  for (const setting& s : settings) {
    for (int round = 0; round < 4; ++round) {
      const unsigned vertices = 200 + 400 * round;
      mesh_record* fast =
          random_mesh(random, vertices, vertices / 2 + 50, s.spacing, s.offset, s.lattice);
      mesh_record* plain = copy_mesh(fast);
      consolidate(fast, s.distance);
      consolidate_by_full_search(plain, s.distance);
      expect_same_welding(fast, plain, s.what);
      free_mesh(fast);
      free_mesh(plain);
    }
  }
}

TEST(Consolidate, MatchesTheFullSearchOnAGridWithDuplicatedCorners) {
  // Every corner its own vertex, as a model with unshared corners has them.
  std::vector<float> heights(97);
  std::mt19937 random(7);
  for (float& h : heights) h = std::uniform_real_distribution<float>(-0.5f, 0.5f)(random);
  mesh_record* grid = grid_mesh(24, 16, heights);
  mesh_record* split = new_mesh(grid->triangle_count * 3, grid->triangle_count);
  for (unsigned c = 0; c < grid->triangle_count * 3; ++c) {
    std::memcpy(split->positions + c * 3, grid->positions + grid->indices[c] * 3, 12);
    std::memcpy(split->texture_coordinates + c * 3,
                grid->texture_coordinates + grid->indices[c] * 3, 12);
    split->indices[c] = c;
  }
  mesh_record* plain = copy_mesh(split);
  consolidate(split, 0.01f);
  consolidate_by_full_search(plain, 0.01f);
  expect_same_welding(split, plain, "grid");
  EXPECT_EQ(split->vertex_count, grid->vertex_count);
  free_mesh(grid);
  free_mesh(split);
  free_mesh(plain);
}

}  // namespace
