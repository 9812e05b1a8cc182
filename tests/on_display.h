// Shared by the in-process tests of the display layer: one display on real DirectFB (dummy
// system) over the test root, a fixture that starts each test from a white, clean surface, and
// readers of the surface, the panel's nibbles and the recorded area updates.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "display/display.h"
#include "supervisor/supervisor.h"
#include "tools/panel_driver.h"

struct rect {
  int x1, y1, x2, y2;
  bool operator==(const rect&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const rect& r) {
  return os << "(" << r.x1 << "," << r.y1 << ")-(" << r.x2 << "," << r.y2 << ")";
}

// The area updates since the last clear; every one a plain partial update.
inline std::vector<rect> updates() {
  std::vector<rect> out;
  for (int i = 0; i < recorded_update_count(); ++i) {
    recorded_area a = recorded_update(i);
    EXPECT_EQ(a.effect, 0);
    out.push_back({a.x1, a.y1, a.x2, a.y2});
  }
  return out;
}

inline uint32_t grey(uint32_t level) { return 0xFF000000 | level * 0x111111; }
inline uint32_t& pixel(int x, int y) { return surface_pixels[y * surface_width + x]; }
// The panel value of surface pixel (x, y) as the framebuffer holds it.
inline int panel(int x, int y) {
  uint8_t byte = screen.working_area[y * fb_row_bytes + x / 2];
  return x % 2 ? byte & 0x0F : byte >> 4;
}
inline bool same_region(const dirty_rect& a, const dirty_rect& b) { return memcmp(&a, &b, sizeof a) == 0; }
constexpr dirty_rect nothing_marked = {0xFFFFFFFF, 0xFFFFFFFF, 0, 0};

class OnDisplay : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_ready());
    flush_dirty();
    clear_recorded_updates();
    for (uint32_t& p : surface_pixels) p = grey(15);
    set_attrs(0);
    set_fg(0);
    set_bg(15);
    text_cursor = caret_drawn = {0, 0, 0};
    last_percent = 0;
    playback = {};
  }
  void TearDown() override { set_update_observer(nullptr); }
};
