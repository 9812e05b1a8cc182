// The real inkplay, detached in a device root, driving the stand-in player.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "tests/harness.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> without_queries(const std::vector<std::string>& commands) {
  std::vector<std::string> out;
  for (const std::string& c : commands)
    if (c != "get_percent_pos") out.push_back(c);
  return out;
}

size_t count_queries(const inkplay_run& run) {
  return run.commands().size() - without_queries(run.commands()).size();
}

// The player sees its own fixed arguments, then ours in order, without DirectFB's; the pid
// file holds exactly its pid; its end ends inkplay with status 0.
TEST(Startup, ForwardsArgumentsRecordsPidAndExitsWithThePlayer) {
  struct scenario {
    std::vector<std::string> args, expect;
  };
  const std::vector<scenario> scenarios = {
      {{}, {"/mnt/us/system/mplayer", "-slave", "-quiet"}},
      {{"--dfb:quiet", "a.wav", "-ao", "null", "--dfb:no-debug", "b c.wav"},
       {"/mnt/us/system/mplayer", "-slave", "-quiet", "a.wav", "-ao", "null", "b c.wav"}},
  };
  for (const scenario& s : scenarios) {
    device_root root;
    inkplay_run run(root);
    ASSERT_TRUE(run.start(s.args));
    EXPECT_EQ(run.player_args(), s.expect);
    std::string pid = read_file(root.path("tmp/mplayer.pid"));
    ASSERT_EQ(pid.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<const int32_t*>(pid.data()), run.player_pid);
    struct stat st;
    ASSERT_EQ(stat(root.path("tmp/mplayer.pid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    run.say("@exit 3");
    EXPECT_EQ(run.wait_exit(), 0) << "the player's own status is not inkplay's";
  }
}

TEST(Startup, PlayerThatCannotRunEndsInkplayWithStatusZero) {
  root_options options;
  options.player = false;
  device_root root(options);
  write_file(root.path("mnt/us/system/mplayer"), "not a program");
  inkplay_run run(root);
  EXPECT_FALSE(run.start({}, 500ms));
  // The daemon is ours as subreaper: collect whatever ends.
  int status = -1;
  bool ended = wait_until([&] { return waitpid(-1, &status, WNOHANG) > 0; }, 5s);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Only the player an earlier start recorded is stopped; a recycled pid is left alone.
TEST(Startup, StopsTheEarlierPlayer) {
  device_root root;
  device_root elsewhere;  // the earlier player logs here
  int earlier_input[2];
  ASSERT_EQ(pipe(earlier_input), 0);
  pid_t earlier = fork();
  if (earlier == 0) {
    dup2(earlier_input[0], 0);
    setenv("INKPLAY_ROOT", elsewhere.dir.c_str(), 1);
    std::string player = root.path("mnt/us/system/mplayer");
    execl(player.c_str(), "mplayer", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_TRUE(wait_until([&] { return !read_lines(elsewhere.path("player.log")).empty(); }, 5s));
  int32_t raw = earlier;
  write_file(root.path("tmp/mplayer.pid"), std::string(reinterpret_cast<char*>(&raw), 4));
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  int status = 0;
  ASSERT_EQ(waitpid(earlier, &status, 0), earlier);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  close(earlier_input[1]);
}

// Each quiet second: one position query and one run of the power tool, waited for.
TEST(Loop, IdleTicksQueryAndKeepTheDeviceAwake) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.wait_for_commands(3, 6s));
  std::vector<std::string> lines = read_lines(root.path("player.log"));
  std::vector<long long> times;
  for (const std::string& l : lines)
    if (l.rfind("cmd ", 0) == 0) times.push_back(std::stoll(l.substr(4)));
  EXPECT_EQ(without_queries(run.commands()).size(), 0u);
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 950000);
  std::vector<std::string> power = run.power_calls();
  EXPECT_GE(power.size() + 1, times.size());
  for (const std::string& call : power)
    EXPECT_EQ(call, root.path("usr/bin/lipc-set-prop") + " com.lab126.powerd abortSuspend 1");
}

TEST(Loop, PauseStopsTheQueriesButNotTheTool) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_L);
  ASSERT_TRUE(wait_until([&] { return !without_queries(run.commands()).empty(); }, 3s));
  size_t queries = count_queries(run), power = run.power_calls().size();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(count_queries(run), queries);
  EXPECT_GE(run.power_calls().size(), power + 2);
  run.tap(KEY_L);
  ASSERT_TRUE(wait_until([&] { return count_queries(run) > queries; }, 3s));
  EXPECT_EQ(without_queries(run.commands()), (std::vector<std::string>{"pause", "pause"}));
}

// Alt-commands, byte for byte; keys without Alt, digits and releases send nothing.
TEST(Keys, CommandKeysSendExactlyTheirCommands) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.tap(KEY_J);  // no Alt: nothing
  run.tap(KEY_1);  // a digit carries Alt but is no command
  run.key(KEY_LEFTALT, 1);
  run.key(KEY_LEFTALT, 2);
  for (uint16_t code : {KEY_J, KEY_BACKSPACE, KEY_K, KEY_K, KEY_L, KEY_A}) run.tap(code);
  run.key(KEY_LEFTALT, 0);
  run.tap(KEY_L);                     // Alt released: nothing
  run.tap(KEY_LEFTSHIFT);             // latched Shift does not hide Alt
  run.key(KEY_LEFTALT, 1, 2);         // Alt on one keyboard, J on another
  run.tap(KEY_J, 2);
  run.key(KEY_LEFTALT, 0, 2);
  std::vector<std::string> expect = {"pt_step 1", "pt_step -1", "speed_set 100.0",
                                     "speed_set 1.0", "pause", "pt_step 1"};
  ASSERT_TRUE(wait_until([&] { return without_queries(run.commands()).size() >= 6; }, 5s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(without_queries(run.commands()), expect);
}

TEST(Keys, AltHKillsThePlayerAndInkplayExitsWithStatusZero) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_H);
  EXPECT_EQ(run.wait_exit(3s), 0) << "inkplay did not end with status 0";
}

TEST(Keys, MissingEvent1LeavesTheOtherKeyboardsWorking) {
  root_options options;
  options.event1 = false;
  device_root root(options);
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.key(KEY_LEFTALT, 1, 0);
  run.tap(KEY_J, 0);
  run.key(KEY_LEFTALT, 0, 0);
  run.key(KEY_LEFTALT, 1, 2);
  run.tap(KEY_K, 2);
  ASSERT_TRUE(wait_until([&] { return without_queries(run.commands()).size() >= 2; }, 3s));
  EXPECT_EQ(without_queries(run.commands()), (std::vector<std::string>{"pt_step 1", "speed_set 100.0"}));
}

// Descriptors that report ready for ever (output closed, a keyboard at end of file) must not
// turn the loop into a busy one: the idle ticks go on and the player's end is still seen.
TEST(Loop, EndlessReadinessDoesNotSpinAndTheEndIsStillSeen) {
  root_options options;
  options.event1 = false;
  device_root root(options);
  write_file(root.path("dev/input/event1"), "");  // reads as end of file, always ready
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.say("@close");
  std::this_thread::sleep_for(300ms);
  long before = run.cpu_ticks();
  size_t queries = count_queries(run);
  std::this_thread::sleep_for(2500ms);
  EXPECT_LE(run.cpu_ticks() - before, 10) << "CPU ticks in 2.5 s";
  EXPECT_GE(count_queries(run), queries + 2);
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_J);
  ASSERT_TRUE(wait_until([&] { return !without_queries(run.commands()).empty(); }, 3s));
  run.say("@exit 0");
  EXPECT_EQ(run.wait_exit(3s), 0) << "inkplay did not end with status 0";
}

// Faults injected from outside: the player dying at any moment, floods, hostile pid files,
// missing platform pieces.
TEST(Faults, PlayerKilledAtAnyMomentEndsInkplayCleanly) {
  for (int round = 0; round < 6; ++round) {
    device_root root;
    inkplay_run run(root);
    ASSERT_TRUE(run.start());
    run.key(KEY_LEFTALT, 1);
    std::thread keys([&] {
      for (int i = 0; i < 200; ++i) {
        run.tap(KEY_K);  // each a command written to the player
        std::this_thread::sleep_for(1ms);
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 37 * round));
    kill(run.player_pid, SIGKILL);
    int status = run.wait_exit(2s);
    keys.join();
    EXPECT_EQ(status, 0) << "round " << round << ": a status of 13 (SIGPIPE) would be the fault";
  }
}

long resident_kb(pid_t pid) {
  for (const std::string& line : read_lines("/proc/" + std::to_string(pid) + "/status"))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(Faults, FloodOfOutputIsReadWithFlatMemoryAndTheLastAnswerShows) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.say("@flood 1000000");
  ASSERT_TRUE(wait_until([&] { return read_file(root.path("player.log")).find("flooded") != std::string::npos; }, 20s));
  long before = resident_kb(run.daemon_pid);
  run.say("@flood 8000000");
  ASSERT_TRUE(wait_until([&] {
    std::string log = read_file(root.path("player.log"));
    return log.find("flooded") != log.rfind("flooded");
  }, 60s)) << "inkplay did not keep up";
  EXPECT_LT(resident_kb(run.daemon_pid) - before, 512) << "kB grown";
  std::this_thread::sleep_for(200ms);
  run.say("ANS_PERCENT_POSITION=42\n");
  std::this_thread::sleep_for(300ms);
  std::vector<uint8_t> fb = root.framebuffer();
  EXPECT_EQ(fb[799 * 300 + 125] >> 4, 15);  // pixel 250
  EXPECT_EQ(fb[799 * 300 + 126] >> 4, 0);   // pixel 252
}

// Whatever stands at the pid file's path (world-writable /tmp), only a player this system
// started is signalled, nothing is written through a link, and the new pid file is our own.
TEST(Faults, HostilePidFilesSignalNothingAndStartAnyway) {
  pid_t bystander = fork();
  if (bystander == 0) {
    pause();
    _exit(0);
  }
  auto pid_bytes = [](int32_t pid) { return std::string(reinterpret_cast<char*>(&pid), 4); };
  const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> files = {
      {"short", [](const std::string& p) { write_file(p, "12"); }},
      {"garbage", [&](const std::string& p) { write_file(p, pid_bytes(-1)); }},
      {"negative", [&](const std::string& p) { write_file(p, pid_bytes(-5)); }},
      {"init", [&](const std::string& p) { write_file(p, pid_bytes(1)); }},
      {"bystander", [&](const std::string& p) { write_file(p, pid_bytes(bystander)); }},
      {"fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }},
      {"directory", [](const std::string& p) { mkdir(p.c_str(), 0700); }},
      {"link to a device", [](const std::string& p) { EXPECT_EQ(symlink("/dev/zero", p.c_str()), 0); }},
      {"link to a file", [](const std::string& p) { EXPECT_EQ(symlink((p + ".victim").c_str(), p.c_str()), 0); }},
  };
  for (const auto& [name, make] : files) {
    device_root root;
    std::string pid_file = root.path("tmp/mplayer.pid");
    write_file(pid_file + ".victim", "keep me");
    make(pid_file);
    inkplay_run run(root);
    ASSERT_TRUE(run.start({}, 5s)) << name;
    EXPECT_EQ(waitpid(bystander, nullptr, WNOHANG), 0) << name;
    EXPECT_EQ(read_file(pid_file + ".victim"), "keep me") << name;
    struct stat st;
    if (name == "directory") continue;  // cannot be replaced: no pid file this time
    ASSERT_EQ(lstat(pid_file.c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_size == 4) << name;
  }
  kill(bystander, SIGKILL);
  waitpid(bystander, nullptr, 0);
}

TEST(Faults, MissingPowerToolAndKeyboardsLeaveTheTicksRunning) {
  root_options options;
  options.event1 = false;
  device_root root(options);
  unlink(root.path("usr/bin/lipc-set-prop").c_str());
  unlink(root.path("dev/input/event0").c_str());
  unlink(root.path("dev/input/event2").c_str());
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  EXPECT_TRUE(run.wait_for_commands(2, 4s));
  run.say("@exit 0");
  EXPECT_EQ(run.wait_exit(3s), 0) << "inkplay did not end with status 0";
}

// The overlays, read back from the framebuffer file and the driver stand-in's log.
int fb_nibble(const std::vector<uint8_t>& fb, int x, int screen_y) {
  uint8_t byte = fb[screen_y * 300 + x / 2];
  return x % 2 ? byte & 0x0F : byte >> 4;
}

bool has_update(const inkplay_run& run, int x1, int y1, int x2, int y2, size_t from = 0) {
  std::vector<update_record> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].x1 == x1 && u[i].y1 == y1 && u[i].x2 == x2 && u[i].y2 == y2) return true;
  return false;
}

TEST(Overlays, PositionAnswerDrawsTheBar) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.say("ANS_PERCENT_POSITION=37\n");
  ASSERT_TRUE(wait_until([&] { return has_update(run, 0, 796, 599, 799); }, 3s));
  std::vector<uint8_t> fb = root.framebuffer();
  for (int y = 796; y < 800; ++y)
    for (int x = 0; x < 600; ++x) ASSERT_EQ(fb_nibble(fb, x, y), x < 222 ? 15 : 0) << x << "," << y;
  for (size_t i = 0; i < 12000; ++i) ASSERT_EQ(fb[i], device_root::pattern_byte(i)) << "top row byte " << i;
  // A key release still redraws the bar.
  size_t before = run.updates().size();
  run.key(KEY_A, 0);
  EXPECT_TRUE(wait_until([&] { return has_update(run, 0, 796, 599, 799, before); }, 3s));
}

// A title comes with its file and goes on the fifth quiet second, leaving the screen as saved.
TEST(Overlays, TitleIsShownAndTakenAwayOnTheFifthIdleTick) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.say("ANS_PERCENT_POSITION=10\n");
  ASSERT_TRUE(wait_until([&] { return has_update(run, 0, 796, 599, 799); }, 3s));
  std::vector<uint8_t> saved = root.framebuffer();
  run.say("Playing /media/Clip one.wav.\n");
  ASSERT_TRUE(wait_until([&] { return run.updates().back().y1 == 773; }, 3s));
  auto shown = std::chrono::steady_clock::now();
  EXPECT_NE(root.framebuffer(), saved);
  EXPECT_EQ(run.updates().back().x2, 595);
  ASSERT_TRUE(wait_until([&] { return has_update(run, 0, 40, 599, 799, 1); }, 8s));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - shown).count();
  EXPECT_GT(seconds, 4.5);
  EXPECT_LT(seconds, 6.5);
  EXPECT_EQ(root.framebuffer(), saved);
}

TEST(Overlays, PlaylistStepTakesTheTitleAwayBeforeTheCommand) {
  device_root root;
  inkplay_run run(root);
  ASSERT_TRUE(run.start());
  run.say("Playing a.wav.\n");
  ASSERT_TRUE(wait_until([&] { return run.updates().back().y1 == 773; }, 3s));
  run.key(KEY_LEFTALT, 1);
  run.tap(KEY_J);
  ASSERT_TRUE(wait_until([&] { return !without_queries(run.commands()).empty(); }, 3s));
  double restored = 0;
  for (const update_record& u : run.updates())
    if (u.y1 == 40 && u.x2 == 599 && u.y2 == 799) restored = u.time;
  long long command_us = 0;
  for (const std::string& l : read_lines(root.path("player.log")))
    if (l.find(" pt_step 1") != std::string::npos) command_us = std::stoll(l.substr(4));
  ASSERT_GT(restored, 1.0) << "no restore of the working area";
  EXPECT_LE(restored * 1e6, command_us + 1.0);
}

// Without a framebuffer or a font the media still plays and the keys still work.
TEST(Overlays, MissingFramebufferOrFontStillPlays) {
  for (int missing = 0; missing < 2; ++missing) {
    root_options options;
    (missing == 0 ? options.framebuffer : options.font) = false;
    device_root root(options);
    inkplay_run run(root);
    ASSERT_TRUE(run.start());
    run.say("ANS_PERCENT_POSITION=50\nPlaying x.wav.\n");
    run.key(KEY_LEFTALT, 1);
    run.tap(KEY_K);
    ASSERT_TRUE(wait_until([&] { return !without_queries(run.commands()).empty(); }, 3s));
    run.say("@exit 0");
    EXPECT_EQ(run.wait_exit(3s), 0) << "missing piece " << missing;
  }
}

}  // namespace
