#pragma once

// AES-128 on the processor's AES instructions: the hardware path of AesCipher for 16-byte keys
// with 16-byte blocks (x86-64 in aes_hardware.cpp, ARM64 in aes_arm.cpp). Internal to crypto/.
// Its results are those of the portable path, bit for bit; its timing depends on neither key nor
// data.

#include <cstddef>
#include <cstdint>

#include "dispatch.h"

namespace velador::aes_hardware {

// A key schedule: 11 round keys for enciphering, then the 11 of the equivalent inverse cipher
// (reverse order, inner ones through InvMixColumns), each 16 bytes in the instructions' order.
inline constexpr std::size_t kScheduleBytes = 22 * 16;

// One way of running AES-128 on the instructions. `schedule` is what expandKey wrote. The
// buffer functions take `blocks` whole 16-byte blocks and act as AesCipher's Encrypt and
// Decrypt: the 16-byte `chain` is read and written back in CBC and CFB and left alone in
// every other mode (ECB); `in` and `out` may be the same buffer.
struct Engine {
  void (*expandKey)(const std::uint8_t* key, std::uint8_t* schedule);
  void (*encryptBlock)(const std::uint8_t* schedule, const std::uint8_t* in, std::uint8_t* out);
  void (*decryptBlock)(const std::uint8_t* schedule, const std::uint8_t* in, std::uint8_t* out);
  void (*encrypt)(const std::uint8_t* schedule, std::uint8_t* chain, const std::uint8_t* in,
                  std::uint8_t* out, std::uint64_t blocks, int mode);
  void (*decrypt)(const std::uint8_t* schedule, std::uint8_t* chain, const std::uint8_t* in,
                  std::uint8_t* out, std::uint64_t blocks, int mode);
};

// The fastest engine `features` allow, or null when they hold no AES instructions (always
// null where the hardware paths are not built).
const Engine* EngineFor(const dispatch::Features& features);

// Enciphers `blocks` 16-byte blocks of `data` in place in CBC under `schedule`, from `chain`
// (written back), as an engine's encrypt does, and writes the SHA-1 digest of each whole
// 512-byte unit of the result to `digests`, 20 bytes a unit. The hashing runs in the same
// pass, between the chained blocks.
using CbcHashing = void (*)(const std::uint8_t* schedule, std::uint8_t* chain, std::uint8_t* data,
                            std::uint64_t blocks, std::uint8_t* digests);

// That pass on the instructions when `features` hold both AES and SHA instructions and the
// architecture has it (x86-64), else null.
CbcHashing CbcHashingFor(const dispatch::Features& features);

}  // namespace velador::aes_hardware
