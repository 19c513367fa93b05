// The film's shell: the loading bar's geometry, the loaders run by the bar
// screens, the frame clock and the end-of-film rule.
#include <gtest/gtest.h>

#include <vector>

#include "film/film.h"
#include "gl_fixture.h"

namespace {

// Draws the bar into a window-sized target and reads it back top row first,
// as the screen shows it.
std::vector<float> bar_pixels(int width, int height, float elapsed, bool shrinking) {
  layer_record* target = layer(static_cast<unsigned>(width), static_cast<unsigned>(height));
  glBindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  glClearColor(0.5f, 0.5f, 0.5f, 1.0f);  // leave grey behind: the bar screen must clear it
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  draw_bar(width, height, elapsed, shrinking);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const std::vector<float> bottom_first = read_layer(target);
  std::vector<float> top_first(bottom_first.size());
  const size_t row = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y)
    std::copy(bottom_first.begin() + (height - 1 - y) * row,
              bottom_first.begin() + (height - y) * row, top_first.begin() + y * row);
  free_layer(target);
  return top_first;
}

float red(const std::vector<float>& image, int width, int x, int y) {
  return pixel(image, width, x, y, 0);
}

int loader_calls[2];
double loader_times[2];
void first_loader() {
  loader_times[0] = window_time();
  ++loader_calls[0];
}
void second_loader() {
  loader_times[1] = window_time();
  ++loader_calls[1];
}
// A first loader slower than the whole bar screen.
void slow_first_loader() {
  const double start = window_time();
  while (window_time() - start < 2.1) {
  }
  ++loader_calls[0];
}

}  // namespace

TEST(LoadingBar, OutlineGapAndBarSitAtTheCentreOf720p) {
  const int width = 1280, height = 720;
  const std::vector<float> image = bar_pixels(width, height, 1.0f, false);
  const int x0 = 384, y0 = 358;
  // Outline: one white pixel around the gap.
  EXPECT_EQ(red(image, width, x0 - 2, y0 - 2), 1.0f);
  EXPECT_EQ(red(image, width, x0 + 513, y0 + 5), 1.0f);
  EXPECT_EQ(red(image, width, x0 - 3, y0), 0.0f);
  EXPECT_EQ(red(image, width, x0 + 514, y0), 0.0f);
  // Gap: one black pixel inside the outline.
  EXPECT_EQ(red(image, width, x0 - 1, y0), 0.0f);
  EXPECT_EQ(red(image, width, x0 + 300, y0 - 1), 0.0f);
  EXPECT_EQ(red(image, width, x0 + 300, y0 + 4), 0.0f);
  // One second in, the bar covers 256 of 512 pixels, 4 rows high.
  for (int y = y0; y < y0 + 4; ++y) {
    EXPECT_EQ(red(image, width, x0, y), 1.0f) << y;
    EXPECT_EQ(red(image, width, x0 + 255, y), 1.0f) << y;
    EXPECT_EQ(red(image, width, x0 + 256, y), 0.0f) << y;
  }
  // The rest of the screen is cleared to black.
  EXPECT_EQ(red(image, width, 10, 10), 0.0f);
  EXPECT_EQ(pixel(image, width, 10, 10, 1), 0.0f);
}

TEST(LoadingBar, UnloadingBarShrinksFromTheRightAt1080p) {
  const int width = 1920, height = 1080;
  const std::vector<float> image = bar_pixels(width, height, 0.5f, true);
  const int x0 = 704, y0 = 538;
  EXPECT_EQ(red(image, width, x0 - 2, y0 - 2), 1.0f);
  EXPECT_EQ(red(image, width, x0, y0 + 3), 1.0f);
  EXPECT_EQ(red(image, width, x0 + 383, y0), 1.0f);  // 512 - 0.5 x 256 = 384 pixels left
  EXPECT_EQ(red(image, width, x0 + 384, y0), 0.0f);
}

TEST(LoadingBar, ScreenRunsOneLoaderPerFrameForTwoSeconds) {
  const loader_function table[2] = {first_loader, second_loader};
  loader_calls[0] = loader_calls[1] = 0;
  const double start = window_time();
  run_bar_screen(table, false);
  const double took = window_time() - start;
  EXPECT_EQ(loader_calls[0], 1);
  EXPECT_EQ(loader_calls[1], 1);
  EXPECT_LT(loader_times[0], loader_times[1]);  // the second runs a frame later
  EXPECT_GE(took, 2.0);  // the bar's two seconds; a loaded machine may take longer
}

TEST(LoadingBar, LoadersLeftWhenTheBarEndsStillRunBeforeTheFilm) {
  const loader_function table[2] = {slow_first_loader, second_loader};
  loader_calls[0] = loader_calls[1] = 0;
  run_bar_screen(table, false);
  EXPECT_EQ(loader_calls[0], 1);
  EXPECT_EQ(loader_calls[1], 1);
}

TEST(FrameClock, FirstIntervalIsTheFirstTimeAndLaterOnesAreDifferences) {
  clock_start(10.0);
  EXPECT_EQ(START_TIME, 10.0f);
  clock_tick(10.5);
  EXPECT_FLOAT_EQ(TIME, 0.5f);
  EXPECT_FLOAT_EQ(FRAME_INTERVAL, 0.5f);
  clock_tick(10.75);
  EXPECT_FLOAT_EQ(TIME, 0.75f);
  EXPECT_FLOAT_EQ(FRAME_INTERVAL, 0.25f);
  clock_tick(10.75);
  EXPECT_EQ(FRAME_INTERVAL, 0.0f);  // intervals are neither clamped nor smoothed
  clock_start(20.0);
  clock_tick(20.125);
  EXPECT_FLOAT_EQ(FRAME_INTERVAL, 0.125f);  // a new start forgets the old frames
}

TEST(FrameClock, AFrameAtExactly115SecondsIsShownAndTheNextIsNot) {
  clock_start(0.0);
  clock_tick(115.0);
  EXPECT_FALSE(film_is_over());
  clock_tick(115.01);
  EXPECT_TRUE(film_is_over());
}
