// The three keyboard devices: opening, polling and reading one record at a time.
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "input/input.h"
#include "platform/device_paths.h"
#include "platform/system_log.h"

namespace {

constexpr device_file input_files[input_device_count] = {
    device_file::input0, device_file::input1, device_file::input2};

// One read is one whole record: 16 bytes on the 32-bit device, 24 on a 64-bit host.
constexpr bool narrow_abi = sizeof(long) == 4;
static_assert(sizeof(input_event) == (narrow_abi ? 16 : 24));
static_assert(offsetof(input_event, type) == (narrow_abi ? 8 : 16));
static_assert(offsetof(input_event, code) == (narrow_abi ? 10 : 18));
static_assert(offsetof(input_event, value) == (narrow_abi ? 12 : 20));

constexpr int value_release = 0;
constexpr int value_autorepeat_bit = 2;

bool is_modifier(uint16_t code) {
  return code == KEY_LEFTSHIFT || code == KEY_LEFTALT || code == KEY_RIGHTMETA || code == KEY_F20;
}

// A device that reports end of file or a hard error (unplugged) would be reported ready by
// every poll for ever; take it out so that the loop can sleep again.
void retire_device(pollfd& device) {
  close(device.fd);
  device.fd = -1;
}

static_assert(EVIOCGRAB == 0x40044590);

void grab_all(int grab) {
  for (pollfd& device : input.input_devices) ioctl(device.fd, EVIOCGRAB, grab);
}

}  // namespace

void open_input_devices() {
  for (int i = 0; i < input_device_count; ++i) {
    // Blocking and inherited by the player, as the platform's other readers expect.
    input.input_devices[i].fd = open(device_path(input_files[i]), O_RDWR, 0);
    input.input_devices[i].events = POLLIN;
    if (input.input_devices[i].fd < 0)
      report("keyboard %s not opened (%s)", device_path_on_device(input_files[i]), strerror(errno));
  }
}

uint32_t read_key() {
  if (poll(input.input_devices, input_device_count, 0) <= 0) return 0;
  pollfd* ready = nullptr;
  for (pollfd& device : input.input_devices)
    if (device.revents) { ready = &device; break; }
  if (!ready) return 0;

  input_event ev;
  ssize_t n = read(ready->fd, &ev, sizeof ev);
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) retire_device(*ready);
  if (n != static_cast<ssize_t>(sizeof ev)) return 0;

  if (ev.value == value_release) {
    key_release(ev.code);
    return 0;
  }
  if ((ev.value & value_autorepeat_bit) && is_modifier(ev.code)) return 0;
  uint32_t key = translate_key(ev.code);
  printf("v. 0x%.2x c. 0x%.2x/0x%.4x (%c)\n", static_cast<unsigned>(ev.value),
         static_cast<unsigned>(ev.code), key, static_cast<char>(key & 0xFF));
  return key;
}

uint32_t wait_key(int32_t timeout_ms) {
  poll(input.input_devices, input_device_count, timeout_ms);
  return read_key();
}

void grab_input_devices() { grab_all(1); }
void ungrab_input_devices() { grab_all(0); }
