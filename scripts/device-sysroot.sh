#!/usr/bin/env bash
# A private armel sysroot in build-device/sysroot from Debian's armel packages, downloaded and
# unpacked (nothing is installed with dpkg): the C library (its loader and libc of one build),
# DirectFB 1.7 with its dummy system and its FreeType font and image providers, FreeType,
# libpng, zlib (with the headers DirectFB 1.2.1 is built against), the C++ runtime, and a
# TrueType font. Reused while it holds the same packages.
set -euo pipefail
cd "$(dirname "$0")/.."
sysroot=$PWD/build-device/sysroot
packages=(libc6 libgcc-s1 libstdc++6 zlib1g zlib1g-dev libdirectfb-1.7-7 libdirectfb-extra
          libdirectfb-dev libfreetype6 libfreetype-dev libpng16-16 libpng-dev libbrotli1)
[ "$(cat "$sysroot/.complete" 2>/dev/null)" = "${packages[*]}" ] && { echo "$sysroot"; exit 0; }
if ! dpkg --print-foreign-architectures | grep -qx armel || ! apt-cache show libc6:armel >/dev/null 2>&1; then
  dpkg --add-architecture armel  # only so that apt knows armel's packages; none is installed
  apt-get update >&2
fi
rm -rf "$sysroot" build-device/debs
mkdir -p "$sysroot" build-device/debs
(cd build-device/debs && apt-get download "${packages[@]/%/:armel}" fonts-liberation2 >&2)
for deb in build-device/debs/*.deb; do dpkg -x "$deb" "$sysroot"; done
echo "${packages[*]}" > "$sysroot/.complete"
echo "$sysroot"
