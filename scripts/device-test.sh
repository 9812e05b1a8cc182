#!/usr/bin/env bash
# The suite on the device's instruction set and ABI under qemu-arm, once as an ARMv5TE core
# (arm926) and once as an ARMv6 core (arm1136): the in-process tests on real DirectFB 1.7 from
# the armel sysroot (display, drawing, flush, player output, keys), built for armel; and the
# whole-binary tests against the device's own binary, DirectFB 1.2's layout over the armel 1.2
# stand-in and armel DirectFB 1.7. The whole-binary runner, the stand-in player and the power
# tool stay host programs (qemu-user runs a host child natively). MPlayer's end-to-end tests
# stay on the host: Debian's armel MPlayer cannot be unpacked beside the host's and run here.
#   scripts/device-test.sh                 both suites, on both cores
#   scripts/device-test.sh --whole arm926  the whole-binary suite alone (the builds must exist),
#                                          on the cores named
set -euo pipefail
cd "$(dirname "$0")/.."
whole_only=false
if [ "${1:-}" = --whole ]; then whole_only=true; shift; fi
cpus=${*:-arm926 arm1136}
$whole_only || bash scripts/device-build.sh >/dev/null
sysroot=$(bash scripts/device-sysroot.sh)
libdir=$sysroot/usr/lib/arm-linux-gnueabi
[ -x build/tests/system_tests ] || { cmake -S . -B build -DINKPLAY_WERROR=ON >/dev/null; cmake --build build -j"$(nproc)"; }

# The in-process tests with DirectFB 1.7's layout, linked against the sysroot's DirectFB.
if ! $whole_only; then
  PKG_CONFIG_LIBDIR=$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sysroot \
    cmake -S . -B build-device/tests-1.7 -DCMAKE_TOOLCHAIN_FILE=cmake/armel-device.cmake -DINKPLAY_DEVICE=OFF \
    -DINKPLAY_WERROR=ON -DINKPLAY_SYSROOT="$sysroot" \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-rpath-link,$libdir:$sysroot/lib/arm-linux-gnueabi" \
    -DZLIB_LIBRARY="$sysroot/lib/arm-linux-gnueabi/libz.so.1" -DZLIB_INCLUDE_DIR="$sysroot/usr/include" >/dev/null
  cmake --build build-device/tests-1.7 -j"$(nproc)" --target unit_tests
fi

# DirectFB reads its module folder with 32-bit readdir, which fails on ext4 under qemu-user: it
# gets a copy on tmpfs with what the dummy system needs (no graphics drivers to probe).
modules=$(mktemp -d /dev/shm/inkplay-dfb-modules-XXXXXX)
trap 'rm -rf "$modules"' EXIT
cp -r "$libdir/directfb-1.7-7"/{systems,wm,interfaces} "$modules/"
export DFBARGS=system=dummy,module-dir=$modules
export INKPLAY_WRAPPER="qemu-arm -L $sysroot" INKPLAY_UNDER_TEST=$PWD/build-device/inkplay
export INKPLAY_RECORDER=$PWD/build-device/tools/libupdate_recorder.so INKPLAY_KEY_RECORD=16
export INKPLAY_DFB12_DIR=$PWD/build-device/tools/dfb12  # the device's binary names no library folder
export INKPLAY_DIRECTFB_17=$libdir/libdirectfb-1.7.so.7
passed() { sed -n 's/.*tests failed out of //p' "$1"; }
for cpu in $cpus; do
  export QEMU_CPU=$cpu
  start=$SECONDS
  in_process=none
  if ! $whole_only; then
    (cd build-device/tests-1.7 && ctest --output-on-failure -j"$(nproc)" \
       -R '^(Display|PlayerOutput|AuxDraw|KeyInput|Flush|PlayerArgs)\.') | tee "$modules/in-process.log"
    in_process=$(passed "$modules/in-process.log")
  fi
  (cd build && ctest --output-on-failure -j4 -R '^(Startup|Ends|Loop|Keys|Faults|Overlays|Dfb12)\.') |
    tee "$modules/whole.log"
  echo "device-test: -cpu $cpu: $in_process in-process and $(passed "$modules/whole.log") whole-binary tests passed in $((SECONDS - start)) s"
done
scripts/leftovers.sh
