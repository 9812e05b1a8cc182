#!/usr/bin/env bash
# Installs what inkplay needs to build, test and run on a Debian host (as root), and any
# further packages named on the command line.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libdirectfb-dev libdirectfb-extra   # DirectFB and its TrueType and image providers
  fonts-liberation2                   # a real TrueType font for the platform font path
  mplayer                             # the real player, for end-to-end runs
  libsdl2-dev                         # the simulator's window
  xvfb xdotool imagemagick x11-utils python3  # the window test: an X server, keys, screenshots
  libgtest-dev googletest libbenchmark-dev zlib1g-dev
  clang libclang-rt-14-dev            # libFuzzer and the sanitizers' runtime
  valgrind
  busybox                             # the device check runs under busybox sh, as on a device
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
