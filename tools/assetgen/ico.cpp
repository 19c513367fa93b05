// ico.cpp: the Windows icon file (.ico), holding the icon at several sizes, for the
// resources of the Windows programs.
#include <cstdio>

#include "tools/assetgen/assetgen.h"

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
  const size_t row_bytes = static_cast<size_t>(icon.width + 31) / 32 * 4;
  for (int y = icon.height - 1; y >= 0; --y) {
    // Set in place in the output, which grows by one zeroed row.
    const size_t row = out.size();
    out.resize(row + row_bytes, 0);
    for (int x = 0; x < icon.width; ++x)
      if (icon.pixels[(static_cast<size_t>(y) * icon.width + x) * 4 + 3] == 0)
        out[row + static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
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

bool write_icon_file(const std::vector<image>& icons, const std::string& path) {
  const std::vector<uint8_t> bytes = icon_file_bytes(icons);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
    std::remove(path.c_str());
  }
  return written;
}
