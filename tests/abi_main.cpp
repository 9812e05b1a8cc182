// The DirectFB-free tests: keyboards and launch in a device root, the flush on a raw buffer.
#include <gtest/gtest.h>

#include <cstdlib>

#include "input/input.h"
#include "tests/harness.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  device_root root;
  setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
  open_input_devices();
  return RUN_ALL_TESTS();
}
