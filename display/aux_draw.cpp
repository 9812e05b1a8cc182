// Pixels, lines, images and the flashing refresh. Nothing here flushes but flash_dirty.
#include <unistd.h>

#include <cstring>

#include "display/display.h"

namespace {

constexpr useconds_t flash_black_us = 400000;

// Which sides of the surface a point lies beyond: left 1, right 2, above 4, below 8.
int outside(int64_t x, int64_t y) {
  return (x < 0) | (x > surface_width - 1) << 1 | (y < 0) << 2 | (y > surface_height - 1) << 3;
}

// The coordinate where the segment from (e1, p1) to (e2, p2) crosses e = edge, which lies
// between e1 and e2, rounded to nearest. Every difference of 32-bit coordinates is below 2^32, so
// the product fits in 64 unsigned bits.
int64_t crossing(int64_t e1, int64_t p1, int64_t e2, int64_t p2, int64_t edge) {
  uint64_t span = static_cast<uint64_t>(e2 > e1 ? e2 - e1 : e1 - e2);
  uint64_t part = static_cast<uint64_t>(edge > e1 ? edge - e1 : e1 - edge);
  uint64_t rise = static_cast<uint64_t>(p2 > p1 ? p2 - p1 : p1 - p2);
  int64_t step = static_cast<int64_t>((rise * part + span / 2) / span);
  return p2 >= p1 ? p1 + step : p1 - step;
}

// Cuts the segment down to its part on the surface, one side at a time; false when nothing of it
// is there. NOTE: DirectFB's own line clipping multiplies coordinate differences in 32 bits and
// divides by zero for end points far off the surface, so it must only ever see points on it.
bool clip_to_surface(int64_t p[4]) {
  for (int cut = 0; cut < 4; ++cut) {
    int a = outside(p[0], p[1]), b = outside(p[2], p[3]);
    if (!(a | b)) return true;
    if (a & b) return false;
    int side = a ? a : b;
    int64_t* q = a ? p : p + 2;
    if (side & 3) {
      int64_t edge = side & 1 ? 0 : surface_width - 1;
      q[1] = crossing(p[0], p[1], p[2], p[3], edge);
      q[0] = edge;
    } else {
      int64_t edge = side & 4 ? 0 : surface_height - 1;
      q[0] = crossing(p[1], p[0], p[3], p[2], edge);
      q[1] = edge;
    }
  }
  return !(outside(p[0], p[1]) | outside(p[2], p[3]));
}

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

// Only the part of the line on the surface is drawn and marked.
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if ((draw_attrs & FG_OFF) || !screen.surface) return;
  int64_t p[4] = {x1, y1, x2, y2};
  if (!clip_to_surface(p)) return;
  int a = static_cast<int>(p[0]), b = static_cast<int>(p[1]), c = static_cast<int>(p[2]), d = static_cast<int>(p[3]);
  set_level(attr_field(fg_shift));
  screen.surface->DrawLine(screen.surface, a, b, c, d);
  mark_dirty(a, b, c, d);
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
