// Test support: runs of the real inkplay in a simulated device, and waits with time-outs.
// Every wait is bounded well below ctest's limit; every failure goes through GoogleTest.
#pragma once

#include <gtest/gtest.h>
#include <linux/input.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tools/device_root.h"

using namespace std::chrono_literals;

// Checks every 10 ms; false when the time-out passed first.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// A device root with the stand-in player at the player path.
root_options with_stand_in(root_options options = {});

// One detached inkplay, found through the player it started.
struct inkplay_run {
  device_root& root;
  bool stand_in = true;  // else MPlayer: found through the pid file alone
  pid_t daemon_pid = -1, player_pid = -1;
  int event_fd[3] = {-1, -1, -1};

  explicit inkplay_run(device_root& r) : root(r) {}
  ~inkplay_run();
  // True once the player runs and, for the stand-in, can be told things.
  bool start(const std::vector<std::string>& args = {}, const launch_options& options = {},
             std::chrono::milliseconds timeout = 10s);
  int wait_exit(std::chrono::milliseconds timeout = 5s);  // the wait status, or -1

  void key(uint16_t code, int32_t value, int device = 0);
  void tap(uint16_t code, int device = 0) { key(code, 1, device), key(code, 0, device); }
  void alt(uint16_t code, int device = 0) { key(KEY_LEFTALT, 1, device), tap(code, device), key(KEY_LEFTALT, 0, device); }
  void say(const std::string& text);  // the stand-in prints this in one write

  // The stand-in's log lines that start with this word, the word taken off.
  std::vector<std::string> logged(const std::string& word) const;
  std::vector<std::string> commands() const;  // without the position queries
  size_t queries() const;
  std::vector<logged_update> updates() const { return read_updates(root.path("updates.log")); }
  std::vector<std::string> power_calls() const { return read_lines(root.path("power.log")); }
};

bool has_update(const inkplay_run& run, int x1, int y1, int x2, int y2, size_t from = 0);

// What the in-process tests' display_open left behind, taken before any test ran.
struct startup_snapshot {
  int updates;
  int x1, y1, x2, y2;
  bool working_area_kept;
};
extern startup_snapshot at_startup;
