// Arbitrary sequences of drawing and cursor operations with arbitrary coordinates and texts,
// then a flush and a flashing refresh: nothing may land outside the surface or the working area.
#include <unistd.h>

#include "platform/device_paths.h"
#include "tests/fuzz/fuzz_display.h"

// The flashing refresh's pause would only slow the search down.
extern "C" int usleep(useconds_t) { return 0; }

namespace {

struct reader {
  const uint8_t* data;
  size_t size, at = 0;
  uint8_t byte() { return at < size ? data[at++] : 0; }
  int32_t number() {
    // Mostly near the surface, sometimes anywhere in 32 bits.
    uint8_t kind = byte();
    uint32_t raw = 0;
    for (int i = 0; i < 4; ++i) raw = raw << 8 | byte();
    return kind & 1 ? static_cast<int32_t>(raw) : static_cast<int32_t>(raw % 900) - 100;
  }
  void text(char* out, size_t room) {
    size_t n = byte() % room;
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(byte() | 1);
    out[n] = '\0';
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  open_fuzz_display();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reader in{data, size};
  set_attrs(0);
  text_cursor = caret_drawn = {0, 0, 0};
  static const char* font = device_path(device_file::font);
  select_font(font, 20);
  char text[24];
  while (in.at < in.size) {
    int32_t a = in.number(), b = in.number(), c = in.number(), d = in.number();
    switch (in.byte() % 20) {
      case 0: set_fg(a); break;
      case 1: set_bg(a); break;
      case 2: set_transparent(); break;
      case 3: set_fill_only(); break;
      case 4: set_attrs(static_cast<uint32_t>(a)); break;
      case 5: draw_box(a, b, static_cast<uint32_t>(c), static_cast<uint32_t>(d)); break;
      case 6: draw_glyph(a, b, static_cast<uint32_t>(c)); break;
      case 7: in.text(text, sizeof text); draw_text(a, b, "%s", text); break;
      case 8: draw_pixel(a, b); break;
      case 9: draw_line(a, b, c, d); break;
      case 10: draw_caret(a, b); break;
      case 11: put_char(static_cast<uint8_t>(c)); break;
      case 12: move_cursor(a, b); break;
      case 13: hide_cursor(); break;
      case 14: show_cursor(); break;
      case 15: in.text(text, sizeof text); print_at_cursor("%s", text); break;
      case 16: mark_dirty(a, b, c, d); break;
      case 17: flush_dirty(); break;
      case 18: flash_dirty(); break;
      case 19: select_font(font, "\0\1\2\x14\x1e"[static_cast<uint32_t>(a) % 5]); break;  // edge and used sizes
    }
  }
  flush_dirty();
  mark_dirty(in.number(), in.number(), in.number(), in.number());
  flash_dirty();
  check_screen_untouched_outside();
  return 0;
}
