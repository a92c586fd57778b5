#include "crypto/aes_mac.h"

#include <cstring>

namespace velador {

namespace {

// Doubling in GF(2^128) as RFC 4493 defines it: shift left, and fold a carried-out top bit
// back in with Rb = 0x87. The bit comes from the enciphered key, so it selects Rb by a mask,
// not a branch.
void Double(const std::uint8_t in[16], std::uint8_t out[16]) {
  const auto carryMask = static_cast<std::uint8_t>(0 - (in[0] >> 7));
  std::memcpy(out, in, 16);
  ShiftLeftOneBit(out, 16);
  out[15] ^= carryMask & 0x87;
}

}  // namespace

void ShiftLeftOneBit(std::uint8_t* buf, int count) {
  for (int i = 0; i < count; ++i) {
    const int carry = i + 1 < count ? buf[i + 1] >> 7 : 0;
    buf[i] = static_cast<std::uint8_t>((buf[i] << 1) | carry);
  }
}

void Xor16(std::uint8_t* dst, const std::uint8_t* src) {
  for (int i = 0; i < 16; ++i) dst[i] ^= src[i];
}

void AesMac::Compute(const std::uint8_t* message, std::uint64_t length, const std::uint8_t* key,
                     std::uint8_t* mac) {
  Begin(key);
  Update(message, length);
  Finish(mac);
}

void AesMac::Begin(const std::uint8_t* key) {
  cipher.MakeKey(key, zeroChain, 16, 16);
  std::uint8_t l[16] = {};
  cipher.EncryptBlock128(l, l);
  Double(l, subkey1);
  Double(subkey1, subkey2);
  std::memset(l, 0, sizeof l);
  std::memset(lastBlock, 0, sizeof lastBlock);
  lastLength = 0;
}

void AesMac::ChainBlocks(const std::uint8_t* data, std::uint64_t length) {
  // The cipher's own CBC loop carries the running value; the enciphered blocks are not needed.
  std::uint8_t scratch[4096];
  while (length > 0) {
    const std::size_t stretch =
        static_cast<std::size_t>(length < sizeof scratch ? length : sizeof scratch);
    cipher.Encrypt(data, scratch, stretch, CBC);
    data += stretch;
    length -= stretch;
  }
}

void AesMac::Update(const std::uint8_t* data, std::uint64_t length) {
  // Returning here also keeps a null `data` from ever being offset.
  if (length == 0) return;
  if (lastLength < 16) {
    const std::uint64_t room = static_cast<std::uint64_t>(16 - lastLength);
    const std::size_t take = static_cast<std::size_t>(length < room ? length : room);
    std::memcpy(lastBlock + lastLength, data, take);
    lastLength += static_cast<int>(take);
    data += take;
    length -= take;
    if (length == 0) return;
  }
  // More data follows, so the held block is not the last one.
  ChainBlocks(lastBlock, 16);
  // Whole blocks go straight from the caller's data; the final one, even when complete, is
  // held back for Finish.
  const std::uint64_t chained = (length - 1) / 16 * 16;
  ChainBlocks(data, chained);
  data += chained;
  length -= chained;
  std::memcpy(lastBlock, data, static_cast<std::size_t>(length));
  lastLength = static_cast<int>(length);
}

void AesMac::Finish(std::uint8_t* mac) {
  if (lastLength == 16) {
    Xor16(lastBlock, subkey1);
  } else {
    // 10* padding; the empty message is one padded block, as RFC 4493 prescribes.
    lastBlock[lastLength] = 0x80;
    std::memset(lastBlock + lastLength + 1, 0, static_cast<std::size_t>(15 - lastLength));
    Xor16(lastBlock, subkey2);
  }
  cipher.Encrypt(lastBlock, mac, 16, CBC);
  std::memset(lastBlock, 0, sizeof lastBlock);
  lastLength = 0;
}

}  // namespace velador
