// The progress bar, the title, and the saved screen that takes the title away again.
#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "platform/device_paths.h"
#include "platform/system_log.h"

namespace {

constexpr int32_t bar_top = surface_height - 4;  // screen rows 796..799
constexpr uint32_t bar_height = 4;
constexpr uint32_t pixels_per_percent = surface_width / 100;
constexpr uint32_t title_font_size = 20;
constexpr int32_t title_right = 594;  // the last cell ends just before this column
constexpr int32_t title_top = 733;    // screen row 773
constexpr uint32_t black = 0, white = 15;

}  // namespace

void draw_progress() {
  uint32_t percent = last_percent > 100 ? 100 : last_percent;
  set_fill_only();
  set_bg(white);
  draw_box(0, bar_top, surface_width, bar_height);
  set_bg(black);
  draw_box(0, bar_top, percent * pixels_per_percent, bar_height);
  flush_dirty();
}

// A title wider than the space left of title_right loses whole characters at its left, so that
// nothing is drawn or marked off the surface and the end of the name, the part that tells
// files of a series apart, stays readable.
void show_title(const char* text) {
  char title[text_buffer_bytes];  // what the text operations would draw of it anyway
  snprintf(title, sizeof title, "%s", text);
  select_font(device_path(device_file::font), title_font_size);
  if (display_ready() && !font_state.font && !font_state.title_font_missing) {
    report("font %s not loaded: titles not shown", device_path_on_device(device_file::font));
    font_state.title_font_missing = true;
  }
  set_fg(black);
  set_bg(white);
  const char* shown = title;
  int32_t width = text_width("%s", shown);
  while (width > title_right && *shown) width -= glyph_advance(next_char(shown));
  draw_text(title_right - width, title_top, "%s", shown);
  flush_dirty();
}

void save_screen(uint8_t* dst) {
  if (screen.working_area) memcpy(dst, screen.working_area, working_area_bytes);
}

void load_screen(const uint8_t* src) {
  if (!screen.working_area) return;
  memcpy(screen.working_area, src, working_area_bytes);
  refresh_working_area();
}

void restore_screen() { load_screen(saved_screen); }
