// Keyboard input: the three event devices and their translation into key values.
// Passive: the supervisor loop polls the devices and calls read_key when one of them is ready.
#pragma once

#include <poll.h>

#include <cstdint>

// A translated key: the character in bits 0-7 plus these flags; 0 means "no key".
constexpr uint32_t FLAG_ALT = 0x10000;    // Alt held, or a digit key
constexpr uint32_t FLAG_SHIFT = 0x20000;  // sticky KEY_LEFTSHIFT
constexpr uint32_t FLAG_F20 = 0x40000;    // sticky KEY_F20
constexpr uint32_t FLAG_META = 0x80000;   // sticky KEY_RIGHTMETA

constexpr int input_device_count = 3;

// Sticky modifier: 0 off, 1 held, 2 latched for one key, 3 held while latched, 4 locked,
// 5 held while locked.
using modifier_state = uint8_t;

struct input_state {
  pollfd input_devices[input_device_count];  // event0, event1, event2; fd -1 when unusable
  modifier_state shift_state;
  modifier_state f20_state;
  modifier_state meta_state;
  uint8_t alt_down;
};
extern input_state input;

void open_input_devices();
uint32_t read_key();
uint32_t wait_key(int32_t timeout_ms);
void grab_input_devices();
void ungrab_input_devices();
uint32_t numeric_char(uint32_t key);

// The steps read_key is built from.
void modifier_press(modifier_state& state);
void modifier_release(modifier_state& state);
int modifier_applies(modifier_state& state);
void key_release(uint16_t code);
uint32_t translate_key(uint16_t code);
