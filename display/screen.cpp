// Screen set-up and the one call that reaches the e-ink driver.
#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "input/input.h"
#include "platform/device_paths.h"
#include "platform/end_signals.h"
#include "platform/system_log.h"

namespace {

// The driver reads six 32-bit fields on the 32-bit device, the buffer pointer last.
constexpr bool narrow_abi = sizeof(void*) == 4;
static_assert(offsetof(update_area, y2) == 12 && offsetof(update_area, effect) == 16);
static_assert(offsetof(update_area, buffer) == (narrow_abi ? 20 : 24));
static_assert(sizeof(update_area) == (narrow_abi ? 24 : 32));

// The panel's mode as its driver tells it; where the driver does not answer (on a host, a
// regular file stands in for the framebuffer), the geometry we draw for.
struct panel_mode {
  uint32_t width, height, bits, row_bytes, memory;
  bool operator==(const panel_mode&) const = default;
};

panel_mode ask_panel_mode(int fd) {
  panel_mode mode = {screen_width, screen_height, 4, fb_row_bytes, fb_map_bytes};
  fb_var_screeninfo var = {};
  if (ioctl(fd, FBIOGET_VSCREENINFO, &var) == 0) mode.width = var.xres, mode.height = var.yres, mode.bits = var.bits_per_pixel;
  fb_fix_screeninfo fix = {};
  if (ioctl(fd, FBIOGET_FSCREENINFO, &fix) == 0) mode.row_bytes = fix.line_length, mode.memory = fix.smem_len;
  return mode;
}

bool is_our_panel(const panel_mode& m) {
  return m.width == screen_width && m.height == screen_height && m.bits == 4 && m.row_bytes == fb_row_bytes &&
         m.memory >= fb_map_bytes;
}

void report_other_panel(const char* how, const panel_mode& m) {
  report("framebuffer %s %s %ux%u at %u bits a pixel with %u-byte rows (%u bytes), not %dx%d at 4 bits: playing "
         "without overlays", device_path_on_device(device_file::framebuffer), how, m.width, m.height, m.bits,
         m.row_bytes, m.memory, screen_width, screen_height);
}

// The whole mapping, or null. The family has panels of other geometries (8 bits a pixel, other
// sizes), where our 4-bit rows would be garbage over the screen: those play without overlays.
uint8_t* map_framebuffer(panel_mode& mode) {
  const char* name = device_path_on_device(device_file::framebuffer);
  screen.fb_fd = open(device_path(device_file::framebuffer), O_RDWR);
  if (screen.fb_fd < 0) {
    report("framebuffer %s not opened (%s): playing without overlays", name, strerror(errno));
    return nullptr;
  }
  fcntl(screen.fb_fd, F_SETFD, FD_CLOEXEC);  // the player has no business with the panel
  mode = ask_panel_mode(screen.fb_fd);
  if (!is_our_panel(mode)) {
    report_other_panel("is", mode);
    close(screen.fb_fd);
    screen.fb_fd = -1;
    return nullptr;
  }
  void* map = mmap(nullptr, fb_map_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, screen.fb_fd, 0);
  if (map == MAP_FAILED) {
    report("framebuffer %s not mapped (%s): playing without overlays", name, strerror(errno));
    return nullptr;
  }
  screen.working_area = static_cast<uint8_t*>(map) + working_area_offset;
  return static_cast<uint8_t*>(map);
}

// The interface records this program was built for are valid only on the DirectFB release
// they describe; on any other every method would be called through the wrong slot.
bool layout_matches_library() {
  return directfb_major_version == dfb_layout_major && directfb_minor_version == dfb_layout_minor;
}

// The signals the supervisor handles, by number ("1,2,15"), as DirectFB takes them.
void leave_end_signals_to_us() {
  char numbers[32] = "";
  size_t used = 0;
  for (int signal : end_signals)
    used += snprintf(numbers + used, sizeof numbers - used, used ? ",%d" : "%d", signal);
  DirectFBSetOption("dont-catch", numbers);
}

bool create_surface() {
  if (!layout_matches_library()) {
    report("DirectFB %u.%u found, built for %u.%u: playing without overlays", directfb_major_version,
           directfb_minor_version, dfb_layout_major, dfb_layout_minor);
    return false;
  }
  // DirectFB must leave the terminal and the keyboards alone (we read them ourselves: its
  // keyboard driver would take the console's terminal and not give it back if we are killed),
  // leave the signals that end us politely to the supervisor, and print nothing.
  DirectFBSetOption("no-vt", nullptr);
  DirectFBSetOption("disable-module", "linux_input");
  DirectFBSetOption("disable-module", "keyboard");
  leave_end_signals_to_us();
  DirectFBSetOption("quiet", nullptr);
  if (DFBResult result = DirectFBCreate(&screen.dfb); result != DFB_OK) {
    report("DirectFB could not start (%s): playing without overlays", DirectFBErrorString(result));
    return false;
  }
  screen.dfb->SetCooperativeLevel(screen.dfb, DFSCL_FULLSCREEN);

  DFBSurfaceDescription desc = {};
  desc.flags = static_cast<DFBSurfaceDescriptionFlags>(DSDESC_CAPS | DSDESC_WIDTH | DSDESC_HEIGHT |
                                                       DSDESC_PIXELFORMAT | DSDESC_PREALLOCATED);
  desc.caps = DSCAPS_NONE;
  desc.width = surface_width;
  desc.height = surface_height;
  desc.pixelformat = DSPF_ARGB;
  for (int i = 0; i < 2; ++i) {
    desc.preallocated[i].data = screen.pixels;
    desc.preallocated[i].pitch = surface_pitch;
  }
  IDirectFBSurface* surface = nullptr;
  if (DFBResult result = screen.dfb->CreateSurface(screen.dfb, &desc, &surface); result != DFB_OK) {
    report("DirectFB made no surface (%s): playing without overlays", DirectFBErrorString(result));
    return false;
  }
  screen.surface = surface;
  // The level cache starts at 0 (black); DirectFB starts with transparent black, which would
  // leave text drawn in black before any other colour invisible.
  surface->SetColor(surface, 0, 0, 0, 0xFF);
  return true;
}

}  // namespace

// Without a framebuffer or DirectFB the player still runs; only the overlays are missing.
void display_open() {
  panel_mode mode;
  if (uint8_t* framebuffer = map_framebuffer(mode)) {
    // DirectFB's start paints its primary layer, on the device the whole framebuffer, the
    // platform's status rows included: every byte goes back as it was. The top rows are not
    // refreshed, not being ours: the panel still shows them as they were.
    static_assert(fb_map_bytes <= sizeof surface_pixels);
    memcpy(screen.pixels, framebuffer, fb_map_bytes);
    create_surface();
    // DirectFB 1.2's fbdev system may set a mode of /etc/fb.modes: our bytes would be garbage in it.
    if (panel_mode now = ask_panel_mode(screen.fb_fd); !(now == mode)) {
      report_other_panel("set by DirectFB to", now);
      screen.working_area = nullptr;
    } else {
      memcpy(framebuffer, screen.pixels, fb_map_bytes);
      refresh_working_area();
    }
  }
  open_input_devices();
}

bool display_ready() { return screen.surface && screen.working_area; }

// The only function that talks to the panel driver.
// NOTE: effect 0 is a plain partial update; the driver reads the pixels from the framebuffer
// itself, so the buffer stays null. Two extra columns and rows are refreshed on the right and
// bottom of every rectangle, capped (signed) at the panel's edge.
void refresh_area(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  update_area area = {};
  area.x1 = x1;
  area.y1 = coord_add(y1, top_rows);
  area.x2 = x2 > screen_width - 3 ? screen_width - 1 : x2 + 2;
  area.y2 = y2 > surface_height - 3 ? screen_height - 1 : y2 + top_rows + 2;
  area.effect = 0;
  area.buffer = nullptr;
  ioctl(screen.fb_fd, UPDATE_AREA_REQUEST, &area);
}

void refresh_working_area() { refresh_area(0, 0, surface_width - 1, surface_height - 1); }
