// EqualInConstantTime: equal buffers of several lengths, the empty one among them, and every
// single-bit difference at every position of a tag-sized buffer and at both ends of a longer one.

#include "crypto/constant_time.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>

#include "crypto/vector_files.h"

namespace velador {
namespace {

TEST(EqualInConstantTime, EqualBuffersOfEveryLength) {
  std::mt19937 rng(272);
  for (std::size_t n : {0, 1, 15, 16, 17, 272}) {
    const test::Bytes a = test::RandomBytes(rng, n);
    const test::Bytes b = a;
    EXPECT_TRUE(EqualInConstantTime(a.data(), b.data(), n)) << n;
  }
}

TEST(EqualInConstantTime, EverySingleBitDifference) {
  std::mt19937 rng(16);
  for (std::size_t n : {16, 272}) {
    const test::Bytes a = test::RandomBytes(rng, n);
    for (std::size_t at = 0; at < n; at += n == 16 ? 1 : n - 1) {
      for (int bit = 0; bit < 8; ++bit) {
        test::Bytes b = a;
        b[at] ^= static_cast<std::uint8_t>(1u << bit);
        EXPECT_FALSE(EqualInConstantTime(a.data(), b.data(), n)) << n << " " << at << " " << bit;
        EXPECT_FALSE(EqualInConstantTime(b.data(), a.data(), n)) << n << " " << at << " " << bit;
      }
    }
  }
}

}  // namespace
}  // namespace velador
