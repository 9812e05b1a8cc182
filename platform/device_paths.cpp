#include "platform/device_paths.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* device_paths[] = {
    "/dev/fb0",
    "/dev/input/event0",
    "/dev/input/event1",
    "/dev/input/event2",
    "/mnt/us/system/mplayer",
    "/usr/bin/lipc-set-prop",
    "/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf",
    "/tmp/mplayer.pid",
    "/dev/log",
};
constexpr int path_count = sizeof device_paths / sizeof device_paths[0];

struct resolved_paths {
  bool done;
  char path[path_count][PATH_MAX];
};
resolved_paths resolved;

void resolve_all() {
  const char* root = getenv("INKPLAY_ROOT");
  if (!root) root = "";
  for (int i = 0; i < path_count; ++i) {
    int n = snprintf(resolved.path[i], PATH_MAX, "%s%s", root, device_paths[i]);
    // A root too long to hold the path must not silently turn into a different, shorter path.
    if (n < 0 || n >= PATH_MAX) snprintf(resolved.path[i], PATH_MAX, "/nonexistent-root-too-long");
  }
  resolved.done = true;
}

}  // namespace

const char* device_path_on_device(device_file f) { return device_paths[static_cast<int>(f)]; }

const char* device_path(device_file f) {
  if (!resolved.done) resolve_all();
  return resolved.path[static_cast<int>(f)];
}
