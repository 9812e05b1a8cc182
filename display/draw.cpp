// Drawing attributes, boxes and text on the off-screen surface. Nothing here flushes.
#include <cstdio>
#include <cstring>

#include "display/display.h"

namespace {

void set_field(int shift, uint32_t value) {
  draw_attrs = (draw_attrs & ~(level_mask << shift)) | (value & level_mask) << shift;
}

int32_t line_height() { return font_state.ascender - font_state.descender; }

// Smallest code point of a sequence of each length: a longer form of a smaller one is invalid.
constexpr uint32_t least_code_point[5] = {0, 0, 0x80, 0x800, 0x10000};

}  // namespace

// File names are UTF-8: a valid sequence is one character; any other byte stands for itself.
uint32_t next_char(const char*& text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  int length = s[0] < 0xC2 ? 1 : s[0] < 0xE0 ? 2 : s[0] < 0xF0 ? 3 : s[0] < 0xF5 ? 4 : 1;
  uint32_t code = length == 1 ? s[0] : s[0] & (0x7Fu >> length);
  for (int i = 1; i < length && length > 1; ++i) {
    if ((s[i] & 0xC0) != 0x80) length = 1;  // the terminator included: never read past it
    code = code << 6 | (s[i] & 0x3F);
  }
  if (length > 1 && (code < least_code_point[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF))
    length = 1;
  if (length == 1) code = s[0];
  text += length;
  return code;
}

uint32_t attr_field(int shift) { return draw_attrs >> shift & level_mask; }

void set_fg(uint32_t level) {
  set_field(fg_shift, level);
  draw_attrs &= ~FG_OFF;
}

void set_bg(uint32_t level) {
  set_field(bg_shift, level);
  draw_attrs &= ~BG_OFF;
}

void set_transparent() { draw_attrs = (draw_attrs | BG_OFF) & ~FG_OFF; }
void set_fill_only() { draw_attrs = (draw_attrs | FG_OFF) & ~BG_OFF; }

// The level field caches what the surface was last given; a new word cannot change that.
void set_attrs(uint32_t word) {
  uint32_t cached = level_mask << level_shift;
  draw_attrs = (word & ~cached) | (draw_attrs & cached);
}

// SetColor only when the grey level really changes.
void set_level(uint32_t level) {
  if (level == attr_field(level_shift)) return;
  set_field(level_shift, level);
  if (!screen.surface) return;
  uint8_t grey = static_cast<uint8_t>(level * 0x11);
  screen.surface->SetColor(screen.surface, grey, grey, grey, 0xFF);
}

void draw_box(int32_t x, int32_t y, uint32_t w, uint32_t h) {
  bool fill = !(draw_attrs & BG_OFF), outline = !(draw_attrs & FG_OFF);
  if (w == 0 || h == 0 || !(fill || outline) || !screen.surface) return;
  IDirectFBSurface* s = screen.surface;
  if (fill) {
    set_level(attr_field(bg_shift));
    s->FillRectangle(s, x, y, static_cast<int>(w), static_cast<int>(h));
  }
  if (outline && !(fill && attr_field(fg_shift) == attr_field(bg_shift))) {
    set_level(attr_field(fg_shift));
    s->DrawRectangle(s, x, y, static_cast<int>(w), static_cast<int>(h));
  }
  mark_dirty(x, y, x + w - 1, y + h - 1);
}

int32_t glyph_advance(uint32_t ch) {
  int advance = 0;
  if (font_state.font) font_state.font->GetGlyphExtents(font_state.font, ch, nullptr, &advance);
  return advance;
}

int32_t draw_glyph(int32_t x, int32_t y, uint32_t ch) {
  if ((draw_attrs & FG_OFF) || !font_state.font || !screen.surface) return 0;
  IDirectFBSurface* s = screen.surface;
  int32_t advance = glyph_advance(ch);
  if (!(draw_attrs & BG_OFF)) {
    set_level(attr_field(bg_shift));
    s->FillRectangle(s, x, y, advance, line_height());
  }
  set_level(attr_field(fg_shift));
  s->DrawGlyph(s, ch, x, y, DSTF_TOP);
  mark_dirty(x, y, coord_add(x, advance - 1), coord_add(y, line_height() - 1));
  return advance;
}

int32_t vdraw_text(int32_t x, int32_t y, const char* fmt, va_list args) {
  if (draw_attrs & FG_OFF) return 0;
  char text[text_buffer_bytes];
  int n = vsnprintf(text, sizeof text, fmt, args);
  if (n <= 0) return 0;
  int32_t total = 0;
  for (const char* c = text; *c;) total = coord_add(total, draw_glyph(coord_add(x, total), y, next_char(c)));
  return total;
}

int32_t draw_text(int32_t x, int32_t y, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int32_t total = vdraw_text(x, y, fmt, args);
  va_end(args);
  return total;
}

int32_t text_width(const char* fmt, ...) {
  char text[text_buffer_bytes];
  va_list args;
  va_start(args, fmt);
  int n = vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  int32_t total = 0;
  for (const char* c = text; n > 0 && *c;) total = coord_add(total, glyph_advance(next_char(c)));
  return total;
}

// The largest font height, counting down from size, whose line height is below size pixels.
void select_font(const char* path, uint32_t size) {
  if (!path) return;
  if (font_state.path && size == font_state.size && strcmp(font_state.path, path) == 0) return;
  font_state.path = path;
  font_state.size = size;
  DFBFontDescription desc = {};
  desc.flags = DFDESC_HEIGHT;
  desc.height = size > 1 ? static_cast<int>(size) : 1;
  for (;;) {
    if (font_state.font) font_state.font->Release(font_state.font);
    font_state.font = nullptr;
    if (!screen.dfb || screen.dfb->CreateFont(screen.dfb, path, &desc, &font_state.font) != DFB_OK) {
      font_state.font = nullptr;  // text then draws nothing rather than use a font we lack
      return;
    }
    font_state.font->GetAscender(font_state.font, &font_state.ascender);
    font_state.font->GetDescender(font_state.font, &font_state.descender);
    if (static_cast<uint32_t>(line_height()) < size || desc.height <= 1) break;
    --desc.height;
  }
  if (screen.surface) screen.surface->SetFont(screen.surface, font_state.font);
}
