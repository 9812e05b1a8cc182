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

// A root with the stand-in player answering position queries with 40.
struct answering_root : device_root {
  explicit answering_root(root_options options = {}) : device_root(with_stand_in(options)) {
    write_file(path("player.percent"), "40\n");
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
  answering_root root;
  inkplay_run run(root);
  if (!run.start({}, launch, 30s)) return 1;
  pid_t daemon = run.daemon_pid;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  run.say("@exit 0");
  run.wait_exit(30s);
  printf("%zu %d\n", run.queries(), static_cast<int>(daemon));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--callgrind") return callgrind_run(atoi(argv[2]), argv[3]);
  int idle_seconds = argc > 1 ? atoi(argv[1]) : 60;

  // Start-up and latency, with a player that answers the position queries.
  long long launched = now_us();
  answering_root root;
  inkplay_run run(root);
  if (!run.start()) return 1;
  long long player_ready = std::stoll(run.logged("start")[0].substr(run.logged("start")[0].rfind(' ')));
  printf("start-up, exec of inkplay to the player ready: %.1f ms\n", (player_ready - launched) / 1000.0);

  run.say("Playing first.wav.\n");
  run.key(KEY_LEFTALT, 1);
  std::vector<long long> sent;
  for (int i = 0; i < 300; ++i) {
    std::this_thread::sleep_for(15ms);
    sent.push_back(now_us());
    run.key(KEY_K, 2);  // autorepeat: one speed command each, nothing else
  }
  std::this_thread::sleep_for(300ms);
  std::vector<long long> received;
  for (const std::string& line : run.logged("cmd"))
    if (line.find(" speed_set") != std::string::npos) received.push_back(std::stoll(line));
  if (received.size() != sent.size()) {
    printf("latency: %zu keys sent, %zu commands seen\n", sent.size(), received.size());
    return 1;
  }
  std::vector<double> latency;
  for (size_t i = 0; i < sent.size(); ++i) latency.push_back((received[i] - sent[i]) / 1000.0);
  std::sort(latency.begin(), latency.end());
  printf("key record to slave command, %zu keys: median %.3f ms, 99th percentile %.3f ms\n", latency.size(),
         latency[latency.size() / 2], latency[latency.size() * 99 / 100]);
  run.key(KEY_LEFTALT, 0);
  printf("peak resident memory: %ld kB\n", status_field(run.daemon_pid, "", "VmHWM"));

  idle_figure idle = measure_idle(run.daemon_pid, idle_seconds);
  printf("idle, player answering queries, %d s: %.4f %% of a core, %.2f wake-ups of the loop a second\n",
         idle_seconds, idle.cpu_percent, idle.wakeups_per_second);
  printf("resident memory after the idle run: %ld kB (peak %ld kB)\n",
         status_field(run.daemon_pid, "", "VmRSS"), status_field(run.daemon_pid, "", "VmHWM"));

  // The same with a keyboard that hung up (always ready, end of file) and a player gone quiet.
  root_options options;
  options.event1 = false;
  answering_root hung(options);
  write_file(hung.path("dev/input/event1"), "");
  inkplay_run hung_run(hung);
  if (!hung_run.start()) return 1;
  hung_run.say("@close");
  idle_figure hung_idle = measure_idle(hung_run.daemon_pid, idle_seconds);
  printf("idle, keyboard hung up and player output closed, %d s: %.4f %% of a core, %.2f wake-ups a second\n",
         idle_seconds, hung_idle.cpu_percent, hung_idle.wakeups_per_second);
  return 0;
}
