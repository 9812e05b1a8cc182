// The text cursor and its caret. Every cursor operation ends with update_caret.
#include "display/display.h"

namespace {

bool has_position(const cursor_record& c) { return c.x != 0 && c.y != 0; }

}  // namespace

int32_t print_at_cursor(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int32_t total = vdraw_text(text_cursor.x, text_cursor.y, fmt, args);
  va_end(args);
  return total;
}

// Erase the caret where it was drawn (in the background level: what lay under it is not
// brought back), draw it where the cursor is, and give the caller its attributes back.
void update_caret() {
  if (text_cursor.visible == caret_drawn.visible &&
      (!text_cursor.visible || (text_cursor.x == caret_drawn.x && text_cursor.y == caret_drawn.y)))
    return;
  uint32_t saved = draw_attrs;
  uint32_t bg = attr_field(bg_shift);
  set_fg(bg);
  if (caret_drawn.visible && has_position(caret_drawn)) draw_caret(caret_drawn.x, caret_drawn.y);
  set_fg(bg >= 8 ? 0 : 15);  // dark on light, light on dark
  if (text_cursor.visible && has_position(text_cursor)) draw_caret(text_cursor.x, text_cursor.y);
  set_attrs(saved);
  caret_drawn = text_cursor;
}

void put_char(uint32_t ch) {
  text_cursor.x = coord_add(text_cursor.x, draw_glyph(text_cursor.x, text_cursor.y, ch));
  update_caret();
}

void move_cursor(int32_t x, int32_t y) {
  text_cursor.x = x;
  text_cursor.y = y;
  update_caret();
}

void hide_cursor() {
  text_cursor.visible = 0;
  update_caret();
}

void show_cursor() {
  text_cursor.visible = 1;
  update_caret();
}
