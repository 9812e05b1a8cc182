// The supervisor loop: player output, keys, children's ends, and one idle tick per quiet second.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "input/input.h"
#include "platform/device_paths.h"
#include "platform/end_signals.h"
#include "platform/system_log.h"
#include "supervisor/supervisor.h"

namespace {

constexpr int tick_ms = 1000;
constexpr int answer_entry = input_device_count;
constexpr int child_entry = input_device_count + 1;
constexpr int poll_entries = input_device_count + 2;

void wake_loop(int) {
  int saved = errno;
  ssize_t written = write(children.wake[1], "", 1);  // a full pipe already says it
  (void)written;
  errno = saved;
}

void on_end_request(int signal) {
  children.end_requested = 1;
  wake_loop(signal);
}

sigset_t end_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : end_signals) sigaddset(&set, signal);
  return set;
}

void handle(int signal, void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal, &action, nullptr);
}

// The platform's power daemon suspends an idle device; this keeps it awake for a while. A tool
// that hangs (its daemon not answering) must not hold the loop: it is reaped when it ends, and
// no second call is made while one is outstanding.
void keep_device_awake() {
  if (children.power_tool > 0) return;
  const char* name = device_path_on_device(device_file::power_tool);
  int check[2];
  open_exec_check(check);
  pid_t pid = vfork();
  if (pid == 0) {
    clear_signal_mask();
    execl(device_path(device_file::power_tool), name, "com.lab126.powerd", "abortSuspend", "1",
          static_cast<char*>(nullptr));
    exec_failed(check[1]);
  }
  close(check[1]);
  int error = exec_error(check[0]);
  if (error && !children.power_tool_missing) {
    report("power tool %s not started (%s)", name, strerror(error));
    children.power_tool_missing = true;
  }
  if (pid > 0) children.power_tool = pid;
}

void reap_power_tool() {
  if (children.power_tool > 0 && waitpid(children.power_tool, nullptr, WNOHANG) != 0) children.power_tool = 0;
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

void drain(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

// Blocked from our first line until the loop can act on them: one that comes while we start
// (DirectFB's start is the slow part) waits for us, instead of killing us with the status rows
// as DirectFB painted them. DirectFB's threads inherit the mask, so none of them takes it.
void hold_end_signals() {
  sigset_t set = end_signal_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

// A child's end wakes the loop through a pipe written by the SIGCHLD handler: the player's end
// is seen at once, whether its output closes before or after it exits. (The device's kernel and
// C library have neither signalfd nor pidfd.) Without the pipe, the idle tick still notices.
// Whoever asks us to end (end_signals) stops playback as Alt+H does, and we end through exit,
// so that DirectFB's own clean-up runs; DirectFB is told to leave these signals to us.
void watch_signals() {
  make_pipe(children.wake, true);
  handle(SIGCHLD, wake_loop, SA_RESTART | SA_NOCLDSTOP);
  for (int signal : end_signals) handle(signal, on_end_request, SA_RESTART);
}

// Once DirectFB has started (its 1.7 release blocks signals in our thread too): one that came
// meanwhile is handled now. True when we have been asked to end.
bool take_end_signals() {
  sigset_t set = end_signal_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  return children.end_requested;
}

// The player leads its own process group, so that a script at the player path that runs the
// real player without exec is killed together with it.
void kill_player(pid_t pid) {
  if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

// Our end of the command pipe never blocks: a player that stops reading (stuck on a stream, an
// audio device or a stop signal) must not hold the loop, and with it the keys that would end it.
// A command that does not fit is dropped whole: each is shorter than PIPE_BUF, so a write to the
// pipe is all or nothing.
static_assert(CMD_GET_PERCENT_POS.size() < _POSIX_PIPE_BUF && CMD_NEXT.size() < _POSIX_PIPE_BUF &&
              CMD_PREVIOUS.size() < _POSIX_PIPE_BUF && CMD_FAST.size() < _POSIX_PIPE_BUF &&
              CMD_NORMAL_SPEED.size() < _POSIX_PIPE_BUF && CMD_PAUSE.size() < _POSIX_PIPE_BUF);
void send_command(int command_fd, std::string_view command) {
  // A player that has gone is noticed by player_ended, not here.
  if (write(command_fd, command.data(), command.size()) >= 0 || errno != EAGAIN || children.commands_dropped) return;
  report("player %s not reading its commands: those that do not fit are dropped",
         device_path_on_device(device_file::player));
  children.commands_dropped = true;
}

// ECHILD too: if something reaped the player for us, it has ended all the same.
bool player_ended(pid_t pid) {
  pid_t r = waitpid(pid, nullptr, WNOHANG);
  return r == pid || (r < 0 && errno == ECHILD);
}

void supervise(pid_t pid, int command_fd, int answer_fd) {
  pollfd fds[poll_entries];
  fds[answer_entry] = {answer_fd, POLLIN, 0};
  fds[child_entry] = {children.wake[0], POLLIN, 0};
  for (;;) {
    // Devices that went away are retired by read_key; follow it.
    for (int i = 0; i < input_device_count; ++i)
      fds[i] = {input.input_devices[i].fd, POLLIN, 0};
    int ready = poll(fds, poll_entries, tick_ms);
    if (ready == 0) idle_tick(command_fd);
    if (ready > 0 && fds[child_entry].revents) drain(children.wake[0]);
    if (children.end_requested) kill_player(pid);  // its end then ends us, as after Alt+H
    reap_power_tool();
    // Checked on every pass, ticks included: with the output closed nothing else may wake us.
    if (player_ended(pid)) exit(0);
    if (ready <= 0) continue;
    // A player that closed its output would otherwise wake every poll at once, for ever.
    if (fds[answer_entry].revents && !handle_output(answer_fd)) fds[answer_entry].fd = -1;
    if (fds[0].revents || fds[1].revents || fds[2].revents) handle_key(pid, command_fd, read_key());
  }
}
