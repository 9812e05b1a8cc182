// Key translation: the code table, the sticky modifiers and Alt.
#include <linux/input-event-codes.h>

#include "input/input.h"

input_state input;

namespace {

constexpr uint32_t A = FLAG_ALT;

// Indexed by Linux key code; 0 is "no mapping". Codes past the end have no mapping either.
// The digit row carries FLAG_ALT so that KEY_1..KEY_0 act as Alt+Q..Alt+P.
constexpr uint32_t key_table[] = {
    /*   0 */ 0, 0, A | 'q', A | 'w', A | 'e', A | 'r', A | 't', A | 'y', A | 'u', A | 'i',
    /*  10 */ A | 'o', A | 'p', 0, 0, 0x08, 0, 'q', 'w', 'e', 'r',
    /*  20 */ 't', 'y', 'u', 'i', 'o', 'p', 0, 0, '\n', 0,
    /*  30 */ 'a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', 0,
    /*  40 */ 0, 0, 'S', 0, 'z', 'x', 'c', 'v', 'b', 'n',
    /*  50 */ 'm', 0, '.', 0, 0, 0, 'T', ' ', 0, 0,
    /*  60 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*  70 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*  80 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*  90 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 100 */ 0, 0, 'H', ',', 'P', '>', '<', 0, '^', 'N',
    /* 110 */ 0, 0, 0, 0, '-', '+', 0, 0, 0, 0,
    /* 120 */ 0, 0, 0, 0, 0, 0, 'Y', 0, 0, 0,
    /* 130 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 'M',
    /* 140 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 150 */ 0, 0, 0, 0, 0, 0, 0, 0, 'B', 0,
    /* 160 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 170 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 180 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 190 */ 'A', 0, 0, 0, '*',
};
constexpr unsigned key_table_size = sizeof key_table / sizeof key_table[0];
static_assert(key_table_size == KEY_F24 + 1);
static_assert(key_table[KEY_LEFT] == '>' && key_table[KEY_RIGHT] == '<');

// Rows are the state; column 0 is a press of the modifier's key, column 1 its release.
constexpr modifier_state modifier_step[6][2] = {
    {1, 0}, {1, 2}, {3, 2}, {3, 4}, {5, 4}, {5, 0},
};

modifier_state* sticky_state_of(uint16_t code) {
  switch (code) {
    case KEY_LEFTSHIFT: return &input.shift_state;
    case KEY_RIGHTMETA: return &input.meta_state;
    case KEY_F20: return &input.f20_state;
    default: return nullptr;
  }
}

}  // namespace

void modifier_press(modifier_state& state) {
  if (state < 6) state = modifier_step[state][0];
}

void modifier_release(modifier_state& state) {
  if (state < 6) state = modifier_step[state][1];
}

int modifier_applies(modifier_state& state) {
  if (state == 0 || state > 5) return 0;
  if (state == 2) state = 0;  // a latch is used up by the key that takes it
  return 1;
}

void key_release(uint16_t code) {
  if (code == KEY_LEFTALT) input.alt_down = 0;
  if (modifier_state* s = sticky_state_of(code)) modifier_release(*s);
}

uint32_t translate_key(uint16_t code) {
  uint32_t key = code < key_table_size ? key_table[code] : 0;
  if (modifier_state* s = sticky_state_of(code)) {
    modifier_press(*s);
    return key;
  }
  if (code == KEY_LEFTALT) {
    input.alt_down = 1;
    return key;
  }
  if (key == 0) return 0;
  if (input.alt_down) key |= FLAG_ALT;
  if (modifier_applies(input.shift_state)) key |= FLAG_SHIFT;
  if (modifier_applies(input.f20_state)) key |= FLAG_F20;
  if (modifier_applies(input.meta_state)) key |= FLAG_META;
  return key;
}

uint32_t numeric_char(uint32_t key) {
  static constexpr char from[] = " mnbjhguytvfrcdiek";
  static constexpr char to[] = "0123456789+-*/^() ";
  for (unsigned i = 0; i < sizeof from - 1; ++i)
    if ((key & 0xFF) == static_cast<uint8_t>(from[i])) return static_cast<uint8_t>(to[i]);
  return key;
}
