#!/usr/bin/env bash
# Installs, builds and plays a demo on a simulated device: a device root in a temporary folder,
# DirectFB's dummy system, the real MPlayer, the panel shown live in a window where there is a
# display (headless otherwise) and saved as one PNG per area update in demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
exec build/tools/inkplay-sim "$@"
