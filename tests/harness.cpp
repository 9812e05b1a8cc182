#include "tests/harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

root_options with_stand_in(root_options options) {
  options.player = STAND_IN_PLAYER;
  return options;
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

void inkplay_run::key(uint16_t code, int32_t value, int device) {
  EXPECT_TRUE(write_key_record(event_fd[device], code, value)) << "key record to event" << device;
}

void inkplay_run::say(const std::string& text) {
  int fd = open(root.path("player.say").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  std::string message = text + '\0';
  EXPECT_TRUE(fd >= 0 && write(fd, message.data(), message.size()) == ssize_t(message.size()))
      << "the stand-in did not take: " << text;
  if (fd >= 0) close(fd);
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

bool has_update(const inkplay_run& run, int x1, int y1, int x2, int y2, size_t from) {
  std::vector<logged_update> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].x1 == x1 && u[i].y1 == y1 && u[i].x2 == x2 && u[i].y2 == y2) return true;
  return false;
}
