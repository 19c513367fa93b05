// The film's look, guarded by reference frames: demo-capture renders stills
// at the moments of the PNGs kept in REFERENCE_DIR (still-SSS.mmm.png, 320 x
// 180 at 60 frames per second) and each must match its reference with a peak
// signal-to-noise ratio of at least 40 dB over R, G and B. Mesa's llvmpipe
// reproduces the references exactly (whatever its thread count or vector
// width), Mesa's other software renderer, softpipe, within 54 to 64 dB; a
// redder sun colour (green 0.63 -> 0.5 in the composite), a change one sees
// side by side, falls to 31 to 39 dB on four of the five frames.
//
// After an intended change of the picture, refresh the references with
// scripts/refresh-references.sh and look at them before committing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "process_helpers.h"

#ifndef REFERENCE_DIR
#error "REFERENCE_DIR must name the folder of the reference frames"
#endif

namespace {

constexpr double minimum_psnr = 40.0;  // dB, over the R, G and B channels

}  // namespace

TEST(Reference, StillsMatchTheReferenceFrames) {
  std::vector<std::filesystem::path> references;
  for (const auto& entry : std::filesystem::directory_iterator(REFERENCE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("still-", 0) == 0 && entry.path().extension() == ".png")
      references.push_back(entry.path());
  }
  std::sort(references.begin(), references.end());
  ASSERT_GE(references.size(), 3u) << "too few reference frames in " << REFERENCE_DIR
                                   << " (make them with scripts/refresh-references.sh)";

  // Moments from the names: still-013.000.png is 13 s.
  std::string moments;
  for (const auto& path : references) {
    const std::string name = path.stem().string();
    moments += (moments.empty() ? "" : ",") + name.substr(std::string("still-").size());
  }
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("reference_test_" + std::to_string(getpid()));
  std::filesystem::remove_all(out);
  const std::string command =
      "./demo-capture --size 320x180 --fps 60 --at " + moments + " --out " + out.string();
  const run_result run = run_command(command);
  const std::string& output = run.output;
  ASSERT_EQ(run.status, 0) << command << "\n" << output;

  for (const auto& reference_path : references) {
    const std::filesystem::path still_path = out / reference_path.filename();
    rgb_image reference, still;
    ASSERT_TRUE(read_png(reference_path, &reference)) << reference_path;
    ASSERT_TRUE(read_png(still_path, &still)) << still_path << "\n" << output;
    ASSERT_EQ(still.width, reference.width) << reference_path;
    ASSERT_EQ(still.height, reference.height) << reference_path;
    const double measured = psnr(still, reference);
    EXPECT_GE(measured, minimum_psnr)
        << reference_path.filename() << " differs from its reference (PSNR " << measured
        << " dB); if the change is intended, run scripts/refresh-references.sh";
    std::printf("%s: PSNR %.1f dB\n", reference_path.filename().c_str(), measured);
  }
  std::filesystem::remove_all(out);
}
