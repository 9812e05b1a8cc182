#!/usr/bin/env bash
# The suite on the device's instruction set and ABI under qemu-arm, once as an ARMv5TE core
# (arm926) and once as an ARMv6 core (arm1136), on the device's own DirectFB 1.2.1 built from its
# source (scripts/directfb-1.2.1.sh): its fbdev system over the device root's framebuffer, with
# the panel's driver standing in at the C library's boundary (tools/panel_driver.cpp). The same
# tests as the host suite, where DirectFB 1.2 is its stand-in (tools/dfb12): the in-process tests
# (display, drawing, flush, player output, keys) built for armel on DirectFB 1.2's layout, and the
# whole-binary tests against the device's own binary. The whole-binary runner, the stand-in player
# and the power tool stay host programs (qemu-user runs a host child natively). MPlayer's
# end-to-end tests stay on the host: Debian's armel MPlayer cannot be unpacked beside the host's
# and run here.
#   scripts/device-test.sh                 both suites, on both cores
#   scripts/device-test.sh --whole arm926  the whole-binary suite alone (the builds must exist),
#                                          on the cores named
set -euo pipefail
cd "$(dirname "$0")/.."
whole_only=false
if [ "${1:-}" = --whole ]; then whole_only=true; shift; fi
cpus=${*:-arm926 arm1136}
$whole_only || bash scripts/device-build.sh >/dev/null
sysroot=$(bash scripts/directfb-1.2.1.sh)
libdir=$sysroot/usr/lib/arm-linux-gnueabi
[ -x build/tests/system_tests ] || { cmake -S . -B build -DINKPLAY_WERROR=ON >/dev/null; cmake --build build -j"$(nproc)"; }

# The in-process tests on DirectFB 1.2's layout, built for armel. They are linked with the stand-in,
# whose folder they name (RUNPATH); LD_LIBRARY_PATH, which comes first, names the device's.
tests=build-device/tests-1.2
if ! $whole_only; then
  cmake -S . -B $tests -DCMAKE_TOOLCHAIN_FILE=cmake/armel-device.cmake -DINKPLAY_WERROR=ON \
    -DINKPLAY_SYSROOT="$sysroot" "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-rpath-link,$libdir:$sysroot/lib/arm-linux-gnueabi" \
    -DZLIB_LIBRARY="$sysroot/lib/arm-linux-gnueabi/libz.so.1" -DZLIB_INCLUDE_DIR="$sysroot/usr/include" >/dev/null
  cmake --build $tests -j"$(nproc)" --target unit_tests
fi

# qemu-arm -L finds the device's files in the sysroot: DirectFB 1.2.1 in /usr/lib, its modules in
# /usr/lib/directfb-1.2-0, where the device's loader and DirectFB look.
export DFBARGS=system=fbdev INKPLAY_DIRECTFB=1.2.1
export INKPLAY_WRAPPER="qemu-arm -L $sysroot" INKPLAY_UNDER_TEST=$PWD/build-device/inkplay INKPLAY_DFB12_DIR=/usr/lib
export INKPLAY_PANEL_DRIVER=$PWD/build-device/tools/libpanel_driver.so INKPLAY_KEY_RECORD=16
export INKPLAY_DIRECTFB_17=$libdir/libdirectfb-1.7.so.7
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed() { sed -n 's/.*tests failed out of //p' "$1"; }
for cpu in $cpus; do
  export QEMU_CPU=$cpu
  start=$SECONDS
  in_process=none
  if ! $whole_only; then
    (cd $tests && LD_LIBRARY_PATH=/usr/lib ctest --output-on-failure -j"$(nproc)" \
       -R '^(Display|PlayerOutput|AuxDraw|KeyInput|Flush|PlayerArgs)\.') | tee "$logs/in-process.log"
    in_process=$(passed "$logs/in-process.log")
  fi
  (cd build && ctest --output-on-failure -j4 -R '^(Startup|Ends|Loop|Keys|Faults|Overlays)\.') | tee "$logs/whole.log"
  echo "device-test: -cpu $cpu on DirectFB 1.2.1: $in_process in-process and $(passed "$logs/whole.log")" \
       "whole-binary tests passed in $((SECONDS - start)) s"
done
# The simulator on the device's build: its demo fails unless the panel shows each moment it waits for.
if ! $whole_only; then
  build/tools/inkplay-sim --device --no-window --out "$logs/sim" >/dev/null
  echo "device-test: the simulator's demo on the device's build: $(ls "$logs/sim/panels" | wc -l) panel updates"
fi
scripts/leftovers.sh
