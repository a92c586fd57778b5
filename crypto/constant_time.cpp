#include "crypto/constant_time.h"

namespace velador {

bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  unsigned difference = 0;
  for (std::size_t i = 0; i < n; ++i) difference |= static_cast<unsigned>(a[i] ^ b[i]);
  // difference is below 256: subtracting 1 borrows into bit 8 exactly when it is 0. Arithmetic,
  // not a comparison, so that no compiler turns it into a branch on the bytes.
  return ((difference - 1) >> 8) & 1;
}

}  // namespace velador
