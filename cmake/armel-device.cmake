# The device build: Debian's armel cross compiler (ARM EABI, soft float) for ARMv5TE cores, a
# binary bound to glibc 2.4's symbol versions and DirectFB 1.2's layout and soname.
#   cmake -S . -B build-device -DCMAKE_TOOLCHAIN_FILE=cmake/armel-device.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft -fno-pie -fno-stack-protector -U_FORTIFY_SOURCE -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-no-pie")
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)
set(INKPLAY_DEVICE ON CACHE BOOL "Build for the device")
# Tests built for the target run under user-mode emulation with the cross C library, or with
# the private sysroot of scripts/device-sysroot.sh (INKPLAY_SYSROOT) where they need DirectFB.
if(INKPLAY_SYSROOT)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${INKPLAY_SYSROOT})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabi)
endif()
