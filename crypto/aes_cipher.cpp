#include "crypto/aes_cipher.h"

#include <cassert>
#include <cstring>
#include <stdexcept>

#include "aes_hardware.h"
#include "aes_tables.h"
#include "dispatch.h"

namespace velador {

using namespace aes_tables;

namespace {

using RoundKeys = const std::uint32_t (*)[8];

inline std::uint32_t Load32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

inline void Store32(std::uint8_t* p, std::uint32_t w) {
  p[0] = static_cast<std::uint8_t>(w >> 24);
  p[1] = static_cast<std::uint8_t>(w >> 16);
  p[2] = static_cast<std::uint8_t>(w >> 8);
  p[3] = static_cast<std::uint8_t>(w);
}

inline std::uint8_t Byte0(std::uint32_t w) { return static_cast<std::uint8_t>(w >> 24); }
inline std::uint8_t Byte1(std::uint32_t w) { return static_cast<std::uint8_t>(w >> 16); }
inline std::uint8_t Byte2(std::uint32_t w) { return static_cast<std::uint8_t>(w >> 8); }
inline std::uint8_t Byte3(std::uint32_t w) { return static_cast<std::uint8_t>(w); }

// A 16-byte block as four column words. The buffer loops below keep blocks and the chain in
// this form so that a block crosses memory only once on the way in and once on the way out.
struct Block4 {
  std::uint32_t w0, w1, w2, w3;
};

inline Block4 LoadBlock(const std::uint8_t* p) {
  return {Load32(p), Load32(p + 4), Load32(p + 8), Load32(p + 12)};
}

inline void StoreBlock(std::uint8_t* p, const Block4& b) {
  Store32(p, b.w0);
  Store32(p + 4, b.w1);
  Store32(p + 8, b.w2);
  Store32(p + 12, b.w3);
}

inline Block4 Xor(const Block4& a, const Block4& b) {
  return {a.w0 ^ b.w0, a.w1 ^ b.w1, a.w2 ^ b.w2, a.w3 ^ b.w3};
}

inline std::uint32_t SubLast(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                             const ByteTable& box) {
  return Word(box[a], box[b], box[c], box[d]);
}

// Enciphering offsets 1, 2, 3 written out for four columns.
inline Block4 Encrypt4(RoundKeys k, int rounds, Block4 s) {
  s = Xor(s, {k[0][0], k[0][1], k[0][2], k[0][3]});
  for (int r = 1; r < rounds; ++r) {
    const std::uint32_t* rk = k[r];
    const auto t0 = T1[Byte0(s.w0)] ^ T2[Byte1(s.w1)] ^ T3[Byte2(s.w2)] ^ T4[Byte3(s.w3)] ^ rk[0];
    const auto t1 = T1[Byte0(s.w1)] ^ T2[Byte1(s.w2)] ^ T3[Byte2(s.w3)] ^ T4[Byte3(s.w0)] ^ rk[1];
    const auto t2 = T1[Byte0(s.w2)] ^ T2[Byte1(s.w3)] ^ T3[Byte2(s.w0)] ^ T4[Byte3(s.w1)] ^ rk[2];
    const auto t3 = T1[Byte0(s.w3)] ^ T2[Byte1(s.w0)] ^ T3[Byte2(s.w1)] ^ T4[Byte3(s.w2)] ^ rk[3];
    s = {t0, t1, t2, t3};
  }
  const std::uint32_t* rk = k[rounds];
  return {SubLast(Byte0(s.w0), Byte1(s.w1), Byte2(s.w2), Byte3(s.w3), S) ^ rk[0],
          SubLast(Byte0(s.w1), Byte1(s.w2), Byte2(s.w3), Byte3(s.w0), S) ^ rk[1],
          SubLast(Byte0(s.w2), Byte1(s.w3), Byte2(s.w0), Byte3(s.w1), S) ^ rk[2],
          SubLast(Byte0(s.w3), Byte1(s.w0), Byte2(s.w1), Byte3(s.w2), S) ^ rk[3]};
}

// Deciphering offsets 3, 2, 1 with the equivalent inverse cipher's round keys.
inline Block4 Decrypt4(RoundKeys k, int rounds, Block4 s) {
  s = Xor(s, {k[0][0], k[0][1], k[0][2], k[0][3]});
  for (int r = 1; r < rounds; ++r) {
    const std::uint32_t* rk = k[r];
    const auto t0 = T5[Byte0(s.w0)] ^ T6[Byte1(s.w3)] ^ T7[Byte2(s.w2)] ^ T8[Byte3(s.w1)] ^ rk[0];
    const auto t1 = T5[Byte0(s.w1)] ^ T6[Byte1(s.w0)] ^ T7[Byte2(s.w3)] ^ T8[Byte3(s.w2)] ^ rk[1];
    const auto t2 = T5[Byte0(s.w2)] ^ T6[Byte1(s.w1)] ^ T7[Byte2(s.w0)] ^ T8[Byte3(s.w3)] ^ rk[2];
    const auto t3 = T5[Byte0(s.w3)] ^ T6[Byte1(s.w2)] ^ T7[Byte2(s.w1)] ^ T8[Byte3(s.w0)] ^ rk[3];
    s = {t0, t1, t2, t3};
  }
  const std::uint32_t* rk = k[rounds];
  return {SubLast(Byte0(s.w0), Byte1(s.w3), Byte2(s.w2), Byte3(s.w1), Si) ^ rk[0],
          SubLast(Byte0(s.w1), Byte1(s.w0), Byte2(s.w3), Byte3(s.w2), Si) ^ rk[1],
          SubLast(Byte0(s.w2), Byte1(s.w1), Byte2(s.w0), Byte3(s.w3), Si) ^ rk[2],
          SubLast(Byte0(s.w3), Byte1(s.w2), Byte2(s.w1), Byte3(s.w0), Si) ^ rk[3]};
}

bool IsValidLength(int n) { return n == 16 || n == 24 || n == 32; }

int WidthClass(int columns) { return columns == 4 ? 0 : columns == 6 ? 1 : 2; }

}  // namespace

void AesCipher::MakeKey(const std::uint8_t* key, const std::uint8_t* chainIn, int keyLen,
                        int blockLen) {
  // Validate before touching any member, so a rejected call leaves a usable key in place.
  if (!IsValidLength(keyLen) || !IsValidLength(blockLen)) {
    throw std::invalid_argument("AesCipher::MakeKey: key and block lengths must be 16, 24 or 32");
  }
  keyLength = keyLen;
  blockLength = blockLen;
  std::memcpy(chain, chainIn, static_cast<std::size_t>(blockLength));
  rounds = (keyLength > blockLength ? keyLength : blockLength) / 4 + 6;

  std::memset(encryptionKeys, 0, sizeof encryptionKeys);
  std::memset(decryptionKeys, 0, sizeof decryptionKeys);
  static_assert(sizeof instructionKeys == aes_hardware::kScheduleBytes);
  std::memset(instructionKeys, 0, sizeof instructionKeys);
  engine =
      keyLength == 16 && blockLength == 16 ? aes_hardware::EngineFor(dispatch::Active()) : nullptr;
  if (engine != nullptr) {
    // The tables stay empty: expanding the key through them would leak it through the cache.
    engine->expandKey(key, instructionKeys);
  } else {
    MakeTableKeys(key);
  }
}

void AesCipher::MakeTableKeys(const std::uint8_t* key) {
  const int bc = blockLength / 4;
  const int kc = keyLength / 4;
  const int total = bc * (rounds + 1);

  for (int i = 0; i < kc; ++i) keyWords[i] = Load32(key + 4 * i);

  int t = 0;
  auto place = [&] {
    for (int j = 0; j < kc && t < total; ++j, ++t) {
      encryptionKeys[t / bc][t % bc] = keyWords[j];
      decryptionKeys[rounds - t / bc][t % bc] = keyWords[j];
    }
  };
  place();
  // `place` advances t; a while loop says so where a for header would hide it.
  int rconIndex = 0;
  while (t < total) {
    const std::uint32_t w = keyWords[kc - 1];
    keyWords[0] ^= Word(S[Byte1(w)], S[Byte2(w)], S[Byte3(w)], S[Byte0(w)]) ^
                   (std::uint32_t{rcon[rconIndex++]} << 24);
    if (kc != 8) {
      for (int i = 1; i < kc; ++i) keyWords[i] ^= keyWords[i - 1];
    } else {
      for (int i = 1; i < 4; ++i) keyWords[i] ^= keyWords[i - 1];
      const std::uint32_t v = keyWords[3];
      keyWords[4] ^= Word(S[Byte0(v)], S[Byte1(v)], S[Byte2(v)], S[Byte3(v)]);
      for (int i = 5; i < 8; ++i) keyWords[i] ^= keyWords[i - 1];
    }
    place();
  }

  // The equivalent inverse cipher applies InvMixColumns to the inner round keys, so that
  // deciphering rounds have the same table-lookup shape as enciphering ones.
  for (int r = 1; r < rounds; ++r) {
    for (int j = 0; j < bc; ++j) {
      const std::uint32_t w = decryptionKeys[r][j];
      decryptionKeys[r][j] = U1[Byte0(w)] ^ U2[Byte1(w)] ^ U3[Byte2(w)] ^ U4[Byte3(w)];
    }
  }
  // The schedule's working words hold key material; keep none of it beyond this call.
  std::memset(keyWords, 0, sizeof keyWords);
}

void AesCipher::EncryptBlock(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  if (blockLength == 16) {
    EncryptBlock128(in, out);
  } else {
    EncryptBlockGeneral(in, out);
  }
}

void AesCipher::DecryptBlock(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  if (blockLength == 16) {
    DecryptBlock128(in, out);
  } else {
    DecryptBlockGeneral(in, out);
  }
}

void AesCipher::EncryptBlock128(const std::uint8_t* in, std::uint8_t* out) const {
  assert(rounds != 0 && blockLength == 16 && "EncryptBlock128 needs a 16-byte-block key");
  if (engine != nullptr) return engine->encryptBlock(instructionKeys, in, out);
  StoreBlock(out, Encrypt4(encryptionKeys, rounds, LoadBlock(in)));
}

void AesCipher::DecryptBlock128(const std::uint8_t* in, std::uint8_t* out) const {
  assert(rounds != 0 && blockLength == 16 && "DecryptBlock128 needs a 16-byte-block key");
  if (engine != nullptr) return engine->decryptBlock(instructionKeys, in, out);
  StoreBlock(out, Decrypt4(decryptionKeys, rounds, LoadBlock(in)));
}

void AesCipher::EncryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && engine == nullptr && "EncryptBlockGeneral needs a key on the table path");
  const int bc = blockLength / 4;
  const auto& offsets = shifts[WidthClass(bc)];
  const int s1 = offsets[1][0], s2 = offsets[2][0], s3 = offsets[3][0];
  // Every input byte is read here, before any output byte is written: in == out is safe.
  for (int i = 0; i < bc; ++i) stateWords[i] = Load32(in + 4 * i) ^ encryptionKeys[0][i];
  for (int r = 1; r < rounds; ++r) {
    for (int i = 0; i < bc; ++i) {
      roundWords[i] = T1[Byte0(stateWords[i])] ^ T2[Byte1(stateWords[(i + s1) % bc])] ^
                      T3[Byte2(stateWords[(i + s2) % bc])] ^ T4[Byte3(stateWords[(i + s3) % bc])] ^
                      encryptionKeys[r][i];
    }
    std::memcpy(stateWords, roundWords, sizeof(std::uint32_t) * static_cast<std::size_t>(bc));
  }
  for (int i = 0; i < bc; ++i) {
    Store32(out + 4 * i,
            SubLast(Byte0(stateWords[i]), Byte1(stateWords[(i + s1) % bc]),
                    Byte2(stateWords[(i + s2) % bc]), Byte3(stateWords[(i + s3) % bc]), S) ^
                encryptionKeys[rounds][i]);
  }
}

void AesCipher::DecryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && engine == nullptr && "DecryptBlockGeneral needs a key on the table path");
  const int bc = blockLength / 4;
  const auto& offsets = shifts[WidthClass(bc)];
  const int s1 = offsets[1][1], s2 = offsets[2][1], s3 = offsets[3][1];
  for (int i = 0; i < bc; ++i) stateWords[i] = Load32(in + 4 * i) ^ decryptionKeys[0][i];
  for (int r = 1; r < rounds; ++r) {
    for (int i = 0; i < bc; ++i) {
      roundWords[i] = T5[Byte0(stateWords[i])] ^ T6[Byte1(stateWords[(i + s1) % bc])] ^
                      T7[Byte2(stateWords[(i + s2) % bc])] ^ T8[Byte3(stateWords[(i + s3) % bc])] ^
                      decryptionKeys[r][i];
    }
    std::memcpy(stateWords, roundWords, sizeof(std::uint32_t) * static_cast<std::size_t>(bc));
  }
  for (int i = 0; i < bc; ++i) {
    Store32(out + 4 * i,
            SubLast(Byte0(stateWords[i]), Byte1(stateWords[(i + s1) % bc]),
                    Byte2(stateWords[(i + s2) % bc]), Byte3(stateWords[(i + s3) % bc]), Si) ^
                decryptionKeys[rounds][i]);
  }
}

void AesCipher::XorBlock(std::uint8_t* dst, const std::uint8_t* src) const {
  for (int i = 0; i < blockLength; ++i) dst[i] ^= src[i];
}

// In every mode each input block is read completely (into locals or a copy) before its
// output block is written, which is what makes in == out safe. Nothing past the last whole
// block is read or written, and with no whole block the pointers are never touched at all.
void AesCipher::Encrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  const std::size_t len = static_cast<std::size_t>(blockLength);
  const std::uint64_t blocks = n / len;
  if (blocks == 0) return;
  if (engine != nullptr) return engine->encrypt(instructionKeys, chain, in, out, blocks, mode);

  if (blockLength == 16) {
    Block4 v = LoadBlock(chain);
    for (std::uint64_t k = 0; k < blocks; ++k, in += 16, out += 16) {
      const Block4 p = LoadBlock(in);
      if (mode == CBC) {
        v = Encrypt4(encryptionKeys, rounds, Xor(v, p));
        StoreBlock(out, v);
      } else if (mode == CFB) {
        v = Xor(Encrypt4(encryptionKeys, rounds, v), p);
        StoreBlock(out, v);
      } else {
        StoreBlock(out, Encrypt4(encryptionKeys, rounds, p));
      }
    }
    if (mode == CBC || mode == CFB) StoreBlock(chain, v);
    return;
  }

  std::uint8_t work[32];
  for (std::uint64_t k = 0; k < blocks; ++k, in += len, out += len) {
    if (mode == CBC) {
      XorBlock(chain, in);
      EncryptBlockGeneral(chain, chain);
      std::memcpy(out, chain, len);
    } else if (mode == CFB) {
      EncryptBlockGeneral(chain, work);
      XorBlock(work, in);
      std::memcpy(out, work, len);
      std::memcpy(chain, work, len);
    } else {
      EncryptBlockGeneral(in, out);
    }
  }
}

void AesCipher::Decrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  const std::size_t len = static_cast<std::size_t>(blockLength);
  const std::uint64_t blocks = n / len;
  if (blocks == 0) return;
  if (engine != nullptr) return engine->decrypt(instructionKeys, chain, in, out, blocks, mode);

  if (blockLength == 16) {
    Block4 v = LoadBlock(chain);
    for (std::uint64_t k = 0; k < blocks; ++k, in += 16, out += 16) {
      const Block4 c = LoadBlock(in);
      if (mode == CBC) {
        StoreBlock(out, Xor(Decrypt4(decryptionKeys, rounds, c), v));
        v = c;
      } else if (mode == CFB) {
        // CFB runs the cipher forwards in both directions.
        StoreBlock(out, Xor(Encrypt4(encryptionKeys, rounds, v), c));
        v = c;
      } else {
        StoreBlock(out, Decrypt4(decryptionKeys, rounds, c));
      }
    }
    if (mode == CBC || mode == CFB) StoreBlock(chain, v);
    return;
  }

  std::uint8_t cipherCopy[32];
  for (std::uint64_t k = 0; k < blocks; ++k, in += len, out += len) {
    if (mode == CBC) {
      std::memcpy(cipherCopy, in, len);
      DecryptBlockGeneral(cipherCopy, out);
      XorBlock(out, chain);
      std::memcpy(chain, cipherCopy, len);
    } else if (mode == CFB) {
      std::memcpy(cipherCopy, in, len);
      EncryptBlockGeneral(chain, out);
      XorBlock(out, cipherCopy);
      std::memcpy(chain, cipherCopy, len);
    } else {
      DecryptBlockGeneral(in, out);
    }
  }
}

}  // namespace velador
