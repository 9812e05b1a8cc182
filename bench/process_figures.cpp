// Whole-process figures of the real inkplay with the stand-in player in a device root:
// start-up, peak memory, key-to-command latency, and the cost of idle seconds.
//
//   process_figures [idle seconds, default 60]
#include <linux/input.h>
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

#include "tests/harness.h"

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

struct idle_figure {
  double cpu_percent, wakeups_per_second;
};

idle_figure measure_idle(inkplay_run& run, int seconds) {
  std::this_thread::sleep_for(1500ms);
  long long cpu0 = cpu_ns(run.daemon_pid);
  std::string main_task = "/task/" + std::to_string(run.daemon_pid);
  long wake0 = status_field(run.daemon_pid, main_task, "voluntary_ctxt_switches");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  long long cpu1 = cpu_ns(run.daemon_pid);
  long wake1 = status_field(run.daemon_pid, main_task, "voluntary_ctxt_switches");
  return {100.0 * (cpu1 - cpu0) / (seconds * 1e9), double(wake1 - wake0) / seconds};
}

}  // namespace

int main(int argc, char** argv) {
  int idle_seconds = argc > 1 ? atoi(argv[1]) : 60;

  // Start-up and latency, with a player that answers the position queries.
  device_root root;
  write_file(root.path("player.percent"), "40\n");
  inkplay_run run(root);
  long long launched = now_us();
  if (!run.start()) return 1;
  std::istringstream start_line(read_lines(root.path("player.log"))[0]);
  std::string word;
  long long player_started = 0, pid = 0;
  start_line >> word >> pid >> pid >> player_started;
  printf("start-up, exec of inkplay to exec of the player: %.1f ms\n", (player_started - launched) / 1000.0);

  run.say("Playing first.wav.\n");
  run.key(KEY_LEFTALT, 1);
  std::vector<long long> sent;
  for (int i = 0; i < 300; ++i) {
    std::this_thread::sleep_for(15ms);
    sent.push_back(now_us());
    run.key(KEY_K, 2);  // autorepeat: one speed command each, nothing else to wait for
  }
  std::this_thread::sleep_for(300ms);
  std::vector<long long> received;
  for (const std::string& line : read_lines(root.path("player.log")))
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
  run.key(KEY_LEFTALT, 0);
  printf("peak resident memory: %ld kB\n", status_field(run.daemon_pid, "", "VmHWM"));

  idle_figure idle = measure_idle(run, idle_seconds);
  printf("idle, player answering queries, %d s: %.4f %% of a core, %.2f wake-ups of the loop a second\n",
         idle_seconds, idle.cpu_percent, idle.wakeups_per_second);
  printf("resident memory after the idle run: %ld kB (peak %ld kB)\n",
         status_field(run.daemon_pid, "", "VmRSS"), status_field(run.daemon_pid, "", "VmHWM"));

  // The same with a keyboard that hung up (always ready, end of file) and a player gone quiet.
  root_options options;
  options.event1 = false;
  device_root hung(options);
  write_file(hung.path("dev/input/event1"), "");
  inkplay_run hung_run(hung);
  if (!hung_run.start()) return 1;
  hung_run.say("@close");
  idle_figure hung_idle = measure_idle(hung_run, idle_seconds);
  printf("idle, keyboard hung up and player output closed, %d s: %.4f %% of a core, %.2f wake-ups a second\n",
         idle_seconds, hung_idle.cpu_percent, hung_idle.wakeups_per_second);
  return 0;
}
