// Micro-benchmarks of the hot paths, each beside the baseline it is judged against, measured in
// the same run: the flush against a memcpy of the same surface bytes, the black-out against a
// memset of the same framebuffer bytes. A table of ratios follows Google Benchmark's own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "display/display.h"
#include "input/input.h"
#include "supervisor/supervisor.h"
#include "tools/device_root.h"

// The flashing refresh's pause is not what is measured.
extern "C" int usleep(useconds_t) { return 0; }

namespace {

struct area {
  const char* name;
  uint32_t x, y, w, h;
};
constexpr area areas[] = {{"full", 0, 0, 600, 760}, {"bar", 0, 756, 600, 4}, {"title", 294, 733, 300, 19}};

dirty_rect rect_of(const area& a) { return {a.x, a.y, a.x + a.w - 1, a.y + a.h - 1}; }

void BM_convert(benchmark::State& state) {
  const area& a = areas[state.range(0)];
  dirty_rect r = rect_of(a);
  for (auto _ : state) {
    convert_rect(r);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * a.w * a.h * 4);
  state.SetLabel(a.name);
}

void BM_flush(benchmark::State& state) {
  const area& a = areas[state.range(0)];
  for (auto _ : state) {
    mark_dirty(a.x, a.y, a.x + a.w - 1, a.y + a.h - 1);
    flush_dirty();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * a.w * a.h * 4);
  state.SetLabel(a.name);
}

// The limit: every surface byte of the area read once, as a copy of the same rows.
void BM_memcpy(benchmark::State& state) {
  const area& a = areas[state.range(0)];
  static uint32_t copy[surface_width * surface_height];
  for (auto _ : state) {
    for (uint32_t y = a.y; y < a.y + a.h; ++y)
      memcpy(copy + y * surface_width + a.x, surface_pixels + y * surface_width + a.x, a.w * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * a.w * a.h * 4);
  state.SetLabel(a.name);
}

void BM_black_out(benchmark::State& state) {
  const area& a = areas[state.range(0)];
  dirty_rect r = rect_of(a);
  for (auto _ : state) {
    black_out(r);
    benchmark::ClobberMemory();
  }
  state.SetLabel(a.name);
}

void BM_memset(benchmark::State& state) {
  const area& a = areas[state.range(0)];
  for (auto _ : state) {
    for (uint32_t y = a.y; y < a.y + a.h; ++y)
      memset(screen.working_area + y * fb_row_bytes + a.x / 2, 0xFF, a.w / 2);
    benchmark::ClobberMemory();
  }
  state.SetLabel(a.name);
}

void BM_handle_output(benchmark::State& state, const char* chunk) {
  int fds[2];
  if (pipe(fds) != 0) abort();
  size_t n = strlen(chunk);
  for (auto _ : state) {
    playback.title_countdown = 1;  // a title is up: no save of the screen, as most of the time
    if (write(fds[1], chunk, n) != static_cast<ssize_t>(n)) abort();
    handle_output(fds[0]);
  }
  close(fds[0]);
  close(fds[1]);
}

void BM_key_to_command(benchmark::State& state) {
  int device[2], command[2];
  if (pipe(device) != 0 || pipe2(command, O_NONBLOCK) != 0) abort();
  pollfd saved = input.input_devices[0];
  input.input_devices[0] = {device[0], POLLIN, 0};
  input.alt_down = 1;
  input_event ev = {};
  ev.type = EV_KEY;
  ev.code = KEY_K;
  ev.value = 2;  // an autorepeat: a command each time, no release needed
  char drain[64];
  for (auto _ : state) {
    if (write(device[1], &ev, sizeof ev) != sizeof ev) abort();
    handle_key(1 << 22, command[1], read_key());
    if (read(command[0], drain, sizeof drain) <= 0) abort();
  }
  input.input_devices[0] = saved;
  close(device[0]);
  close(device[1]);
  close(command[0]);
  close(command[1]);
}

BENCHMARK(BM_memcpy)->DenseRange(0, 2);
BENCHMARK(BM_convert)->DenseRange(0, 2);
BENCHMARK(BM_flush)->DenseRange(0, 2);
BENCHMARK(BM_memset)->DenseRange(0, 2);
BENCHMARK(BM_black_out)->DenseRange(0, 2);
BENCHMARK_CAPTURE(BM_handle_output, position_answer, "ANS_PERCENT_POSITION=37\n");
BENCHMARK_CAPTURE(BM_handle_output, playing_line, "Playing /mnt/us/music/Some Long Title.ogg.\n");
BENCHMARK(BM_key_to_command);

// Prints each measurement against its baseline of the same run.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)  // single runs, or the median of repetitions
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
        ns_[r.run_name.str()] = r.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    fprintf(stderr, "\nratio to the baseline measured in this run (1.00 = as fast as the baseline)\n");
    for (int i = 0; i < 3; ++i) {
      std::string arg = "/" + std::to_string(i);
      double copy = ns_["BM_memcpy" + arg], set = ns_["BM_memset" + arg];
      fprintf(stderr, "%-6s convert %.2fx memcpy   flush %.2fx memcpy   black-out %.2fx memset\n", areas[i].name,
             ns_["BM_convert" + arg] / copy, ns_["BM_flush" + arg] / copy, ns_["BM_black_out" + arg] / set);
    }
  }

 private:
  std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  device_root root;
  setenv("INKPLAY_ROOT", root.dir.c_str(), 1);
  setenv("DFBARGS", "system=dummy,quiet", 1);
  DirectFBInit(&argc, &argv);
  display_open();
  if (!display_ready()) return 1;
  if (!freopen("/dev/null", "w", stdout)) return 1;  // the per-key diagnostic line
  static ratio_reporter reporter;  // on standard error, away from the per-key lines
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
