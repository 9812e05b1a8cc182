// Arbitrary input records through read_key and handle_key. Each 8 bytes: device, type, code
// (2 bytes), value (4 bytes). Only the six slave commands may ever reach the player.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "input/input.h"
#include "supervisor/supervisor.h"

namespace {

int device_writer[3];
int command_pipe[2];
pid_t gone_player;  // a zombie: Alt+H may signal it without harm

void check_commands() {
  char buf[4096];
  ssize_t n = read(command_pipe[0], buf, sizeof buf);
  std::string_view rest(buf, n > 0 ? static_cast<size_t>(n) : 0);
  while (!rest.empty()) {
    bool known = false;
    for (std::string_view c : {CMD_NEXT, CMD_PREVIOUS, CMD_FAST, CMD_NORMAL_SPEED, CMD_PAUSE}) {
      if (rest.substr(0, c.size()) == c) {
        rest.remove_prefix(c.size());
        known = true;
        break;
      }
    }
    if (!known) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!freopen("/dev/null", "w", stdout)) abort();  // the per-key diagnostic line
  for (int i = 0; i < 3; ++i) {
    int fds[2];
    if (pipe(fds) != 0) abort();
    input.input_devices[i] = {fds[0], POLLIN, 0};
    device_writer[i] = fds[1];
  }
  if (pipe2(command_pipe, O_NONBLOCK) != 0) abort();
  gone_player = fork();
  if (gone_player == 0) _exit(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input.shift_state = input.f20_state = input.meta_state = input.alt_down = 0;
  playback = {};
  for (size_t at = 0; at + 8 <= size; at += 8) {
    input_event ev = {};
    ev.type = data[at + 1];
    memcpy(&ev.code, data + at + 2, 2);
    memcpy(&ev.value, data + at + 4, 4);
    if (write(device_writer[data[at] % 3], &ev, sizeof ev) != sizeof ev) abort();
    uint32_t key = read_key();
    if (key & ~(0xFFu | FLAG_ALT | FLAG_SHIFT | FLAG_F20 | FLAG_META)) abort();
    if (input.shift_state > 5 || input.f20_state > 5 || input.meta_state > 5 || input.alt_down > 1)
      abort();
    handle_key(gone_player, command_pipe[1], key);
    check_commands();
  }
  while (read_key() != 0 || poll(input.input_devices, 3, 0) > 0) {
  }
  return 0;
}
