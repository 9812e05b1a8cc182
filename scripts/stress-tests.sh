#!/usr/bin/env bash
# Runs the sanitizer suite N times (default 10) with ctest -j4 while two CPU-bound processes load
# both cores, and counts failed runs and processes left behind. A tool to run by hand:
#   scripts/stress-tests.sh 10
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
cmake -S . -B build-sanitize -DINKPLAY_WERROR=ON -DINKPLAY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-sanitize -j"$(nproc)" >/dev/null || exit 1
load() { while :; do :; done; }
load & hog1=$!
load & hog2=$!
trap 'kill $hog1 $hog2 2>/dev/null' EXIT
failed=0 left=0
for i in $(seq "$runs"); do
  start=$(date +%s)
  if (cd build-sanitize && UBSAN_OPTIONS=halt_on_error=1 ctest -j4 --output-on-failure > "stress-$i.log" 2>&1); then
    result=passed
  else
    result="FAILED: $(grep -E '\(Failed|\(Timeout|\*\*\*' "build-sanitize/stress-$i.log" | tr -s ' ' | cut -c1-200 | paste -sd';')"
    failed=$((failed + 1))
  fi
  scripts/leftovers.sh > /dev/null || left=$((left + 1))
  echo "run $i: $result in $(( $(date +%s) - start )) s"
done
echo "stress: $runs runs, $failed failures, $left runs left processes behind"
[ "$failed" = 0 ] && [ "$left" = 0 ]
