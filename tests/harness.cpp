#include "tests/harness.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

void make_dirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void write_executable(const std::string& path, const std::string& text) {
  write_file(path, text);
  chmod(path.c_str(), 0755);
}

}  // namespace

device_root::device_root(root_options options) : real_player(options.real_player) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/inkplay-root-XXXXXX";
  dir = mkdtemp(templ.data());
  for (const char* d : {"dev/input", "mnt/us/system", "usr/bin", "usr/java/lib/fonts", "tmp"})
    make_dirs(path(d));
  if (options.framebuffer) {
    std::string fb(240000, '\0');
    for (size_t i = 0; i < fb.size(); ++i) fb[i] = static_cast<char>(pattern_byte(i));
    write_file(path("dev/fb0"), fb);
  }
  for (int i = 0; i < 3; ++i)
    if (i != 1 || options.event1) mkfifo(path("dev/input/event" + std::to_string(i)).c_str(), 0600);
  if (options.player) {
    const char* player = options.real_player ? "/usr/bin/mplayer" : STAND_IN_PLAYER;
    if (symlink(player, path("mnt/us/system/mplayer").c_str()) != 0) abort();
  }
  mkfifo(path("player.say").c_str(), 0600);
  write_executable(path("usr/bin/lipc-set-prop"),
                   "#!/bin/sh\necho \"$0 $*\" >> \"$INKPLAY_ROOT/power.log\"\n");
  if (options.font)
    if (symlink(TEST_FONT, path("usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf").c_str()) != 0) abort();
}

device_root::~device_root() {
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

std::vector<uint8_t> device_root::framebuffer() const {
  std::string s = read_file(path("dev/fb0"));
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

void write_record(int fd, uint16_t code, int32_t value, uint16_t type) {
  input_event ev = {};
  ev.type = type;
  ev.code = code;
  ev.value = value;
  if (write(fd, &ev, sizeof ev) != sizeof ev) abort();
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

inkplay_run::~inkplay_run() {
  for (int fd : event_fd)
    if (fd >= 0) close(fd);
  if (daemon_pid > 0 && kill(daemon_pid, 0) == 0) {
    kill(daemon_pid, SIGKILL);
    waitpid(daemon_pid, nullptr, 0);
  }
  // An orphaned player is ours to reap as subreaper; other children of the test are not.
  if (player_pid > 0 && kill(player_pid, SIGKILL) == 0) waitpid(player_pid, nullptr, 0);
}

bool inkplay_run::start(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t launcher = fork();
  if (launcher == 0) {
    setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
    setenv("DFBARGS", "system=dummy", 1);
    setenv("LD_PRELOAD", UPDATE_RECORDER, 1);
    setenv("INKPLAY_UPDATE_LOG", root.path("updates.log").c_str(), 1);
    setenv("HOME", root.dir.c_str(), 1);  // MPlayer's configuration stays in the root
    // The recorder is preloaded ahead of the sanitizer runtime in sanitized builds.
    std::string asan = std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "");
    setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& w : wrapper) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(const_cast<char*>(INKPLAY_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  std::string old_pid_file = root.real_player ? read_file(root.path("tmp/mplayer.pid")) : "";
  int status = 0;
  waitpid(launcher, &status, 0);  // daemon() returns in the parent at once
  if (root.real_player) return find_real_player(old_pid_file, timeout);
  bool started = wait_until(
      [&] {
        std::vector<std::string> lines = read_lines(root.path("player.log"));
        return !lines.empty() && lines[0].rfind("start ", 0) == 0;
      },
      timeout);
  if (!started) return false;
  std::istringstream first(read_lines(root.path("player.log"))[0].substr(6));
  first >> player_pid >> daemon_pid;
  open_keyboards();
  return true;
}

// MPlayer keeps no log of ours: the new pid file names the player, its parent is inkplay.
bool inkplay_run::find_real_player(const std::string& old_pid_file, std::chrono::milliseconds timeout) {
  bool found = wait_until(
      [&] {
        std::string pid = read_file(root.path("tmp/mplayer.pid"));
        if (pid.size() != 4 || pid == old_pid_file) return false;
        player_pid = *reinterpret_cast<const int32_t*>(pid.data());
        std::string stat = read_file("/proc/" + std::to_string(player_pid) + "/stat");
        size_t close = stat.rfind(')');
        return close != std::string::npos && sscanf(stat.c_str() + close + 2, "%*c %d", &daemon_pid) == 1;
      },
      timeout);
  if (found) open_keyboards();
  return found;
}

void inkplay_run::open_keyboards() {
  for (int i = 0; i < 3; ++i)
    event_fd[i] = open(root.path("dev/input/event" + std::to_string(i)).c_str(), O_RDWR | O_NONBLOCK);
}

int inkplay_run::wait_exit(std::chrono::milliseconds timeout) {
  int status = -1;
  bool ended = wait_until([&] { return waitpid(daemon_pid, &status, WNOHANG) == daemon_pid; }, timeout);
  if (!ended) return -1;
  daemon_pid = -1;
  return status;
}

void inkplay_run::key(uint16_t code, int32_t value, int device) {
  write_record(event_fd[device], code, value);
}

void inkplay_run::say(const std::string& text) {
  int fd = open(root.path("player.say").c_str(), O_WRONLY | O_NONBLOCK);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
  close(fd);
}

std::vector<std::string> inkplay_run::player_args() const {
  std::vector<std::string> args;
  for (const std::string& line : read_lines(root.path("player.log")))
    if (line.rfind("arg ", 0) == 0) args.push_back(line.substr(line.find(' ', 4) + 1));
  return args;
}

std::vector<std::string> inkplay_run::commands() const {
  std::vector<std::string> cmds;
  for (const std::string& line : read_lines(root.path("player.log")))
    if (line.rfind("cmd ", 0) == 0) cmds.push_back(line.substr(line.find(' ', 4) + 1));
  return cmds;
}

std::vector<update_record> inkplay_run::updates() const {
  std::vector<update_record> updates;
  for (const std::string& line : read_lines(root.path("updates.log"))) {
    update_record u = {};
    std::istringstream in(line);
    in >> u.time >> u.x1 >> u.y1 >> u.x2 >> u.y2 >> u.effect;
    updates.push_back(u);
  }
  return updates;
}

std::vector<std::string> inkplay_run::power_calls() const { return read_lines(root.path("power.log")); }

bool inkplay_run::wait_for_commands(size_t count, std::chrono::milliseconds timeout) {
  return wait_until([&] { return commands().size() >= count; }, timeout);
}

long inkplay_run::cpu_ticks() const {
  std::string stat = read_file("/proc/" + std::to_string(daemon_pid) + "/stat");
  std::istringstream in(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}
