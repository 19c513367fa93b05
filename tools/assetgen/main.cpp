// main.cpp: assetgen, the generator of the film's eight asset files.
//
//   assetgen DIR             writes the eight files into DIR
//   assetgen --preview DIR   also renders each model and texture into DIR/preview-*.png
//   assetgen --icons DIR     writes only the program's icon, DIR/icon-SIZE.png at each size,
//                            and the Windows icon file DIR/skyward.ico
//
// The font comes from ASSETGEN_FONT, a path the build passes in.
#include <cstdio>
#include <cstring>

#include "film/asset_files.h"
#include "tools/assetgen/assetgen.h"

#ifndef ASSETGEN_FONT
#error "ASSETGEN_FONT must name a TrueType font file"
#endif

namespace {

// The closing text, in our own words.
const char* const GREETINGS =
    "thanks for flying with us  -  greetings to all who turn numbers into light and noise into"
    " mountains  -  farewell";
// Length of the greetings line in the file; drawn at 1.5 times this size, it takes until about
// 105 seconds for its last letter to leave the screen.
constexpr float GREETINGS_LENGTH = 26.0f;

void scale_model(model& m, float k) {
  for (vertex& v : m.vertices) v.position = v.position * k;
}

float width_of(const model& m) {
  float low = 1e30f, high = -1e30f;
  for (const vertex& v : m.vertices) {
    low = std::fmin(low, v.position.x);
    high = std::fmax(high, v.position.x);
  }
  return high - low;
}

// A title word, centred on x = 0, scaled to the given width, its baseline at the given height.
bool make_title(const char* word, float width, float depth_share, float baseline, model* out) {
  if (!extrude_text(ASSETGEN_FONT, word, 1.0f, depth_share, out)) return false;
  scale_model(*out, width / width_of(*out));
  centre_horizontally(*out);
  for (vertex& v : out->vertices) v.position.y += baseline;
  return true;
}

bool make_greetings(model* out) {
  if (!extrude_text(ASSETGEN_FONT, GREETINGS, 0.3f, 0.07f, out)) return false;
  float low = 1e30f;
  for (const vertex& v : out->vertices) low = std::fmin(low, v.position.x);
  for (vertex& v : out->vertices) v.position.x -= low;
  scale_model(*out, GREETINGS_LENGTH / width_of(*out));
  return true;
}

bool write_assets(const std::string& directory) {
  const std::string dir = directory + "/";
  model orvane, kelthar, greetings, ship;
  image ship_colour, ship_normals;
  // The far title stands a little higher, so that in the opening seconds its letters show above
  // the near one instead of behind it.
  if (!make_title("orvane", 2.5f, 0.22f, 0.0f, &orvane) ||
      !make_title("kelthar", 5.5f, 0.3f, 0.8f, &kelthar) || !make_greetings(&greetings) ||
      !make_spaceship(ASSETGEN_FONT, &ship, &ship_colour, &ship_normals))
    return false;
  auto path = [&dir](film_asset_file file) { return dir + film_asset_files[file]; };
  return write_tga(make_rock_normal_map(512), path(NORMAL_MAP_FILE)) &&
         write_obj(ship, path(SPACESHIP_MODEL_FILE)) &&
         write_tga(ship_colour, path(SPACESHIP_TEXTURE_FILE)) &&
         write_tga(ship_normals, path(SPACESHIP_NORMAL_MAP_FILE)) &&
         write_obj(orvane, path(ORVANE_FILE)) && write_obj(kelthar, path(KELTHAR_FILE)) &&
         write_obj(make_ring(), path(RING_FILE)) && write_obj(greetings, path(GREETINGS_FILE));
}

bool write_icons(const std::string& directory) {
  model ship;
  image colour, normals;
  if (!make_spaceship(ASSETGEN_FONT, &ship, &colour, &normals)) return false;
  for (int size : ICON_SIZES)
    if (!write_png(draw_icon(ship, colour, size),
                   directory + "/icon-" + std::to_string(size) + ".png"))
      return false;
  std::vector<image> windows_icons;
  for (int size : WINDOWS_ICON_SIZES) windows_icons.push_back(draw_icon(ship, colour, size));
  return write_icon_file(windows_icons, directory + "/skyward.ico");
}

}  // namespace

int main(int argc, char** argv) {
  const bool preview = argc == 3 && std::strcmp(argv[1], "--preview") == 0;
  const bool icons = argc == 3 && std::strcmp(argv[1], "--icons") == 0;
  if (argc != 2 && !preview && !icons) {
    std::fprintf(stderr, "usage: assetgen [--preview | --icons] DIR\n");
    return 2;
  }
  const std::string directory = argv[argc - 1];
  if (icons) return write_icons(directory) ? 0 : 1;
  if (!write_assets(directory)) return 1;
  if (preview && !write_previews(directory)) return 1;
  return 0;
}
