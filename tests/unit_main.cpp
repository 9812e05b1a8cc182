// The in-process tests share one display: DirectFB on its dummy system over a device root.
#include <gtest/gtest.h>

#include <cstdlib>

#include "display/display.h"
#include "tests/harness.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  device_root root;
  setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
  setenv("DFBARGS", "system=dummy", 1);
  DirectFBInit(&argc, &argv);
  display_open();
  return RUN_ALL_TESTS();
}
