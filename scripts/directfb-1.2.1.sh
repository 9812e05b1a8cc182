#!/usr/bin/env bash
# Builds DirectFB 1.2.1, the device's release, from its source tarball for the device (armel,
# ARMv5TE, soft float), as a device would have it: libdirectfb-1.2.so.0 with libdirect and
# libfusion under /usr/lib, and in /usr/lib/directfb-1.2-0 the fbdev system, the default window
# manager, the FreeType font and PNG image providers and the linux_input and keyboard input
# drivers; software rendering, one application. FreeType, libpng and zlib are Debian's armel
# packages in the private sysroot (scripts/device-sysroot.sh), unpacked, not installed. The only
# changes to the source are the build fixes in scripts/directfb-1.2.1/, each saying why.
#
# Built once per content of its inputs (the tarball, the fixes, this script, the sysroot's
# packages, the compiler) into a cache outside the clone ($INKPLAY_CACHE, default
# ~/.cache/inkplay), then installed into the sysroot, where qemu-arm -L finds it as the device's
# loader would; also kept as build-device/directfb-1.2.1. Prints the sysroot.
#   scripts/directfb-1.2.1.sh [tarball]   default: ../shared/directfb-1.2.1/DirectFB-1.2.1.tar.gz
set -euo pipefail
cd "$(dirname "$0")/.."
tarball=${1:-../shared/directfb-1.2.1/DirectFB-1.2.1.tar.gz}
release_sha256=aef1a95e5ae30aed04544f080cbba1089ef22ced1bb065e442008a469ed92f6d
[ -r "$tarball" ] || { echo "directfb-1.2.1: no source tarball at $tarball" >&2; exit 1; }
[ "$(sha256sum < "$tarball" | cut -d' ' -f1)" = $release_sha256 ] ||
  { echo "directfb-1.2.1: $tarball is not the DirectFB 1.2.1 release" >&2; exit 1; }
scripts/setup.sh g++-arm-linux-gnueabi autoconf automake libtool patch >&2
sysroot=$(bash scripts/device-sysroot.sh)
fixes=(scripts/directfb-1.2.1/*.patch)
key=$( (echo $release_sha256; cat "$0" "${fixes[@]}"; ls build-device/debs; arm-linux-gnueabi-gcc --version) |
       sha256sum | cut -c1-16)
cache=${INKPLAY_CACHE:-$HOME/.cache/inkplay}/directfb-1.2.1-$key

if [ ! -e "$cache/.complete" ]; then
  start=$SECONDS
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir "$work/src" "$work/lib"
  tar -xzf "$tarball" -C "$work/src"
  for fix in "${fixes[@]}"; do patch -s -d "$work/src" -p1 < "$fix"; done
  # Only the libraries it is to link: the sysroot also holds DirectFB 1.7's libdirect and libfusion.
  libs=$sysroot/usr/lib/arm-linux-gnueabi
  ln -s "$sysroot/lib/arm-linux-gnueabi/libz.so.1" "$work/lib/libz.so"  # the package's link is absolute
  ln -s "$libs/libpng16.so" "$work/lib/libpng.so"
  ln -s "$libs/libfreetype.so" "$work/lib/libfreetype.so"
  (
    cd "$work/src"
    autoreconf -fi >/dev/null 2>&1
    # GCC 12 on this 2008 C: tentative definitions shared between files (-fcommon), the old meaning
    # of inline (gnu89), its type punning (no strict aliasing), and no warning as an error.
    export CC=arm-linux-gnueabi-gcc CFLAGS="-march=armv5te -marm -mfloat-abi=soft -fcommon -std=gnu89 -fno-strict-aliasing -Wno-error"
    export CPPFLAGS="-I$sysroot/usr/include -I$sysroot/usr/include/arm-linux-gnueabi"
    export LDFLAGS="-L$work/lib -Wl,-rpath-link,$libs:$sysroot/lib/arm-linux-gnueabi"
    export FREETYPE_CFLAGS="-I$sysroot/usr/include/freetype2" FREETYPE_LIBS=-lfreetype
    export ac_cv_path_LIBPNG_CONFIG=no PKG_CONFIG_LIBDIR=$libs/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sysroot
    ./configure --host=arm-linux-gnueabi --prefix=/usr --enable-fbdev --disable-x11 --disable-sdl --disable-vnc \
      --disable-osx --disable-devmem --disable-multi --disable-voodoo --disable-unique --disable-sysfs \
      --with-gfxdrivers=none --with-inputdrivers=linuxinput,keyboard --enable-freetype --enable-png \
      --disable-jpeg --disable-gif --disable-video4linux --disable-video4linux2 --without-tools \
      --disable-debug --disable-trace > "$work/configure.log" 2>&1 || { tail -30 "$work/configure.log"; exit 1; }
    grep -q "FreeType2 *yes" "$work/configure.log" && grep -q "PNG *yes" "$work/configure.log" ||
      { echo "directfb-1.2.1: configured without FreeType or PNG"; exit 1; }
    make -j"$(nproc)" > "$work/make.log" 2>&1 || { tail -30 "$work/make.log"; exit 1; }
    make install DESTDIR="$work/install" > "$work/install.log" 2>&1
  ) >&2
  rm -rf "$work/install/usr/include" "$work/install/usr/share" "$work/install/usr/bin"
  find "$work/install" -name '*.la' -delete
  needed=$(find "$work/install" -name '*.so*' -type f -exec arm-linux-gnueabi-readelf -d {} + | grep -o 'NEEDED.*' | sort -u)
  ! grep -q -- '-1\.7' <<<"$needed" || { echo "directfb-1.2.1: linked against DirectFB 1.7: $needed" >&2; exit 1; }
  mkdir -p "$(dirname "$cache")"
  rm -rf "$cache.part" && mv "$work/install" "$cache.part" && touch "$cache.part/.complete" && mv "$cache.part" "$cache"
  echo "directfb-1.2.1: built in $((SECONDS - start)) s into $cache" >&2
fi
rm -rf build-device/directfb-1.2.1
cp -a "$cache" build-device/directfb-1.2.1
cp -a "$cache/usr/." "$sysroot/usr/"
echo "$sysroot"
