// Pixels, lines, images and the flashing refresh. Nothing here flushes but flash_dirty.
#include <unistd.h>

#include <cstring>

#include "display/display.h"

namespace {

constexpr useconds_t flash_black_us = 400000;
// NOTE: DirectFB's line clipping multiplies and divides coordinate differences in 32 bits; past
// this distance from the surface it overflows and can divide by zero.
constexpr int32_t line_reach = 16384;

bool within_reach(int32_t v) { return v > -line_reach && v < line_reach; }

}  // namespace

// Black (nibble 15) straight into the framebuffer over r, whole bytes where both pixels of a
// pair are inside, the edge nibbles alone where only one is.
void black_out(const dirty_rect& r) {
  uint32_t first_full = (r.min_x + 1) / 2, end_full = (r.max_x + 1) / 2;
  for (uint32_t y = r.min_y; y <= r.max_y; ++y) {
    uint8_t* row = screen.working_area + y * fb_row_bytes;
    if (end_full > first_full) memset(row + first_full, 0xFF, end_full - first_full);
    if (r.min_x & 1) row[(r.min_x - 1) / 2] |= 0x0F;
    if (!(r.max_x & 1)) row[r.max_x / 2] |= 0xF0;
  }
}

// Leaves the word in transparent mode, so that a following draw_box outlines only.
void draw_pixel(int32_t x, int32_t y) {
  if (draw_attrs & FG_OFF) return;
  set_transparent();
  draw_box(x, y, 1, 1);
}

// A line with an end point out of reach is not drawn at all (nothing of it could be near the
// surface in any sensible drawing).
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if ((draw_attrs & FG_OFF) || !screen.surface) return;
  if (!within_reach(x1) || !within_reach(y1) || !within_reach(x2) || !within_reach(y2)) return;
  set_level(attr_field(fg_shift));
  screen.surface->DrawLine(screen.surface, x1, y1, x2, y2);
  mark_dirty(x1, y1, x2, y2);
}

// A small triangle pointing down, hanging from row y.
void draw_caret(int32_t x, int32_t y) {
  if (draw_attrs & FG_OFF) return;
  static constexpr int8_t caret[9][2] = {{-1, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0},
                                         {0, 1},  {1, 1}, {2, 1}, {1, 2}};
  for (const auto& p : caret) draw_pixel(coord_add(x, p[0]), coord_add(y, p[1]));
}

// A file DirectFB has no provider for draws nothing and marks nothing.
void draw_image(int32_t x, int32_t y, uint32_t w, uint32_t h, const char* path) {
  if (w == 0 || h == 0 || !screen.surface) return;
  IDirectFBImageProvider* provider = nullptr;
  if (screen.dfb->CreateImageProvider(screen.dfb, path, &provider) != DFB_OK || !provider) return;
  DFBRectangle rect = {x, y, static_cast<int>(w), static_cast<int>(h)};
  provider->RenderTo(provider, screen.surface, &rect);
  provider->Release(provider);
  mark_dirty(x, y, x + w - 1, y + h - 1);
}

// The panel shows the changed area black for a moment before its new content.
void flash_dirty() {
  if (dirty_region_empty()) return;
  dirty_rect r;
  if (clip_dirty_region(r)) {
    black_out(r);
    refresh_rect(r);
    usleep(flash_black_us);
  }
  flush_dirty();
}
