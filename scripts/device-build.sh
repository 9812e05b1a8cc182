#!/usr/bin/env bash
# Builds build-device/inkplay, the binary for the device: 32-bit ARM EABI, soft float, ARMv5TE,
# bound to glibc 2.4's symbol versions and DirectFB 1.2's layout and soname, with the C++
# runtime linked in. Checks the result and fails on anything the device could not run or should
# not trust, then runs the DirectFB-free tests built for the same target under qemu-arm.
#   scripts/device-build.sh [--binary-only]   the binary and its checks, without the tests
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh g++-arm-linux-gnueabi qemu-user file
cmake -S . -B build-device -DCMAKE_TOOLCHAIN_FILE=cmake/armel-device.cmake -DINKPLAY_WERROR=ON >/dev/null
if [ "${1:-}" = --binary-only ]; then
  cmake --build build-device -j"$(nproc)" --target inkplay
else
  cmake --build build-device -j"$(nproc)"
fi

bin=build-device/inkplay
fail() { echo "device-build: $*"; exit 1; }
header=$(readelf -h "$bin")
grep -q "Class:.*ELF32" <<<"$header" && grep -q "Machine:.*ARM" <<<"$header" || fail "not a 32-bit ARM ELF"
grep -q "Version5 EABI, soft-float ABI" <<<"$header" || fail "not EABI5 soft-float: $(grep Flags <<<"$header")"
attributes=$(readelf -A "$bin")
grep -Eq "Tag_CPU_arch: v(4|4T|5T|5TE|5TEJ|6)$" <<<"$attributes" || fail "needs a newer core: $(grep Tag_CPU_arch: <<<"$attributes")"
! grep -Eq "NEON|Tag_ABI_VFP_args|Tag_Advanced_SIMD" <<<"$attributes" || fail "uses NEON or passes floats in VFP registers"
readelf -l "$bin" | grep -q "program interpreter: /lib/ld-linux.so.3]" || fail "another dynamic linker"
versions=$(objdump -T "$bin" | grep -o '(G[A-Z]*_[0-9.]*)\|(CXXABI[^)]*)' | sort -u | tr '\n' ' ')
[ "$versions" = "(GLIBC_2.4) " ] || fail "symbol versions other than GLIBC_2.4: $versions"
needed=$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
for lib in $needed; do
  case $lib in libdirectfb-1.2.so.0|libc.so.6|libpthread.so.0|libdl.so.2|librt.so.1) ;;
    *) fail "needs $lib (all it needs: $needed)";; esac
done
dynamic=$(readelf -d "$bin")
! grep -Eq "\((RPATH|RUNPATH)\)" <<<"$dynamic" || fail "names a library folder: $(grep -E 'RPATH|RUNPATH' <<<"$dynamic")"
grep -q "(HASH)" <<<"$dynamic" || fail "no classic symbol hash table (DT_HASH), which glibc before 2.5 needs"
newer=$(objdump -T "$bin" | grep -Ew 'pipe2|dup3|accept4|epoll_create1|eventfd|getentropy' || true)
[ -z "$newer" ] || fail "calls what a Linux 2.6 kernel or an old C library lacks: $newer"
! grep -rn "O_CLOEXEC" supervisor display input platform || fail "relies on O_CLOEXEC (Linux 2.6.23)"
echo "device-build: $bin: $(file -b "$bin" | cut -d, -f1-4); $(grep -o 'Tag_CPU_arch: .*' <<<"$attributes");" \
     "needs $needed; every C library symbol at GLIBC_2.4; both symbol hash tables; no library folder"
[ "${1:-}" = --binary-only ] || (cd build-device && ctest --output-on-failure -j"$(nproc)")
