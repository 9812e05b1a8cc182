// Whole-process figures of the real inkplay with the stand-in player in a device root:
// start-up, peak memory, key-to-command latency, and the cost of idle seconds.
//
//   process_figures [idle seconds, default 60]
//   process_figures --callgrind SECONDS OUT   inkplay under callgrind for that long; prints the
//                                             position queries it sent and its pid
#include <fcntl.h>
#include <linux/input.h>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/device_root.h"

namespace {

using namespace std::chrono_literals;

long long now_us() { return std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count(); }

long status_field(pid_t pid, const std::string& task, const std::string& name) {
  for (const std::string& line : read_lines("/proc/" + std::to_string(pid) + task + "/status"))
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  return -1;
}

// Nanoseconds on a CPU, all of the process's threads (children excluded).
long long cpu_ns(pid_t pid) {
  long long total = 0;
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  FILE* ls = popen(("ls " + tasks).c_str(), "r");
  char tid[32];
  while (ls && fscanf(ls, "%31s", tid) == 1) {
    std::ifstream in(tasks + "/" + tid + "/schedstat");
    long long ns = 0;
    in >> ns;
    total += ns;
  }
  if (ls) pclose(ls);
  return total;
}

struct run {
  device_root root;
  player_process p;
  int keyboard = -1;
  explicit run(const root_options& options) : root(with_player(options)) {}
  bool start(const launch_options& launch = {}) {
    write_file(root.path("player.percent"), "40\n");
    if (launch_inkplay(root, {}, launch)) p = find_player(root, "", 10s);
    keyboard = open(root.path("dev/input/event0").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    // Ready once the stand-in says it started (it has opened player.say by then).
    for (int i = 0; i < 1000 && read_lines(root.path("player.log")).empty(); ++i) std::this_thread::sleep_for(10ms);
    return p.daemon > 0;
  }
  static root_options with_player(root_options options) {
    options.player = STAND_IN_PLAYER;
    return options;
  }
  void say(const std::string& text) {
    int fd = open(root.path("player.say").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    std::string message = text + '\0';
    if (fd < 0 || write(fd, message.data(), message.size()) != ssize_t(message.size())) perror("player.say");
    if (fd >= 0) close(fd);
  }
};

struct idle_figure {
  double cpu_percent, wakeups_per_second;
};

idle_figure measure_idle(pid_t daemon, int seconds) {
  std::this_thread::sleep_for(1500ms);
  long long cpu0 = cpu_ns(daemon);
  std::string main_task = "/task/" + std::to_string(daemon);
  long wake0 = status_field(daemon, main_task, "voluntary_ctxt_switches");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  long long cpu1 = cpu_ns(daemon);
  long wake1 = status_field(daemon, main_task, "voluntary_ctxt_switches");
  return {100.0 * (cpu1 - cpu0) / (seconds * 1e9), double(wake1 - wake0) / seconds};
}

// Instructions of the daemon under callgrind (written to `out`) over that many idle seconds.
int callgrind_run(int seconds, const std::string& out) {
  launch_options launch;
  launch.wrapper = {"valgrind", "--tool=callgrind", "--callgrind-out-file=" + out};
  run r({});
  if (!r.start(launch)) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  r.say("@exit 0");
  for (int i = 0; i < 3000 && kill(r.p.daemon, 0) == 0; ++i) {
    waitpid(r.p.daemon, nullptr, WNOHANG);
    std::this_thread::sleep_for(10ms);
  }
  int queries = 0;
  for (const std::string& line : read_lines(r.root.path("player.log")))
    queries += line.find(" get_percent_pos") != std::string::npos;
  printf("%d %d\n", queries, static_cast<int>(r.p.daemon));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--callgrind") return callgrind_run(atoi(argv[2]), argv[3]);
  int idle_seconds = argc > 1 ? atoi(argv[1]) : 60;

  // Start-up and latency, with a player that answers the position queries.
  long long launched = now_us();
  run r({});
  if (!r.start()) return 1;
  std::istringstream start_line(read_lines(r.root.path("player.log"))[0]);
  std::string word;
  long long player_started = 0, pid = 0;
  start_line >> word >> pid >> pid >> player_started;
  printf("start-up, exec of inkplay to the player ready: %.1f ms\n", (player_started - launched) / 1000.0);

  r.say("Playing first.wav.\n");
  write_key_record(r.keyboard, KEY_LEFTALT, 1);
  std::vector<long long> sent;
  for (int i = 0; i < 300; ++i) {
    std::this_thread::sleep_for(15ms);
    sent.push_back(now_us());
    write_key_record(r.keyboard, KEY_K, 2);  // autorepeat: one speed command each, nothing else
  }
  std::this_thread::sleep_for(300ms);
  std::vector<long long> received;
  for (const std::string& line : read_lines(r.root.path("player.log")))
    if (line.find(" speed_set") != std::string::npos) received.push_back(std::stoll(line.substr(4)));
  if (received.size() != sent.size()) {
    printf("latency: %zu keys sent, %zu commands seen\n", sent.size(), received.size());
    return 1;
  }
  std::vector<double> latency;
  for (size_t i = 0; i < sent.size(); ++i) latency.push_back((received[i] - sent[i]) / 1000.0);
  std::sort(latency.begin(), latency.end());
  printf("key record to slave command, %zu keys: median %.3f ms, 99th percentile %.3f ms\n", latency.size(),
         latency[latency.size() / 2], latency[latency.size() * 99 / 100]);
  write_key_record(r.keyboard, KEY_LEFTALT, 0);
  printf("peak resident memory: %ld kB\n", status_field(r.p.daemon, "", "VmHWM"));

  idle_figure idle = measure_idle(r.p.daemon, idle_seconds);
  printf("idle, player answering queries, %d s: %.4f %% of a core, %.2f wake-ups of the loop a second\n",
         idle_seconds, idle.cpu_percent, idle.wakeups_per_second);
  printf("resident memory after the idle run: %ld kB (peak %ld kB)\n",
         status_field(r.p.daemon, "", "VmRSS"), status_field(r.p.daemon, "", "VmHWM"));

  // The same with a keyboard that hung up (always ready, end of file) and a player gone quiet.
  root_options options;
  options.event1 = false;
  run hung(options);
  write_file(hung.root.path("dev/input/event1"), "");
  if (!hung.start()) return 1;
  hung.say("@close");
  idle_figure hung_idle = measure_idle(hung.p.daemon, idle_seconds);
  printf("idle, keyboard hung up and player output closed, %d s: %.4f %% of a core, %.2f wake-ups a second\n",
         idle_seconds, hung_idle.cpu_percent, hung_idle.wakeups_per_second);
  return 0;
}
