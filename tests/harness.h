// Test support on the simulated device (tools/device_root.h: roots, runs, bounded waits), and
// readers of what a run left. Every wait is bounded well below ctest's limit.
#pragma once

#include <gtest/gtest.h>
#include <linux/input.h>

#include <optional>

#include "tools/device_root.h"

using namespace std::chrono_literals;

inline std::optional<logged_update> find_update(const inkplay_run& run, int x1, int y1, int x2, int y2,
                                                size_t from = 0) {
  std::vector<logged_update> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].x1 == x1 && u[i].y1 == y1 && u[i].x2 == x2 && u[i].y2 == y2) return u[i];
  return std::nullopt;
}
inline bool has_update(const inkplay_run& run, int x1, int y1, int x2, int y2, size_t from = 0) {
  return find_update(run, x1, y1, x2, y2, from).has_value();
}

// True once the player has been asked for its position again: an idle tick, which comes only
// after a quiet second, so all that the player said before has been read, however slowly.
inline bool next_idle_tick(const inkplay_run& run, std::chrono::milliseconds timeout) {
  size_t queries = run.queries();
  return wait_until([&] { return run.queries() > queries; }, timeout);
}

// The first byte of a framebuffer image that differs from the root's pattern, or its size.
inline size_t first_changed_byte(const std::vector<uint8_t>& fb) {
  size_t i = 0;
  while (i < fb.size() && fb[i] == device_root::pattern_byte(i)) ++i;
  return i;
}

// What the in-process tests' display_open left behind, taken before any test ran.
struct startup_snapshot {
  int updates;
  int x1, y1, x2, y2;
  bool working_area_kept;
};
extern startup_snapshot at_startup;
