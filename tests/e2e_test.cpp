// The real inkplay driving the real MPlayer (Debian's) on generated clips, played silently.

#include <csignal>
#include <thread>

#include "tests/harness.h"
#include "tools/wav_writer.h"

namespace {

// A device root with MPlayer at the player path, and inkplay started on 20-second tones there.
struct mplayer_session {
  device_root root{[] {
    root_options options;
    options.player = "/usr/bin/mplayer";
    return options;
  }()};
  inkplay_run run{root};
  bool start(const std::vector<std::string>& clips) {
    run.stand_in = false;
    std::vector<std::string> args = {"-ao", "null"};
    for (size_t i = 0; i < clips.size(); ++i) {
      args.push_back(root.path(clips[i]));
      if (!write_tone_wav(args.back(), 20, 440 + 220 * static_cast<int>(i))) return false;
    }
    return run.start(args);
  }
};

int bar_pixels(const device_root& root) {
  std::vector<uint8_t> fb = root.framebuffer();
  int black = 0;
  for (int x = 0; x < 600; ++x) black += fb_nibble(fb.data(), x, 799) == 15;
  return black;
}

// Left edges of the title updates (screen row 773).
std::vector<int> title_lefts(const inkplay_run& run) {
  std::vector<int> lefts;
  for (const logged_update& u : run.updates())
    if (u.y1 == 773) lefts.push_back(u.x1);
  return lefts;
}

// One session as a person would use it: the title comes and goes on its own, the bar advances,
// Alt+J moves MPlayer to the next clip (its longer title starts further left), Alt+L holds it
// (the bar stops) and lets it go, Alt+H ends MPlayer and inkplay with status 0.
TEST(WithMPlayer, ASessionOfTitlesBarAndKeys) {
  mplayer_session session;
  ASSERT_TRUE(session.start({"a.wav", "the-second-clip.wav"}));
  const device_root& root = session.root;
  inkplay_run& run = session.run;
  ASSERT_TRUE(wait_until([&] { return title_lefts(run).size() == 1; }, 5s));
  size_t after_title = run.updates().size();
  ASSERT_TRUE(wait_until([&] { return run.updates().size() > after_title; }, 3s));  // the first answer
  int early = bar_pixels(root);
  EXPECT_TRUE(wait_until([&] { return has_update(run, 0, 40, 599, 799, after_title); }, 7s)) << "title not taken away";
  EXPECT_TRUE(wait_until([&] { return bar_pixels(root) >= early + 100; }, 3s)) << early;

  int first_left = title_lefts(run)[0];
  run.alt(KEY_J);
  ASSERT_TRUE(wait_until([&] { return title_lefts(run).size() >= 2; }, 5s));
  EXPECT_LT(title_lefts(run)[1], first_left);
  // Paused, the screen must not change: let the title go first.
  size_t after_second = run.updates().size();
  EXPECT_TRUE(wait_until([&] { return has_update(run, 0, 40, 599, 799, after_second); }, 7s));

  run.alt(KEY_L);
  std::this_thread::sleep_for(1500ms);  // let a last answer in flight arrive
  int paused_at = bar_pixels(root);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(bar_pixels(root), paused_at);
  run.alt(KEY_L);
  std::this_thread::sleep_for(1500ms);  // MPlayer's first answers may still be the old file's
  int resumed = bar_pixels(root);
  EXPECT_TRUE(wait_until([&] { return bar_pixels(root) > resumed; }, 5s));

  run.alt(KEY_H);
  EXPECT_EQ(run.wait_exit(5s), 0);
}

// Ended by SIGTERM (by the platform, or kill in a shell), inkplay takes MPlayer with it: MPlayer
// itself plays on when its command pipe closes. Here MPlayer runs behind a script that does not
// exec it (one that sets a library path first, say), so it is not inkplay's own child.
TEST(WithMPlayer, EndsWhenInkplayIsTerminated) {
  mplayer_session session;
  unlink(session.root.path("mnt/us/system/mplayer").c_str());
  write_file(session.root.path("mnt/us/system/mplayer"), "#!/bin/sh\n/usr/bin/mplayer \"$@\"\nexit $?\n", 0755);
  ASSERT_TRUE(session.start({"a.wav"}));
  ASSERT_TRUE(wait_until([&] { return !title_lefts(session.run).empty(); }, 5s)) << "MPlayer is not playing";
  kill(session.run.daemon_pid, SIGTERM);
  EXPECT_EQ(session.run.wait_exit(5s), 0);
  EXPECT_TRUE(session.root.quiet(5s)) << "MPlayer plays on";
}

}  // namespace
