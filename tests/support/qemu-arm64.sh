#!/bin/sh
# Runs a program of the ARM64 cross build (cmake/aarch64-linux-gnu.cmake) under qemu-aarch64,
# with Debian's ARM64 libraries (g++-aarch64-linux-gnu) as its root: CTest runs the tests
# through it, and the end-to-end tests the programs.
#   QEMU_CPU                       the processor qemu models (qemu's own variable); every model
#                                  of qemu 7.2 has the cryptography extension
#   VELADOR_ARM64_WITHOUT_CRYPTO   a library the dynamic loader preloads into the program:
#                                  the build's tests/support/libvelador_without_crypto.so,
#                                  which hides the extension from the program, so it takes the
#                                  portable code as on a processor without it
#   VELADOR_ARM64_LIBRARY_PATH     folders, separated by colons, where the dynamic loader looks
#                                  for the program's shared libraries before the root's: for an
#                                  installed program, whose run path names none (the build's own
#                                  programs name the unpacked libudfread of
#                                  VELADOR_ARM64_LIBRARY_ROOT in theirs)
# All reach the programs a test starts, since they start them through this script too.
# Usage: tests/support/qemu-arm64.sh <program> [<argument>...]
set -e
root=/usr/aarch64-linux-gnu
if [ -n "${VELADOR_ARM64_WITHOUT_CRYPTO:-}${VELADOR_ARM64_LIBRARY_PATH:-}" ]; then
  # Through the loader's options, not LD_PRELOAD or LD_LIBRARY_PATH: a child would hand those
  # variables to every x86-64 program it starts, this script and qemu among them.
  set -- ${VELADOR_ARM64_WITHOUT_CRYPTO:+--preload "$VELADOR_ARM64_WITHOUT_CRYPTO"} "$@"
  set -- ${VELADOR_ARM64_LIBRARY_PATH:+--library-path "$VELADOR_ARM64_LIBRARY_PATH"} "$@"
  exec qemu-aarch64 -L "$root" "$root/lib/ld-linux-aarch64.so.1" "$@"
fi
exec qemu-aarch64 -L "$root" "$@"
