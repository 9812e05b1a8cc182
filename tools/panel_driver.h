// What the stand-in for the panel's driver recorded (see panel_driver.cpp).
#pragma once

#include <cstdint>

struct recorded_area {
  int32_t x1, y1, x2, y2, effect;
  long long time_us;  // monotonic clock, as the stand-in player's log
};

extern "C" int recorded_update_count();
extern "C" recorded_area recorded_update(int i);
extern "C" void clear_recorded_updates();

// Called at each update, before it returns, so that a test can look at the framebuffer as the
// driver would read it then. Null to stop.
extern "C" void set_update_observer(void (*observer)(const recorded_area&));
