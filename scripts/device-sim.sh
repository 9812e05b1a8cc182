#!/usr/bin/env bash
# The simulator on the device's build: the armel binary on the device's DirectFB 1.2.1 under
# qemu-arm, in the same window, with the same PNG frames and log as build/tools/inkplay-sim.
# Builds what that needs first (the device binary, the armel driver stand-in, DirectFB 1.2.1).
#   scripts/device-sim.sh [inkplay-sim options] [MPlayer arguments and files]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh qemu-user >&2
bash scripts/device-build.sh --binary-only >/dev/null
cmake --build build-device -j"$(nproc)" --target panel_driver >/dev/null
bash scripts/directfb-1.2.1.sh >/dev/null
[ -x build/tools/inkplay-sim ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$(nproc)" >/dev/null; }
exec build/tools/inkplay-sim --device "$@"
