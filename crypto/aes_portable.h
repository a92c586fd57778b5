#pragma once

// The portable path of AesCipher: Rijndael in plain C++ on bit slices, constant-time. No key or
// data byte is ever used as a memory index or a branch condition, in the key schedule and in
// the rounds alike: the S-box is a Boolean circuit (aes_sbox_circuit.h) and every table index
// and loop bound below depends only on lengths and round counts. Internal to crypto/.
//
// Three round engines share one key schedule:
// - General: any block length, one block at a time, bytes in their natural order with only
//   SubBytes on slices. Slow; it carries the 24- and 32-byte blocks and is the yardstick the
//   two fast engines are tested against.
// - Serial: one 16-byte block on 64-bit slices, enciphering only: the modes whose next block
//   needs the previous one (CBC and CFB enciphering, and through CBC the CMAC chain).
// - Parallel: eight 16-byte blocks at a time on slices of two 64-bit words, both directions:
//   ECB, CBC deciphering, CFB deciphering, and single blocks deciphered.

#include <cstddef>
#include <cstdint>

namespace velador::aes_portable {

inline constexpr int kMaxRounds = 14;
inline constexpr int kMaxBlockLength = 32;

// Round keys in byte form: roundKeys[r][4 * c + row], c < block length / 4.
using ByteRoundKeys = std::uint8_t[kMaxRounds + 1][kMaxBlockLength];
// Round keys as eight 64-bit slices each, laid out for the serial engine.
using SlicedRoundKeys = std::uint64_t[kMaxRounds + 1][8];
// Round keys as eight slices of two 64-bit words each, laid out for the parallel engine.
using PairedRoundKeys = std::uint64_t[kMaxRounds + 1][16];

// The Rijndael key schedule for `keyLength` and `blockLength` bytes (16, 24 or 32 each) and
// `rounds` rounds, into roundKeys[0 .. rounds].
void ExpandKey(const std::uint8_t* key, int keyLength, int blockLength, int rounds,
               ByteRoundKeys& roundKeys);

// S(x) for each of the `count` (at most 32) bytes of `bytes`, through the circuit.
void SubBytes(std::uint8_t* bytes, int count);

// General engine: one block of `blockLength` bytes; `in` and `out` may be the same.
void EncryptGeneral(const ByteRoundKeys& roundKeys, int rounds, int blockLength,
                    const std::uint8_t* in, std::uint8_t* out);
void DecryptGeneral(const ByteRoundKeys& roundKeys, int rounds, int blockLength,
                    const std::uint8_t* in, std::uint8_t* out);

// Serial engine (16-byte blocks). MakeSerialKeys lays the byte round keys out for it.
void MakeSerialKeys(const ByteRoundKeys& roundKeys, int rounds, SlicedRoundKeys& keys);
void EncryptSerialBlock(const SlicedRoundKeys& keys, int rounds, const std::uint8_t* in,
                        std::uint8_t* out);
// `blocks` whole blocks enciphered in CBC or CFB (`cfb` true), the 16-byte `chain` read and
// written back; `in` and `out` may be the same buffer.
void EncryptSerialChain(const SlicedRoundKeys& keys, int rounds, bool cfb, std::uint8_t* chain,
                        const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks);

// Parallel engine (16-byte blocks, eight at a time: in[0, kParallelBytes) to out[0,
// kParallelBytes), which may be the same). The deciphering keys are those of the inverse
// cipher, made from the same byte keys.
inline constexpr std::size_t kParallelBytes = 8 * 16;
void MakeParallelKeys(const ByteRoundKeys& roundKeys, int rounds, PairedRoundKeys& encryption,
                      PairedRoundKeys& decryption);
void EncryptParallel(const PairedRoundKeys& keys, int rounds, const std::uint8_t* in,
                     std::uint8_t* out);
void DecryptParallel(const PairedRoundKeys& keys, int rounds, const std::uint8_t* in,
                     std::uint8_t* out);

}  // namespace velador::aes_portable
