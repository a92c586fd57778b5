#pragma once

#include <cstddef>
#include <cstdint>

namespace velador {

// Whether a[0, n) and b[0, n) hold the same bytes. Every byte of both is read whatever they
// hold, and no branch or memory address depends on their values: the time taken depends on n
// alone. Comparing a tag computed under a secret key with a stored one this way tells nobody
// how many of its leading bytes were right.
bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

}  // namespace velador
