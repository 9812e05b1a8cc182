// The real inkplay, detached in a device root, driving the stand-in player.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/harness.h"

namespace {

struct session {
  device_root root;
  inkplay_run run{root};
  explicit session(root_options options = {}) : root(with_stand_in(options)) {}
};

std::string pid_bytes(int32_t pid) { return std::string(reinterpret_cast<char*>(&pid), 4); }

// Where the suite runs the device's own binary (under an emulator), that binary and the
// emulated DirectFB 1.7 stand for the host build of the device's layout and Debian's 1.7.
std::string from_env(const char* name, const char* otherwise) {
  const char* value = getenv(name);
  return value && *value ? value : otherwise;
}
const std::string dfb12_inkplay = from_env("INKPLAY_UNDER_TEST", INKPLAY_DFB12);
const std::string directfb_17 = from_env("INKPLAY_DIRECTFB_17", DIRECTFB_17_LIBRARY);
// The emulated suite meets DirectFB 1.2.1 itself, where the host suite has its stand-in.
const bool real_directfb = from_env("INKPLAY_DIRECTFB", "stand-in") == "1.2.1";

// The player sees its own fixed arguments, then ours in order, without DirectFB's; the pid file
// holds exactly its pid, as 4 raw bytes, mode 0644. A launcher reading inkplay's output (a menu)
// sees its end once inkplay has detached, not only when the player ends.
TEST(Startup, ForwardsArgumentsRecordsThePidAndLetsGoOfTheLauncher) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{}, {"/mnt/us/system/mplayer", "-slave", "-quiet"}},
      {{"--dfb:quiet", "a.wav", "-ao", "null", "--dfb:no-debug", "b c.wav"},
       {"/mnt/us/system/mplayer", "-slave", "-quiet", "a.wav", "-ao", "null", "b c.wav"}},
  };
  for (const auto& [args, expect] : cases) {
    session s;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    launch_options options;
    options.output_fd = out[1];
    bool started = s.run.start(args, options);
    close(out[1]);
    ASSERT_TRUE(started);
    std::vector<std::string> seen;
    for (const std::string& a : s.run.logged("arg")) seen.push_back(a.substr(a.find(' ') + 1));
    EXPECT_EQ(seen, expect);
    // Written once the player is started, which the player may say first.
    EXPECT_TRUE(wait_until([&] { return read_pid_file(s.root) == pid_bytes(s.run.player_pid); }, 5s));
    struct stat st;
    ASSERT_EQ(stat(s.root.path("tmp/mplayer.pid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    char byte;
    pollfd p = {out[0], POLLIN, 0};
    EXPECT_TRUE(wait_until([&] { return poll(&p, 1, 0) == 1 && read(out[0], &byte, 1) == 0; }, 5s))
        << "inkplay or its player still holds the launcher's pipe";
    EXPECT_EQ(kill(s.run.player_pid, 0), 0);
    close(out[0]);
  }
}

// A script at the player path that runs the real player, with exec or (a common way to set up
// a library path first) without.
void behind_script(const device_root& root, bool exec) {
  unlink(root.path("mnt/us/system/mplayer").c_str());
  write_file(root.path("mnt/us/system/mplayer"),
             "#!/bin/sh\n" + std::string(exec ? "exec " : "") + with_stand_in().player + " \"$@\"\nexit $?\n", 0755);
}

// However the player or inkplay ends, the other ends with it at once. The player's end ends
// inkplay with status 0, not at its next idle tick: the end comes just after a tick, and no
// further tick (which would call the power tool) may happen. The output closing before the exit
// is the order that used to leave the loop asleep; a kill while commands are being written is the
// one that used to kill us by SIGPIPE; a player that stopped reading its commands used to block
// the loop once their pipe was full. inkplay's end ends the player, which plays on after its
// input closes (as MPlayer does): a polite signal stops it as Alt+H does, and inkplay ends with
// status 0, which it does only once it has seen its player end; a SIGKILL leaves it to the
// kernel. Alt+H and the signals reach a player that a script without exec runs, too.
TEST(Ends, EveryWayThePlayerOrInkplayEndsEndsBoth) {
  using action = std::function<void(inkplay_run&)>;
  auto signal_inkplay = [](int signal) { return [signal](inkplay_run& run) { kill(run.daemon_pid, signal); }; };
  action alt_h = [](inkplay_run& run) { run.alt(KEY_H); };
  action deafen = [](inkplay_run& run) {
    run.say("@deaf");
    run.key(KEY_LEFTALT, 1);
    for (int i = 0; i < 600; ++i) run.key(KEY_K, 2);  // more than a page of commands
    run.key(KEY_LEFTALT, 0);
    EXPECT_TRUE(wait_until([&] { return !run.root.system_log().empty(); }, 20s)) << "no longer reading keys";
    EXPECT_EQ(run.root.system_log(), std::vector<std::string>{"<28>inkplay[" + std::to_string(run.daemon_pid) +
              "]: player /mnt/us/system/mplayer not reading its commands: those that do not fit are dropped"});
  };
  struct way {
    const char* name;
    action prepare, end;
    int killed_by;
    bool behind_script_without_exec;
  };
  const std::vector<way> ways = {
      {"its own exit with status 3", nullptr, [](inkplay_run& run) { run.say("@exit 3"); }, 0, false},
      {"Alt+H", nullptr, alt_h, 0, false},
      {"Alt+H, the player behind a script without exec", nullptr, alt_h, 0, true},
      {"Alt+H, the player no longer reading its commands", deafen, alt_h, 0, false},
      {"output closed, then exit", nullptr, [](inkplay_run& run) {
         run.say("@close");
         std::this_thread::sleep_for(100ms);
         run.say("@exit 0");
       }, 0, false},
      {"killed while commands are written", nullptr, [](inkplay_run& run) {
         run.key(KEY_LEFTALT, 1);
         std::thread keys([&] {
           for (int i = 0; i < 100; ++i) run.key(KEY_K, 2), std::this_thread::sleep_for(1ms);
         });
         std::this_thread::sleep_for(40ms);
         kill(run.player_pid, SIGKILL);
         keys.join();
       }, 0, false},
      {"SIGTERM to inkplay", nullptr, signal_inkplay(SIGTERM), 0, false},
      {"SIGTERM to inkplay, the player behind a script without exec", nullptr, signal_inkplay(SIGTERM), 0, true},
      {"SIGINT to inkplay", nullptr, signal_inkplay(SIGINT), 0, false},
      {"SIGHUP to inkplay", nullptr, signal_inkplay(SIGHUP), 0, false},
      {"SIGKILL to inkplay", nullptr, signal_inkplay(SIGKILL), SIGKILL, false},
  };
  for (const way& w : ways) {
    session s;
    if (w.behind_script_without_exec) behind_script(s.root, false);
    ASSERT_TRUE(s.run.start()) << w.name;
    if (w.prepare) w.prepare(s.run);
    size_t calls = s.run.power_calls().size();
    ASSERT_TRUE(wait_until([&] { return s.run.power_calls().size() > calls; }, 5s)) << w.name;
    calls = s.run.power_calls().size();  // just after a tick: the next is a second away
    w.end(s.run);
    EXPECT_TRUE(wait_until([&] { return has_ended(s.run.player_pid); }, 5s)) << w.name << ": the player lives on";
    int status = s.run.wait_exit(5s);
    if (w.killed_by)
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == w.killed_by) << w.name << ": " << status;
    else
      EXPECT_EQ(status, 0) << w.name;
    EXPECT_TRUE(s.root.quiet(5s)) << w.name << ": a process of the root lives on";
    EXPECT_EQ(s.run.power_calls().size(), calls) << w.name << ": the end was seen only at the next tick";
  }
}

// An earlier inkplay's player is stopped by the next start, also behind a script at the player
// path: one that execs the real player (it then runs another program, as a child of inkplay), and
// one that runs it without exec (the player is then a grandchild of inkplay).
TEST(Startup, StopsAnEarlierInkplaysPlayerEvenBehindAScript) {
  enum { direct, script_with_exec, script_without_exec };
  for (int how : {direct, script_with_exec, script_without_exec}) {
    session s;
    if (how != direct) behind_script(s.root, how == script_with_exec);
    inkplay_run second(s.root);
    ASSERT_TRUE(s.run.start());
    ASSERT_TRUE(second.start());
    EXPECT_EQ(s.run.wait_exit(5s), 0) << how;
    EXPECT_TRUE(wait_until([&] { return has_ended(s.run.player_pid); }, 5s)) << how << ": the earlier player plays on";
    EXPECT_EQ(kill(second.player_pid, 0), 0) << "the new player runs on";
  }
}

// Asked to end while it starts (a slow driver makes a slow start; the signal comes while DirectFB
// starts), inkplay ends as it would have without it: the screen and its status rows as they were,
// status 0, and no player started.
TEST(Startup, AnEndSignalWhileStartingEndsItCleanlyWithoutAPlayer) {
  session s;
  launch_options options;
  options.env = {"INKPLAY_PANEL_SLOW_MS=700"};
  ASSERT_TRUE(launch_inkplay(s.root, {}, options));
  // The second request for the panel's geometry: DirectFB's own, or inkplay's once it has started.
  std::vector<std::string> asked;
  ASSERT_TRUE(wait_until([&] {
    asked.clear();
    for (const std::string& line : s.run.driver_log())
      if (line.ends_with("FBIOGET_FSCREENINFO")) asked.push_back(line);
    return asked.size() >= 2;
  }, 15s));
  s.run.daemon_pid = std::stoi(asked[1]);
  kill(s.run.daemon_pid, SIGTERM);
  EXPECT_EQ(s.run.wait_exit(15s), 0);
  EXPECT_EQ(first_changed_byte(s.root.framebuffer()), 240000u);
  EXPECT_TRUE(s.run.logged("start").empty()) << "a player was started";
  EXPECT_EQ(read_pid_file(s.root), "");
}

// Whatever the pid file names, only a process that was our player when the file was written is
// signalled, nothing is written through a link, and the new pid file is a fresh regular file.
TEST(Startup, PidFileStopsOnlyWhatWasOurPlayer) {
  enum names { nothing, player_before_the_file, player_after_the_file, another_program };
  auto writes = [](std::string bytes) { return [bytes](const std::string& p) { write_file(p, bytes); }; };
  const std::vector<std::tuple<const char*, names, std::function<void(const std::string&)>>> cases = {
      {"the player program, started before the file", player_before_the_file, nullptr},
      {"the player program, started after the file", player_after_the_file, nullptr},
      {"another program", another_program, nullptr},
      {"short", nothing, writes("12")},
      {"-1", nothing, writes(pid_bytes(-1))},
      {"init", nothing, writes(pid_bytes(1))},
      {"fifo", nothing, [](const std::string& p) { mkfifo(p.c_str(), 0600); }},
      {"directory", nothing, [](const std::string& p) { mkdir(p.c_str(), 0700); }},
      {"link to a file", nothing, [](const std::string& p) { symlink((p + ".victim").c_str(), p.c_str()); }},
  };
  int held[2];  // a player started by hand reads this, and so lives until the test ends
  ASSERT_EQ(pipe2(held, O_CLOEXEC), 0);
  for (const auto& [name, named, make] : cases) {
    session s;
    std::string pid_file = s.root.path("tmp/mplayer.pid"), elsewhere = s.root.path("tmp");
    write_file(pid_file + ".victim", "keep me");
    pid_t pid = 0;
    if (named == another_program) pid = spawn({"sleep", "600"});
    if (named == player_before_the_file || named == player_after_the_file) {
      pid = spawn({with_stand_in().player}, {"INKPLAY_ROOT=" + elsewhere}, -1, held[0]);
      EXPECT_TRUE(wait_until([&] { return !read_lines(elsewhere + "/player.log").empty(); }, 5s));
    }
    if (pid) write_file(pid_file, pid_bytes(pid));
    if (named == player_after_the_file) {  // the file was written a while before the player started
      timespec past[2] = {{time(nullptr) - 5, 0}, {time(nullptr) - 5, 0}};
      utimensat(AT_FDCWD, pid_file.c_str(), past, 0);
    }
    if (make) make(pid_file);
    ASSERT_TRUE(s.run.start({}, {}, 5s)) << name;
    int status = 0;
    if (named == player_before_the_file) {
      EXPECT_TRUE(wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5s)) << name;
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << name;
    } else if (pid) {
      std::this_thread::sleep_for(200ms);
      EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << name;
    }
    if (pid && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);  // our own child
    EXPECT_EQ(read_file(pid_file + ".victim"), "keep me") << name;
    if (named == nothing && std::string(name) == "directory") continue;  // cannot be replaced
    struct stat st;
    EXPECT_TRUE(wait_until([&] {
      return lstat(pid_file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 4;
    }, 5s)) << name;
  }
  close(held[0]);
  close(held[1]);
}

// Each quiet second: one position query and one call of the power tool. Paused, the queries stop
// (a query would resume the player) but the tool keeps the device awake.
TEST(Loop, IdleTicksQueryAndKeepAwakeAndPauseStopsOnlyTheQueries) {
  session s;
  ASSERT_TRUE(s.run.start());
  ASSERT_TRUE(wait_until([&] { return s.run.queries() >= 3; }, 6s));
  std::vector<long long> times;
  for (const std::string& line : s.run.logged("cmd")) times.push_back(std::stoll(line));
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 950000);
  EXPECT_GE(s.run.power_calls().size() + 1, times.size());
  for (const std::string& call : s.run.power_calls())
    EXPECT_EQ(call, s.root.path("usr/bin/lipc-set-prop") + " com.lab126.powerd abortSuspend 1");

  s.run.alt(KEY_L);
  ASSERT_TRUE(wait_until([&] { return !s.run.commands().empty(); }, 3s));
  size_t queries = s.run.queries(), power = s.run.power_calls().size();
  EXPECT_TRUE(wait_until([&] { return s.run.power_calls().size() >= power + 2; }, 5s));
  EXPECT_EQ(s.run.queries(), queries);
  s.run.alt(KEY_L);
  EXPECT_TRUE(wait_until([&] { return s.run.queries() > queries; }, 5s));
  EXPECT_EQ(s.run.commands(), (std::vector<std::string>{"pause", "pause"}));
}

// A power daemon that stops answering hangs its tool: the keys must still work, and calls must
// not pile up behind the hung one.
TEST(Loop, HungPowerToolNeitherHoldsTheKeysNorPilesUp) {
  session s;
  write_file(s.root.path("usr/bin/lipc-set-prop"),
             "#!/bin/sh\necho \"$*\" >> \"$INKPLAY_ROOT/power.log\"\n"
             "[ -e \"$INKPLAY_ROOT/called\" ] && exec sleep 600\ntouch \"$INKPLAY_ROOT/called\"\n", 0755);
  ASSERT_TRUE(s.run.start());
  ASSERT_TRUE(wait_until([&] { return s.run.power_calls().size() == 2; }, 5s));
  s.run.alt(KEY_L);
  EXPECT_TRUE(wait_until([&] { return !s.run.commands().empty(); }, 3s)) << "Alt+L did not reach the player";
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(s.run.power_calls().size(), 2u) << "a call started while one was outstanding";
  s.run.alt(KEY_H);
  EXPECT_EQ(s.run.wait_exit(5s), 0);
}

// Alt-commands, byte for byte, from any keyboard (event1 missing here); keys without Alt,
// digits (which carry Alt) and releases send nothing.
TEST(Keys, CommandKeysSendExactlyTheirCommands) {
  root_options options;
  options.event1 = false;
  session s(options);
  ASSERT_TRUE(s.run.start());
  s.run.tap(KEY_J);
  s.run.tap(KEY_1);
  s.run.key(KEY_LEFTALT, 1);
  s.run.key(KEY_LEFTALT, 2);
  for (uint16_t code : {KEY_J, KEY_BACKSPACE, KEY_K, KEY_K, KEY_L, KEY_A}) s.run.tap(code);
  s.run.key(KEY_LEFTALT, 0);
  s.run.tap(KEY_L);            // Alt released: nothing
  s.run.tap(KEY_LEFTSHIFT);    // a latched Shift does not hide Alt
  s.run.alt(KEY_J, 2);         // Alt and J on another keyboard
  // Pending records are read in device order: event2's release of Alt must be read before Alt
  // comes from event0, however slowly inkplay reads.
  EXPECT_TRUE(wait_until([&] {
    int unread = -1;
    return ioctl(s.run.event_fd[2], FIONREAD, &unread) == 0 && unread == 0;
  }, 5s));
  s.run.key(KEY_LEFTALT, 1);   // Alt on one keyboard, K on another
  s.run.tap(KEY_K, 2);
  std::vector<std::string> expect = {"pt_step 1", "pt_step -1", "speed_set 100.0", "speed_set 1.0",
                                     "pause", "pt_step 1", "speed_set 100.0"};
  wait_until([&] { return s.run.commands().size() >= expect.size(); }, 5s);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(s.run.commands(), expect);
}

TEST(Faults, FloodOfOutputIsReadWithFlatMemoryAndTheLastAnswerShows) {
  session s;
  ASSERT_TRUE(s.run.start());
  auto resident_kb = [&] {
    for (const std::string& line : read_lines("/proc/" + std::to_string(s.run.daemon_pid) + "/status"))
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1L;
  };
  s.run.say("@flood 1000000");
  ASSERT_TRUE(wait_until([&] { return s.run.logged("flooded").size() == 1; }, 15s));
  long before = resident_kb();
  s.run.say("@flood 4000000");
  ASSERT_TRUE(wait_until([&] { return s.run.logged("flooded").size() == 2; }, 40s)) << "inkplay did not keep up";
  EXPECT_LT(resident_kb() - before, 512) << "kB grown";
  // An answer said now could share a read with the flood's tail, however slowly inkplay reads
  // (under an emulator): the player answers only when asked, at an idle tick, which comes once a
  // quiet second has drained the pipe. Asked after the next query, it answers the one after.
  ASSERT_TRUE(next_idle_tick(s.run, 5s));
  write_file(s.root.path("player.percent"), "42");
  EXPECT_TRUE(wait_until([&] {
    std::vector<uint8_t> fb = s.root.framebuffer();
    return fb_nibble(fb.data(), 251, 799) == 15 && fb_nibble(fb.data(), 252, 799) == 0;
  }, 5s));
}

// Without a framebuffer, a font, keyboards or the power tool the media still plays, the idle
// ticks run, the keys there are work, and the player's end ends inkplay; without a player that
// can run, inkplay ends with status 0. Each missing piece is reported once to the system log
// (none at all without a log socket; a log daemon on a stream socket gets it too). Descriptors
// that report ready for ever (the output closed, a keyboard at end of file) must not make the
// loop spin. Where there can be no overlays, nothing is drawn: the device's DirectFB 1.2 layout
// over DirectFB of another release under the 1.2 soname (1.7 itself) calls no slot; DirectFB 1.2
// that cannot start (a 4-bit panel without a mode it knows) and a panel of another geometry leave
// the screen as it was; a mode that DirectFB set leaves it as DirectFB left it (our 4-bit bytes
// would be garbage in that layout).
TEST(Faults, MissingPiecesAreReportedAndLeavePlayingAndKeysWorking) {
  using set_up = std::function<void(session&, launch_options&)>;
  auto removing = [](std::vector<const char*> files) {
    return [files](session& s, launch_options&) { for (const char* f : files) unlink(s.root.path(f).c_str()); };
  };
  enum screen_after { drawn, as_it_was, as_directfb_left_it };
  struct fault {
    std::string name;
    set_up prepare;
    std::vector<std::string> reported;
    screen_after screen = drawn;
    bool stand_in_only = false;  // what DirectFB 1.2.1 itself never does
    bool plays = true;
    std::string said = "ANS_PERCENT_POSITION=50\nPlaying x.wav.\n";
  };
  const std::string not_found = " not opened (No such file or directory)", no_overlays = ": playing without overlays";
  const std::vector<fault> faults = {
      {"framebuffer", removing({"dev/fb0"}), {"framebuffer /dev/fb0" + not_found + no_overlays}},
      {"font", removing({"usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf"}),
       {"font /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf not loaded: titles not shown"}},
      {"power tool and keyboards", removing({"usr/bin/lipc-set-prop", "dev/input/event0", "dev/input/event1", "dev/input/event2"}),
       {"keyboard /dev/input/event0" + not_found, "keyboard /dev/input/event1" + not_found,
        "keyboard /dev/input/event2" + not_found,
        "power tool /usr/bin/lipc-set-prop not started (No such file or directory)"}},
      {"player, reported to a log daemon on a stream socket", [](session& s, launch_options&) {
         unlink(s.root.path("mnt/us/system/mplayer").c_str());
         write_file(s.root.path("mnt/us/system/mplayer"), "not a program", 0755);
         s.root.use_stream_log();
       }, {"player /mnt/us/system/mplayer not started (Exec format error)"}, drawn, false, false},
      {"output closed, event1 at end of file, no system log", [](session& s, launch_options&) {
         unlink(s.root.path("dev/log").c_str());
         unlink(s.root.path("dev/input/event1").c_str());
         write_file(s.root.path("dev/input/event1"), "");
       }, {}, drawn, false, true, "@close"},
      {"DirectFB of another release", [](session& s, launch_options& options) {
         mkdir(s.root.path("lib").c_str(), 0755);
         ASSERT_EQ(symlink(directfb_17.c_str(), s.root.path("lib/libdirectfb-1.2.so.0").c_str()), 0);
         options.env = {"LD_LIBRARY_PATH=" + s.root.path("lib")};
         options.program = dfb12_inkplay;
       }, {"DirectFB 1.7 found, built for 1.2" + no_overlays}, as_it_was},
      {"DirectFB 1.2 on a 4-bit panel without a mode in /etc/fb.modes", [](session& s, launch_options& options) {
         unlink(s.root.path("etc/fb.modes").c_str());
         options.program = dfb12_inkplay;
       }, {"DirectFB could not start (Initialization error!)" + no_overlays}, as_it_was},
      {"a panel of 8 bits a pixel", [](session& s, launch_options&) { s.root.describe_panel(600, 800, 8); },
       {"framebuffer /dev/fb0 is 600x800 at 8 bits a pixel with 600-byte rows (240000 bytes), not 600x800 at 4 bits" +
        no_overlays}, as_it_was},
      // DirectFB 1.2.1 only tests the mode; one changed for a panel might set it (stand-in only).
      {"DirectFB 1.2 setting a mode of 8 bits", [](session& s, launch_options& options) {
         s.root.write_framebuffer(480000);  // room for it
         options.env = {"INKPLAY_PANEL_ACCEPTS_MODES=1", "INKPLAY_DFB12_SETS_MODE=1"};
         options.program = dfb12_inkplay;
       }, {"framebuffer /dev/fb0 set by DirectFB to 600x800 at 8 bits a pixel with 600-byte rows (480000 bytes), not "
           "600x800 at 4 bits" + no_overlays}, as_directfb_left_it, true},
  };
  for (const fault& f : faults) {
    if (f.stand_in_only && real_directfb) continue;
    session s;
    launch_options options;
    f.prepare(s, options);
    pid_t daemon = -1;
    if (!f.plays) {
      EXPECT_FALSE(s.run.start({}, options, 1s));
      // The daemon, ours as subreaper, named by its report.
      ASSERT_TRUE(wait_until([&] { return !s.root.system_log().empty(); }, 5s)) << f.name;
      s.run.daemon_pid = daemon = atoi(s.root.system_log()[0].c_str() + strlen("<28>inkplay["));
      EXPECT_EQ(s.run.wait_exit(5s), 0) << f.name;
    } else {
      ASSERT_TRUE(s.run.start({}, options)) << f.name;
      daemon = s.run.daemon_pid;
      std::vector<uint8_t> at_start = s.root.framebuffer();
      s.run.say(f.said);
      std::string stat_path = "/proc/" + std::to_string(daemon) + "/stat";
      auto cpu_ticks = [&] {
        long user = 0, system = 0;
        std::string stat = read_file(stat_path);
        sscanf(stat.c_str() + stat.rfind(')') + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user, &system);
        return user + system;
      };
      // Counted from the next idle tick, when what was said (a title, under an emulator slowly) is done.
      EXPECT_TRUE(next_idle_tick(s.run, 4s)) << f.name;
      long cpu = cpu_ticks();
      size_t queries = s.run.queries();
      EXPECT_TRUE(wait_until([&] { return s.run.queries() >= queries + 2; }, 4s)) << f.name;
      EXPECT_LE(cpu_ticks() - cpu, 10) << f.name << ": CPU ticks in two idle seconds";
      if (s.run.event_fd[0] >= 0) {
        s.run.alt(KEY_K);
        EXPECT_TRUE(wait_until([&] { return !s.run.commands().empty(); }, 3s)) << f.name;
      }
      if (f.screen != drawn) {
        EXPECT_TRUE(s.root.framebuffer() == at_start) << f.name << ": drawn without overlays";
        EXPECT_EQ(first_changed_byte(at_start) >= 240000u, f.screen == as_it_was) << f.name;
      }
      s.run.say("@exit 0");
      EXPECT_EQ(s.run.wait_exit(5s), 0) << f.name;
    }
    std::vector<std::string> seen;
    for (const std::string& message : s.root.system_log()) {
      std::string head = "<28>inkplay[" + std::to_string(daemon) + "]: ";
      EXPECT_EQ(message.substr(0, head.size()), head) << f.name;
      seen.push_back(message.substr(std::min(head.size(), message.size())));
    }
    EXPECT_EQ(seen, f.reported) << f.name;
  }
}

// The bar and the title, read back from the framebuffer file and the driver stand-in's log: the
// bar on the last four rows, the title right-aligned above it and taken away on the fifth quiet
// second, leaving the screen as it was; the top rows never touched; every key redraws the bar.
TEST(Overlays, BarAndTitleComeAndTheTitleGoesOnTheFifthIdleTick) {
  session s;
  ASSERT_TRUE(s.run.start());
  // Start-up leaves every byte as it was, the platform's status rows included (DirectFB 1.2
  // paints them all), and refreshes the working area alone.
  EXPECT_EQ(first_changed_byte(s.root.framebuffer()), 240000u);
  ASSERT_EQ(s.run.updates().size(), 1u);
  EXPECT_TRUE(has_update(s.run, 0, 40, 599, 799));
  s.run.say("ANS_PERCENT_POSITION=37\n");
  ASSERT_TRUE(wait_until([&] { return has_update(s.run, 0, 796, 599, 799); }, 3s));
  std::vector<uint8_t> saved = s.root.framebuffer();
  for (int y = 796; y < 800; ++y)
    for (int x = 0; x < 600; ++x) ASSERT_EQ(fb_nibble(saved.data(), x, y), x < 222 ? 15 : 0) << x << "," << y;
  EXPECT_GE(first_changed_byte(saved), 12000u) << "a top row changed";

  // Said just after an idle tick, so that no query is in flight while the title comes.
  ASSERT_TRUE(next_idle_tick(s.run, 3s));
  s.run.say("Playing /media/Clip one.wav.\n");
  ASSERT_TRUE(wait_until([&] { return !s.run.updates().empty() && s.run.updates().back().y1 == 773; }, 3s));
  double shown = s.run.updates().back().time;
  EXPECT_NE(s.root.framebuffer(), saved);
  EXPECT_EQ(s.run.updates().back().x2, 595);
  size_t before = s.run.updates().size();
  s.run.key(KEY_A, 0);  // a release
  EXPECT_TRUE(wait_until([&] { return has_update(s.run, 0, 796, 599, 799, before); }, 3s));
  std::optional<logged_update> gone;
  ASSERT_TRUE(wait_until([&] { return (gone = find_update(s.run, 0, 40, 599, 799, 1)).has_value(); }, 10s));
  // Ticks are counted by their queries: four before the one that takes the title away.
  size_t ticks_between = 0;
  for (const std::string& line : s.run.logged("cmd")) {
    double at = std::stod(line) / 1e6;
    ticks_between += at > shown && at < gone->time && line.ends_with("get_percent_pos");
  }
  EXPECT_EQ(ticks_between, 4u);
  EXPECT_EQ(s.root.framebuffer(), saved);
  EXPECT_EQ(s.root.system_log(), std::vector<std::string>{}) << "a whole device has nothing to report";
  std::vector<std::string> requests = s.run.driver_log();
  for (const std::string& request : requests) EXPECT_EQ(request.find(" open "), std::string::npos) << request;
  // DirectFB 1.2.1's fbdev system, where it runs, read the colour map: its own requests are there.
  EXPECT_EQ(std::ranges::any_of(requests, [](const std::string& r) { return r.ends_with("FBIOGETCMAP 0+256"); }),
            real_directfb);
}

// The device's DirectFB 1.2 layout, over the stand-in of 1.2's library: a bar and a title call
// exactly the 1.2 slots they need, and draw what the 1.7 layout draws; 1.2 is given exactly our
// options.
TEST(Dfb12, BarAndTitleCallExactlyTheExpectedSlots) {
  session s;
  launch_options options;
  options.program = dfb12_inkplay;
  options.env = {"INKPLAY_DFB12_LOG=" + s.root.path("slots.log")};
  ASSERT_TRUE(s.run.start({}, options));
  s.run.say("ANS_PERCENT_POSITION=37\nPlaying Bj\xC3\xB6rk.mp3.\n");
  ASSERT_TRUE(wait_until([&] { return has_update(s.run, 0, 796, 599, 799) && s.run.updates().back().y1 == 773; }, 5s));
  std::vector<uint8_t> fb = s.root.framebuffer();
  EXPECT_TRUE(fb_nibble(fb.data(), 221, 799) == 15 && fb_nibble(fb.data(), 222, 799) == 0);
  std::vector<std::string> slots = read_lines(s.root.path("slots.log"));
  std::sort(slots.begin(), slots.end());
  EXPECT_EQ(slots, (std::vector<std::string>{"Font 11", "Font 3", "Font 4", "Font 5", "IDirectFB 20", "IDirectFB 4",
                                             "IDirectFB 8", "Option disable-module=keyboard", "Option disable-module=linux_input",
                                             "Option dont-catch=1,2,15", "Option no-vt", "Option quiet",
                                             "Surface 21", "Surface 37", "Surface 45", "Surface 48"}));
}

}  // namespace
