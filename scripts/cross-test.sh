#!/usr/bin/env bash
# Builds inkplay for the device's 32-bit ARM (armhf) and runs the tests that need no DirectFB
# on that ABI under qemu-arm. The ARM binary is build-arm/inkplay.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++-arm-linux-gnueabihf libdirectfb-dev:armhf libgtest-dev:armhf qemu-user file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  dpkg --add-architecture armhf
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake -DINKPLAY_WERROR=ON
cmake --build build-arm -j"$(nproc)"
file build-arm/inkplay | grep -q "ELF 32-bit LSB.*ARM" || { file build-arm/inkplay; exit 1; }
echo "cross: $(file -b build-arm/inkplay | cut -d, -f1-3)"
(cd build-arm && ctest --output-on-failure -j"$(nproc)")
