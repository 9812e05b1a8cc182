// The display layer on real DirectFB (dummy system) over a device root: real pixels in the
// surface, real nibbles in the mapped framebuffer file, and the area updates at the ioctl.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "input/input.h"
#include "platform/device_paths.h"
#include "supervisor/supervisor.h"
#include "tests/harness.h"
#include "tools/update_recorder.h"

namespace {

struct rect {
  int x1, y1, x2, y2;
  bool operator==(const rect&) const = default;
};

std::ostream& operator<<(std::ostream& os, const rect& r) {
  return os << "(" << r.x1 << "," << r.y1 << ")-(" << r.x2 << "," << r.y2 << ")";
}

std::vector<rect> updates() {
  std::vector<rect> out;
  for (int i = 0; i < recorded_update_count(); ++i) {
    recorded_area a = recorded_update(i);
    EXPECT_EQ(a.effect, 0);
    out.push_back({a.x1, a.y1, a.x2, a.y2});
  }
  return out;
}

// The panel value of surface pixel (x, y) as the framebuffer holds it.
int panel(int x, int y) {
  uint8_t byte = screen.working_area[y * fb_row_bytes + x / 2];
  return x % 2 ? byte & 0x0F : byte >> 4;
}

uint32_t grey(uint32_t level) { return 0xFF000000 | level * 0x111111; }

int (*original_set_color)(IDirectFBSurface*, u8, u8, u8, u8);
int set_color_calls;
DFBResult counting_set_color(IDirectFBSurface* s, u8 r, u8 g, u8 b, u8 a) {
  ++set_color_calls;
  return static_cast<DFBResult>(original_set_color(s, r, g, b, a));
}

int (*original_create_font)(IDirectFB*, const char*, const DFBFontDescription*, IDirectFBFont**);
int create_font_calls;
DFBResult counting_create_font(IDirectFB* d, const char* p, const DFBFontDescription* desc,
                               IDirectFBFont** f) {
  ++create_font_calls;
  return static_cast<DFBResult>(original_create_font(d, p, desc, f));
}

class Display : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_ready());
    flush_dirty();
    clear_recorded_updates();
    set_attrs(0);
    last_percent = 0;
    playback = {};
  }
  static void fill_surface(uint32_t pixel) {
    for (uint32_t& p : surface_pixels) p = pixel;
  }
};

TEST_F(Display, OpenKeepsTheScreenAndRefreshesTheWorkingAreaOnce) {
  EXPECT_TRUE(at_startup.working_area_kept);
  ASSERT_EQ(at_startup.updates, 1);
  EXPECT_EQ(rect({at_startup.x1, at_startup.y1, at_startup.x2, at_startup.y2}), rect({0, 40, 599, 799}));
}

TEST_F(Display, RefreshAreaAddsTheMarginAndCapsAtTheEdge) {
  refresh_area(0, 756, 599, 759);
  refresh_area(10, 10, 20, 20);
  refresh_area(598, 758, 598, 758);
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 796, 599, 799}, {10, 50, 22, 62}, {598, 798, 599, 799}}));
}

// Level L becomes 15 - L; even columns go to the high nibble, odd ones to the low nibble, and
// the other nibble of a byte at the region's edge is kept.
TEST_F(Display, FlushConvertsExactlyTheDirtyPixels) {
  fill_surface(grey(15));
  memset(screen.working_area + 5 * fb_row_bytes, 0x5A, fb_row_bytes);
  surface_pixels[5 * surface_width + 3] = grey(0);
  surface_pixels[5 * surface_width + 4] = grey(6);
  mark_dirty(3, 5, 4, 6);
  flush_dirty();
  EXPECT_EQ(panel(2, 5), 0x5);  // outside, same byte as column 3
  EXPECT_EQ(panel(3, 5), 15);
  EXPECT_EQ(panel(4, 5), 9);
  EXPECT_EQ(panel(5, 5), 0xA);  // outside, same byte as column 4
  EXPECT_EQ(panel(4, 6), 0);
  EXPECT_EQ(updates(), (std::vector<rect>{{3, 45, 6, 48}}));
  EXPECT_TRUE(dirty_region_empty());
}

TEST_F(Display, EmptyAndColumnZeroRegionsAreNotFlushed) {
  flush_dirty();
  fill_surface(grey(0));
  set_fill_only();
  set_bg(0);
  draw_box(0, 100, 1, 5);  // only column 0: waits for a wider flush
  dirty_rect before = dirty_region;
  flush_dirty();
  EXPECT_TRUE(updates().empty());
  EXPECT_EQ(memcmp(&before, &dirty_region, sizeof before), 0);
  draw_box(1, 100, 1, 1);
  flush_dirty();
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 140, 3, 146}}));
  EXPECT_EQ(panel(0, 104), 15);
}

TEST_F(Display, ManyDrawingsOneUpdateOfTheirBoundingRectangle) {
  set_fill_only();
  set_bg(0);
  draw_box(10, 10, 5, 5);
  draw_box(500, 600, 5, 5);
  flush_dirty();
  EXPECT_EQ(updates(), (std::vector<rect>{{10, 50, 506, 646}}));
}

TEST_F(Display, BoxModes) {
  set_fg(0);
  set_bg(15);
  draw_box(40, 20, 10, 10);
  EXPECT_EQ(surface_pixels[20 * surface_width + 40], grey(0));  // outline
  EXPECT_EQ(surface_pixels[25 * surface_width + 45], grey(15));  // fill
  dirty_rect before = dirty_region;
  draw_box(60, 20, 0, 10);
  EXPECT_EQ(memcmp(&before, &dirty_region, sizeof before), 0);
  set_fill_only();
  EXPECT_EQ(draw_text(100, 100, "hidden"), 0);
  draw_box(70, 20, 4, 4);
  EXPECT_EQ(surface_pixels[21 * surface_width + 71], grey(15));
}

TEST_F(Display, ColourIsSetOnlyWhenTheLevelChanges) {
  original_set_color = reinterpret_cast<decltype(original_set_color)>(screen.surface->SetColor);
  screen.surface->SetColor = counting_set_color;
  set_color_calls = 0;
  set_fill_only();
  set_bg(3);
  draw_box(0, 0, 4, 4);
  draw_box(10, 0, 4, 4);
  EXPECT_EQ(set_color_calls, 1);
  set_attrs(0x12345u);  // a new word keeps the cached level
  set_fill_only();
  set_bg(3);
  draw_box(20, 0, 4, 4);
  EXPECT_EQ(set_color_calls, 1);
  screen.surface->SetColor = reinterpret_cast<decltype(screen.surface->SetColor)>(original_set_color);
}

TEST_F(Display, FontIsSearchedOnceAndTextWidthMatchesDrawing) {
  original_create_font = reinterpret_cast<decltype(original_create_font)>(screen.dfb->CreateFont);
  screen.dfb->CreateFont = counting_create_font;
  create_font_calls = 0;
  static const char other_path[] = "/nonexistent/font.ttf";
  select_font(other_path, 20);
  EXPECT_EQ(font_state.font, nullptr);
  EXPECT_EQ(draw_text(10, 10, "x"), 0);  // no font: nothing drawn, nothing marked
  EXPECT_TRUE(dirty_region_empty());

  static std::string path = std::string(getenv("INKPLAY_ROOT")) +
                            "/usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf";
  create_font_calls = 0;
  select_font(path.c_str(), 20);
  int searched = create_font_calls;
  select_font(std::string(path).c_str(), 20);  // same path, another string
  EXPECT_EQ(create_font_calls, searched);
  EXPECT_LT(font_state.ascender - font_state.descender, 20);
  screen.dfb->CreateFont = reinterpret_cast<decltype(screen.dfb->CreateFont)>(original_create_font);

  set_fg(0);
  set_bg(15);
  const char* text = "Track 07 - Ünïcode?";
  int32_t width = text_width("%s", text);
  EXPECT_GT(width, 50);
  EXPECT_EQ(draw_text(30, 30, "%s", text), width);
  EXPECT_EQ(dirty_region.max_x, 30u + width - 1);
}

// File names are UTF-8: a valid sequence is one character (its code point goes to the font);
// any other byte (a stray continuation, an overlong form, a surrogate, a cut-off sequence) is a
// character of its own, as each byte was before.
TEST_F(Display, Utf8SequencesAreOneCharacterAndOtherBytesStandAlone) {
  select_font(device_path(device_file::font), 20);
  EXPECT_EQ(text_width("j\xC3\xB6"), glyph_advance('j') + glyph_advance(0xF6));
  EXPECT_EQ(text_width("Bj\xC3\xB6rk.mp3"), text_width("Bjork.mp3"));  // the font's ö is as wide as its o
  const std::vector<std::pair<std::string, std::vector<uint32_t>>> texts = {
      {"a\xC3\xB6", {'a', 0xF6}},         {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x8E\xB5", {0x1F3B5}},      {"\xC3(", {0xC3, '('}},
      {"\xC0\xAF", {0xC0, 0xAF}},           {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},
      {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}}, {"\xE2\x82", {0xE2, 0x82}},
      {"\x80x", {0x80, 'x'}},
  };
  for (const auto& [text, expect] : texts) {
    std::vector<uint32_t> seen;
    for (const char* c = text.c_str(); *c;) seen.push_back(next_char(c));
    EXPECT_EQ(seen, expect) << text;
  }
}

TEST_F(Display, ProgressBarFollowsThePercentAndStaysOnTheSurface) {
  for (uint32_t percent : {50u, 37u, 0u, 100u, 250u}) {
    clear_recorded_updates();
    last_percent = percent;
    draw_progress();
    uint32_t black = std::min(percent, 100u) * 6;
    for (int y = 756; y < 760; ++y)
      for (uint32_t x = 0; x < 600; ++x) ASSERT_EQ(panel(x, y), x < black ? 15 : 0) << percent << " " << x;
    EXPECT_EQ(updates(), (std::vector<rect>{{0, 796, 599, 799}}));
  }
}

TEST_F(Display, TitleIsRightAlignedOnWhiteCellsAndCutAtTheLeft) {
  fill_surface(grey(7));
  show_title("Name.ext");
  select_font(font_state.path, 20);
  int32_t width = text_width("Name.ext");
  mark_dirty(0, 700, 599, 759);  // make the grey around the title visible on the panel
  flush_dirty();
  clear_recorded_updates();
  show_title("Name.ext");
  int32_t height = font_state.ascender - font_state.descender;
  ASSERT_EQ(updates().size(), 1u);
  EXPECT_EQ(updates()[0], rect({594 - width, 773, 595, 773 + height + 1}));
  EXPECT_EQ(panel(594 - width, 733), 0);  // the first cell's corner is white
  EXPECT_EQ(panel(594, 740), 8);          // right of the title: the grey around it
  EXPECT_EQ(panel(593 - width, 740), 8);

  // Too wide: whole characters go at the left, a UTF-8 sequence is never split.
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

TEST_F(Display, RestoreAfterSaveLeavesThePanelAsItWas) {
  save_screen(saved_screen);
  std::vector<uint8_t> before(screen.working_area, screen.working_area + working_area_bytes);
  last_percent = 80;
  draw_progress();
  show_title("Over the picture.");
  clear_recorded_updates();
  restore_screen();
  EXPECT_EQ(memcmp(before.data(), screen.working_area, working_area_bytes), 0);
  EXPECT_EQ(updates(), (std::vector<rect>{{0, 40, 599, 799}}));
}

// The player's output, through a real pipe.
class PlayerOutput : public Display {
 protected:
  int fds[2];
  void SetUp() override {
    Display::SetUp();
    ASSERT_EQ(pipe(fds), 0);
  }
  void TearDown() override {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  bool feed(const std::string& chunk) {
    if (!chunk.empty()) {
      EXPECT_EQ(write(fds[1], chunk.data(), chunk.size()), ssize_t(chunk.size()));
    }
    return handle_output(fds[0]);
  }
  bool title_drawn() {
    for (const rect& r : updates())
      if (r.y1 == 773) return true;
    return false;
  }
};

TEST_F(PlayerOutput, PositionAnswersMoveTheBar) {
  const std::vector<std::pair<std::string, uint32_t>> answers = {
      {"ANS_PERCENT_POSITION=37\n", 37}, {"ANS_PERCENT_POSITION=0\n", 0},
      {"ANS_PERCENT_POSITION=101\n", 100}, {"ANS_PERCENT_POSITION=4294967333\n", 100},
      {"ANS_PERCENT_POSITION= +12\n", 12}, {"xANS_PERCENT_POSITION=50\n", 12}};
  for (const auto& [chunk, percent] : answers) {
    feed(chunk);
    EXPECT_EQ(last_percent, percent) << chunk;
    EXPECT_EQ(panel(599, 758), percent == 100 ? 15 : 0) << chunk;
  }
  EXPECT_EQ(panel(221, 757), 0);
  feed("ANS_PERCENT_POSITION=37\n");
  EXPECT_EQ(panel(221, 757), 15);
  EXPECT_EQ(panel(222, 757), 0);
}

TEST_F(PlayerOutput, PlayingLineShowsTheTitleWithoutItsFullStop) {
  feed("ANS_PERCENT_POSITION=50\nPlaying /music/Song.ogg.\nother\n");
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_TRUE(title_drawn());
  // The copy taken to remove the title holds the bar just drawn, not the title.
  EXPECT_EQ(saved_screen[(757 * fb_row_bytes) + 10], 0xFF);
  select_font(font_state.path, 20);
  int32_t width = text_width("/music/Song.ogg");
  EXPECT_EQ(updates().back().x1, 594 - width);

  // A new file while the title shows: drawn over it, the copy is not taken again.
  std::vector<uint8_t> copy(saved_screen, saved_screen + working_area_bytes);
  playback.title_countdown = 2;
  feed("Playing Next.ogg.\n");
  EXPECT_EQ(playback.title_countdown, 5);
  EXPECT_EQ(memcmp(copy.data(), saved_screen, working_area_bytes), 0);
}

TEST_F(PlayerOutput, EmptyCutOffAndMissingTitles) {
  feed("Playing \n");
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
}

TEST_F(PlayerOutput, EndOfOutputIsReported) {
  EXPECT_TRUE(feed("x\n"));
  close(fds[1]);
  fds[1] = -1;
  EXPECT_FALSE(feed(""));
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
