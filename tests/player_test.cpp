// The player as the native loop and the browser's animation callback both
// drive it: one presented frame per call, the two-second bars around the
// film with the same clock rules, a stop that ends the film after the frame
// in progress, and a second showing that reuses what the first made.
#include "film/player.h"

#include <gtest/gtest.h>

#include "gl_fixture.h"

namespace {

// Calls player_frame until the phase changes away from `phase` (or the
// showing ends); returns how many frames it presented meanwhile.
int frames_while(player_state* player, player_phase phase) {
  int presented = 0;
  while (player->phase == phase) {
    if (!player_frame(player)) break;
    if (player->phase == phase) ++presented;
  }
  return presented;
}

}  // namespace

TEST(Player, ShowsTheBarsAroundTheFilmAndEndsAfterAStop) {
  player_state player{};
  const double start = window_time();
  player_start(&player, "player_test");
  EXPECT_EQ(player.phase, PLAYER_LOADING);
  const int loading_frames = frames_while(&player, PLAYER_LOADING);
  const double film_began = window_time();
  ASSERT_EQ(player.phase, PLAYER_FILM) << "the film did not begin";
  EXPECT_FALSE(player.failed);
  EXPECT_GE(film_began - start, 2.0);  // the loading bar runs its two seconds
  EXPECT_GE(loading_frames, 2);        // one loader a frame, each frame presented

  // The film's clock started when the loading bar ended, and the frame that
  // began the film was drawn on it.
  EXPECT_GE(START_TIME, static_cast<float>(start + 2.0) - 0.01f);
  EXPECT_GE(TIME, 0.0f);
  EXPECT_LE(TIME, static_cast<float>(window_time()) - START_TIME + 0.01f);
  const float first_time = TIME;
  ASSERT_EQ(player_frame(&player), 1);
  EXPECT_GT(TIME, first_time);
  EXPECT_FLOAT_EQ(FRAME_INTERVAL, TIME - first_time);

  // A stop: the next call draws no film frame but the first unloading frame.
  player_stop(&player);
  const float stopped_at = TIME;
  ASSERT_EQ(player_frame(&player), 1);
  EXPECT_EQ(player.phase, PLAYER_UNLOADING);
  EXPECT_EQ(TIME, stopped_at);
  EXPECT_EQ(P4E6JEEC, nullptr) << "the first unloading frame runs the first unloader";
  const double unloading_began = window_time();
  frames_while(&player, PLAYER_UNLOADING);
  EXPECT_EQ(player.phase, PLAYER_DONE);
  EXPECT_GE(window_time() - unloading_began, 1.9);
  EXPECT_EQ(player_frame(&player), 0);  // nothing more to present

  // A second showing: the loaders run again, the film's resources are kept.
  const film_layers first_layers = player.layers;
  const double second_start = window_time();
  player_start(&player, "player_test");
  frames_while(&player, PLAYER_LOADING);
  ASSERT_EQ(player.phase, PLAYER_FILM);
  EXPECT_NE(P4E6JEEC, nullptr);
  EXPECT_EQ(player.layers.composite_layer, first_layers.composite_layer);
  // The film's clock starts again after the second loading bar.
  EXPECT_GE(START_TIME, static_cast<float>(second_start + 2.0) - 0.01f);
  EXPECT_LE(TIME, static_cast<float>(window_time()) - START_TIME + 0.01f);
  EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), GL_TRUE);
  EXPECT_EQ(glIsEnabled(GL_CULL_FACE), GL_TRUE);
  EXPECT_EQ(take_gl_error(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(Player, TheFrameWhoseClockPassedTheFilmIsNotPresented) {
  // Start a showing, then move the film's clock back so that the next frame
  // falls past 115 s: it is drawn, not presented, and the unloading follows.
  player_state player{};
  player_start(&player, "player_test");
  frames_while(&player, PLAYER_LOADING);
  ASSERT_EQ(player.phase, PLAYER_FILM);
  clock_start(window_time() - FILM_LENGTH - 0.5);
  ASSERT_EQ(player_frame(&player), 1);  // the first unloading frame, presented
  EXPECT_TRUE(film_is_over());
  EXPECT_EQ(player.phase, PLAYER_UNLOADING);
  frames_while(&player, PLAYER_UNLOADING);
  EXPECT_EQ(player.phase, PLAYER_DONE);
  EXPECT_FALSE(player.failed);
}

// Escape counts only while the film plays: one pressed during the loading bar
// is forgotten as the film begins; one pressed during the film, however
// short, ends it after the frame in progress, as player_stop does.
TEST(Player, AnEscapeBeforeTheFilmIsForgottenAndOneDuringItEndsIt) {
  player_state player{};
  player_start(&player, "player_test");
  ASSERT_EQ(player_frame(&player), 1);
  window_inject_key(WINDOW_KEY_ESCAPE, 0);  // during the loading bar
  player_read_keys(&player);                // bars do not read it
  EXPECT_FALSE(player.stop_requested);
  frames_while(&player, PLAYER_LOADING);
  ASSERT_EQ(player.phase, PLAYER_FILM);
  for (int frame = 0; frame < 3; ++frame) {
    player_read_keys(&player);
    ASSERT_FALSE(player.stop_requested) << "film frame " << frame;
    ASSERT_EQ(player_frame(&player), 1);
    ASSERT_EQ(player.phase, PLAYER_FILM);
  }
  window_inject_key(WINDOW_KEY_ESCAPE, 0);  // a tap during the film
  player_read_keys(&player);
  EXPECT_TRUE(player.stop_requested);
  ASSERT_EQ(player_frame(&player), 1);
  EXPECT_EQ(player.phase, PLAYER_UNLOADING);
  frames_while(&player, PLAYER_UNLOADING);
  EXPECT_EQ(player.phase, PLAYER_DONE);
  window_inject_key(WINDOW_KEY_ESCAPE, 0);  // after the showing: nothing to end
  player_read_keys(&player);
  EXPECT_EQ(player.phase, PLAYER_DONE);
  window_forget_keys();
}
