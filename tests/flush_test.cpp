// The flush conversion on a raw surface and framebuffer, without DirectFB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "display/display.h"

namespace {

// The conversion as plainly as it can be said, pixel by pixel, read-modify-write: the oracle
// for the fast one over random surfaces and rectangles, odd and even edges, single rows and columns.
void reference_convert(const dirty_rect& r, uint8_t* fb) {
  for (uint32_t y = r.min_y; y <= r.max_y; ++y)
    for (uint32_t x = r.min_x; x <= r.max_x; ++x) {
      uint32_t i = y * surface_width + x;
      uint8_t nibble = (~surface_pixels[i] & 0xF0) >> 4;
      uint8_t& byte = fb[i / 2];
      byte = i % 2 ? (byte & 0xF0) | nibble : (byte & 0x0F) | nibble << 4;
    }
}

TEST(Flush, FastConversionMatchesThePlainOneNibbleForNibble) {
  // A framebuffer of its own: no display needs to be open.
  std::vector<uint8_t> framebuffer(working_area_bytes), expect(working_area_bytes);
  uint8_t* mapped = screen.working_area;
  screen.working_area = framebuffer.data();
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345, seed >> 8; };
  for (int round = 0; round < 300; ++round) {
    for (uint32_t& p : surface_pixels) p = next() * 2654435761u;
    for (int i = 0; i < working_area_bytes; ++i) screen.working_area[i] = static_cast<uint8_t>(next());
    uint32_t x1 = next() % 600, x2 = next() % 600, y1 = next() % 760, y2 = next() % 760;
    if (round % 5 == 1) x2 = x1;  // one column
    if (round % 5 == 2) y2 = y1;  // one row
    dirty_rect r = {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    memcpy(expect.data(), screen.working_area, working_area_bytes);
    reference_convert(r, expect.data());
    convert_rect(r);
    ASSERT_EQ(memcmp(expect.data(), screen.working_area, working_area_bytes), 0)
        << "round " << round << " x " << r.min_x << ".." << r.max_x << " y " << r.min_y << ".." << r.max_y;
  }
  screen.working_area = mapped;
}

}  // namespace
