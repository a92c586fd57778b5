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
# pkg-config finds the ARM64 libraries' .pc files (Debian multiarch: libudfread-dev:arm64 puts
# its own in /usr/lib/aarch64-linux-gnu/pkgconfig), never the build machine's. Their headers in
# /usr/include, and their libraries in /usr/lib/aarch64-linux-gnu, are where the cross compiler
# and linker look already.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
