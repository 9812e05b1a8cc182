// The supervisor loop: player output, keys, and one idle tick per quiet second.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "display/display.h"
#include "input/input.h"
#include "platform/device_paths.h"
#include "supervisor/supervisor.h"

namespace {

constexpr int tick_ms = 1000;
constexpr int answer_entry = input_device_count;

// The platform's power daemon suspends an idle device; this keeps it awake for a while.
void keep_device_awake() {
  pid_t pid = vfork();
  if (pid == 0) {
    clear_signal_mask();
    execl(device_path(device_file::power_tool), device_path_on_device(device_file::power_tool),
          "com.lab126.powerd", "abortSuspend", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait for the tool alone, so that the player's end is left for player_ended to see.
  if (pid > 0)
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void idle_tick(int command_fd) {
  if (playback.title_countdown != 0) {
    if (playback.title_countdown == 1) restore_screen();
    --playback.title_countdown;
  }
  // A query would resume a paused player.
  if (!playback.paused) send_command(command_fd, CMD_GET_PERCENT_POS);
  keep_device_awake();
}

}  // namespace

void send_command(int command_fd, std::string_view command) {
  ssize_t written = write(command_fd, command.data(), command.size());
  (void)written;  // a player that has gone is noticed by player_ended, not here
}

// ECHILD too: if something reaped the player for us, it has ended all the same.
bool player_ended(pid_t pid) {
  pid_t r = waitpid(pid, nullptr, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

void supervise(pid_t pid, int command_fd, int answer_fd) {
  pollfd fds[input_device_count + 1];
  fds[answer_entry] = {answer_fd, POLLIN, 0};
  for (;;) {
    // Devices that went away are retired by read_key; follow it.
    for (int i = 0; i < input_device_count; ++i)
      fds[i] = {input.input_devices[i].fd, POLLIN, 0};
    int ready = poll(fds, input_device_count + 1, tick_ms);
    if (ready == 0) idle_tick(command_fd);
    // Checked on every pass, ticks included: with the output closed nothing else wakes us.
    if (player_ended(pid)) exit(0);
    if (ready < 0) continue;
    // A player that closed its output would otherwise wake every poll at once, for ever.
    if (fds[answer_entry].revents && !handle_output(answer_fd)) fds[answer_entry].fd = -1;
    if (fds[0].revents || fds[1].revents || fds[2].revents) handle_key(pid, command_fd, read_key());
  }
}
