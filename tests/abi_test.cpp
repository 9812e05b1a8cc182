// The layouts the device relies on, and the parsing of the player's output without a display:
// the part of the suite that also runs on the 32-bit target under emulation.
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "display/display.h"
#include "supervisor/supervisor.h"

namespace {

constexpr bool narrow = sizeof(void*) == 4;  // the device: 32-bit ARM

// The e-ink driver reads six 32-bit fields on the device, the buffer pointer last.
static_assert(offsetof(update_area, x1) == 0 && offsetof(update_area, y2) == 12);
static_assert(offsetof(update_area, effect) == 16);
static_assert(offsetof(update_area, buffer) == (narrow ? 20 : 24));
static_assert(sizeof(update_area) == (narrow ? 24 : 32));

// One read of one whole record: 16 bytes on the device, 24 on a 64-bit host.
static_assert(sizeof(input_event) == (narrow ? 16 : 24));
static_assert(offsetof(input_event, type) == (narrow ? 8 : 16));
static_assert(offsetof(input_event, code) == (narrow ? 10 : 18));
static_assert(offsetof(input_event, value) == (narrow ? 12 : 20));

TEST(Abi, PidFileRecordIsFourRawBytes) {
  static_assert(sizeof(pid_t) == 4);
  EXPECT_EQ(sizeof(int32_t), 4u);
}

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
