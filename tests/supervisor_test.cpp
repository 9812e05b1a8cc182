// Launch decisions and the player's output, in process, against the real display layer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "supervisor/supervisor.h"
#include "tools/panel_driver.h"

namespace {

// More arguments than the vector holds are cut off, never written past its end.
TEST(PlayerArgs, ForwardsWhatFitsAndAlwaysTerminates) {
  for (int forwarded : {0, 1, 2044, 2045, 5000}) {
    std::vector<std::string> storage(forwarded + 1, "x");
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    const char* args[player_arg_capacity + 1];
    args[player_arg_capacity] = "guard";
    int n = build_player_args(forwarded + 1, argv.data(), args);
    EXPECT_EQ(n, 3 + std::min(forwarded, 2044));
    EXPECT_EQ(args[n], nullptr);
    EXPECT_STREQ(args[0], "/mnt/us/system/mplayer");
    EXPECT_STREQ(args[player_arg_capacity], "guard");
  }
}

// When no child can be made, nothing is started and no pipe is left open.
TEST(PlayerLaunch, ForkFailureReportsAndLeaksNothing) {
  passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root to take a process limit of zero";
  pid_t child = fork();
  if (child == 0) {
    rlimit none = {0, 0};
    if (setuid(nobody->pw_uid) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0) _exit(2);
    auto open_fds = [] {
      int n = 0;
      for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
      return n;
    };
    int before = open_fds();
    const char* args[] = {"player", nullptr};
    player_link link = {};
    int exec_check;
    bool started = start_player(args, link, exec_check);
    _exit(started ? 3 : open_fds() == before ? 0 : 4);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#ifndef WITH_DISPLAY
// Without a display (as on the 32-bit target under emulation, where unsigned long is 32 bits)
// the answers are still parsed and capped and the countdown set; nothing is drawn.
TEST(Parsing, PlayerOutputWithoutADisplay) {
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
#endif

}  // namespace
