// The simulated device's root folder and its contents.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "display/display.h"
#include "tools/png_writer.h"
#include "tools/sim.h"

namespace {

// A page as a reader would leave it: a status strip in the top rows inkplay never touches, and
// some text in the working area, drawn with the display layer itself in a child process so that
// this process stays free of DirectFB.
void draw_page(const std::string& root) {
  pid_t child = fork();
  if (child != 0) {
    waitpid(child, nullptr, 0);
    return;
  }
  setenv("INKPLAY_ROOT", root.c_str(), 1);
  setenv("DFBARGS", "system=dummy", 1);
  int argc = 1;
  char name[] = "inkplay-sim";
  char* args[] = {name, nullptr};
  char** argv = args;
  DirectFBInit(&argc, &argv);
  display_open();
  if (!display_ready()) _exit(1);
  uint8_t* top = screen.working_area - working_area_offset;
  for (int i = 0; i < working_area_offset; ++i) top[i] = i / fb_row_bytes == 38 ? 0xFF : 0x33;
  for (uint32_t& p : surface_pixels) p = 0xFFFFFFFF;
  static const std::string font = root + "/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf";
  select_font(font.c_str(), 30);
  set_fg(0);
  set_bg(15);
  const char* lines[] = {"inkplay on a simulated panel", "", "Alt+J  next file", "Alt+Backspace  previous file",
                         "Alt+L  pause and resume", "Alt+K  100x speed", "Alt+H  stop"};
  int y = 60;
  for (const char* line : lines) {
    draw_text(40, y, "%s", line);
    y += 44;
  }
  set_fill_only();
  for (int i = 0; i < 8; ++i) {  // grey swatches: the panel's sixteen levels, two by two
    set_bg(static_cast<uint32_t>(i * 2 + 1));
    draw_box(40 + i * 64, 420, 56, 56);
  }
  mark_dirty(0, 0, surface_width - 1, surface_height - 1);
  flush_dirty();
  _exit(0);
}

}  // namespace

void prepare_sim_root(const device_root& root) {
  for (const char* d : {"panels", "media"}) mkdir(root.path(d).c_str(), 0755);
  draw_page(root.dir);
}

bool panel_to_png(const std::string& raw_path, const std::string& png_path) {
  std::string raw = read_file(raw_path);
  if (raw.size() != static_cast<size_t>(fb_map_bytes)) return false;
  const auto* fb = reinterpret_cast<const uint8_t*>(raw.data());
  std::vector<uint8_t> grey(static_cast<size_t>(screen_width) * screen_height);
  for (size_t i = 0; i < grey.size(); ++i)
    grey[i] = panel_grey(fb_nibble(fb, int(i % screen_width), int(i / screen_width)));
  return write_png(png_path, screen_width, screen_height, 1, grey.data());
}
