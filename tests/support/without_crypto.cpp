// Preloaded into an ARM64 Linux program (tests/support/qemu-arm64.sh), makes it see a processor
// without the cryptography extension: getauxval answers the hardware capabilities with the
// extension's bits cleared, so dispatch picks the portable code exactly as it would on such a
// processor. The program is otherwise the same binary.

#include <sys/auxv.h>

// The C library's own entry, which this library's getauxval hides from the program.
extern "C" unsigned long __getauxval(unsigned long type);

extern "C" unsigned long getauxval(unsigned long type) {
  unsigned long value = __getauxval(type);
  if (type == AT_HWCAP) value &= ~(HWCAP_AES | HWCAP_PMULL | HWCAP_SHA1 | HWCAP_SHA2);
  return value;
}
