// The platform's absolute paths, in one table, each resolved under INKPLAY_ROOT.
// Passive: any module asks for a path when it opens something; the device leaves the root unset.
#pragma once

enum class device_file {
  framebuffer,
  input0,
  input1,
  input2,
  player,
  power_tool,
  font,
  pid_file,
  system_log,
};

// The path as the platform knows it ("/dev/fb0"), whatever the root.
const char* device_path_on_device(device_file f);

// The path to open: the device path under $INKPLAY_ROOT, or the device path itself when the
// variable is unset or empty. Resolved once; the strings live for the whole process.
const char* device_path(device_file f);
