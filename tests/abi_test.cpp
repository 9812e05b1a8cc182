// The player's output parsed without a display, as in the part of the suite that also runs on
// the 32-bit target under emulation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "display/display.h"
#include "supervisor/supervisor.h"

namespace {

// Without a display the answers are still parsed and the countdown still set; nothing is drawn.
TEST(Abi, PlayerOutputIsParsedWithoutADisplay) {
  if (display_ready()) GTEST_SKIP() << "a display is open in this process";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  playback = {};
  std::string chunk = "ANS_PERCENT_POSITION=4294967337\nPlaying a.ogg.\n";
  ASSERT_EQ(write(fds[1], chunk.data(), chunk.size()), ssize_t(chunk.size()));
  EXPECT_TRUE(handle_output(fds[0]));
  EXPECT_EQ(last_percent, 100u);
  EXPECT_EQ(playback.title_countdown, 5);
  close(fds[1]);
  EXPECT_FALSE(handle_output(fds[0]));
  close(fds[0]);
}

}  // namespace
