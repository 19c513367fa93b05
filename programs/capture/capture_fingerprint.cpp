// capture_fingerprint.cpp: demo-capture --fingerprint, what identifies the
// film a capture renders: the program's version, a digest of everything the
// pictures are made from (the eight asset files as read from the asset folder,
// the texts of the film's ten programs and of the toolkit's shader pieces) and
// the settings that decide the frames (size, rate, the film's frame count).
// Two hosts that print the same fingerprint render the same frames; the farm
// (skyward-farm) joins only ranges whose fingerprint is its run's.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "film/asset_files.h"
#include "film/programs.h"
#include "film/terrain.h"
#include "programs/capture/capture.h"
#include "toolkit/toolkit.h"

#ifndef SKYWARD_VERSION
#define SKYWARD_VERSION "unknown"
#endif

namespace {

// SHA-256 (FIPS 180-4), enough of it for a few megabytes of assets.
class sha256 {
 public:
  void add(const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    length_ += size;
    while (size > 0) {
      const size_t take = std::min(size, sizeof block_ - used_);
      std::memcpy(block_ + used_, bytes, take);
      used_ += take;
      bytes += take;
      size -= take;
      if (used_ == sizeof block_) {
        compress();
        used_ = 0;
      }
    }
  }
  // A text with its length first, so that two texts cannot run together.
  void add_text(const char* text) {
    const uint64_t size = text ? std::strlen(text) : UINT64_MAX;
    add(&size, sizeof size);
    if (text) add(text, size);
  }
  std::string hex() {
    const uint64_t bits = length_ * 8;
    const unsigned char pad = 0x80, zero = 0;
    add(&pad, 1);
    while (used_ != 56) add(&zero, 1);
    unsigned char size[8];
    for (int i = 0; i < 8; ++i) size[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    add(size, 8);
    std::string text;
    char digits[9];
    for (uint32_t word : state_) {
      std::snprintf(digits, sizeof digits, "%08x", word);
      text += digits;
    }
    return text;
  }

 private:
  static uint32_t rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void compress() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = uint32_t(block_[4 * i]) << 24 | uint32_t(block_[4 * i + 1]) << 16 |
             uint32_t(block_[4 * i + 2]) << 8 | uint32_t(block_[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4],
             f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 =
          h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 =
          (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    const uint32_t add[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) state_[i] += add[i];
  }

  uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block_[64] = {};
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace

int print_fingerprint(const capture_options& options) {
  sha256 digest;
  // The asset files, by name and content, as the film would read them here.
  for (const char* name : film_asset_files) {
    digest.add_text(name);
    std::FILE* file = std::fopen(name, "rb");
    if (!file) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", capture_program_name, name,
                   std::strerror(errno));
      return 1;
    }
    unsigned char buffer[1 << 16];
    uint64_t size = 0;
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      digest.add(buffer, got);
      size += got;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
      std::fprintf(stderr, "%s: cannot read %s: %s\n", capture_program_name, name,
                   std::strerror(errno));
      return 1;
    }
    digest.add(&size, sizeof size);
  }
  // The shader texts: the film's programs, then the toolkit's pieces.
  for (const film_program& entry : film_programs) {
    digest.add_text(entry.name);
    digest.add_text(entry.vertex ? *entry.vertex : nullptr);
    digest.add_text(*entry.fragment);
  }
  for (const char* piece : Z886594B) digest.add_text(piece);
  char fps[32];
  std::snprintf(fps, sizeof fps, "%.9g", options.fps);
  std::printf("skyward %s film=%.16s size=%dx%d fps=%s frames=%ld\n", SKYWARD_VERSION,
              digest.hex().c_str(), options.width, options.height, fps,
              film_frame_count(options.fps));
  return standard_output_written() ? 0 : 1;
}
