// The dirty region and its conversion into the panel's 4-bit framebuffer.
#include <bit>
#include <cstring>

#include "display/display.h"

namespace {

constexpr uint32_t all_ones = 0xFFFFFFFF;

// Panel value of a surface pixel: 15 minus the top four bits of blue (the grey level), so that
// white (level 15) is 0 on the panel and black is 15.
inline uint8_t panel_nibble(uint32_t pixel) { return static_cast<uint8_t>((~pixel & 0xF0) >> 4); }

// A pair of pixels inside the rectangle fills a whole byte: even pixel in the high nibble, odd
// in the low. The pair is read as one 64-bit word (the even pixel in its low half on this
// little-endian machine), which the compiler vectorises well.
static_assert(std::endian::native == std::endian::little);
void convert_pairs(const uint32_t* __restrict src, uint8_t* __restrict dst, uint32_t pairs) {
  for (uint32_t i = 0; i < pairs; ++i) {
    uint64_t pair;
    memcpy(&pair, src + 2 * i, sizeof pair);
    pair = ~pair;
    dst[i] = static_cast<uint8_t>((pair & 0xF0) | (pair >> 36 & 0x0F));
  }
}

}  // namespace

void mark_dirty(uint32_t xa, uint32_t ya, uint32_t xb, uint32_t yb) {
  uint32_t lo_x = xa < xb ? xa : xb, hi_x = xa < xb ? xb : xa;
  uint32_t lo_y = ya < yb ? ya : yb, hi_y = ya < yb ? yb : ya;
  if (lo_x < dirty_region.min_x) dirty_region.min_x = lo_x;
  if (lo_y < dirty_region.min_y) dirty_region.min_y = lo_y;
  if (hi_x > dirty_region.max_x) dirty_region.max_x = hi_x;
  if (hi_y > dirty_region.max_y) dirty_region.max_y = hi_y;
}

// A region whose right edge is column 0 or bottom edge row 0 counts as empty too: the pixels
// wait for the next flush that reaches further.
bool dirty_region_empty() {
  return dirty_region.min_x == all_ones || dirty_region.min_y == all_ones ||
         dirty_region.max_x == 0 || dirty_region.max_y == 0;
}

// Drawing does not clip what it marks; the conversion must stay inside the surface and the
// working area. False when there is no display or nothing of the region lies on the surface.
bool clip_dirty_region(dirty_rect& r) {
  if (!display_ready()) return false;
  r = dirty_region;
  if (r.max_x > surface_width - 1) r.max_x = surface_width - 1;
  if (r.max_y > surface_height - 1) r.max_y = surface_height - 1;
  return r.min_x <= r.max_x && r.min_y <= r.max_y;
}

// Even pixel indices go to the high nibble, odd ones to the low nibble; a nibble outside the
// rectangle keeps its value.
void convert_rect(const dirty_rect& r) {
  for (uint32_t y = r.min_y; y <= r.max_y; ++y) {
    const uint32_t* src = screen.pixels + y * surface_width;
    uint8_t* row = screen.working_area + y * fb_row_bytes;
    uint32_t x = r.min_x;
    if (x & 1) {
      row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0xF0) | panel_nibble(src[x]));
      ++x;
    }
    uint32_t pairs = (r.max_x + 1 - x) / 2;
    convert_pairs(src + x, row + x / 2, pairs);
    x += 2 * pairs;
    if (x == r.max_x)
      row[x / 2] = static_cast<uint8_t>((row[x / 2] & 0x0F) | panel_nibble(src[x]) << 4);
  }
}

// A clipped region always fits the driver's signed coordinates.
void refresh_rect(const dirty_rect& r) {
  refresh_area(static_cast<int32_t>(r.min_x), static_cast<int32_t>(r.min_y),
               static_cast<int32_t>(r.max_x), static_cast<int32_t>(r.max_y));
}

void flush_dirty() {
  if (dirty_region_empty()) return;
  dirty_rect r;
  if (clip_dirty_region(r)) {
    convert_rect(r);
    refresh_rect(r);
  }
  dirty_region = {all_ones, all_ones, 0, 0};
}
