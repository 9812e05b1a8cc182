#!/usr/bin/env bash
# Installs, builds and runs every test: the warning-clean build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer. Fails if a process the tests started is
# still alive after them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -DINKPLAY_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j4)
scripts/leftovers.sh

cmake -S . -B build-sanitize -DINKPLAY_WERROR=ON -DINKPLAY_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j4)
scripts/leftovers.sh
