// What the host stand-in for the e-ink driver recorded (see update_recorder.cpp).
#pragma once

#include <cstdint>

struct recorded_area {
  int32_t x1, y1, x2, y2, effect;
  long long time_us;
};

extern "C" int recorded_update_count();
extern "C" recorded_area recorded_update(int i);
extern "C" void clear_recorded_updates();

// Called at each update, before it returns, so that a test can look at the framebuffer as the
// driver would read it then. Null to stop.
extern "C" void set_update_observer(void (*observer)(const recorded_area&));
