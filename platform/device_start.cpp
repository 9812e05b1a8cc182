// Start-up code of the device build, in place of the toolchain's start files (those of a current
// C library bind __libc_start_main to a version the device's C library lacks), and the few
// pieces of the C and C++ runtimes that must not come from a newer C library.
#include <sys/stat.h>

extern "C" {

int main(int argc, char** argv);
int __libc_start_main(int (*main)(int, char**), int argc, char** argv, void (*init)(int, char**, char**),
                      void (*fini)(), void (*rtld_fini)(), void* stack_end);
__asm__(".symver __libc_start_main,__libc_start_main@GLIBC_2.4");

extern void (*__init_array_start[])(int, char**, char**) __attribute__((visibility("hidden")));
extern void (*__init_array_end[])(int, char**, char**) __attribute__((visibility("hidden")));

// The executable's constructors. The dynamic linker runs the preinit array itself, and
// destructors are registered through __cxa_atexit, so there is no fini.
__attribute__((used)) static void run_constructors(int argc, char** argv, char** envp) {
  for (auto* f = __init_array_start; f != __init_array_end; ++f) (*f)(argc, argv, envp);
}

void* __dso_handle __attribute__((visibility("hidden"))) = &__dso_handle;

// The kernel leaves argc and argv on the stack and the dynamic linker its finaliser in r0.
// __libc_start_main(main, argc, argv, init, fini, rtld_fini, stack_end): the last three on the stack.
__attribute__((naked, noreturn, used)) void _start() {
  __asm__(
      "mov fp, #0\n"
      "mov lr, #0\n"
      "pop {r1}\n"
      "mov r2, sp\n"
      "push {r2}\n"
      "push {r0}\n"
      "mov r3, #0\n"
      "push {r3}\n"
      "ldr r0, =main\n"
      "ldr r3, =run_constructors\n"
      "bl __libc_start_main\n"
      "bl abort\n");
}

// stat and fstat are new symbols in current C libraries; old ones have them only as the
// versioned __xstat family (version 3 is this struct stat's layout).
int __xstat(int version, const char* path, struct stat* buf);
int __fxstat(int version, int fd, struct stat* buf);
__asm__(".symver __xstat,__xstat@GLIBC_2.4");
__asm__(".symver __fxstat,__fxstat@GLIBC_2.4");
int stat(const char* path, struct stat* buf) { return __xstat(3, path, buf); }
int fstat(int fd, struct stat* buf) { return __fxstat(3, fd, buf); }
}
