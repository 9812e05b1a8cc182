// Start-up: the pid file, the player's argument vector and the player child with its pipes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "platform/device_paths.h"
#include "supervisor/supervisor.h"

namespace {

void on_broken_pipe(int) {}

}  // namespace

// A command written to a player that has just died must not kill us before the loop notices
// the player's end: the write fails with EPIPE instead. A caught signal (unlike an ignored
// one) goes back to its default action at exec, so the player and the power tool start clean.
void ignore_broken_pipes() {
  struct sigaction action = {};
  action.sa_handler = on_broken_pipe;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

// DirectFB blocks the signals it handles in our thread, and a mask survives exec: a player
// started with it could not be stopped by SIGINT or SIGTERM. Children start with none blocked.
void clear_signal_mask() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The pid file outlives the player, and its number may since have gone to another process:
// only a process running the player program (same file, by device and inode) is ours to stop.
bool is_player_process(pid_t pid) {
  if (pid <= 1 || pid == getpid()) return false;
  char exe[64];
  snprintf(exe, sizeof exe, "/proc/%d/exe", static_cast<int>(pid));
  struct stat running, player;
  if (stat(exe, &running) != 0 || stat(device_path(device_file::player), &player) != 0) return false;
  return running.st_dev == player.st_dev && running.st_ino == player.st_ino;
}

void stop_previous_player() {
  // Never follow a link or wait on a FIFO someone else put in /tmp.
  int fd = open(device_path(device_file::pid_file), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  int32_t pid = 0;
  if (read(fd, &pid, sizeof pid) == sizeof pid && is_player_process(pid)) kill(pid, SIGINT);
  close(fd);
}

// Forwarded arguments beyond the vector's room are dropped: the files that fit still play.
int build_player_args(int argc, char** argv, const char* args[player_arg_capacity]) {
  int n = 0;
  args[n++] = device_path_on_device(device_file::player);
  args[n++] = "-slave";
  args[n++] = "-quiet";
  for (int i = 1; i < argc && n < player_arg_capacity - 1; ++i) args[n++] = argv[i];
  args[n] = nullptr;
  return n;
}

bool start_player(const char* const args[], player_link& link) {
  int command[2], answer[2];
  // Close-on-exec keeps our ends out of the player and of the power tool.
  if (pipe2(command, O_CLOEXEC) != 0) return false;
  if (pipe2(answer, O_CLOEXEC) != 0) {
    close(command[0]);
    close(command[1]);
    return false;
  }
  pid_t pid = fork();
  if (pid == 0) {
    clear_signal_mask();
    dup2(command[0], STDIN_FILENO);
    dup2(answer[1], STDOUT_FILENO);
    execv(device_path(device_file::player), const_cast<char* const*>(args));
    _exit(127);  // as a shell reports a program it cannot run
  }
  close(command[0]);
  close(answer[1]);
  if (pid < 0) {
    close(command[1]);
    close(answer[0]);
    return false;
  }
  link = {pid, command[1], answer[0]};
  return true;
}

// The 4 raw bytes of the pid, in a file of our own: whatever stands at the path (a link, a hard
// link to someone's file) is unlinked, not written through, and the file is created afresh.
void write_pid_file(pid_t pid) {
  const char* path = device_path(device_file::pid_file);
  unlink(path);
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  int32_t value = pid;
  ssize_t written = write(fd, &value, sizeof value);
  (void)written;
  close(fd);
}
