# Cross-build for ARM64 Linux with Debian's g++-aarch64-linux-gnu. The tests, and the programs
# the end-to-end tests start, run under qemu-aarch64 (Debian: qemu-user) through
# tests/support/qemu-arm64.sh. scripts/arm64-check.sh builds and runs it all.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/qemu-arm64.sh)
# pkg-config finds the ARM64 libraries' .pc files, never the build machine's. By default those
# of Debian multiarch packages (libudfread-dev:arm64 puts its own in
# /usr/lib/aarch64-linux-gnu/pkgconfig), whose headers in /usr/include and libraries in
# /usr/lib/aarch64-linux-gnu are where the cross compiler and linker look already.
# VELADOR_ARM64_LIBRARY_ROOT instead names a folder holding ARM64 Debian packages unpacked, not
# installed (scripts/arm64-check.sh fills one with libudfread's): pkg-config reads only its .pc
# files and puts the folder before the paths they name, and the programs of the build tree find
# its shared libraries through their run path, under qemu as on an ARM64 machine. Installing
# drops that run path: an installed program takes the system's libraries.
set(VELADOR_ARM64_LIBRARY_ROOT "" CACHE PATH
  "A folder of unpacked ARM64 Debian packages (usr/lib/aarch64-linux-gnu, usr/include) to build against")
# The compiler checks read this file again in projects of their own, in the same process: they
# must set pkg-config's environment as the build does.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELADOR_ARM64_LIBRARY_ROOT)
if(VELADOR_ARM64_LIBRARY_ROOT)
  set(ENV{PKG_CONFIG_LIBDIR} ${VELADOR_ARM64_LIBRARY_ROOT}/usr/lib/aarch64-linux-gnu/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${VELADOR_ARM64_LIBRARY_ROOT})
  set(CMAKE_BUILD_RPATH ${VELADOR_ARM64_LIBRARY_ROOT}/usr/lib/aarch64-linux-gnu)
else()
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(ENV{PKG_CONFIG_PATH} "")
