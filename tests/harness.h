// Test support: a device root in a temporary folder, and runs of the real inkplay binary in it.
#pragma once

#include <linux/input.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/update_recorder.h"

struct root_options {
  bool event1 = true;       // create dev/input/event1
  bool framebuffer = true;  // create dev/fb0
  bool font = true;         // a real TrueType font at the platform font path
  bool player = true;       // the stand-in player at the player path
  bool real_player = false; // MPlayer itself at the player path instead
};

// dev/fb0 (240000 bytes of a known pattern), FIFOs dev/input/event0..2, the stand-in player,
// a logging power tool, the font, tmp/ for the pid file.
struct device_root {
  std::string dir;
  bool real_player;
  explicit device_root(root_options options = {});
  ~device_root();
  std::string path(const std::string& relative) const { return dir + "/" + relative; }
  std::vector<uint8_t> framebuffer() const;
  static uint8_t pattern_byte(size_t offset) { return static_cast<uint8_t>(offset * 7 + 3); }
};

std::string read_file(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);
void write_file(const std::string& path, const std::string& text);
void write_record(int fd, uint16_t code, int32_t value, uint16_t type = EV_KEY);

// Waits for a condition, checking every 10 ms; false when the time-out passed first.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

struct update_record {
  double time;
  int x1, y1, x2, y2, effect;
};

// One detached inkplay, found through the player it started. The test process is a child
// subreaper, so the daemon is reparented to it and its exit status can be collected.
struct inkplay_run {
  device_root& root;
  pid_t daemon_pid = -1;
  pid_t player_pid = -1;
  int event_fd[3] = {-1, -1, -1};
  std::vector<std::string> wrapper;  // runs inkplay under this command (valgrind, say)

  explicit inkplay_run(device_root& r) : root(r) {}
  ~inkplay_run();
  // Starts inkplay with these arguments; false when no player reported its start in time.
  bool start(const std::vector<std::string>& args = {},
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void open_keyboards();
  bool find_real_player(const std::string& old_pid_file, std::chrono::milliseconds timeout);
  // The daemon's wait status, or -1 if it did not end in time.
  int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  void key(uint16_t code, int32_t value, int device = 0);
  void tap(uint16_t code, int device = 0) { key(code, 1, device); key(code, 0, device); }
  void say(const std::string& text);  // the player prints this in one write

  std::vector<std::string> player_args() const;
  std::vector<std::string> commands() const;  // each without its newline
  std::vector<update_record> updates() const;
  std::vector<std::string> power_calls() const;
  bool wait_for_commands(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  long cpu_ticks() const;  // the daemon's user + system time in clock ticks
};

// Linux key codes used by the tests.
constexpr uint16_t k_backspace = KEY_BACKSPACE, k_alt = KEY_LEFTALT, k_shift = KEY_LEFTSHIFT;

// What the in-process tests' display_open left behind, taken before any test ran.
struct startup_snapshot {
  int updates;
  recorded_area first_update;
  bool working_area_kept;
};
extern startup_snapshot at_startup;
