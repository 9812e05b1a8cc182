// The display layer on real DirectFB (dummy system) over a device root: real pixels in the
// surface, real nibbles in the mapped framebuffer file, and the area updates at the ioctl.
#include <unistd.h>

#include "input/input.h"
#include "platform/device_paths.h"
#include "tests/harness.h"
#include "tests/on_display.h"

namespace {

// A counting stand-in for SetColor, put in the real interface record.
namespace set_color {
int calls;
DFBResult (*original)(IDirectFBSurface*, u8, u8, u8, u8);
DFBResult call(IDirectFBSurface* s, u8 r, u8 g, u8 b, u8 a) { return ++calls, original(s, r, g, b, a); }
}  // namespace set_color

using Display = OnDisplay;

// Opening keeps what the screen showed and refreshes the working area once; every refresh adds
// two columns and rows, capped at the panel's edge.
TEST_F(Display, OpenAndTheRefreshMargin) {
  EXPECT_TRUE(at_startup.working_area_kept);
  EXPECT_EQ(at_startup.updates, 1);
  EXPECT_EQ(rect({at_startup.x1, at_startup.y1, at_startup.x2, at_startup.y2}), rect({0, 40, 599, 799}));
  refresh_area(0, 756, 599, 759);
  refresh_area(10, 10, 20, 20);
  refresh_area(598, 758, 598, 758);
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 796, 599, 799}, {10, 50, 22, 62}, {598, 798, 599, 799}}));
}

// Level L becomes 15 - L; even columns go to the high nibble, odd ones to the low nibble, and
// the other nibble of a byte at the region's edge is kept. Far drawings make one update of
// their bounding rectangle; a region reaching only column 0 waits for a wider flush.
TEST_F(Display, FlushConvertsExactlyTheDirtyPixels) {
  memset(screen.working_area + 5 * fb_row_bytes, 0x5A, fb_row_bytes);
  pixel(3, 5) = grey(0);
  pixel(4, 5) = grey(6);
  mark_dirty(3, 5, 4, 6);
  flush_dirty();
  EXPECT_EQ(panel(2, 5), 0x5);  // outside, same byte as column 3
  EXPECT_EQ(panel(3, 5), 15);
  EXPECT_EQ(panel(4, 5), 9);
  EXPECT_EQ(panel(5, 5), 0xA);  // outside, same byte as column 4
  EXPECT_EQ(panel(4, 6), 0);
  EXPECT_TRUE(dirty_region_empty());

  set_fill_only();
  set_bg(0);
  draw_box(0, 100, 1, 5);
  dirty_rect column_zero = dirty_region;
  flush_dirty();
  EXPECT_TRUE(same_region(column_zero, dirty_region));
  draw_box(1, 100, 1, 1);
  draw_box(500, 600, 5, 5);
  flush_dirty();
  EXPECT_EQ(updates(), (std::vector<rect>{{3, 45, 6, 48}, {0, 140, 506, 646}}));
  EXPECT_EQ(panel(0, 104), 15);
}

// Outline and fill; an empty box and a fill-only text draw nothing. The colour is set only
// when the grey level changes, even across a new attribute word.
TEST_F(Display, BoxModesAndTheLevelCache) {
  set_color::original = screen.surface->SetColor;
  screen.surface->SetColor = set_color::call;
  set_color::calls = 0;
  draw_box(40, 20, 10, 10);
  EXPECT_EQ(pixel(40, 20), grey(0));   // outline
  EXPECT_EQ(pixel(45, 25), grey(15));  // fill
  EXPECT_EQ(set_color::calls, 2);
  dirty_rect before = dirty_region;
  draw_box(60, 20, 0, 10);
  set_fill_only();
  EXPECT_EQ(draw_text(100, 100, "hidden"), 0);
  EXPECT_TRUE(same_region(before, dirty_region));
  set_bg(3);
  draw_box(0, 0, 4, 4);
  draw_box(10, 0, 4, 4);
  set_attrs(0x12345u);
  set_fill_only();
  set_bg(3);
  draw_box(20, 0, 4, 4);
  EXPECT_EQ(set_color::calls, 3);
  EXPECT_EQ(pixel(21, 1), grey(3));
  screen.surface->SetColor = set_color::original;
}

// The font is searched once per path and size (the line height below the size asked for); a
// font that cannot be loaded draws and marks nothing; text is as wide as it draws.
TEST_F(Display, FontSearchTextWidthAndUtf8) {
  static const char missing[] = "/nonexistent/font.ttf";
  select_font(missing, 20);
  EXPECT_EQ(font_state.font, nullptr);
  EXPECT_EQ(draw_text(10, 10, "x"), 0);
  EXPECT_TRUE(dirty_region_empty());

  static std::string path = device_path(device_file::font);
  select_font(path.c_str(), 20);
  IDirectFBFont* font = font_state.font;
  select_font(std::string(path).c_str(), 20);  // the same path in another string
  EXPECT_EQ(font_state.font, font) << "searched again";
  EXPECT_LT(font_state.ascender - font_state.descender, 20);
  const char* text = "Track 07 - Ünïcode?";
  int32_t width = text_width("%s", text);
  EXPECT_GT(width, 50);
  EXPECT_EQ(draw_text(30, 30, "%s", text), width);
  EXPECT_EQ(dirty_region.max_x, 30u + width - 1);

  // File names are UTF-8: a valid sequence is one character (its code point goes to the font);
  // any other byte (a stray continuation, an overlong form, a surrogate, a cut-off sequence) is
  // a character of its own, as each byte was before.
  EXPECT_EQ(text_width("j\xC3\xB6"), glyph_advance('j') + glyph_advance(0xF6));
  EXPECT_EQ(text_width("Bj\xC3\xB6rk.mp3"), text_width("Bjork.mp3"));  // this font's ö is as wide as its o
  const std::vector<std::pair<std::string, std::vector<uint32_t>>> texts = {
      {"a\xC3\xB6", {'a', 0xF6}},    {"\xE2\x82\xAC", {0x20AC}},        {"\xF0\x9F\x8E\xB5", {0x1F3B5}},
      {"\xC3(", {0xC3, '('}},        {"\xC0\xAF", {0xC0, 0xAF}},        {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},
      {"\xE2\x82", {0xE2, 0x82}},    {"\x80x", {0x80, 'x'}},
      {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},
  };
  for (const auto& [text, expect] : texts) {
    std::vector<uint32_t> seen;
    for (const char* c = text.c_str(); *c;) seen.push_back(next_char(c));
    EXPECT_EQ(seen, expect) << text;
  }
}

// Right-aligned on white cells; too wide, whole characters go at the left (a UTF-8 sequence is
// never split) and nothing is drawn off the surface.
TEST_F(Display, TitleIsRightAlignedOnWhiteCellsAndCutAtTheLeft) {
  for (uint32_t& p : surface_pixels) p = grey(7);
  mark_dirty(0, 700, 599, 759);  // the grey around the title, on the panel
  flush_dirty();
  clear_recorded_updates();
  show_title("Name.ext");
  int32_t width = text_width("Name.ext"), height = font_state.ascender - font_state.descender;
  EXPECT_EQ(updates(), (std::vector<rect>{{594 - width, 773, 595, 773 + height + 1}}));
  EXPECT_EQ(panel(594 - width, 733), 0);  // the first cell's corner is white
  EXPECT_EQ(panel(594, 740), 8);          // right of the title: the grey around it
  EXPECT_EQ(panel(593 - width, 740), 8);

  for (auto [repeat, code] : {std::pair<std::string, uint32_t>{"W", 'W'}, {"\xC3\x89", 0xC9}}) {
    std::string long_title;
    for (int i = 0; i < 300; ++i) long_title += repeat;
    clear_recorded_updates();
    show_title(long_title.c_str());
    ASSERT_EQ(updates().size(), 1u);
    EXPECT_GE(updates()[0].x1, 0);
    EXPECT_EQ((594 - updates()[0].x1) % glyph_advance(code), 0) << "a part of a character was drawn";
    EXPECT_EQ(updates()[0].x2, 595);
  }
}

// The player's output, through a real pipe, and the keys' effect on the screen.
class PlayerOutput : public OnDisplay {
 protected:
  int fds[2];
  void SetUp() override {
    OnDisplay::SetUp();
    ASSERT_EQ(pipe(fds), 0);
  }
  void TearDown() override {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  bool feed(const std::string& chunk) {
    EXPECT_EQ(write(fds[1], chunk.data(), chunk.size()), ssize_t(chunk.size()));
    return handle_output(fds[0]);
  }
  bool title_drawn() { return !updates().empty() && updates().back().y1 == 773; }
};

// An answer at the start of a chunk moves the bar (6 pixels a percent, capped at the width)
// and refreshes the bar's rows alone; one anywhere else is not an answer.
TEST_F(PlayerOutput, PositionAnswersMoveTheBar) {
  const std::vector<std::pair<std::string, uint32_t>> answers = {
      {"ANS_PERCENT_POSITION=37\n", 37},  {"ANS_PERCENT_POSITION=0\n", 0},
      {"ANS_PERCENT_POSITION=101\n", 100}, {"ANS_PERCENT_POSITION=4294967333\n", 100},
      {"ANS_PERCENT_POSITION= +12\n", 12}, {"xANS_PERCENT_POSITION=50\n", 12}};
  for (const auto& [chunk, percent] : answers) {
    clear_recorded_updates();
    feed(chunk);
    EXPECT_EQ(last_percent, percent) << chunk;
    for (int y = 756; y < 760; ++y)
      for (uint32_t x = 0; x < 600; ++x) ASSERT_EQ(panel(x, y), x < percent * 6 ? 15 : 0) << chunk << x;
    EXPECT_EQ(updates(), (std::vector<rect>(chunk[0] == 'A', {0, 796, 599, 799}))) << chunk;
  }
}

// The title is the line's text without its full stop; the copy that takes it away holds the bar
// just drawn; a new file while a title shows is drawn over it without a new copy.
TEST_F(PlayerOutput, PlayingLineShowsTheTitleWithoutItsFullStop) {
  feed("ANS_PERCENT_POSITION=50\nPlaying /music/Song.ogg.\nother\n");
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_EQ(saved_screen[(757 * fb_row_bytes) + 10], 0xFF);
  EXPECT_EQ(updates().back().x1, 594 - text_width("/music/Song.ogg"));
  std::vector<uint8_t> copy(saved_screen, saved_screen + working_area_bytes);
  playback.title_countdown = 2;
  feed("Playing Next.ogg.\n");
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_EQ(memcmp(copy.data(), saved_screen, working_area_bytes), 0);

  std::vector<uint8_t> before(screen.working_area, screen.working_area + working_area_bytes);
  clear_recorded_updates();
  restore_screen();
  EXPECT_EQ(memcmp(copy.data(), screen.working_area, working_area_bytes), 0);
  EXPECT_NE(before, copy);
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 40, 599, 799}}));
}

TEST_F(PlayerOutput, EmptyCutOffAndMissingTitlesAndTheEndOfOutput) {
  EXPECT_TRUE(feed("Playing \n"));
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_FALSE(title_drawn());
  playback.title_countdown = 0;
  feed("Playing Half a na");  // no newline in the chunk: what arrived, and nothing past it
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_TRUE(title_drawn());
  playback.title_countdown = 0;
  clear_recorded_updates();
  feed(std::string("noise\0Playing", 13));
  EXPECT_EQ(playback.title_countdown, 0);
  EXPECT_TRUE(updates().empty());
  close(fds[1]);
  fds[1] = -1;
  EXPECT_FALSE(handle_output(fds[0]));
}

// Every key redraws the bar; a playlist step takes the title away first.
TEST_F(PlayerOutput, KeysRedrawTheBarAndStepsRestoreTheScreen) {
  last_percent = 20;
  handle_key(12345, fds[1], 0);
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 796, 599, 799}}));
  clear_recorded_updates();
  playback.title_countdown = 3;
  handle_key(12345, fds[1], FLAG_ALT | FLAG_SHIFT | 'j');
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 796, 599, 799}, {0, 40, 599, 799}}));
  EXPECT_EQ(playback.title_countdown, 3);
  char buf[64];
  ssize_t n = read(fds[0], buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "pt_step 1\n");
}

}  // namespace
