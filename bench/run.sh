#!/usr/bin/env bash
# Reproduces the performance figures of the README: the micro-benchmarks with their ratios to
# baselines of the same run, the whole-process figures, and callgrind's instruction counts.
#   bench/run.sh [idle seconds, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
idle=${1:-60}
scripts/setup.sh >/dev/null
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"

echo "== micro-benchmarks"
build/bench/inkplay_bench --benchmark_min_time=0.5 --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>&1 >/dev/null

echo "== whole process"
build/bench/process_figures "$idle"

echo "== instructions (callgrind)"
source scripts/device_root.sh
count_run() {  # seconds -> "instructions ticks draw_progress_instructions" of the daemon
  local root daemon out total flush ticks
  root=$(make_device_root build)
  INKPLAY_ROOT=$root DFBARGS=system=dummy valgrind --tool=callgrind \
    --callgrind-out-file="$root/cg.%p" build/inkplay >/dev/null 2>&1
  daemon=$(wait_for_daemon "$root")
  sleep "$1"
  printf '@exit 0' > "$root/player.say"
  wait_for_end "$daemon"
  out=$root/cg.$daemon
  total=$(awk '/^summary:/ {print $2}' "$out")
  flush=$(callgrind_annotate --inclusive=yes --auto=no "$out" | awk '/:draw_progress\(\)/ {gsub(",", "", $1); print $1; exit}')
  ticks=$(grep -c ' get_percent_pos' "$root/player.log" || true)
  echo "$total $ticks ${flush:-0}"
  rm -rf "$root"
}
count_run 4 > build/callgrind-short.txt
count_run 14 > build/callgrind-long.txt
read -r short_total short_ticks _ < build/callgrind-short.txt
read -r long_total long_ticks long_flush < build/callgrind-long.txt
echo "per idle tick (query, answer, bar flush, power tool started and waited for):" \
     "$(( (long_total - short_total) / (long_ticks - short_ticks) )) instructions"
echo "per bar redraw and flush (draw_progress, inclusive): $(( long_flush / long_ticks )) instructions"
