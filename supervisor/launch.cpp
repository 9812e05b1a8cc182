// Start-up: the pid file, the player's argument vector and the player child with its pipes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/device_paths.h"
#include "platform/system_log.h"
#include "supervisor/supervisor.h"

namespace {

void on_broken_pipe(int) {}

bool same_file(const char* a, const char* b) {
  struct stat x, y;
  return stat(a, &x) == 0 && stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

struct process_facts {
  pid_t parent;
  double started;  // seconds since the epoch
};

// The whole of a small /proc file, terminated; false when it cannot be read.
bool read_proc_file(const char* path, char* text, size_t room) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  ssize_t n = read(fd, text, room - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  return true;
}

// From /proc/<pid>/stat: the parent (field 4) and the start (field 22, clock ticks after boot),
// the boot being now less /proc/uptime.
bool read_process_facts(pid_t pid, process_facts& facts) {
  char path[64], text[1024], uptime[64];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  if (!read_proc_file(path, text, sizeof text) || !read_proc_file("/proc/uptime", uptime, sizeof uptime))
    return false;
  char* at = strrchr(text, ')');  // the name before it may hold anything, spaces included
  if (!at || strlen(at) < 4) return false;
  at += 3;  // past ") " and the one-letter state, field 3
  unsigned long long parent = 0, start_ticks = 0;
  for (int field = 4; field <= 22; ++field) {
    unsigned long long value = strtoull(at, &at, 10);
    if (field == 4) parent = value;
    if (field == 22) start_ticks = value;
  }
  timeval now;
  gettimeofday(&now, nullptr);
  facts.parent = static_cast<pid_t>(parent);
  facts.started = now.tv_sec + now.tv_usec / 1e6 - strtod(uptime, nullptr) + double(start_ticks) / sysconf(_SC_CLK_TCK);
  return start_ticks != 0;
}

}  // namespace

// A child tells us why its exec failed through a close-on-exec pipe: end of file means the exec
// worked. Without the pipe (fds -1) the failure simply goes unreported.
void open_exec_check(int fds[2]) {
  if (!make_pipe(fds, false)) fds[0] = fds[1] = -1;
}

[[noreturn]] void exec_failed(int check_fd) {
  int error = errno;
  ssize_t written = write(check_fd, &error, sizeof error);
  (void)written;
  _exit(127);  // as a shell reports a program it cannot run
}

// Once the parent has closed its write end: waits for the exec, and says why it failed (or 0).
int exec_error(int check_fd) {
  int error = 0;
  if (check_fd >= 0 && read(check_fd, &error, sizeof error) != sizeof error) error = 0;
  close(check_fd);
  return error;
}

bool make_pipe(int fds[2], bool nonblocking) {
  if (pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    if (nonblocking) fcntl(fds[i], F_SETFL, O_NONBLOCK);
  }
  return true;
}

// Whoever started us may wait for the end of our output (a menu reading it through a pipe). Every
// descriptor we inherited, and the copy of standard error DirectFB's library makes before main,
// is pointed at /dev/null: still valid for whoever holds it, no longer the launcher's.
void let_go_of_launcher() {
  int null = open("/dev/null", O_RDWR);
  if (null < 0) return;
  if (DIR* open_fds = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(open_fds)) {
      int fd = atoi(entry->d_name);
      if (fd > 2 && fd != null && fd != dirfd(open_fds)) dup2(null, fd);
    }
    closedir(open_fds);
  }
  close(null);
}

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

// The pid file outlives the player, and its number may since have gone to another process. The
// recorded process is ours only if it started no later than the pid file was written (allowing
// for the clocks' granularity: a second where the file system keeps whole seconds, two clock
// ticks of the start time) and it runs the player program, or runs under an inkplay (a script at
// the player path that execs the real player is such a child).
bool is_player_process(pid_t pid, const struct stat& pid_file) {
  if (pid <= 1 || pid == getpid()) return false;
  process_facts facts;
  if (!read_process_facts(pid, facts)) return false;
  double written = pid_file.st_mtim.tv_sec + pid_file.st_mtim.tv_nsec / 1e9;
  double slack = (pid_file.st_mtim.tv_nsec == 0 ? 1.0 : 0.0) + 2.0 / sysconf(_SC_CLK_TCK);
  if (facts.started > written + slack) return false;
  char exe[64], parent_exe[64];
  snprintf(exe, sizeof exe, "/proc/%d/exe", static_cast<int>(pid));
  snprintf(parent_exe, sizeof parent_exe, "/proc/%d/exe", static_cast<int>(facts.parent));
  return same_file(exe, device_path(device_file::player)) || same_file(parent_exe, "/proc/self/exe");
}

// SIGINT, as MPlayer expects; to the whole group where the recorded process leads one (our player
// does), so that a script at the player path that did not exec the real player takes it along.
void interrupt_recorded_player() {
  // Never follow a link or wait on a FIFO someone else put in /tmp.
  int fd = open(device_path(device_file::pid_file), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;
  int32_t pid = 0;
  struct stat file;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && read(fd, &pid, sizeof pid) == sizeof pid &&
      is_player_process(pid, file))
    kill(getpgid(pid) == pid ? -pid : pid, SIGINT);
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

bool start_player(const char* const args[], player_link& link, int& exec_check) {
  int command[2], answer[2];
  // Close-on-exec keeps our ends out of the player and of the power tool. Only our end of the
  // command pipe is non-blocking (see send_command); the player's reads block as usual.
  if (!make_pipe(command, false)) return false;
  fcntl(command[1], F_SETFL, O_NONBLOCK);
  if (!make_pipe(answer, false)) {
    close(command[0]);
    close(command[1]);
    return false;
  }
  int check[2];
  open_exec_check(check);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // Playback ends with us however we end, killed or crashed included: MPlayer plays on when its
    // command pipe closes. The kernel's parent-death signal survives the exec (also a script's
    // exec of the real player); if we died before it was set, there is nobody left to play for.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // A group of its own, which every stop of ours goes to: a script at the player path that runs
    // the real player without exec stops with it. We have no terminal, so no job control minds.
    setpgid(0, 0);
    clear_signal_mask();
    dup2(command[0], STDIN_FILENO);
    dup2(answer[1], STDOUT_FILENO);
    execv(device_path(device_file::player), const_cast<char* const*>(args));
    exec_failed(check[1]);
  }
  if (pid > 0) setpgid(pid, pid);  // also here, so that no stop can come before the child's own
  close(check[1]);
  close(command[0]);
  close(answer[1]);
  if (pid < 0) {
    close(check[0]);
    close(command[1]);
    close(answer[0]);
    return false;
  }
  exec_check = check[0];
  link = {pid, command[1], answer[0]};
  return true;
}

// Waited for once the pid file is written: a later start must find our player at once.
void report_player_start(int exec_check) {
  if (int error = exec_error(exec_check))
    report("player %s not started (%s)", device_path_on_device(device_file::player), strerror(error));
}

// The 4 raw bytes of the pid, in a file of our own: whatever stands at the path (a link, a hard
// link to someone's file) is unlinked, not written through, and the file is created afresh.
void write_pid_file(pid_t pid) {
  const char* path = device_path(device_file::pid_file);
  unlink(path);
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  int32_t value = pid;
  ssize_t written = write(fd, &value, sizeof value);
  (void)written;
  close(fd);
}
