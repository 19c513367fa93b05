// assets_test.cpp: the eight generated asset files, read as the film reads them.
//
// Models come through load_mesh (and the importer directly, for what the record does not
// keep); images through the TGA decoder and through load_texture. The figures the checks use
// follow from where and how large the film shows each model.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include "film/assets.h"

#include <assimp/cimport.h>
#include <assimp/mesh.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <stb_image.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "gl_fixture.h"

namespace {

const char* const model_files[] = {"spaceship.obj", "orvane.obj", "kelthar.obj", "ring.obj",
                                   "greetings.obj"};
const char* const image_files[] = {"normal-map.tga", "spaceship.tga", "spaceship-normal-map.tga"};

struct box {
  float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
  float size(int axis) const { return high[axis] - low[axis]; }
  float centre(int axis) const { return (high[axis] + low[axis]) * 0.5f; }
};

// The corners the record's triangles use.
box bounds(const mesh_record* m) {
  box b;
  for (unsigned i = 0; i < m->triangle_count * 3; ++i)
    for (int a = 0; a < 3; ++a) {
      const float v = m->positions[m->indices[i] * 3 + a];
      b.low[a] = std::min(b.low[a], v);
      b.high[a] = std::max(b.high[a], v);
    }
  return b;
}

// Corner numbers after joining corners at the same place.
std::vector<unsigned> welded(const mesh_record* m) {
  std::map<std::array<float, 3>, unsigned> places;
  std::vector<unsigned> out;
  for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
    const float* p = &m->positions[m->indices[i] * 3];
    auto found = places.emplace(std::array<float, 3>{p[0], p[1], p[2]},
                                static_cast<unsigned>(places.size()));
    out.push_back(found.first->second);
  }
  return out;
}

double enclosed_volume(const mesh_record* m) {
  double volume = 0.0;
  for (unsigned k = 0; k < m->triangle_count; ++k) {
    const float* a = &m->positions[m->indices[3 * k] * 3];
    const float* b = &m->positions[m->indices[3 * k + 1] * 3];
    const float* c = &m->positions[m->indices[3 * k + 2] * 3];
    volume += (a[0] * (double(b[1]) * c[2] - double(b[2]) * c[1]) +
               a[1] * (double(b[2]) * c[0] - double(b[0]) * c[2]) +
               a[2] * (double(b[0]) * c[1] - double(b[1]) * c[0])) /
              6.0;
  }
  return volume;
}

struct picture {
  int width = 0, height = 0, channels = 0;
  std::vector<unsigned char> bytes;  // top row first, as stored
};

picture decode(const char* path) {
  picture p;
  stbi_set_flip_vertically_on_load(0);
  unsigned char* data = stbi_load(path, &p.width, &p.height, &p.channels, 0);
  if (data) {
    p.bytes.assign(data, data + static_cast<size_t>(p.width) * p.height * p.channels);
    stbi_image_free(data);
  }
  return p;
}

bool power_of_two(int n) {
  return n > 0 && (n & (n - 1)) == 0;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Models : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* name : model_files) loaded[name] = load_mesh(name);
  }
  static std::map<std::string, mesh_record*> loaded;
};
std::map<std::string, mesh_record*> Models::loaded;

TEST_F(Models, FirstMeshIsTrianglesWithTextureCoordinates) {
  for (const char* name : model_files) {
    SCOPED_TRACE(name);
    const aiScene* scene = aiImportFile(name, 0x800B);
    ASSERT_NE(scene, nullptr);
    ASSERT_GE(scene->mNumMeshes, 1u);
    const aiMesh* first = scene->mMeshes[0];
    EXPECT_EQ(first->mPrimitiveTypes, static_cast<unsigned>(aiPrimitiveType_TRIANGLE));
    EXPECT_TRUE(first->HasTextureCoords(0));
    EXPECT_GT(first->mNumFaces, 100u);
    aiReleaseImport(scene);
    ASSERT_NE(loaded[name], nullptr);
  }
}

TEST_F(Models, AreClosedAndWoundOutwards) {
  for (const char* name : model_files) {
    SCOPED_TRACE(name);
    const mesh_record* m = loaded[name];
    ASSERT_NE(m, nullptr);
    // Closed and consistently wound: each directed edge once, and its reverse once.
    const std::vector<unsigned> corner = welded(m);
    std::map<std::pair<unsigned, unsigned>, int> directed;
    for (unsigned k = 0; k < m->triangle_count; ++k)
      for (int e = 0; e < 3; ++e) ++directed[{corner[3 * k + e], corner[3 * k + (e + 1) % 3]}];
    int unpaired = 0, repeated = 0;
    for (const auto& [edge, count] : directed) {
      if (count > 1) ++repeated;
      auto reverse = directed.find({edge.second, edge.first});
      if (reverse == directed.end() || reverse->second != count) ++unpaired;
    }
    EXPECT_EQ(unpaired, 0);
    EXPECT_EQ(repeated, 0);
    EXPECT_GT(enclosed_volume(m), 0.0);
  }
}

TEST_F(Models, HaveTangentsEverywhereTheyAreDrawnWithThem) {
  // The texts and the ring are shaded or coloured by their tangents, which come from t alone.
  for (const char* name : {"orvane.obj", "kelthar.obj", "ring.obj", "greetings.obj"}) {
    SCOPED_TRACE(name);
    const mesh_record* m = loaded[name];
    ASSERT_NE(m, nullptr);
    int missing = 0;
    for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
      const float* g = &m->tangents[m->indices[i] * 3];
      if (std::fabs(std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]) - 1.0f) > 1e-3f) ++missing;
    }
    EXPECT_EQ(missing, 0);
  }
}

TEST_F(Models, TitlesFitTheViewAtTheirDistances) {
  // 3 units ahead the view is 4.4 units wide; 9.5 units ahead, 14.
  const box orvane = bounds(loaded["orvane.obj"]), kelthar = bounds(loaded["kelthar.obj"]);
  EXPECT_NEAR(orvane.size(0), 2.5f, 0.2f);
  EXPECT_NEAR(orvane.centre(0), 0.0f, 0.01f);
  EXPECT_GE(kelthar.size(0), 5.0f);
  EXPECT_LE(kelthar.size(0), 6.0f);
  EXPECT_NEAR(kelthar.centre(0), 0.0f, 0.01f);
  // Extruded with the front face towards +z and the back face behind it.
  for (const box& b : {orvane, kelthar}) {
    EXPECT_GT(b.high[2], 0.0f);
    EXPECT_LT(b.low[2], 0.0f);
    EXPECT_LT(b.size(2), b.size(1));
  }
}

TEST_F(Models, FrontFacesOfTheTitlesLookAlongPlusZ) {
  for (const char* name : {"orvane.obj", "kelthar.obj"}) {
    SCOPED_TRACE(name);
    const mesh_record* m = loaded[name];
    const float front = bounds(m).high[2];
    double facing_forwards = 0.0, facing_backwards = 0.0;
    for (unsigned k = 0; k < m->triangle_count; ++k) {
      const float* a = &m->positions[m->indices[3 * k] * 3];
      const float* b = &m->positions[m->indices[3 * k + 1] * 3];
      const float* c = &m->positions[m->indices[3 * k + 2] * 3];
      if (a[2] != front || b[2] != front || c[2] != front) continue;
      const double z = (b[0] - a[0]) * double(c[1] - a[1]) - (b[1] - a[1]) * double(c[0] - a[0]);
      (z > 0 ? facing_forwards : facing_backwards) += std::fabs(z);
    }
    EXPECT_GT(facing_forwards, 0.0);
    EXPECT_EQ(facing_backwards, 0.0);
  }
}

TEST_F(Models, GreetingsLeaveTheScreenJustBeforeTheFadeOut) {
  const box b = bounds(loaded["greetings.obj"]);
  EXPECT_NEAR(b.low[0], 0.0f, 0.01f);
  // Baseline at 0: descenders reach a little below, the tallest letters about 0.3 above.
  EXPECT_LT(b.low[1], 0.0f);
  EXPECT_GT(b.low[1], -0.12f);
  EXPECT_GT(b.high[1], 0.27f);
  EXPECT_LT(b.high[1], 0.36f);
  // Drawn 1.5 times as large, 3 units ahead (half the view 2.209 units wide), its left end at
  // x = 2 - (t - 61.7): the right end passes the left edge of the view at this time.
  const float leaves = 61.7f + 2.0f + 3.0f * 0.414213f * 16.0f / 9.0f + 1.5f * b.high[0];
  EXPECT_GT(leaves, 103.0f);
  EXPECT_LT(leaves, 106.0f);
}

TEST_F(Models, RingIsABandOfRadiusOneWithAProfile) {
  const mesh_record* m = loaded["ring.obj"];
  float inner = 1e30f, outer = 0.0f;
  std::map<std::pair<int, int>, int> profile;  // distinct (radius, z) places, to 0.001
  for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
    const float* p = &m->positions[m->indices[i] * 3];
    const float r = std::hypot(p[0], p[1]);
    inner = std::min(inner, r);
    outer = std::max(outer, r);
    ++profile[{static_cast<int>(std::lround(r * 1000)),
               static_cast<int>(std::lround(p[2] * 1000))}];
  }
  EXPECT_GT(inner, 0.8f);
  EXPECT_LT(outer, 1.15f);
  EXPECT_GT(outer, 0.95f);
  const box b = bounds(m);
  EXPECT_NEAR(b.centre(2), 0.0f, 0.01f);
  EXPECT_LT(b.size(2), 0.4f);
  // A plain thin torus of this mesh density would show no more than a handful of corners.
  EXPECT_GE(profile.size(), 12u);
}

TEST_F(Models, RingColoursTurnAroundTheRing) {
  // Tangents at opposite sides of the ring point different ways, so the colours differ.
  const mesh_record* m = loaded["ring.obj"];
  double sum[2][3] = {};
  for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
    const unsigned v = m->indices[i];
    const int side = m->positions[v * 3] > 0.0f ? 0 : 1;
    for (int a = 0; a < 3; ++a) sum[side][a] += m->tangents[v * 3 + a];
  }
  const double dx = sum[0][0] - sum[1][0], dy = sum[0][1] - sum[1][1];
  EXPECT_GT(std::hypot(dx, dy), 0.1 * m->triangle_count);
}

TEST_F(Models, SpaceshipIsCentredPointsItsNoseAlongMinusZAndIsLongerThanWide) {
  const mesh_record* m = loaded["spaceship.obj"];
  const box b = bounds(m);
  EXPECT_GE(b.size(2), 8.0f);
  EXPECT_LE(b.size(2), 10.0f);
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(b.centre(a), 0.0f, 0.02f);
  EXPECT_NEAR(b.centre(0), 0.0f, 1e-3f);
  EXPECT_GT(b.size(0), b.size(1));
  EXPECT_GT(b.size(2), b.size(0));
  // The nose: the foremost corner lies on the middle line, not at a wing tip.
  float nose_x = 1e30f, nose_z = 1e30f;
  for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
    const float* p = &m->positions[m->indices[i] * 3];
    if (p[2] < nose_z) {
      nose_z = p[2];
      nose_x = p[0];
    }
  }
  EXPECT_NEAR(nose_x, 0.0f, 0.05f);
  // Every texture coordinate lies inside the texture.
  for (unsigned i = 0; i < m->triangle_count * 3; ++i) {
    const float* st = &m->texture_coordinates[m->indices[i] * 3];
    EXPECT_TRUE(st[0] >= 0.0f && st[0] <= 1.0f && st[1] >= 0.0f && st[1] <= 1.0f) << i;
    if (HasFailure()) break;
  }
}

TEST(Images, ArePowerOfTwoTgaFilesTheFilmLoads) {
  for (const char* name : image_files) {
    SCOPED_TRACE(name);
    const picture p = decode(name);
    ASSERT_FALSE(p.bytes.empty());
    EXPECT_TRUE(power_of_two(p.width));
    EXPECT_TRUE(power_of_two(p.height));
    const int texture = load_texture(name);
    int width = 0, height = 0;
    read_texture(static_cast<GLuint>(texture), &width, &height);
    EXPECT_EQ(width, p.width);
    EXPECT_EQ(height, p.height);
  }
}

TEST(Images, NormalMapsHoldUnitVectorsFacingOutwards) {
  for (const char* name : {"normal-map.tga", "spaceship-normal-map.tga"}) {
    SCOPED_TRACE(name);
    const picture p = decode(name);
    ASSERT_GE(p.channels, 3);
    int bad = 0;
    for (size_t i = 0; i < p.bytes.size(); i += p.channels) {
      const float x = p.bytes[i] / 127.5f - 1.0f, y = p.bytes[i + 1] / 127.5f - 1.0f,
                  z = p.bytes[i + 2] / 127.5f - 1.0f;
      if (std::fabs(std::sqrt(x * x + y * y + z * z) - 1.0f) > 0.02f || z <= 0.0f) ++bad;
    }
    EXPECT_EQ(bad, 0);
  }
}

TEST(Images, GroundNormalMapTilesWithoutSeams) {
  // Across the wrap, neighbouring texels differ no more than neighbours inside the image do.
  const picture p = decode("normal-map.tga");
  auto at = [&](int x, int y, int c) {
    return static_cast<int>(p.bytes[(static_cast<size_t>(y) * p.width + x) * p.channels + c]);
  };
  double inside = 0.0, across_columns = 0.0, across_rows = 0.0;
  for (int k = 0; k < p.height; ++k)
    for (int c = 0; c < 3; ++c) {
      inside += std::abs(at(p.width / 2, k, c) - at(p.width / 2 - 1, k, c));
      across_columns += std::abs(at(0, k, c) - at(p.width - 1, k, c));
      across_rows += std::abs(at(k, 0, c) - at(k, p.height - 1, c));
    }
  EXPECT_LT(across_columns, inside * 1.5 + 1.0);
  EXPECT_LT(across_rows, inside * 1.5 + 1.0);
  // And it is not flat: rocks tilt the normals.
  EXPECT_GT(inside, 2.0 * p.height);
}

TEST(Images, SpaceshipTextureIsOpaqueAndShaded) {
  const picture p = decode("spaceship.tga");
  ASSERT_EQ(p.channels, 4);
  int transparent = 0;
  double sum = 0.0, squares = 0.0;
  for (size_t i = 0; i < p.bytes.size(); i += 4) {
    if (p.bytes[i + 3] != 255) ++transparent;
    const double grey = (p.bytes[i] + p.bytes[i + 1] + p.bytes[i + 2]) / 3.0;
    sum += grey;
    squares += grey * grey;
  }
  EXPECT_EQ(transparent, 0);
  const double n = p.bytes.size() / 4.0, mean = sum / n;
  EXPECT_GT(std::sqrt(squares / n - mean * mean), 20.0);
}

// The icon file as Windows reads it: the header, sixteen-byte entries, then each image, a
// 32-bit bitmap (rows bottom to top, blue first, then the transparency mask) or a PNG file.
struct icon_entry {
  int size = 0;
  picture pixels;  // four channels, top row first
};

unsigned read16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}
unsigned read32(const std::string& bytes, size_t at) {
  return read16(bytes, at) | read16(bytes, at + 2) << 16;
}

std::vector<icon_entry> read_icon(const std::string& bytes) {
  std::vector<icon_entry> entries;
  EXPECT_GE(bytes.size(), 6u);
  if (bytes.size() < 6) return entries;
  EXPECT_EQ(read16(bytes, 0), 0u);
  EXPECT_EQ(read16(bytes, 2), 1u);  // an icon
  const unsigned count = read16(bytes, 4);
  size_t end_of_previous = 6 + 16 * count;
  for (unsigned i = 0; i < count; ++i) {
    const size_t at = 6 + 16 * i;
    icon_entry entry;
    entry.size =
        static_cast<unsigned char>(bytes[at]) ? static_cast<unsigned char>(bytes[at]) : 256;
    EXPECT_EQ(static_cast<unsigned char>(bytes[at + 1]), static_cast<unsigned char>(bytes[at]));
    EXPECT_EQ(read16(bytes, at + 6), 32u);  // bits per pixel
    const size_t length = read32(bytes, at + 8), offset = read32(bytes, at + 12);
    // In order, one after the other, inside the file.
    EXPECT_EQ(offset, end_of_previous);
    EXPECT_LE(offset + length, bytes.size());
    if (offset + length > bytes.size()) return entries;
    end_of_previous = offset + length;
    const std::string image = bytes.substr(offset, length);
    picture& p = entry.pixels;
    if (image.compare(0, 4, "\x89PNG") == 0) {
      unsigned char* data = stbi_load_from_memory(
          reinterpret_cast<const unsigned char*>(image.data()), static_cast<int>(image.size()),
          &p.width, &p.height, &p.channels, 4);
      if (data) p.bytes.assign(data, data + static_cast<size_t>(p.width) * p.height * 4);
      stbi_image_free(data);
      p.channels = 4;
    } else {
      const int n = entry.size, mask_row = (n + 31) / 32 * 4;
      EXPECT_EQ(read32(image, 0), 40u);
      EXPECT_EQ(read32(image, 4), static_cast<unsigned>(n));
      EXPECT_EQ(read32(image, 8), static_cast<unsigned>(2 * n));  // colour rows and mask rows
      EXPECT_EQ(length, 40u + static_cast<size_t>(n) * n * 4 + static_cast<size_t>(mask_row) * n);
      if (length != 40u + static_cast<size_t>(n) * n * 4 + static_cast<size_t>(mask_row) * n)
        return entries;
      p.width = p.height = n;
      p.channels = 4;
      p.bytes.resize(static_cast<size_t>(n) * n * 4);
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const size_t from = 40 + (static_cast<size_t>(n - 1 - y) * n + x) * 4;
          unsigned char* to = &p.bytes[(static_cast<size_t>(y) * n + x) * 4];
          to[0] = static_cast<unsigned char>(image[from + 2]);
          to[1] = static_cast<unsigned char>(image[from + 1]);
          to[2] = static_cast<unsigned char>(image[from]);
          to[3] = static_cast<unsigned char>(image[from + 3]);
          // The mask says transparent exactly where alpha is zero.
          const size_t mask = 40 + static_cast<size_t>(n) * n * 4 +
                              static_cast<size_t>(n - 1 - y) * mask_row + x / 8;
          const bool masked = static_cast<unsigned char>(image[mask]) & (0x80 >> (x % 8));
          EXPECT_EQ(masked, to[3] == 0) << n << " at " << x << "," << y;
        }
    }
    entries.push_back(entry);
  }
  return entries;
}

TEST(Icon, HoldsEachSizeAsItsPngAndLooksLikeAnIcon) {
  const std::vector<icon_entry> entries = read_icon(read_file("icons/skyward.ico"));
  std::vector<int> sizes;
  for (const icon_entry& entry : entries) sizes.push_back(entry.size);
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
  for (const icon_entry& entry : entries) {
    SCOPED_TRACE(entry.size);
    const picture& p = entry.pixels;
    // The same pixels as the PNG file of that size (which the Debian package installs).
    const std::string png = "icons/icon-" + std::to_string(entry.size) + ".png";
    picture expected = decode(png.c_str());
    ASSERT_EQ(expected.channels, 4);
    ASSERT_EQ(p.width, entry.size);
    EXPECT_TRUE(p.bytes == expected.bytes);
    // Transparent corners, an opaque middle, and a picture there, not a flat colour.
    const int n = entry.size;
    auto at = [&](int x, int y) { return &p.bytes[(static_cast<size_t>(y) * n + x) * 4]; };
    EXPECT_EQ(at(0, 0)[3], 0);
    EXPECT_EQ(at(n - 1, n - 1)[3], 0);
    double sum = 0, squares = 0;
    int count = 0;
    for (int y = n / 4; y < 3 * n / 4; ++y)
      for (int x = n / 4; x < 3 * n / 4; ++x) {
        EXPECT_EQ(at(x, y)[3], 255);
        const double grey = (at(x, y)[0] + at(x, y)[1] + at(x, y)[2]) / 3.0;
        sum += grey;
        squares += grey * grey;
        ++count;
      }
    EXPECT_GT(std::sqrt(squares / count - (sum / count) * (sum / count)), 15.0);
  }
}

TEST(Files, FitTheBudget) {
  long total = 0;
  for (const film_asset& asset : film_assets) {
    const char* name = asset.file;
    struct stat info;
    ASSERT_EQ(stat(name, &info), 0) << name;
    total += info.st_size;
  }
  EXPECT_LT(total, 20L * 1024 * 1024);
}

TEST(Files, GeneratorWritesTheSameBytesEveryTime) {
  char first[] = "/tmp/assets-test-XXXXXX", second[] = "/tmp/assets-test-XXXXXX";
  ASSERT_NE(mkdtemp(first), nullptr);
  ASSERT_NE(mkdtemp(second), nullptr);
  for (const char* dir : {first, second}) {
    const std::string command = std::string("./tools/assetgen/assetgen ") + dir;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  for (const film_asset& asset : film_assets) {
    const char* name = asset.file;
    SCOPED_TRACE(name);
    const std::string a = read_file(std::string(first) + "/" + name);
    const std::string b = read_file(std::string(second) + "/" + name);
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b);
    // The build's own copy came from the same generator.
    EXPECT_TRUE(a == read_file(name));
    std::remove((std::string(first) + "/" + name).c_str());
    std::remove((std::string(second) + "/" + name).c_str());
  }
  rmdir(first);
  rmdir(second);
}

}  // namespace

// The program's icon (build/icons, drawn by assetgen --icons): a square RGBA
// picture at every size the packages install, transparent around a rounded
// square (its corners clear, its centre opaque, its edge smoothed), with the
// ship across the middle of the sky.
TEST(Icons, AreSquareRgbaAtEverySizeWithTheShipOnARoundedSquare) {
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string path = "icons/icon-" + std::to_string(size) + ".png";
    const picture p = decode(path.c_str());
    ASSERT_EQ(p.width, size) << path;
    ASSERT_EQ(p.height, size) << path;
    ASSERT_EQ(p.channels, 4) << path;
    auto alpha = [&](int x, int y) { return p.bytes[(static_cast<size_t>(y) * size + x) * 4 + 3]; };
    for (int corner : {0, size - 1}) {
      EXPECT_EQ(alpha(corner, 0), 0) << path;
      EXPECT_EQ(alpha(corner, size - 1), 0) << path;
    }
    EXPECT_EQ(alpha(size / 2, size / 2), 255) << path;
    int partial = 0;
    for (size_t i = 3; i < p.bytes.size(); i += 4) partial += p.bytes[i] > 0 && p.bytes[i] < 255;
    EXPECT_GT(partial, 0) << path << ": the rounded edge is not smoothed";
  }
  // Across the middle row the sky changes little; the ship stands out of it.
  const picture p = decode("icons/icon-256.png");
  ASSERT_EQ(p.width, 256);
  const unsigned char* row = &p.bytes[static_cast<size_t>(128) * 256 * 4];
  const unsigned char* sky = row + 20 * 4;
  int largest = 0;
  for (int x = 64; x < 192; ++x)
    for (int c = 0; c < 3; ++c) largest = std::max(largest, std::abs(row[x * 4 + c] - sky[c]));
  EXPECT_GT(largest, 60) << "no ship across the icon's middle";
}
