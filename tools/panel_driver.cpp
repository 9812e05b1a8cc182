// Stand-in for the panel's framebuffer driver, and for what else of the device a DirectFB fbdev
// system reaches, at the C library's boundary. Loaded ahead of the C library (LD_PRELOAD, or
// linked into a test), for the host's inkplay and, built for armel, for the device's under qemu:
//  - the e-ink area update (0x46DD) is answered as the driver does and recorded;
//  - the device root's dev/fb0 answers as the panel's driver does where the root's
//    sys/class/graphics/fb0 describes the panel (bits_per_pixel, virtual_size, stride): one fixed
//    mode, its memory the file's size. FBIOPUT_VSCREENINFO gives that same mode back with success
//    (a driver without a mode check), unless INKPLAY_PANEL_ACCEPTS_MODES is set: then a mode that
//    fits the memory is taken. Panning at 0,0 only; a colour map of 256 entries. Without those
//    files, dev/fb0 is the regular file it is and answers no request;
//  - /etc/fb.modes is the root's etc/fb.modes;
//  - a terminal is never opened: the attempt is recorded, and fails;
//  - with INKPLAY_PANEL_SLOW_MS, each FBIOGET_FSCREENINFO takes that long (a slow start);
//  - under a 32-bit emulator on ext4, readdir_r reads through readdir64 (its 32-bit offsets
//    overflow there, and DirectFB would find no module).
// INKPLAY_UPDATE_LOG gets a line per area update, "<monotonic seconds> <x1> <y1> <x2> <y2>
// <effect>", linked tests read them with recorded_update(); INKPLAY_DRIVER_LOG gets a line per
// framebuffer request and terminal open, "<pid> <what>". With INKPLAY_PANEL_DIR set, the framebuffer as the driver
// reads it at each update is saved there too, as panel-NNNNN.raw (the whole 240000 bytes).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tools/panel_driver.h"

namespace {

constexpr unsigned long update_request = 0x46DD;
constexpr int capacity = 4096;

struct driver_state {
  recorded_area areas[capacity];
  int count;
  bool mode_known;  // read from the root's sysfs at the first framebuffer request
  fb_var_screeninfo var;
  fb_fix_screeninfo fix;
  uint16_t cmap[4][256];
};
driver_state driver;
void (*update_observer)(const recorded_area&);

template <typename fn>
fn next(const char* name) {
  return reinterpret_cast<fn>(dlsym(RTLD_NEXT, name));
}

const char* root() {
  const char* r = getenv("INKPLAY_ROOT");
  return r ? r : "";
}

void write_line(const char* log_variable, const char* line) {
  const char* path = getenv(log_variable);
  if (!path || !*path) return;
  static auto real_open = next<int (*)(const char*, int, ...)>("open");
  int fd = real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t written = write(fd, line, strlen(line));
  (void)written;
  close(fd);
}

// A line of the driver's log, "<pid> <what>".
void note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void note(const char* format, ...) {
  char line[256];
  int n = snprintf(line, sizeof line, "%d ", static_cast<int>(getpid()));
  va_list args;
  va_start(args, format);
  vsnprintf(line + n, sizeof line - n, format, args);
  va_end(args);
  write_line("INKPLAY_DRIVER_LOG", line);
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

int record_update(int fd, const int32_t* fields) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  recorded_area a = {fields[0], fields[1], fields[2], fields[3], fields[4],
                     static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000};
  if (driver.count < capacity) driver.areas[driver.count++] = a;
  char line[128];
  snprintf(line, sizeof line, "%lld.%06lld %d %d %d %d %d\n", a.time_us / 1000000, a.time_us % 1000000, a.x1, a.y1,
           a.x2, a.y2, a.effect);
  write_line("INKPLAY_UPDATE_LOG", line);
  save_panel(fd);
  if (update_observer) update_observer(a);
  return 0;
}

unsigned read_number(const char* sysfs_file, int which = 0) {
  char path[4096], text[64] = "";
  snprintf(path, sizeof path, "%s/sys/class/graphics/fb0/%s", root(), sysfs_file);
  FILE* f = fopen(path, "r");
  if (!f) return 0;
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  const char* at = text;
  for (int i = 0; i < which && at; ++i) at = strchr(at, ',') ? strchr(at, ',') + 1 : nullptr;
  return at ? static_cast<unsigned>(strtoul(at, nullptr, 10)) : 0;
}

// The root's dev/fb0, when its panel is described; its mode is then known.
bool is_framebuffer(int fd) {
  char path[4096];
  snprintf(path, sizeof path, "%s/dev/fb0", root());
  struct stat file, mine;
  if (fstat(fd, &mine) != 0 || stat(path, &file) != 0 || mine.st_dev != file.st_dev || mine.st_ino != file.st_ino)
    return false;
  if (!driver.mode_known && read_number("bits_per_pixel")) {
    fb_var_screeninfo& v = driver.var;
    v.xres = v.xres_virtual = read_number("virtual_size", 0);
    v.yres = v.yres_virtual = read_number("virtual_size", 1);
    v.bits_per_pixel = read_number("bits_per_pixel");
    v.grayscale = v.bits_per_pixel <= 8;
    v.red.length = v.green.length = v.blue.length = v.bits_per_pixel <= 8 ? v.bits_per_pixel : 8;
    fb_fix_screeninfo& f = driver.fix;
    snprintf(f.id, sizeof f.id, "panel stand-in");
    f.smem_len = static_cast<uint32_t>(file.st_size);
    f.type = FB_TYPE_PACKED_PIXELS;
    f.visual = FB_VISUAL_STATIC_PSEUDOCOLOR;
    f.line_length = read_number("stride");
    driver.mode_known = true;
  }
  return driver.mode_known;
}

// Linux copies a mode it cannot check back to the caller, with success.
int put_mode(fb_var_screeninfo* asked) {
  fb_var_screeninfo& v = driver.var;
  uint64_t row = uint64_t(asked->xres_virtual) * asked->bits_per_pixel / 8;
  bool take = getenv("INKPLAY_PANEL_ACCEPTS_MODES") && (asked->activate & FB_ACTIVATE_MASK) == FB_ACTIVATE_NOW &&
              asked->xres && asked->yres && row * asked->yres_virtual <= driver.fix.smem_len;
  note("FBIOPUT_VSCREENINFO %ux%u %u bits, activate %u: %s\n", asked->xres, asked->yres, asked->bits_per_pixel,
       asked->activate, take ? "taken" : "kept");
  if (take) {
    v.xres = asked->xres, v.yres = asked->yres, v.xres_virtual = asked->xres_virtual;
    v.yres_virtual = asked->yres_virtual, v.bits_per_pixel = asked->bits_per_pixel;
    driver.fix.line_length = static_cast<uint32_t>(row);
  }
  *asked = v;
  return 0;
}

int colour_map(fb_cmap* map, bool put) {
  note("%s %u+%u\n", put ? "FBIOPUTCMAP" : "FBIOGETCMAP", map->start, map->len);
  if (map->start > 256 || map->len > 256 - map->start) return errno = EINVAL, -1;
  uint16_t* parts[4] = {map->red, map->green, map->blue, map->transp};
  for (int p = 0; p < 4; ++p)
    if (parts[p])
      for (uint32_t i = 0; i < map->len; ++i)
        put ? void(driver.cmap[p][map->start + i] = parts[p][i]) : void(parts[p][i] = driver.cmap[p][map->start + i]);
  return 0;
}

int framebuffer_request(unsigned long request, void* arg) {
  switch (request) {
    case FBIOGET_VSCREENINFO:
      note("FBIOGET_VSCREENINFO\n");
      *static_cast<fb_var_screeninfo*>(arg) = driver.var;
      return 0;
    case FBIOGET_FSCREENINFO:
      note("FBIOGET_FSCREENINFO\n");
      if (const char* slow = getenv("INKPLAY_PANEL_SLOW_MS")) usleep(static_cast<useconds_t>(atoi(slow)) * 1000);
      *static_cast<fb_fix_screeninfo*>(arg) = driver.fix;
      return 0;
    case FBIOPUT_VSCREENINFO: return put_mode(static_cast<fb_var_screeninfo*>(arg));
    case FBIOPAN_DISPLAY: {
      auto* var = static_cast<fb_var_screeninfo*>(arg);
      note("FBIOPAN_DISPLAY %u,%u\n", var->xoffset, var->yoffset);
      return var->xoffset == 0 && var->yoffset == 0 ? 0 : (errno = EINVAL, -1);
    }
    case FBIOGETCMAP: return colour_map(static_cast<fb_cmap*>(arg), false);
    case FBIOPUTCMAP: return colour_map(static_cast<fb_cmap*>(arg), true);
    default:
      note("request 0x%lx refused\n", request);
      return errno = ENOTTY, -1;
  }
}

// The console's terminals: /dev/tty, /dev/tty0.., /dev/vc/N, /dev/console.
bool is_terminal(const char* path) {
  return path && (strncmp(path, "/dev/tty", 8) == 0 || strncmp(path, "/dev/vc/", 8) == 0 ||
                  strcmp(path, "/dev/console") == 0);
}

bool refuse_terminal(const char* path) {
  if (!is_terminal(path)) return false;
  note("open %s refused\n", path);
  errno = EACCES;
  return true;
}

mode_t mode_argument(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  // The driver's record: four corners and the effect as 32-bit integers, then the buffer.
  if (request == update_request) return record_update(fd, static_cast<const int32_t*>(arg));
  if (is_framebuffer(fd)) return framebuffer_request(request, arg);
  static auto real_ioctl = next<int (*)(int, unsigned long, ...)>("ioctl");
  return real_ioctl(fd, request, arg);
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_argument(flags, args);
  va_end(args);
  static auto real_open = next<int (*)(const char*, int, ...)>("open");
  return refuse_terminal(path) ? -1 : real_open(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_argument(flags, args);
  va_end(args);
  static auto real_open64 = next<int (*)(const char*, int, ...)>("open64");
  return refuse_terminal(path) ? -1 : real_open64(path, flags, mode);
}

FILE* fopen(const char* path, const char* how) {
  static auto real_fopen = next<FILE* (*)(const char*, const char*)>("fopen");
  char modes[4096];
  if (path && strcmp(path, "/etc/fb.modes") == 0 && *root()) {
    snprintf(modes, sizeof modes, "%s/etc/fb.modes", root());
    path = modes;
  }
  return real_fopen(path, how);
}

#if INTPTR_MAX == INT32_MAX
FILE* fopen64(const char* path, const char* how) { return fopen(path, how); }

int readdir_r(DIR* dir, dirent* entry, dirent** result) {
  int saved = errno;
  errno = 0;
  dirent64* e = readdir64(dir);
  *result = nullptr;
  if (!e) return errno ? errno : (errno = saved, 0);
  entry->d_ino = static_cast<ino_t>(e->d_ino);
  entry->d_off = static_cast<off_t>(e->d_off);
  entry->d_reclen = sizeof *entry;
  entry->d_type = e->d_type;
  snprintf(entry->d_name, sizeof entry->d_name, "%s", e->d_name);
  *result = entry;
  return 0;
}
#endif

int recorded_update_count() { return driver.count; }
recorded_area recorded_update(int i) { return driver.areas[i]; }
void clear_recorded_updates() { driver.count = 0; }
void set_update_observer(void (*observer)(const recorded_area&)) { update_observer = observer; }
}
