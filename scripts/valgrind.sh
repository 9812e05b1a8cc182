#!/usr/bin/env bash
# Runs whole-binary tests with every inkplay under valgrind's memcheck: start-up, keys, position
# answers, commands written while the player dies, and each way the player ends. Fails on any
# memcheck error (inkplay then exits with 99, which the tests report) or a test failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export INKPLAY_WRAPPER="valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
  --suppressions=$PWD/tests/valgrind.supp --log-file=$logs/vg.%p"
"$build/tests/system_tests" --gtest_filter='Ends.EveryWay*' || { cat "$logs"/vg.* | tail -60; exit 1; }
summaries=$(cat "$logs"/vg.* | grep -c "ERROR SUMMARY" || true)
if grep -L "ERROR SUMMARY: 0 errors" $(grep -l "ERROR SUMMARY" "$logs"/vg.*) | grep -q .; then
  cat "$logs"/vg.*
  echo "valgrind: errors in inkplay"
  exit 1
fi
echo "valgrind: $summaries inkplay processes ran under memcheck with 0 errors, definite leaks included"
