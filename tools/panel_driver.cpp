// Host stand-in for the e-ink driver's area-update request, at the ioctl boundary.
// Loaded ahead of the C library (LD_PRELOAD, or linked into a test), it answers request 0x46DD
// as the driver would and records the rectangle; every other request goes to the C library.
//
// Records go to the file named by INKPLAY_UPDATE_LOG, one line each:
//   <seconds since the epoch, microseconds> <x1> <y1> <x2> <y2> <effect>
// and into an in-process list that linked tests read with recorded_update(). When
// INKPLAY_PANEL_DIR is set, the framebuffer as the driver would read it at that moment is saved
// there too, as panel-NNNNN.raw (the whole 240000-byte mapping).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tools/update_recorder.h"

namespace {

constexpr unsigned long update_request = 0x46DD;
constexpr int capacity = 4096;

struct recorder_state {
  recorded_area areas[capacity];
  int count;
};
recorder_state recorder;
void (*update_observer)(const recorded_area&);

using ioctl_fn = int (*)(int, unsigned long, ...);

void log_update(const recorded_area& a) {
  const char* path = getenv("INKPLAY_UPDATE_LOG");
  if (!path || !*path) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[128];
  int n = snprintf(line, sizeof line, "%lld.%06lld %d %d %d %d %d\n", a.time_us / 1000000,
                   a.time_us % 1000000, a.x1, a.y1, a.x2, a.y2, a.effect);
  ssize_t written = write(fd, line, static_cast<size_t>(n));
  (void)written;
  close(fd);
}

void save_panel(int fb_fd) {
  const char* dir = getenv("INKPLAY_PANEL_DIR");
  if (!dir || !*dir) return;
  static int frame;
  static char panel[240000];
  if (pread(fb_fd, panel, sizeof panel, 0) != static_cast<ssize_t>(sizeof panel)) return;
  char path[4096];
  snprintf(path, sizeof path, "%s/panel-%05d.raw", dir, ++frame);
  char part[4112];
  snprintf(part, sizeof part, "%s.part", path);  // readers never see half a frame
  int fd = open(part, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  bool whole = write(fd, panel, sizeof panel) == static_cast<ssize_t>(sizeof panel);
  close(fd);
  if (whole) rename(part, path);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (request != update_request) {
    static ioctl_fn next = reinterpret_cast<ioctl_fn>(dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, arg);
  }
  // The driver's record: four corners and the effect as 32-bit integers, then the buffer.
  const int32_t* fields = static_cast<const int32_t*>(arg);
  timeval now;
  gettimeofday(&now, nullptr);
  recorded_area a = {fields[0], fields[1], fields[2], fields[3], fields[4],
                     static_cast<long long>(now.tv_sec) * 1000000 + now.tv_usec};
  if (recorder.count < capacity) recorder.areas[recorder.count++] = a;
  log_update(a);
  save_panel(fd);
  if (update_observer) update_observer(a);
  return 0;
}

extern "C" int recorded_update_count() { return recorder.count; }
extern "C" recorded_area recorded_update(int i) { return recorder.areas[i]; }
extern "C" void clear_recorded_updates() { recorder.count = 0; }
extern "C" void set_update_observer(void (*observer)(const recorded_area&)) {
  update_observer = observer;
}
