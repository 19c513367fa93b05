// glsl_test.cpp: every shader stage the film compiles, checked by a second,
// independent GLSL compiler (glslangValidator from glslang-tools) as the
// desktop GLSL the texts declare (none declares a version: 1.10). A text that
// only the GL driver in use accepts fails here. The stages are the film's
// programs (film_programs) and the toolkit's: its pass-through vertex shader,
// white noise, and the two blurs and fBm stitched from the piece table as
// stitch joins them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "film/programs.h"
#include "process_helpers.h"
#include "test_files.h"
#include "toolkit/toolkit.h"

namespace {

struct stage_text {
  std::string file;  // NAME.vert or NAME.frag: the validator takes the stage from it
  std::string text;
};

std::vector<stage_text> film_stages() {
  std::vector<stage_text> stages;
  std::set<const char* const*> seen;  // programs share vertex texts
  for (const film_program& entry : film_programs) {
    if (entry.vertex && seen.insert(entry.vertex).second)
      stages.push_back({std::string(entry.name) + ".vert", *entry.vertex});
    stages.push_back({std::string(entry.name) + ".frag", *entry.fragment});
  }
  const auto joined = [](std::initializer_list<int> pieces) {
    std::string text;
    for (int piece : pieces) text += Z886594B[piece];
    return text;
  };
  stages.push_back({"toolkit_pass_through.vert", Z886594B[4]});
  stages.push_back({"toolkit_white_noise.frag", Z886594B[5]});
  stages.push_back({"toolkit_blur_vertical.frag", joined({0, 1, 3})});
  stages.push_back({"toolkit_blur_horizontal.frag", joined({0, 2, 3})});
  stages.push_back({"toolkit_fbm.frag", joined({6, 7})});
  return stages;
}

// Writes the text and runs the validator on it; the run's result.
run_result validate(const stage_text& stage) {
  const std::filesystem::path path = scratch_file(stage.file);
  std::ofstream(path, std::ios::binary) << stage.text;
  // -d: a text without a version line is desktop GLSL 1.10, not ES 1.00.
  return run_command("glslangValidator -d " + path.string());
}

}  // namespace

TEST(Glsl, TheValidatorIsInstalled) {
  const run_result run = run_command("glslangValidator --version");
  ASSERT_EQ(run.status, 0) << "glslangValidator is missing: install glslang-tools "
                              "(scripts/setup.sh does)\n"
                           << run.output;
}

TEST(Glsl, EveryStageOfTheFilmCompiles) {
  const std::vector<stage_text> stages = film_stages();
  // Ten film programs with one shared vertex text, five toolkit stages.
  EXPECT_EQ(stages.size(), 16u);
  for (const stage_text& stage : stages) {
    const run_result run = validate(stage);
    EXPECT_EQ(run.status, 0) << stage.file << ":\n" << run.output;
  }
}

// The check itself catches faults: a text the validator must refuse (a call
// desktop GLSL 1.10 lacks, as a GLSL 1.30 driver would accept it) fails, and a
// stage is judged by its own rules (gl_FragColor is no vertex output).
TEST(Glsl, TheCheckRefusesWhatDesktopGlsl110Lacks) {
  const stage_text newer = {"newer_call.frag",
                            "uniform sampler2D t;\n"
                            "void main() { gl_FragColor = texture(t, vec2(0.5)); }\n"};
  EXPECT_NE(validate(newer).status, 0);
  const stage_text wrong_stage = {"wrong_stage.vert",
                                  "void main() { gl_FragColor = vec4(1.0); }\n"};
  EXPECT_NE(validate(wrong_stage).status, 0);
  const stage_text fine = {"fine.frag", "void main() { gl_FragColor = vec4(1.0); }\n"};
  EXPECT_EQ(validate(fine).status, 0) << validate(fine).output;
}
