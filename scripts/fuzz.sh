#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for the given number of
# seconds (default 20) on a copy of the seed corpus; a crash fails the run and leaves its input
# in build-fuzz/findings/. For a long run: scripts/fuzz.sh 600
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DINKPLAY_FUZZ=ON -DINKPLAY_TESTS=OFF \
  -DINKPLAY_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
mkdir -p build-fuzz/findings
for target in player_output drawing; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/$target/* "$corpus"/
  build-fuzz/tests/fuzz/${target}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/${target}- "$corpus" 2>build-fuzz/$target.log || {
    tail -40 build-fuzz/$target.log
    echo "fuzz: $target found a fault"
    exit 1
  }
  runs=$(grep -o 'number_of_executed_units: [0-9]*' build-fuzz/$target.log | grep -o '[0-9]*$')
  echo "fuzz: $target $runs runs in ${seconds}s, corpus $(ls "$corpus" | wc -l) inputs"
done
