// Key translation and the sticky modifiers, read as real records from the device FIFOs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "input/input.h"
#include "tests/harness.h"

namespace {

struct step {
  uint16_t code;
  int32_t value;  // 1 press, 0 release, 2 autorepeat
  uint32_t expect;
};

class KeyInput : public testing::Test {
 protected:
  int writer[3];
  void SetUp() override {
    input.shift_state = input.f20_state = input.meta_state = input.alt_down = 0;
    std::string root = getenv("INKPLAY_ROOT");
    for (int i = 0; i < 3; ++i)
      writer[i] = open((root + "/dev/input/event" + std::to_string(i)).c_str(), O_RDWR | O_NONBLOCK);
    while (read_key() != 0 || poll(input.input_devices, 3, 0) > 0) {
    }
  }
  void TearDown() override {
    for (int fd : writer) close(fd);
  }
  uint32_t send(uint16_t code, int32_t value, int device = 0, uint16_t type = EV_KEY) {
    EXPECT_TRUE(write_key_record(writer[device], code, value, type));
    return read_key();
  }
};

// The whole table: 56 mapped codes, the digit row carrying Alt, the arrows in their pairing, and
// what numeric_char makes of the keys (the low byte alone; other keys unchanged, flags kept).
TEST_F(KeyInput, TableMapsExactlyTheDocumentedCodes) {
  int mapped = 0;
  for (uint32_t code = 0; code < 400; ++code) {
    input.shift_state = input.f20_state = input.meta_state = input.alt_down = 0;
    if (translate_key(static_cast<uint16_t>(code)) != 0) ++mapped;
  }
  EXPECT_EQ(mapped, 56);
  input.shift_state = input.f20_state = input.meta_state = input.alt_down = 0;
  struct row {
    uint16_t code;
    uint32_t key, numeric;
  };
  const std::vector<row> rows = {
      {KEY_1, 0x10071, 0x10071}, {KEY_0, 0x10070, 0x10070}, {KEY_BACKSPACE, 0x08, 0x08},
      {KEY_ENTER, 0x0A, 0x0A},   {KEY_A, 0x61, 0x61},       {KEY_L, 0x6C, 0x6C},
      {KEY_DOT, 0x2E, 0x2E},     {KEY_SPACE, 0x20, '0'},    {KEY_M, 'm', '1'},
      {KEY_B, 'b', '3'},         {KEY_Y, 'y', '8'},         {KEY_K, 'k', ' '},
      {KEY_E, 'e', ')'},         {KEY_F, 'f', '-'},         {KEY_HOME, 'H', 'H'},
      {KEY_UP, ',', ','},        {KEY_LEFT, '>', '>'},      {KEY_RIGHT, '<', '<'},
      {KEY_DOWN, '^', '^'},      {KEY_VOLUMEDOWN, '-', '-'}, {KEY_MENU, 'M', 'M'},
      {KEY_BACK, 'B', 'B'},      {KEY_F24, '*', '*'},       {KEY_ESC, 0, 0},
      {KEY_TAB, 0, 0},           {KEY_F23, 0, 0},
  };
  for (const row& r : rows) {
    EXPECT_EQ(translate_key(r.code), r.key) << "code " << r.code;
    EXPECT_EQ(numeric_char(r.key), r.numeric) << "code " << r.code;
  }
  EXPECT_EQ(numeric_char(FLAG_ALT | 'j'), uint32_t('4'));
  EXPECT_EQ(numeric_char(FLAG_SHIFT | 'a'), FLAG_SHIFT | 'a');
}

// Every record from every modifier state: the states stay in their six values and a key carries
// no bit beyond its character and the four flags.
TEST_F(KeyInput, EveryRecordFromEveryStateKeepsTheInvariants) {
  for (int state = 0; state < 6 * 6 * 6 * 2 * 256 * 2; ++state) {
    input.shift_state = state % 6, input.f20_state = state / 6 % 6, input.meta_state = state / 36 % 6;
    input.alt_down = state / 216 % 2;
    uint16_t code = state / 432 % 256;
    uint32_t key = state / 110592 ? translate_key(code) : (key_release(code), 0);
    ASSERT_EQ(key & ~(0xFFu | FLAG_ALT | FLAG_SHIFT | FLAG_F20 | FLAG_META), 0u) << code;
    ASSERT_TRUE(input.shift_state <= 5 && input.f20_state <= 5 && input.meta_state <= 5 && input.alt_down <= 1);
  }
}

// Each scenario guards one way the modifiers reach (or must not reach) the player's keys; the
// sticky states are checked after the last step.
TEST_F(KeyInput, ModifierScenarios) {
  struct scenario {
    const char* name;
    std::vector<step> steps;
    modifier_state shift, f20, meta;
  };
  const uint16_t S = KEY_LEFTSHIFT, ALT = KEY_LEFTALT;
  const std::vector<scenario> scenarios = {
      {"a tap latches for one key", {{S, 1, 'S'}, {S, 0, 0}, {KEY_A, 1, 0x20061}, {KEY_B, 1, 0x62}}, 0, 0, 0},
      {"a second tap locks", {{S, 1, 'S'}, {S, 0, 0}, {S, 1, 'S'}, {S, 0, 0}, {KEY_A, 1, 0x20061},
                              {KEY_B, 1, 0x20062}}, 4, 0, 0},
      {"held while locked", {{S, 1, 'S'}, {S, 0, 0}, {S, 1, 'S'}, {S, 0, 0}, {S, 1, 'S'}}, 5, 0, 0},
      {"a third tap switches off", {{S, 1, 'S'}, {S, 0, 0}, {S, 1, 'S'}, {S, 0, 0}, {S, 1, 'S'},
                                    {S, 0, 0}, {KEY_C, 1, 0x63}}, 0, 0, 0},
      {"release after a held key still latches", {{S, 1, 'S'}, {KEY_A, 1, 0x20061}, {S, 0, 0},
                                                  {KEY_B, 1, 0x20062}, {KEY_C, 1, 0x63}}, 0, 0, 0},
      {"Alt only while down, never latched", {{ALT, 1, 'T'}, {ALT, 2, 0}, {KEY_L, 1, 0x1006C},
                                              {ALT, 0, 0}, {KEY_L, 1, 0x6C}}, 0, 0, 0},
      {"a latch survives Alt and unmapped keys", {{S, 1, 'S'}, {S, 0, 0}, {ALT, 1, 'T'}, {ALT, 0, 0},
                                                  {KEY_ESC, 1, 0}}, 2, 0, 0},
      {"three latches and Alt on one key", {{S, 1, 'S'}, {S, 0, 0}, {KEY_F20, 1, 'A'}, {KEY_F20, 0, 0},
                                            {KEY_RIGHTMETA, 1, 'Y'}, {KEY_RIGHTMETA, 0, 0}, {ALT, 1, 'T'},
                                            {KEY_A, 1, 0xF0061}, {KEY_B, 1, 0x10062}}, 0, 0, 0},
      {"modifier repeats change nothing", {{S, 1, 'S'}, {S, 2, 0}, {KEY_F20, 2, 0}, {KEY_RIGHTMETA, 2, 0}},
       1, 0, 0},
  };
  for (const scenario& sc : scenarios) {
    input.shift_state = input.f20_state = input.meta_state = input.alt_down = 0;
    for (size_t i = 0; i < sc.steps.size(); ++i)
      EXPECT_EQ(send(sc.steps[i].code, sc.steps[i].value), sc.steps[i].expect) << sc.name << ", step " << i;
    EXPECT_EQ(input.shift_state, sc.shift) << sc.name;
    EXPECT_EQ(input.f20_state, sc.f20) << sc.name;
    EXPECT_EQ(input.meta_state, sc.meta) << sc.name;
  }
  // A synchronisation record is the release of code 0: nothing at all.
  input.shift_state = 1;
  EXPECT_EQ(send(SYN_REPORT, 0, 0, EV_SYN), 0u);
  EXPECT_EQ(input.shift_state, 1);
}

// Nothing ready reads nothing; one record per call, event0 first; a diagnostic line for each
// translation; a device at end of file (gone) is retired, or every poll would return at once.
TEST_F(KeyInput, ReadingRecords) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_key(), 0u);
  for (auto [device, code] : {std::pair{1, KEY_B}, {0, KEY_A}, {0, KEY_1}, {2, KEY_ESC}})
    ASSERT_TRUE(write_key_record(writer[device], code, 1));
  for (uint32_t key : {0x61u, 0x10071u, 0x62u, 0u, 0u}) EXPECT_EQ(read_key(), key);
  EXPECT_EQ(send(KEY_A, 2), 0x61u);
  EXPECT_EQ(send(KEY_A, 0), 0u);
  fflush(stdout);
  std::string expect = "v. 0x01 c. 0x1e/0x0061 (a)\nv. 0x01 c. 0x02/0x10071 (q)\nv. 0x01 c. 0x30/0x0062 (b)\n"
                       "v. 0x01 c. 0x01/0x0000 (";
  expect += std::string(1, '\0') + ")\nv. 0x02 c. 0x1e/0x0061 (a)\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expect);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  int saved = input.input_devices[2].fd;
  input.input_devices[2].fd = pipe_fds[0];
  close(pipe_fds[1]);
  EXPECT_EQ(read_key(), 0u);
  EXPECT_EQ(input.input_devices[2].fd, -1);
  input.input_devices[2].fd = saved;
  EXPECT_EQ(send(KEY_A, 1, 2), 0x61u);  // the others keep working
}

}  // namespace
