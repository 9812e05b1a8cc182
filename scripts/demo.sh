#!/usr/bin/env bash
# Installs, builds and runs inkplay on this host in a simulated device: a device root in a
# temporary folder, DirectFB's dummy system, the stand-in player, and the panel's refreshes logged.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
exec build/tools/inkplay-sim "$@"
