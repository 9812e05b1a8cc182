// The real inkplay driving the real MPlayer (Debian's) on generated clips, played silently.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <thread>

#include "tests/harness.h"
#include "tools/wav_writer.h"

namespace {

using namespace std::chrono_literals;

root_options with_mplayer() {
  root_options options;
  options.real_player = true;
  return options;
}

// Black pixels of the bar, read back from the panel's last row.
int bar_pixels(const device_root& root) {
  std::vector<uint8_t> fb = root.framebuffer();
  int black = 0;
  for (int x = 0; x < 600; ++x) black += (fb[799 * 300 + x / 2] >> (x % 2 ? 0 : 4) & 0xF) == 15;
  return black;
}

// Title updates (screen row 773) from index `from` on, by their left edge.
std::vector<int> title_lefts(const inkplay_run& run, size_t from = 0) {
  std::vector<int> lefts;
  std::vector<update_record> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].y1 == 773) lefts.push_back(u[i].x1);
  return lefts;
}

bool has_full_refresh(const inkplay_run& run, size_t from) {
  std::vector<update_record> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].x1 == 0 && u[i].y1 == 40 && u[i].x2 == 599 && u[i].y2 == 799) return true;
  return false;
}

TEST(WithMPlayer, BarAdvancesAndTheTitleComesAndGoes) {
  device_root root(with_mplayer());
  ASSERT_TRUE(write_tone_wav(root.path("first.wav"), 8, 440));
  inkplay_run run(root);
  ASSERT_TRUE(run.start({"-ao", "null", root.path("first.wav")}));
  ASSERT_TRUE(wait_until([&] { return !title_lefts(run).empty(); }, 5s));
  size_t after_title = run.updates().size();
  ASSERT_TRUE(wait_until([&] { return run.updates().size() > after_title; }, 3s));  // first answer
  int early = bar_pixels(root);
  ASSERT_TRUE(wait_until([&] { return bar_pixels(root) >= early + 100; }, 5s)) << early;
  EXPECT_TRUE(wait_until([&] { return has_full_refresh(run, after_title); }, 6s));
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_H);
  EXPECT_EQ(run.wait_exit(5s), 0) << "inkplay did not end with status 0";
}

// Alt+J moves MPlayer on (the next title shows); Alt+L holds it (the bar stops); Alt+H ends it.
TEST(WithMPlayer, KeysStepPauseAndStopThePlayer) {
  device_root root(with_mplayer());
  ASSERT_TRUE(write_tone_wav(root.path("a.wav"), 20, 440));
  ASSERT_TRUE(write_tone_wav(root.path("the-second-clip.wav"), 20, 660));
  inkplay_run run(root);
  ASSERT_TRUE(run.start({"-ao", "null", root.path("a.wav"), root.path("the-second-clip.wav")}));
  ASSERT_TRUE(wait_until([&] { return title_lefts(run).size() == 1; }, 5s));
  int first_left = title_lefts(run)[0];
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_J);
  ASSERT_TRUE(wait_until([&] { return title_lefts(run).size() >= 2; }, 5s));
  EXPECT_LT(title_lefts(run)[1], first_left);  // the longer name of the second clip

  run.tap(KEY_L);
  std::this_thread::sleep_for(1500ms);  // let a last answer in flight arrive
  int paused_at = bar_pixels(root);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(bar_pixels(root), paused_at);
  run.tap(KEY_L);
  EXPECT_TRUE(wait_until([&] { return bar_pixels(root) > paused_at; }, 5s));

  run.tap(KEY_H);
  EXPECT_EQ(run.wait_exit(5s), 0) << "inkplay did not end with status 0";
}

// A second start stops the first one's MPlayer through the pid file, and the first ends cleanly.
TEST(WithMPlayer, SecondStartStopsTheFirstPlayer) {
  device_root root(with_mplayer());
  ASSERT_TRUE(write_tone_wav(root.path("long.wav"), 30, 440));
  inkplay_run first(root), second(root);
  ASSERT_TRUE(first.start({"-ao", "null", root.path("long.wav")}));
  ASSERT_TRUE(wait_until([&] { return !title_lefts(first).empty(); }, 5s));
  ASSERT_TRUE(second.start({"-ao", "null", root.path("long.wav")}));
  EXPECT_EQ(first.wait_exit(5s), 0) << "inkplay did not end with status 0";
  EXPECT_EQ(kill(second.player_pid, 0), 0) << "the new player runs on";
}

}  // namespace
