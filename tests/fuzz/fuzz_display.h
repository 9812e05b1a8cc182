// Shared by the fuzzers that draw: one display on DirectFB's dummy system over a device root,
// and the checks that nothing outside the surface and the working area was touched.
#pragma once

#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "tools/device_root.h"
#include "tools/panel_driver.h"

inline uint8_t top_rows_at_start[working_area_offset];

inline void open_fuzz_display() {
  static device_root* root = new device_root();
  setenv("INKPLAY_ROOT", root->dir.c_str(), 1);
  setenv("DFBARGS", "system=dummy,no-sighandler", 1);  // crashes go to the fuzzer
  DirectFBInit(nullptr, nullptr);
  display_open();
  if (!display_ready()) abort();
  memcpy(top_rows_at_start, screen.working_area - working_area_offset, working_area_offset);
}

// The top rows are never written, and every refresh lies on the panel's working area.
inline void check_screen_untouched_outside() {
  if (memcmp(top_rows_at_start, screen.working_area - working_area_offset, working_area_offset) != 0)
    abort();
  for (int i = 0; i < recorded_update_count(); ++i) {
    recorded_area a = recorded_update(i);
    if (a.x1 < 0 || a.x2 > 599 || a.x1 > a.x2 || a.y1 < 40 || a.y2 > 799 || a.y1 > a.y2) abort();
  }
  clear_recorded_updates();
}
