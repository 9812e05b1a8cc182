// All state of the display layer, in one place.
#include "display/display.h"

screen_state screen = {nullptr, nullptr, surface_pixels, -1, nullptr};
uint32_t surface_pixels[surface_width * surface_height];
dirty_rect dirty_region = {0xFFFFFFFF, 0xFFFFFFFF, 0, 0};
uint32_t draw_attrs;
font_record font_state;
cursor_record text_cursor;
cursor_record caret_drawn;
uint8_t saved_screen[working_area_bytes];
uint32_t last_percent;
