#!/usr/bin/env bash
# Packs the device build (scripts/device-build.sh) for copying onto a device:
# build-device/inkplay-<version>-armel.tar.gz with the stripped binary, the device check
# (inkplay-check), their checksums and a short text on what to do first. The same commit packs
# the same bytes wherever and whenever it is built: every time stamp is the commit's, names are
# sorted, the owner is 0, and gzip keeps no name or time. Prints the tarball's SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build-device/inkplay ] || bash scripts/device-build.sh
version=$(sed -n 's/^project(inkplay VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The commit's time; outside a git checkout, the time of the tree's CMakeLists.txt.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)}
name=inkplay-$version-armel
stage=build-device/$name
rm -rf "$stage" && mkdir -p "$stage"
arm-linux-gnueabi-strip -o "$stage/inkplay" build-device/inkplay
cp platform/inkplay-check "$stage/inkplay-check"
cat > "$stage/README.txt" <<TEXT
inkplay $version for e-readers with an ARM EABI (soft-float) Linux userland, ARMv5TE or newer.

1. Check the copy is whole (where sha256sum exists):
     sha256sum -c SHA256SUMS
2. Check the device, in a shell on it:
     sh inkplay-check
   It prints "ok ..." or "missing ...: what to do" for each thing inkplay needs: the C library
   (glibc 2.4 or newer), DirectFB 1.2 (libdirectfb-1.2.so.0, its fbdev system, and on a 4-bit
   panel a 600x800 mode with its timings in /etc/fb.modes), MPlayer at /mnt/us/system/mplayer,
   the font /usr/java/lib/fonts/Helvetica_LT_75_Bold.ttf, /usr/bin/lipc-set-prop, /dev/fb0 and a
   panel of 600x800 at 4 bits a pixel ("unknown" where the kernel does not tell), the keyboards
   /dev/input/event0..2 and the system log /dev/log. It ends with status 0 when all is there.
3. Run as root, with INKPLAY_ROOT unset:
     ./inkplay [MPlayer arguments] file...
   Alt+J next, Alt+Backspace previous, Alt+L pause, Alt+K 100x speed, Alt+H stop.

inkplay detaches and prints nothing. When a piece is missing it still plays, and says why in the
system log (/dev/log: read it with logread or in /var/log/messages), once per piece, for example
"inkplay[812]: DirectFB could not start (...): playing without overlays".
TEXT
(cd "$stage" && sha256sum inkplay inkplay-check README.txt > SHA256SUMS)
chmod 0755 "$stage" "$stage/inkplay" "$stage/inkplay-check"
chmod 0644 "$stage/README.txt" "$stage/SHA256SUMS"
tarball=build-device/$name.tar.gz
tar -C build-device --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --format=gnu \
  -cf - "$name" | gzip -9n > "$tarball"
echo "device-package: $tarball ($(du -k "$tarball" | cut -f1) kB)"
tar -tzvf "$tarball"
echo "device-package: SHA-256 $(sha256sum "$tarball" | cut -d' ' -f1)"
