#!/usr/bin/env bash
# The secret-tainting check of the portable crypto path: builds
# tests/constant_time/secret_taint_check.cpp in the optimised build (the code that ships) and
# runs it under valgrind's memcheck. It encapsulates, restores and checks a container of every
# type with the key, and for an encapsulation the content, marked undefined; memcheck fails the
# run on any conditional jump or memory address that depends on them. Only the verdicts'
# yes/no answers are declared defined again, and only the buffers the io layer writes out are
# allowed to stay undefined (tests/constant_time/constant_time.supp).
# Needs valgrind (Debian package valgrind, which brings the headers too).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "constant-time check: valgrind is not installed"; exit 2; }
# The header test is cached: look again, in case valgrind came after the first configuration.
cmake --preset default -U VELADOR_HAVE_MEMCHECK_H >/dev/null
cmake --build --preset default --target velador_secret_taint_check >/dev/null
valgrind --quiet --error-exitcode=1 --track-origins=yes \
  --suppressions=tests/constant_time/constant_time.supp \
  build/default/tests/constant_time/velador_secret_taint_check
echo "constant-time check: no branch and no memory address depends on the key or the content"
