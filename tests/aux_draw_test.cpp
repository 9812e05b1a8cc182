// Pixels, lines, images, the flashing refresh and the text cursor, on real DirectFB.
#include "platform/device_paths.h"
#include "tests/harness.h"
#include "tests/on_display.h"
#include "tools/png_writer.h"

namespace {

using AuxDraw = OnDisplay;

// A pixel leaves the word in transparent mode (a following box outlines only); with the
// foreground off, pixels, lines and carets draw, mark and change nothing.
TEST_F(AuxDraw, PixelsAndTheForegroundSwitch) {
  dirty_region = nothing_marked;
  draw_pixel(5, 7);
  EXPECT_EQ(pixel(5, 7), grey(0));
  EXPECT_EQ(pixel(6, 7), grey(15));
  EXPECT_TRUE(same_region(dirty_region, {5, 7, 5, 7}));
  EXPECT_TRUE((draw_attrs & BG_OFF) && !(draw_attrs & FG_OFF));
  draw_box(20, 20, 5, 5);
  EXPECT_EQ(pixel(20, 20), grey(0));
  EXPECT_EQ(pixel(22, 22), grey(15));

  draw_attrs |= FG_OFF;
  dirty_rect before = dirty_region;
  uint32_t attrs = draw_attrs;
  draw_pixel(50, 5);
  draw_line(0, 0, 50, 50);
  draw_caret(10, 10);
  EXPECT_TRUE(same_region(before, dirty_region));
  EXPECT_EQ(draw_attrs, attrs);
  EXPECT_EQ(pixel(50, 5), grey(15));
}

// A line marks its end points in either order, transparent or not, and only its part on the
// surface is drawn and marked: DirectFB's own clipping divides by zero for end points far off
// it (found by fuzzing), so it never sees them.
TEST_F(AuxDraw, LinesAreCutToTheSurface) {
  struct line_case {
    int32_t x1, y1, x2, y2;
    int pixels;
    dirty_rect marked;
  };
  const int32_t lo = -2147483647 - 1, hi = 2147483647;
  const std::vector<line_case> cases = {
      {30, 40, 10, 20, 21, {10, 20, 30, 40}},
      {10, 10, 16384, 10, 590, {10, 10, 599, 10}},
      {lo, 20, hi, 20, 600, {0, 20, 599, 20}},
      {30, hi, 30, lo, 760, {30, 0, 30, 759}},
      {-1000, -1000, 1000, 1000, 600, {0, 0, 599, 599}},
      {lo, -5, hi, 900000, -1, {}},  // steep enough to cross the surface: whatever it draws, no crash
      {700, 10, 900000, 20, 0, nothing_marked},
      {lo, lo, -1, hi, 0, nothing_marked},
  };
  for (bool transparent : {false, true})
    for (const line_case& c : cases) {
      for (uint32_t& p : surface_pixels) p = grey(15);
      dirty_region = nothing_marked;
      if (transparent) set_transparent();
      draw_line(c.x1, c.y1, c.x2, c.y2);
      if (c.pixels < 0) continue;
      int pixels = 0;
      for (uint32_t p : surface_pixels) pixels += p == grey(0);
      EXPECT_EQ(pixels, c.pixels) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
      EXPECT_TRUE(same_region(dirty_region, c.marked)) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    }
}

TEST_F(AuxDraw, CaretIsATriangleOfNinePixels) {
  dirty_region = nothing_marked;
  draw_caret(10, 20);
  EXPECT_TRUE(same_region(dirty_region, {9, 20, 13, 22}));
  const char* shape[] = {".XXXXX.", "..XXX..", "...X...", "......."};
  for (int dy = 0; dy < 4; ++dy)
    for (int dx = -2; dx <= 4; ++dx)
      EXPECT_EQ(pixel(10 + dx, 20 + dy), grey(shape[dy][dx + 2] == 'X' ? 0 : 15)) << dx << "," << dy;
}

// Images (PNG, the one format a device's DirectFB reads) are scaled into their rectangle and the
// panel shows each pixel's blue; an empty rectangle, a missing file or one no provider knows draws
// and marks nothing.
TEST_F(AuxDraw, ImagesAreScaledAndTheirBlueReachesThePanel) {
  std::string dir = getenv("INKPLAY_ROOT");
  const uint8_t grey_levels[] = {0x33, 0xCC};  // levels 3, 12
  ASSERT_TRUE(write_png(dir + "/grey.png", 2, 1, 1, grey_levels));
  const uint8_t blue_red[] = {0, 0, 255, 255, 0, 0};
  ASSERT_TRUE(write_png(dir + "/colour.png", 2, 1, 3, blue_red));
  uint32_t attrs = draw_attrs;
  dirty_region = nothing_marked;
  draw_image(100, 100, 40, 20, (dir + "/grey.png").c_str());
  draw_image(100, 200, 40, 20, (dir + "/colour.png").c_str());
  EXPECT_EQ(draw_attrs, attrs);
  EXPECT_TRUE(same_region(dirty_region, {100, 100, 139, 219}));
  flush_dirty();
  // Sampled inside each half: DirectFB 1.2.1 scales a grey image's last columns from past its
  // row's end (its own scaler's off-by-one), unlike 1.7.
  EXPECT_EQ(panel(105, 110), 12);
  EXPECT_EQ(panel(130, 110), 3);
  EXPECT_EQ(pixel(140, 110), grey(15));
  EXPECT_EQ(panel(105, 210), 0);   // blue 255
  EXPECT_EQ(panel(134, 210), 15);  // red: blue 0
  for (auto [h, name] : {std::pair{0u, "grey.png"}, {40u, "missing.png"}, {40u, "dev/fb0"}})
    draw_image(10, 10, 40, h, (dir + "/" + name).c_str());
  EXPECT_TRUE(dirty_region_empty());
}

std::vector<uint8_t> row_at_blackout;
void snapshot_row_10(const recorded_area&) {
  if (row_at_blackout.empty())
    row_at_blackout.assign(screen.working_area + 10 * fb_row_bytes, screen.working_area + 11 * fb_row_bytes);
}

// Black first, in whole bytes where both pixels are inside and edge nibbles alone elsewhere,
// then 0.4 s later the content, both over the same rectangle; nothing to flash, no pause.
TEST_F(AuxDraw, FlashShowsTheRegionBlackThenItsContent) {
  const std::vector<std::pair<uint32_t, uint32_t>> columns = {{3, 8}, {10, 10}};
  const std::vector<std::vector<uint8_t>> row_bytes = {{0x00, 0x0F, 0xFF, 0xFF, 0xF0, 0x00},
                                                       {0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}};
  for (size_t i = 0; i < columns.size(); ++i) {
    auto [min_x, max_x] = columns[i];
    memset(screen.working_area, 0, working_area_bytes);
    clear_recorded_updates();
    row_at_blackout.clear();
    set_update_observer(snapshot_row_10);
    mark_dirty(min_x, 10, max_x, 12);
    flash_dirty();
    ASSERT_EQ(row_at_blackout.size(), size_t(fb_row_bytes));
    EXPECT_EQ(std::vector<uint8_t>(row_at_blackout.begin(), row_at_blackout.begin() + 6), row_bytes[i]);
    ASSERT_EQ(recorded_update_count(), 2);
    recorded_area black = recorded_update(0), content = recorded_update(1);
    EXPECT_EQ(rect({black.x1, black.y1, black.x2, black.y2}), rect({int(min_x), 50, int(max_x) + 2, 54}));
    EXPECT_EQ(updates()[0], updates()[1]);
    EXPECT_GE(content.time_us - black.time_us, 400000);
    EXPECT_EQ(panel(min_x, 10), 0);  // the white content is back
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
    std::vector<rect> clipped(refresh == flash_dirty ? 2 : 1, rect{590, 790, 599, 799});
    EXPECT_EQ(updates(), clipped);
  }
}

// Text at the cursor does not move it; put_char does, and the caret follows. The cursor as a
// state machine: what each operation draws, erases and records, and the caller's attributes
// given back (the cached level aside).
TEST_F(AuxDraw, TheTextCursorAndItsCaret) {
  select_font(device_path(device_file::font), 20);
  move_cursor(50, 60);
  int32_t first = print_at_cursor("%s-%d", "abc", 7);
  EXPECT_GT(first, 0);
  EXPECT_EQ(print_at_cursor("%s-%d", "abc", 7), first);
  EXPECT_EQ(print_at_cursor("%s", ""), 0);
  EXPECT_EQ(text_cursor.x, 50);

  uint32_t attrs = draw_attrs;
  auto attrs_kept = [&] { return (draw_attrs & ~(level_mask << level_shift)) == (attrs & ~(level_mask << level_shift)); };
  move_cursor(0, 50);
  show_cursor();  // no position: nothing drawn, but recorded as shown
  EXPECT_EQ(caret_drawn.visible, 1);
  EXPECT_EQ(pixel(0, 50), grey(15));
  move_cursor(10, 50);
  EXPECT_EQ(pixel(10, 50), grey(0));  // bg 15: a black caret
  dirty_rect before = dirty_region;
  show_cursor();  // already shown there: nothing
  EXPECT_TRUE(same_region(before, dirty_region));
  put_char('m');
  EXPECT_EQ(text_cursor.x, 10 + glyph_advance('m'));
  EXPECT_EQ(pixel(text_cursor.x, 50), grey(0));
  EXPECT_EQ(pixel(11, 52), grey(15));  // the old caret painted over in the background level
  move_cursor(30, 50);
  hide_cursor();
  EXPECT_EQ(pixel(30, 50), grey(15));
  EXPECT_TRUE(attrs_kept());

  for (auto [bg, caret] : {std::pair{7u, 15u}, {8u, 0u}}) {  // light on dark, dark on light
    set_bg(bg);
    attrs = draw_attrs;
    show_cursor();
    EXPECT_EQ(pixel(30, 50), grey(caret)) << bg;
    hide_cursor();
    EXPECT_EQ(pixel(30, 50), grey(bg)) << bg;
    EXPECT_TRUE(attrs_kept());
  }
  draw_attrs |= FG_OFF;  // put_char draws nothing and the cursor stays
  attrs = draw_attrs;
  before = dirty_region;
  put_char('x');
  EXPECT_EQ(text_cursor.x, 30);
  EXPECT_TRUE(same_region(before, dirty_region));
  EXPECT_TRUE(attrs_kept());
}

}  // namespace
