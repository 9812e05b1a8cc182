// Pixels, lines, images, the flashing refresh and the text cursor, on real DirectFB.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/device_paths.h"
#include "tests/harness.h"
#include "tools/png_writer.h"
#include "tools/update_recorder.h"

namespace {

uint32_t grey(uint32_t level) { return 0xFF000000 | level * 0x111111; }
uint32_t& pixel(int x, int y) { return surface_pixels[y * surface_width + x]; }
int panel(int x, int y) {
  uint8_t byte = screen.working_area[y * fb_row_bytes + x / 2];
  return x % 2 ? byte & 0x0F : byte >> 4;
}
bool same_region(const dirty_rect& a, const dirty_rect& b) { return memcmp(&a, &b, sizeof a) == 0; }
dirty_rect region(uint32_t x1, uint32_t y1, uint32_t x2, uint32_t y2) { return {x1, y1, x2, y2}; }

class AuxDraw : public testing::Test {
 protected:
  void SetUp() override {
    flush_dirty();
    clear_recorded_updates();
    for (uint32_t& p : surface_pixels) p = grey(15);
    set_attrs(0);
    set_fg(0);
    set_bg(15);
    text_cursor = caret_drawn = {0, 0, 0};
  }
  void TearDown() override { set_update_observer(nullptr); }
  static void empty_region() { dirty_region = {0xFFFFFFFF, 0xFFFFFFFF, 0, 0}; }
};

TEST_F(AuxDraw, PixelDrawsOneDotAndLeavesTransparentMode) {
  empty_region();
  draw_pixel(5, 7);
  EXPECT_EQ(pixel(5, 7), grey(0));
  EXPECT_EQ(pixel(6, 7), grey(15));
  EXPECT_TRUE(same_region(dirty_region, region(5, 7, 5, 7)));
  EXPECT_TRUE((draw_attrs & BG_OFF) && !(draw_attrs & FG_OFF));
  draw_box(20, 20, 5, 5);  // outline only now
  EXPECT_EQ(pixel(20, 20), grey(0));
  EXPECT_EQ(pixel(22, 22), grey(15));
}

TEST_F(AuxDraw, ForegroundOffDrawsNothingAndChangesNothing) {
  draw_attrs |= FG_OFF;
  dirty_rect before = dirty_region;
  uint32_t attrs = draw_attrs;
  draw_pixel(5, 5);
  draw_line(0, 0, 50, 50);
  draw_caret(10, 10);
  EXPECT_TRUE(same_region(before, dirty_region));
  EXPECT_EQ(draw_attrs, attrs);
  EXPECT_EQ(pixel(5, 5), grey(15));
}

TEST_F(AuxDraw, LineMarksItsEndPointsInEitherOrder) {
  for (bool bg_off : {false, true}) {
    empty_region();
    if (bg_off) set_transparent();
    draw_line(30, 40, 10, 20);
    EXPECT_TRUE(same_region(dirty_region, region(10, 20, 30, 40)));
    EXPECT_EQ(pixel(20, 30), grey(0));
  }
}

// Lines reaching far off the surface draw and mark their part on it, and only that: DirectFB's
// own clipping divides by zero for such end points (found by fuzzing), so it never sees them.
TEST_F(AuxDraw, LinesAreCutToTheSurface) {
  struct line_case {
    int32_t x1, y1, x2, y2;
    int pixels;         // black pixels drawn
    dirty_rect marked;  // the region marked, or all ones when nothing is drawn
  };
  const int32_t lo = -2147483647 - 1, hi = 2147483647;
  const std::vector<line_case> cases = {
      {10, 10, 16384, 10, 590, {10, 10, 599, 10}},
      {10, 10, 16383, 10, 590, {10, 10, 599, 10}},
      {lo, 20, hi, 20, 600, {0, 20, 599, 20}},
      {30, hi, 30, lo, 760, {30, 0, 30, 759}},
      {-1000, -1000, 1000, 1000, 600, {0, 0, 599, 599}},
      {lo, -5, hi, 900000, -1, {0, 0, 599, 0}},  // nearly flat: crosses the top rows
      {700, 10, 900000, 20, 0, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0}},
      {lo, lo, -1, hi, 0, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0}},
  };
  for (const line_case& c : cases) {
    for (uint32_t& p : surface_pixels) p = grey(15);
    empty_region();
    draw_line(c.x1, c.y1, c.x2, c.y2);
    int pixels = 0;
    for (uint32_t p : surface_pixels) pixels += p == grey(0);
    if (c.pixels >= 0) {
      EXPECT_EQ(pixels, c.pixels) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
      EXPECT_TRUE(same_region(dirty_region, c.marked)) << c.x1 << "," << c.y1;
    }
  }
}

TEST_F(AuxDraw, CaretIsATriangleOfNinePixels) {
  empty_region();
  draw_caret(10, 20);
  EXPECT_TRUE(same_region(dirty_region, region(9, 20, 13, 22)));
  const char* shape[] = {".XXXXX.", "..XXX..", "...X...", "......."};
  for (int dy = 0; dy < 4; ++dy)
    for (int dx = -2; dx <= 4; ++dx)
      EXPECT_EQ(pixel(10 + dx, 20 + dy), grey(shape[dy][dx + 2] == 'X' ? 0 : 15)) << dx << "," << dy;
}

// Images are scaled into their rectangle; the panel shows each pixel's blue component.
TEST_F(AuxDraw, ImagesAreScaledAndTheirBlueReachesThePanel) {
  std::string dir = getenv("INKPLAY_ROOT");
  std::string ppm = "P6\n2 1\n255\n";
  ppm += std::string("\x33\x33\x33\xCC\xCC\xCC", 6);  // grey levels 3 and 12
  write_file(dir + "/grey.ppm", ppm);
  const uint8_t blue_red[] = {0, 0, 255, 255, 0, 0};
  ASSERT_TRUE(write_png(dir + "/colour.png", 2, 1, 3, blue_red));
  uint32_t attrs = draw_attrs;
  empty_region();
  draw_image(100, 100, 40, 20, (dir + "/grey.ppm").c_str());
  draw_image(100, 200, 40, 20, (dir + "/colour.png").c_str());
  EXPECT_EQ(draw_attrs, attrs);
  EXPECT_TRUE(same_region(dirty_region, region(100, 100, 139, 219)));
  flush_dirty();
  EXPECT_EQ(panel(105, 110), 12);
  EXPECT_EQ(panel(134, 110), 3);
  EXPECT_EQ(pixel(140, 110), grey(15));  // nothing rendered outside the rectangle
  EXPECT_EQ(panel(105, 210), 0);  // blue 255
  EXPECT_EQ(panel(134, 210), 15);  // red: blue 0

  dirty_rect before = dirty_region;
  draw_image(10, 10, 40, 0, (dir + "/grey.ppm").c_str());
  draw_image(10, 10, 40, 40, (dir + "/missing.png").c_str());
  draw_image(10, 10, 40, 40, (dir + "/dev/fb0").c_str());  // no provider knows this format
  EXPECT_TRUE(same_region(before, dirty_region));
}

std::vector<uint8_t> row_at_blackout;
void snapshot_row_10(const recorded_area&) {
  if (row_at_blackout.empty())
    row_at_blackout.assign(screen.working_area + 10 * fb_row_bytes, screen.working_area + 11 * fb_row_bytes);
}

// Black first, in whole bytes where both pixels are inside and edge nibbles alone elsewhere,
// then 0.4 s later the content, both over the same rectangle.
TEST_F(AuxDraw, FlashShowsTheRegionBlackThenItsContent) {
  struct scenario {
    uint32_t min_x, max_x;
    std::vector<uint8_t> expect_bytes;  // bytes 0..5 of the row at the black-out
  };
  const std::vector<scenario> scenarios = {
      {3, 8, {0x00, 0x0F, 0xFF, 0xFF, 0xF0, 0x00}},
      {10, 10, {0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}},
  };
  for (const scenario& s : scenarios) {
    memset(screen.working_area, 0, working_area_bytes);
    clear_recorded_updates();
    row_at_blackout.clear();
    set_update_observer(snapshot_row_10);
    mark_dirty(s.min_x, 10, s.max_x, 12);
    flash_dirty();
    ASSERT_EQ(row_at_blackout.size(), size_t(fb_row_bytes));
    EXPECT_EQ(std::vector<uint8_t>(row_at_blackout.begin(), row_at_blackout.begin() + 6), s.expect_bytes);
    ASSERT_EQ(recorded_update_count(), 2);
    recorded_area black = recorded_update(0), content = recorded_update(1);
    EXPECT_EQ(black.x1, int(s.min_x));
    EXPECT_EQ(black.y1, 50);
    EXPECT_TRUE(black.x2 == content.x2 && black.y2 == content.y2 && black.x1 == content.x1);
    EXPECT_GE(content.time_us - black.time_us, 400000);
    EXPECT_EQ(panel(s.min_x, 10), 0);  // the white content is back
  }
  auto start = std::chrono::steady_clock::now();
  clear_recorded_updates();
  flash_dirty();
  EXPECT_EQ(recorded_update_count(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

// Drawing does not clip what it marks: the flush and the flash must stay inside the surface and
// the working area (ASan watches the reads and writes) and refresh nothing off the panel.
TEST_F(AuxDraw, FlushAndFlashClipRegionsOffTheSurface) {
  std::vector<uint8_t> top(screen.working_area - working_area_offset, screen.working_area);
  for (void (*refresh)() : {flush_dirty, flash_dirty}) {
    clear_recorded_updates();
    mark_dirty(590, 750, 70000, 90000);
    refresh();
    mark_dirty(0xFFFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFEu, 0xFFFFFFFEu);
    refresh();
    EXPECT_TRUE(dirty_region_empty());
    EXPECT_EQ(memcmp(top.data(), screen.working_area - working_area_offset, top.size()), 0);
    for (int i = 0; i < recorded_update_count(); ++i) {
      recorded_area a = recorded_update(i);
      EXPECT_TRUE(a.x1 == 590 && a.y1 == 790 && a.x2 == 599 && a.y2 == 799) << a.x1 << "," << a.y1;
    }
    EXPECT_EQ(recorded_update_count(), refresh == flash_dirty ? 2 : 1);
  }
}

TEST_F(AuxDraw, TextFromArgumentListsAndAtTheCursor) {
  select_font(device_path(device_file::font), 20);
  move_cursor(50, 60);
  int32_t first = print_at_cursor("%s-%d", "abc", 7);
  int32_t second = print_at_cursor("%s-%d", "abc", 7);
  EXPECT_GT(first, 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(text_cursor.x, 50);  // printing does not move the cursor
  EXPECT_EQ(print_at_cursor("%s", ""), 0);
}

// The cursor as a state machine: what each operation draws, erases and records.
TEST_F(AuxDraw, CursorShowsMovesAndHidesItsCaret) {
  uint32_t attrs = draw_attrs;
  auto attrs_kept = [&] { return (draw_attrs & ~(level_mask << level_shift)) == (attrs & ~(level_mask << level_shift)); };

  move_cursor(0, 50);
  show_cursor();  // no position: nothing drawn, but recorded as shown
  EXPECT_EQ(caret_drawn.visible, 1);
  EXPECT_EQ(pixel(0, 50), grey(15));
  move_cursor(10, 50);
  EXPECT_EQ(pixel(10, 50), grey(0));  // bg 15: black caret
  EXPECT_TRUE(attrs_kept());

  dirty_rect before = dirty_region;
  show_cursor();  // already shown there: nothing
  EXPECT_TRUE(same_region(before, dirty_region));

  move_cursor(30, 50);
  EXPECT_EQ(pixel(10, 50), grey(15));  // erased in the background level
  EXPECT_EQ(pixel(30, 50), grey(0));
  hide_cursor();
  EXPECT_EQ(pixel(30, 50), grey(15));
  EXPECT_EQ(pixel(31, 52), grey(15));
  EXPECT_TRUE(attrs_kept());

  set_bg(7);  // dark background: white caret
  attrs = draw_attrs;
  show_cursor();
  EXPECT_EQ(pixel(30, 50), grey(15));
  hide_cursor();
  EXPECT_EQ(pixel(30, 50), grey(7));
  set_bg(8);
  attrs = draw_attrs;
  show_cursor();
  EXPECT_EQ(pixel(30, 50), grey(0));
  EXPECT_TRUE(attrs_kept());

  draw_attrs |= FG_OFF;  // put_char draws nothing and the cursor stays
  attrs = draw_attrs;
  before = dirty_region;
  put_char('x');
  EXPECT_EQ(text_cursor.x, 30);
  EXPECT_TRUE(same_region(before, dirty_region));
  EXPECT_TRUE(attrs_kept());
}

TEST_F(AuxDraw, PutCharAdvancesAndTheCaretFollows) {
  select_font(device_path(device_file::font), 20);
  move_cursor(40, 80);
  show_cursor();
  int32_t advance = glyph_advance('m');
  put_char('m');
  EXPECT_EQ(text_cursor.x, 40 + advance);
  EXPECT_EQ(caret_drawn.x, 40 + advance);
  EXPECT_EQ(pixel(40 + advance, 80), grey(0));
  EXPECT_EQ(pixel(40, 80), grey(15));  // the old caret's pixels painted in the background
}

}  // namespace
