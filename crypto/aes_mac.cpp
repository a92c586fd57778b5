#include "crypto/aes_mac.h"

#include <cstring>

namespace velador {

namespace {

// Doubling in GF(2^128) as RFC 4493 defines it: shift left, and fold a carried-out top bit
// back in with Rb = 0x87.
void Double(const std::uint8_t in[16], std::uint8_t out[16]) {
  const bool carry = (in[0] & 0x80) != 0;
  std::memcpy(out, in, 16);
  ShiftLeftOneBit(out, 16);
  if (carry) out[15] ^= 0x87;
}

}  // namespace

void ShiftLeftOneBit(std::uint8_t* buf, int count) {
  for (int i = 0; i < count; ++i) {
    const int carry = (i + 1 < count && (buf[i + 1] & 0x80)) ? 1 : 0;
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
  std::memset(runningValue, 0, sizeof runningValue);
  std::memset(lastBlock, 0, sizeof lastBlock);
  lastLength = 0;
}

void AesMac::ChainBlock(const std::uint8_t* block) {
  Xor16(runningValue, block);
  cipher.EncryptBlock128(runningValue, runningValue);
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
  ChainBlock(lastBlock);
  // Whole blocks go straight from the caller's data; the final one, even when complete, is
  // held back for Finish.
  while (length > 16) {
    ChainBlock(data);
    data += 16;
    length -= 16;
  }
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
  Xor16(runningValue, lastBlock);
  cipher.EncryptBlock128(runningValue, mac);
  std::memset(lastBlock, 0, sizeof lastBlock);
  lastLength = 0;
}

}  // namespace velador
