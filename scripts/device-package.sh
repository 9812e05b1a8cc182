#!/usr/bin/env bash
# Packs the device build (scripts/device-build.sh) for copying onto a device:
# build-device/inkplay-<version>-armel.tar.gz with the stripped binary, its checksum and a short
# text on what the device needs and how to check it first.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build-device/inkplay ] || bash scripts/device-build.sh
version=$(sed -n 's/^project(inkplay VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=inkplay-$version-armel
stage=build-device/$name
rm -rf "$stage" && mkdir -p "$stage"
arm-linux-gnueabi-strip -o "$stage/inkplay" build-device/inkplay
cat > "$stage/README.txt" <<TEXT
inkplay $version for e-readers with an ARM EABI (soft-float) Linux userland, ARMv5TE or newer.

The device must have:
- the C library of glibc 2.4 or newer (/lib/libc.so.6, /lib/ld-linux.so.3);
- DirectFB 1.2 (libdirectfb-1.2.so.0) with its fbdev system and FreeType font provider;
  with any other DirectFB release inkplay plays without its overlays;
- MPlayer at /mnt/us/system/mplayer (a script there that execs the real player works too);
- a TrueType font at /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf;
- /usr/bin/lipc-set-prop, the e-ink framebuffer /dev/fb0 and the keyboards /dev/input/event0..2.

Check a device before copying (in a shell on it):
  /lib/libc.so.6                    prints the C library's version: 2.4 or newer
  ls /usr/lib/libdirectfb-1.2.so.0  (or /lib/...): DirectFB 1.2 is there
  ls /mnt/us/system/mplayer /usr/bin/lipc-set-prop /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf
  sha256sum -c SHA256SUMS           the copy is whole (where sha256sum exists)

Then copy inkplay anywhere, leave INKPLAY_ROOT unset, and run as root:
  ./inkplay [MPlayer arguments] file...
Alt+J next, Alt+Backspace previous, Alt+L pause, Alt+K 100x speed, Alt+H stop.
TEXT
(cd "$stage" && sha256sum inkplay README.txt > SHA256SUMS)
tar -C build-device -czf "build-device/$name.tar.gz" "$name"
echo "device-package: build-device/$name.tar.gz ($(du -k "build-device/$name.tar.gz" | cut -f1) kB)"
tar -tzf "build-device/$name.tar.gz"
