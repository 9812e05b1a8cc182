#include "tools/device_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Marks everything this process starts, so that a guardian can end it once this process is gone.
char owner_entry[64];

void make_dirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void link_to(const std::string& target, const std::string& path) {
  if (symlink(target.c_str(), path.c_str()) != 0) perror(path.c_str());
}

void close_from(int first) {
  if (syscall(SYS_close_range, first, ~0u, 0) == 0) return;
  for (int fd = first; fd < 1024; ++fd) close(fd);
}

// The guardian outlives this process by a moment: it waits for end of file on a pipe whose only
// writer is this process (held close-on-exec), then ends whatever carries this process's mark.
// It keeps none of our descriptors, so that ctest sees the end of our output when we die, and it
// leaves our session and process group, so that what kills us does not kill it.
void start_guardian() {
  if (owner_entry[0]) return;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  snprintf(owner_entry, sizeof owner_entry, "INKPLAY_OWNER=%d.%ld.%ld", static_cast<int>(getpid()),
           static_cast<long>(now.tv_sec), now.tv_nsec);
  int watch[2];
  if (pipe2(watch, O_CLOEXEC) != 0) return;
  if (fork() == 0) {
    setsid();
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
    dup2(watch[0], 3);
    close_from(4);
    char byte;
    while (read(3, &byte, 1) < 0 && errno == EINTR) {
    }
    end_processes_with(owner_entry);
    _exit(0);
  }
  close(watch[0]);  // watch[1] stays open, unused, until this process ends
}

// Our environment with these entries, each replacing any earlier one of its name.
std::vector<std::string> environment_with(const std::vector<std::string>& entries) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  auto name_of = [](const std::string& e) { return e.substr(0, e.find('=') + 1); };
  for (const std::string& entry : entries) {
    auto same = std::find_if(env.begin(), env.end(), [&](const std::string& e) { return name_of(e) == name_of(entry); });
    if (same != env.end()) *same = entry;
    else env.push_back(entry);
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

bool environment_holds(pid_t pid, const std::string& entry) {
  std::string env = read_file("/proc/" + std::to_string(pid) + "/environ");
  for (size_t at = 0, end; at < env.size(); at = end + 1) {
    end = env.find('\0', at);
    if (end == std::string::npos) end = env.size();
    if (env.compare(at, end - at, entry) == 0) return true;
  }
  return false;
}

// Every process but this one (and init) whose environment holds this NAME=value entry; a zombie
// has none.
std::vector<pid_t> processes_with(const std::string& entry) {
  std::vector<pid_t> found;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* d = readdir(proc))
      if (pid_t pid = atoi(d->d_name); pid > 1 && pid != getpid() && environment_holds(pid, entry)) found.push_back(pid);
    closedir(proc);
  }
  return found;
}

}  // namespace

// Read without following a link or waiting on a FIFO that a test put there.
std::string read_pid_file(const device_root& root) {
  int fd = open(root.path("tmp/mplayer.pid").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  char bytes[8];
  struct stat st;
  ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, bytes, sizeof bytes) : 0;
  close(fd);
  return std::string(bytes, n > 0 ? static_cast<size_t>(n) : 0);
}

root_options with_stand_in(root_options options) {
  options.player = STAND_IN_PLAYER;
  return options;
}

device_root::device_root(const root_options& options) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/inkplay-root-XXXXXX";
  if (!mkdtemp(templ.data())) perror("mkdtemp");
  dir = templ;
  for (const char* d : {"dev/input", "mnt/us/system", "usr/bin", "usr/java/lib/fonts", "tmp"})
    make_dirs(path(d));
  if (options.framebuffer) {
    write_framebuffer(240000, options.patterned);
    describe_panel(600, 800, 4);
    make_dirs(path("etc"));
    // DirectFB 1.2 takes a mode with its geometry and its timings, even where they mean nothing.
    write_file(path("etc/fb.modes"), "mode \"600x800-8\"\n    geometry 600 800 600 800 8\n    timings 0 0 0 0 0 0 0\nendmode\n");
  }
  for (int i = 0; i < 3; ++i)
    if (i != 1 || options.event1) mkfifo(path("dev/input/event" + std::to_string(i)).c_str(), 0600);
  if (!options.player.empty()) link_to(options.player, path("mnt/us/system/mplayer"));
  write_file(path("usr/bin/lipc-set-prop"), "#!/bin/sh\necho \"$0 $*\" >> \"$INKPLAY_ROOT/power.log\"\n", 0755);
  if (options.font) link_to(HOST_FONT, path("usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf"));
  sockaddr_un log = {};
  log.sun_family = AF_UNIX;
  snprintf(log.sun_path, sizeof log.sun_path, "%s", path("dev/log").c_str());
  log_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (bind(log_fd, reinterpret_cast<sockaddr*>(&log), sizeof log) != 0) perror(log.sun_path);
}

void device_root::write_framebuffer(size_t bytes, bool patterned) const {
  std::string fb(bytes, '\0');
  for (size_t i = 0; patterned && i < fb.size(); ++i) fb[i] = static_cast<char>(pattern_byte(i));
  write_file(path("dev/fb0"), fb);
}

void device_root::describe_panel(int width, int height, int bits) const {
  std::string sysfs = path("sys/class/graphics/fb0/");
  make_dirs(sysfs);
  write_file(sysfs + "bits_per_pixel", std::to_string(bits) + "\n");
  write_file(sysfs + "virtual_size", std::to_string(width) + "," + std::to_string(height) + "\n");
  write_file(sysfs + "stride", std::to_string(width * bits / 8) + "\n");
}

void device_root::use_stream_log() {
  close(log_fd);
  unlink(path("dev/log").c_str());
  sockaddr_un log = {};
  log.sun_family = AF_UNIX;
  snprintf(log.sun_path, sizeof log.sun_path, "%s", path("dev/log").c_str());
  log_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (bind(log_fd, reinterpret_cast<sockaddr*>(&log), sizeof log) != 0 || listen(log_fd, 16) != 0) perror(log.sun_path);
  stream_log = true;
}

bool device_root::quiet(std::chrono::milliseconds timeout) const {
  return wait_until([&] { return processes_with("INKPLAY_ROOT=" + dir).empty(); }, timeout);
}

device_root::~device_root() {
  if (log_fd >= 0) close(log_fd);
  for (auto& [fd, bytes] : log_connections) close(fd);
  end_processes_with("INKPLAY_ROOT=" + dir);
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}

// A datagram is a message; on a stream, a NUL ends each.
std::vector<std::string> device_root::system_log() const {
  char bytes[1024];
  for (ssize_t n; !stream_log && log_fd >= 0 && (n = recv(log_fd, bytes, sizeof bytes, 0)) >= 0;)
    log_messages.emplace_back(bytes, static_cast<size_t>(n));
  for (int fd; stream_log && (fd = accept4(log_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
    log_connections.emplace_back(fd, "");
  for (auto& [fd, pending] : log_connections) {
    for (ssize_t n; (n = recv(fd, bytes, sizeof bytes, 0)) > 0;) pending.append(bytes, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\0')) != std::string::npos; pending.erase(0, end + 1))
      log_messages.push_back(pending.substr(0, end));
  }
  return log_messages;
}

std::vector<uint8_t> device_root::framebuffer() const {
  std::string s = read_file(path("dev/fb0"));
  return std::vector<uint8_t>(s.begin(), s.end());
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int output_fd,
            int input_fd) {
  start_guardian();
  std::vector<std::string> entries = env;
  entries.push_back(owner_entry);
  std::vector<std::string> args_copy = argv, env_copy = environment_with(entries);
  std::vector<char*> args = pointers(args_copy), envp = pointers(env_copy);
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t pid = fork();
  if (pid == 0) {
    int out = output_fd >= 0 ? output_fd : null;
    dup2(input_fd >= 0 ? input_fd : null, 0);
    dup2(out, 1);
    dup2(out, 2);
    close_from(3);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(null);
  return pid;
}

bool launch_inkplay(const device_root& root, const std::vector<std::string>& args,
                    const launch_options& options) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::vector<std::string> argv = options.wrapper;
  if (const char* wrapper = getenv("INKPLAY_WRAPPER"); wrapper && argv.empty()) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) argv.push_back(word);
  }
  const char* under_test = getenv("INKPLAY_UNDER_TEST");
  argv.push_back(!options.program.empty() ? options.program : under_test && *under_test ? under_test : INKPLAY_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  // A run on another instruction set (under an emulator, as the wrapper) brings its own driver
  // stand-in, DirectFB options and library folder.
  const char* asan = getenv("ASAN_OPTIONS");
  const char* dfbargs = getenv("DFBARGS");
  const char* driver = getenv("INKPLAY_PANEL_DRIVER");
  const char* dfb12_dir = getenv("INKPLAY_DFB12_DIR");
  std::vector<std::string> env = {
      // DirectFB 1.2's fbdev system takes the root's framebuffer; the dummy system ignores it.
      "INKPLAY_ROOT=" + root.dir,
      std::string("DFBARGS=") + (dfbargs ? dfbargs : "system=dummy") + ",fbdev=" + root.path("dev/fb0"),
      std::string("LD_PRELOAD=") + (driver ? driver : PANEL_DRIVER),
      "INKPLAY_UPDATE_LOG=" + root.path("updates.log"), "INKPLAY_DRIVER_LOG=" + root.path("driver.log"),
      "HOME=" + root.dir,  // MPlayer's configuration stays in the root
      // Where the device's layout finds the stand-in for DirectFB 1.2's library: the binary
      // names no folder of the build machine.
      std::string("LD_LIBRARY_PATH=") + (dfb12_dir ? dfb12_dir : DFB12_STAND_IN_DIR),
      // The recorder is preloaded ahead of the sanitizer runtime in sanitized builds.
      std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
  env.insert(env.end(), options.env.begin(), options.env.end());
  int log = open(root.path("inkplay.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_t launcher = spawn(argv, env, options.output_fd >= 0 ? options.output_fd : log);
  close(log);
  return launcher > 0 && wait_until([&] { return waitpid(launcher, nullptr, WNOHANG) != 0; }, 10s);
}

pid_t parent_of(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  int parent = -1;
  return close != std::string::npos && sscanf(stat.c_str() + close + 2, "%*c %d", &parent) == 1 ? parent : -1;
}

bool has_ended(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  return stat.empty() || stat[stat.rfind(')') + 2] == 'Z';
}

player_process find_player(const device_root& root, const std::string& previous,
                           std::chrono::milliseconds timeout) {
  player_process found;
  wait_until([&] {
    std::string pid = read_pid_file(root);
    if (pid.size() != 4 || pid == previous) return false;
    memcpy(&found.player, pid.data(), 4);
    return (found.daemon = parent_of(found.player)) > 0;
  }, timeout);
  return found;
}

inkplay_run::~inkplay_run() {
  for (int fd : event_fd)
    if (fd >= 0) close(fd);
}

bool inkplay_run::start(const std::vector<std::string>& args, const launch_options& options,
                        std::chrono::milliseconds timeout) {
  // The stand-in says when it can be told things (which may be before any pid file exists, or
  // when none can be written); MPlayer is found through the pid file.
  std::string previous = read_pid_file(root);
  size_t started = logged("start").size();
  if (!launch_inkplay(root, args, options)) return false;
  if (stand_in) {
    if (!wait_until([&] { return logged("start").size() > started; }, timeout)) return false;
    sscanf(logged("start")[started].c_str(), "%d %d", &player_pid, &daemon_pid);
    // Between inkplay and the player there may be a script that runs it: inkplay is our child.
    while (daemon_pid > 1 && parent_of(daemon_pid) != getpid()) daemon_pid = parent_of(daemon_pid);
  } else {
    player_process p = find_player(root, previous, timeout);
    player_pid = p.player;
    daemon_pid = p.daemon;
    if (daemon_pid <= 0) return false;
  }
  for (int i = 0; i < 3; ++i)
    event_fd[i] = open(root.path("dev/input/event" + std::to_string(i)).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return true;
}

int inkplay_run::wait_exit(std::chrono::milliseconds timeout) {
  int status = -1;
  if (daemon_pid <= 0 || !wait_until([&] { return waitpid(daemon_pid, &status, WNOHANG) == daemon_pid; }, timeout))
    return -1;
  daemon_pid = -1;
  return status;
}

bool inkplay_run::key(uint16_t code, int32_t value, int device) {
  return write_key_record(event_fd[device], code, value);
}

bool inkplay_run::say(const std::string& text) {
  int fd = open(root.path("player.say").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  std::string message = text + '\0';
  bool said = fd >= 0 && write(fd, message.data(), message.size()) == ssize_t(message.size());
  if (fd >= 0) close(fd);
  return said;
}

std::vector<std::string> inkplay_run::logged(const std::string& word) const {
  std::vector<std::string> out;
  for (const std::string& line : read_lines(root.path("player.log")))
    if (line.rfind(word + " ", 0) == 0) out.push_back(line.substr(word.size() + 1));
  return out;
}

std::vector<std::string> inkplay_run::commands() const {
  std::vector<std::string> out;
  for (const std::string& line : logged("cmd")) {
    std::string command = line.substr(line.find(' ') + 1);
    if (command != "get_percent_pos") out.push_back(command);
  }
  return out;
}

size_t inkplay_run::queries() const { return logged("cmd").size() - commands().size(); }
std::vector<logged_update> inkplay_run::updates() const { return read_updates(root.path("updates.log")); }
std::vector<std::string> inkplay_run::power_calls() const { return read_lines(root.path("power.log")); }
std::vector<std::string> inkplay_run::driver_log() const { return read_lines(root.path("driver.log")); }

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  for (auto end = std::chrono::steady_clock::now() + timeout; !done(); std::this_thread::sleep_for(5ms))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

void end_processes_with(const std::string& entry) {
  for (int round = 0; round < 100; ++round) {
    std::vector<pid_t> found = processes_with(entry);
    for (pid_t pid : found) kill(pid, SIGKILL);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (found.empty()) return;
    std::this_thread::sleep_for(20ms);
  }
}

// A 32-bit reader (the device's binary under an emulator: INKPLAY_KEY_RECORD=16) reads the
// 16-byte record of a 32-bit kernel: two 32-bit time fields, then type, code and value.
bool write_key_record(int fd, uint16_t code, int32_t value, uint16_t type) {
  static const bool narrow = getenv("INKPLAY_KEY_RECORD") && std::string(getenv("INKPLAY_KEY_RECORD")) == "16";
  struct {
    uint32_t sec, usec;
    uint16_t type, code;
    int32_t value;
  } narrow_ev = {0, 0, type, code, value};
  input_event ev = {};
  ev.type = type;
  ev.code = code;
  ev.value = value;
  return narrow ? write(fd, &narrow_ev, 16) == 16 : write(fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
}

std::vector<logged_update> read_updates(const std::string& log_path) {
  std::vector<logged_update> updates;
  for (const std::string& line : read_lines(log_path)) {
    logged_update u = {};
    std::istringstream in(line);
    if (in >> u.time >> u.x1 >> u.y1 >> u.x2 >> u.y2) updates.push_back(u);
  }
  return updates;
}

int fb_nibble(const uint8_t* fb, int x, int y) {
  uint8_t byte = fb[y * 300 + x / 2];
  return x % 2 ? byte & 0x0F : byte >> 4;
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

void write_file(const std::string& path, const std::string& text, unsigned mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}
