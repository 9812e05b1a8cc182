// The in-process tests share one display: DirectFB on its dummy system over a device root.
#include <gtest/gtest.h>

#include <cstdlib>

#include "display/display.h"
#include "tests/harness.h"
#include "tools/update_recorder.h"

startup_snapshot at_startup;

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  device_root root;
  setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
  setenv("DFBARGS", "system=dummy", 1);
  DirectFBInit(&argc, &argv);
  display_open();
  at_startup.updates = recorded_update_count();
  at_startup.first_update = recorded_update(0);
  at_startup.working_area_kept = true;
  for (int i = 0; i < working_area_bytes; ++i)
    if (screen.working_area[i] != device_root::pattern_byte(working_area_offset + i))
      at_startup.working_area_kept = false;
  return RUN_ALL_TESTS();
}
