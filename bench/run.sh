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
count_run() {  # seconds -> "instructions ticks draw_progress_instructions" of the daemon
  local dir out ticks daemon total flush
  dir=$(mktemp -d)
  read -r ticks daemon < <(build/bench/process_figures --callgrind "$1" "$dir/cg.%p")
  out=$dir/cg.$daemon
  total=$(awk '/^summary:/ {print $2}' "$out")
  flush=$(callgrind_annotate --inclusive=yes --auto=no "$out" | awk '/:draw_progress\(\)/ {gsub(",", "", $1); print $1; exit}')
  echo "$total $ticks ${flush:-0}"
  rm -rf "$dir"
}
count_run 4 > build/callgrind-short.txt
count_run 14 > build/callgrind-long.txt
read -r short_total short_ticks _ < build/callgrind-short.txt
read -r long_total long_ticks long_flush < build/callgrind-long.txt
echo "per idle tick (query, answer, bar flush, power tool started and waited for):" \
     "$(( (long_total - short_total) / (long_ticks - short_ticks) )) instructions"
echo "per bar redraw and flush (draw_progress, inclusive): $(( long_flush / long_ticks )) instructions"
