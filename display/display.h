// E-ink display layer: an off-screen ARGB surface drawn by DirectFB, converted into the
// panel's 4-bit framebuffer only for the region drawn since the last flush.
// Passive: callers draw, then flush; nothing here runs on its own.
#pragma once

#include "display/dfb_layout.h"

#include <cstdarg>
#include <cstdint>

// Geometry of the panel and of the part of it we own.
constexpr int screen_width = 600;
constexpr int screen_height = 800;
constexpr int fb_row_bytes = screen_width / 2;                      // two pixels per byte
constexpr int fb_map_bytes = fb_row_bytes * screen_height;          // 240000
constexpr int top_rows = 40;                                        // never written
constexpr int surface_width = screen_width;
constexpr int surface_height = screen_height - top_rows;            // 760
constexpr int surface_pitch = surface_width * 4;                    // 2400
constexpr int working_area_offset = fb_row_bytes * top_rows;        // 12000
constexpr int working_area_bytes = fb_row_bytes * surface_height;   // 228000

// The e-ink driver's area-update request. NOTE: the layout is the driver's; the buffer field
// is a native pointer, so the record is 24 bytes on the 32-bit device.
constexpr unsigned long UPDATE_AREA_REQUEST = 0x46DD;
struct update_area {
  int32_t x1, y1, x2, y2;  // screen coordinates, inclusive
  int32_t effect;          // always 0
  uint8_t* buffer;         // always null: the driver reads the framebuffer
};

struct screen_state {
  IDirectFB* dfb;
  IDirectFBSurface* surface;  // null when the display could not be set up
  uint32_t* pixels;           // surface memory, surface_width x surface_height
  int fb_fd;
  uint8_t* working_area;      // framebuffer mapping + working_area_offset, or null
};
extern screen_state screen;
extern uint32_t surface_pixels[surface_width * surface_height];

// Surface coordinates, inclusive; empty when min_x or min_y is all ones or max_x or max_y is 0.
struct dirty_rect {
  uint32_t min_x, min_y, max_x, max_y;
};
extern dirty_rect dirty_region;

// The attribute word: fg bits 18-21, bg 22-25, cached surface level 26-29, fg_off 30, bg_off 31.
constexpr int fg_shift = 18, bg_shift = 22, level_shift = 26;
constexpr uint32_t level_mask = 0xF;
constexpr uint32_t FG_OFF = 1u << 30;
constexpr uint32_t BG_OFF = 1u << 31;
extern uint32_t draw_attrs;

struct font_record {
  IDirectFBFont* font;  // null until a font could be loaded
  const char* path;     // the caller's string, kept by reference
  uint32_t size;
  int ascender, descender;
  bool title_font_missing;  // reported to the system log
};
extern font_record font_state;

struct cursor_record {
  int32_t visible, x, y;
};
extern cursor_record text_cursor;
extern cursor_record caret_drawn;

extern uint8_t saved_screen[working_area_bytes];
extern uint32_t last_percent;  // the bar's position, 0..100

// Coordinates come from callers unchecked; sums wrap as on the device rather than overflow.
inline int32_t coord_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Screen set-up and the panel driver.
void display_open();
bool display_ready();
void refresh_area(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void refresh_working_area();

// Dirty region and flush.
void mark_dirty(uint32_t xa, uint32_t ya, uint32_t xb, uint32_t yb);
bool dirty_region_empty();
bool clip_dirty_region(dirty_rect& r);
void convert_rect(const dirty_rect& r);
void refresh_rect(const dirty_rect& r);
void flush_dirty();
void black_out(const dirty_rect& r);

// Attributes, boxes and text. Text is formatted into this many bytes, its terminator included.
constexpr int text_buffer_bytes = 1024;
uint32_t attr_field(int shift);
void set_fg(uint32_t level);
void set_bg(uint32_t level);
void set_transparent();
void set_fill_only();
void set_attrs(uint32_t word);
void set_level(uint32_t level);
void draw_box(int32_t x, int32_t y, uint32_t w, uint32_t h);
uint32_t next_char(const char*& text);
int32_t glyph_advance(uint32_t ch);
int32_t draw_glyph(int32_t x, int32_t y, uint32_t ch);
int32_t draw_text(int32_t x, int32_t y, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int32_t vdraw_text(int32_t x, int32_t y, const char* fmt, va_list args);
int32_t text_width(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void select_font(const char* path, uint32_t size);

// Overlays.
void draw_progress();
void show_title(const char* text);
void save_screen(uint8_t* dst);
void load_screen(const uint8_t* src);
void restore_screen();

// Auxiliary drawing and the text cursor.
void draw_pixel(int32_t x, int32_t y);
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void draw_caret(int32_t x, int32_t y);
void draw_image(int32_t x, int32_t y, uint32_t w, uint32_t h, const char* path);
void flash_dirty();
int32_t print_at_cursor(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void update_caret();
void put_char(uint32_t ch);
void move_cursor(int32_t x, int32_t y);
void hide_cursor();
void show_cursor();
