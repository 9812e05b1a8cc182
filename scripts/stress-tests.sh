#!/usr/bin/env bash
# Runs the suites N times (default 10) while two CPU-bound processes load both cores, and counts
# failed runs and processes left behind per suite: the sanitizer suite (ctest -j4), and the
# whole-binary suite against the device's binary under qemu-arm, as an ARMv5TE (arm926) and as an
# ARMv6 core (arm1136). A tool to run by hand:
#   scripts/stress-tests.sh 10
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
cmake -S . -B build-sanitize -DINKPLAY_WERROR=ON -DINKPLAY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-sanitize -j"$(nproc)" >/dev/null || exit 1
cmake -S . -B build -DINKPLAY_WERROR=ON >/dev/null && cmake --build build -j"$(nproc)" >/dev/null || exit 1
bash scripts/device-build.sh >/dev/null || exit 1
load() { while :; do :; done; }
load & hog1=$!
load & hog2=$!
trap 'kill $hog1 $hog2 2>/dev/null' EXIT
suites=(sanitizer arm926 arm1136)
declare -A failed left seconds
for suite in "${suites[@]}"; do failed[$suite]=0 left[$suite]=0 seconds[$suite]=0; done
run_suite() {  # suite log -> status
  case $1 in
    sanitizer) (cd build-sanitize && UBSAN_OPTIONS=halt_on_error=1 ctest -j4 --output-on-failure) ;;
    *) scripts/device-test.sh --whole "$1" ;;
  esac > "$2" 2>&1
}
for i in $(seq "$runs"); do
  line="run $i:"
  for suite in "${suites[@]}"; do
    log=build/stress-$suite-$i.log
    start=$(date +%s)
    if run_suite "$suite" "$log"; then
      result=passed
    else
      result="FAILED ($(grep -E '\(Failed|\(Timeout|\*\*\*' "$log" | tr -s ' ' | cut -c1-160 | paste -sd';'))"
      failed[$suite]=$((failed[$suite] + 1))
    fi
    scripts/leftovers.sh > /dev/null || { left[$suite]=$((left[$suite] + 1)); result="$result, processes left"; }
    took=$(( $(date +%s) - start ))
    seconds[$suite]=$((seconds[$suite] + took))
    line="$line $suite $result in $took s;"
  done
  echo "$line"
done
status=0
for suite in "${suites[@]}"; do
  echo "stress: $suite: $runs runs, ${failed[$suite]} failures, ${left[$suite]} runs left processes behind," \
       "$((seconds[$suite] / runs)) s a run"
  [ "${failed[$suite]}" = 0 ] && [ "${left[$suite]}" = 0 ] || status=1
done
exit $status
