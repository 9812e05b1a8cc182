// Included first in every file of the device build: binds the C library functions whose
// default version in a current C library is newer than the ARM EABI baseline (glibc 2.4) to
// their 2.4 version, which every C library of the device class has. A function that turns up
// with a newer version in the check after linking (scripts/device-build.sh) gets its line here.
#pragma once

__asm__(".symver fcntl,fcntl@GLIBC_2.4");
