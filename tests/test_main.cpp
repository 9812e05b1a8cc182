// The in-process tests share one device root: its keyboards, and with the display, DirectFB on
// its dummy system over its framebuffer.
#include <gtest/gtest.h>

#include "display/display.h"
#include "input/input.h"
#include "tests/harness.h"
#include "tools/panel_driver.h"

startup_snapshot at_startup;

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  device_root root;
  setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
#ifdef WITH_DISPLAY
  // DirectFB's dummy system, unless the run brings its own (DirectFB 1.2's fbdev system under an
  // emulator); the fbdev system takes the root's framebuffer, the dummy system ignores it.
  const char* dfbargs = getenv("DFBARGS");
  std::string args = std::string(dfbargs ? dfbargs : "system=dummy") + ",fbdev=" + root.path("dev/fb0");
  setenv("DFBARGS", args.c_str(), 1);
  DirectFBInit(&argc, &argv);
  display_open();
  recorded_area first = recorded_update(0);
  at_startup = {recorded_update_count(), first.x1, first.y1, first.x2, first.y2, true};
  for (int i = 0; i < working_area_bytes; ++i)
    at_startup.working_area_kept &= screen.working_area[i] == device_root::pattern_byte(working_area_offset + i);
#else
  open_input_devices();
#endif
  return RUN_ALL_TESTS();
}
