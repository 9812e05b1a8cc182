// Arbitrary player output through handle_output against the real display layer.
// The first byte chooses the title countdown; the rest is one chunk as the player wrote it.
#include <unistd.h>

#include "supervisor/supervisor.h"
#include "tests/fuzz/fuzz_display.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  open_fuzz_display();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8192) return 0;
  playback.title_countdown = data[0] % 7;
  int fds[2];
  if (pipe(fds) != 0) abort();
  if (write(fds[1], data + 1, size - 1) != static_cast<ssize_t>(size - 1)) abort();
  close(fds[1]);
  handle_output(fds[0]);
  close(fds[0]);
  if (last_percent > 100) abort();
  check_screen_untouched_outside();
  return 0;
}
