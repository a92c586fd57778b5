#include "crypto/sha1_hasher.h"

#include <cstring>
#include <fstream>

#include "sha1_compress.h"

namespace velador {

namespace {

inline std::uint32_t Rol(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline std::uint32_t LoadBig(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Pieces of this size are read and hashed in turn; a multiple of 64, so whole pieces are
// transformed straight from the read buffer.
constexpr std::size_t kFilePiece = 8000;

}  // namespace

Sha1Hasher::Sha1Hasher() { Reset(); }

Sha1Hasher::~Sha1Hasher() {
  // Leave no message bytes or chaining value behind in memory that is about to be reused.
  std::memset(state, 0, sizeof state);
  std::memset(count, 0, sizeof count);
  std::memset(buffer, 0, sizeof buffer);
}

void Sha1Hasher::Reset() {
  compress = sha1::ActiveCompressor();
  state[0] = 0x67452301;
  state[1] = 0xefcdab89;
  state[2] = 0x98badcfe;
  state[3] = 0x10325476;
  state[4] = 0xc3d2e1f0;
  count[0] = 0;
  count[1] = 0;
}

// The steps are laid out as the rounds of the hash, four groups of twenty.
// clang-format off
// W[t] for t >= 16, computed in place in the rolling 16-word window.
#define SHA1_W(t) \
  (w[(t) & 15] = Rol(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))
// Step t: e += rol(a, 5) + f(b, c, d) + W + K; b = rol(b, 30). Passing the working words in
// rotated order at each call replaces the role shuffle of the textbook loop.
#define SHA1_R0(a, b, c, d, e, t) \
  e += Rol(a, 5) + (d ^ (b & (c ^ d))) + w[t] + 0x5a827999u; b = Rol(b, 30);
#define SHA1_R1(a, b, c, d, e, t) \
  e += Rol(a, 5) + (d ^ (b & (c ^ d))) + SHA1_W(t) + 0x5a827999u; b = Rol(b, 30);
#define SHA1_R2(a, b, c, d, e, t) \
  e += Rol(a, 5) + (b ^ c ^ d) + SHA1_W(t) + 0x6ed9eba1u; b = Rol(b, 30);
#define SHA1_R3(a, b, c, d, e, t) \
  e += Rol(a, 5) + (((b | c) & d) | (b & c)) + SHA1_W(t) + 0x8f1bbcdcu; b = Rol(b, 30);
#define SHA1_R4(a, b, c, d, e, t) \
  e += Rol(a, 5) + (b ^ c ^ d) + SHA1_W(t) + 0xca62c1d6u; b = Rol(b, 30);

namespace sha1 {

namespace {

void CompressOne(std::uint32_t st[5], const std::uint8_t block[64]) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBig(block + 4 * i);
  std::uint32_t a = st[0], b = st[1], c = st[2], d = st[3], e = st[4];

  SHA1_R0(a, b, c, d, e, 0)  SHA1_R0(e, a, b, c, d, 1)  SHA1_R0(d, e, a, b, c, 2)
  SHA1_R0(c, d, e, a, b, 3)  SHA1_R0(b, c, d, e, a, 4)  SHA1_R0(a, b, c, d, e, 5)
  SHA1_R0(e, a, b, c, d, 6)  SHA1_R0(d, e, a, b, c, 7)  SHA1_R0(c, d, e, a, b, 8)
  SHA1_R0(b, c, d, e, a, 9)  SHA1_R0(a, b, c, d, e, 10) SHA1_R0(e, a, b, c, d, 11)
  SHA1_R0(d, e, a, b, c, 12) SHA1_R0(c, d, e, a, b, 13) SHA1_R0(b, c, d, e, a, 14)
  SHA1_R0(a, b, c, d, e, 15) SHA1_R1(e, a, b, c, d, 16) SHA1_R1(d, e, a, b, c, 17)
  SHA1_R1(c, d, e, a, b, 18) SHA1_R1(b, c, d, e, a, 19)

  SHA1_R2(a, b, c, d, e, 20) SHA1_R2(e, a, b, c, d, 21) SHA1_R2(d, e, a, b, c, 22)
  SHA1_R2(c, d, e, a, b, 23) SHA1_R2(b, c, d, e, a, 24) SHA1_R2(a, b, c, d, e, 25)
  SHA1_R2(e, a, b, c, d, 26) SHA1_R2(d, e, a, b, c, 27) SHA1_R2(c, d, e, a, b, 28)
  SHA1_R2(b, c, d, e, a, 29) SHA1_R2(a, b, c, d, e, 30) SHA1_R2(e, a, b, c, d, 31)
  SHA1_R2(d, e, a, b, c, 32) SHA1_R2(c, d, e, a, b, 33) SHA1_R2(b, c, d, e, a, 34)
  SHA1_R2(a, b, c, d, e, 35) SHA1_R2(e, a, b, c, d, 36) SHA1_R2(d, e, a, b, c, 37)
  SHA1_R2(c, d, e, a, b, 38) SHA1_R2(b, c, d, e, a, 39)

  SHA1_R3(a, b, c, d, e, 40) SHA1_R3(e, a, b, c, d, 41) SHA1_R3(d, e, a, b, c, 42)
  SHA1_R3(c, d, e, a, b, 43) SHA1_R3(b, c, d, e, a, 44) SHA1_R3(a, b, c, d, e, 45)
  SHA1_R3(e, a, b, c, d, 46) SHA1_R3(d, e, a, b, c, 47) SHA1_R3(c, d, e, a, b, 48)
  SHA1_R3(b, c, d, e, a, 49) SHA1_R3(a, b, c, d, e, 50) SHA1_R3(e, a, b, c, d, 51)
  SHA1_R3(d, e, a, b, c, 52) SHA1_R3(c, d, e, a, b, 53) SHA1_R3(b, c, d, e, a, 54)
  SHA1_R3(a, b, c, d, e, 55) SHA1_R3(e, a, b, c, d, 56) SHA1_R3(d, e, a, b, c, 57)
  SHA1_R3(c, d, e, a, b, 58) SHA1_R3(b, c, d, e, a, 59)

  SHA1_R4(a, b, c, d, e, 60) SHA1_R4(e, a, b, c, d, 61) SHA1_R4(d, e, a, b, c, 62)
  SHA1_R4(c, d, e, a, b, 63) SHA1_R4(b, c, d, e, a, 64) SHA1_R4(a, b, c, d, e, 65)
  SHA1_R4(e, a, b, c, d, 66) SHA1_R4(d, e, a, b, c, 67) SHA1_R4(c, d, e, a, b, 68)
  SHA1_R4(b, c, d, e, a, 69) SHA1_R4(a, b, c, d, e, 70) SHA1_R4(e, a, b, c, d, 71)
  SHA1_R4(d, e, a, b, c, 72) SHA1_R4(c, d, e, a, b, 73) SHA1_R4(b, c, d, e, a, 74)
  SHA1_R4(a, b, c, d, e, 75) SHA1_R4(e, a, b, c, d, 76) SHA1_R4(d, e, a, b, c, 77)
  SHA1_R4(c, d, e, a, b, 78) SHA1_R4(b, c, d, e, a, 79)

  st[0] += a;
  st[1] += b;
  st[2] += c;
  st[3] += d;
  st[4] += e;
}
// clang-format on

#undef SHA1_W
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4

}  // namespace

void CompressPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += 64) CompressOne(state, blocks);
}

Compressor ActiveCompressor() {
  const Compressor instructions = InstructionCompressor(dispatch::Active());
  return instructions != nullptr ? instructions : CompressPortable;
}

}  // namespace sha1

void Sha1Hasher::Update(const std::uint8_t* data, std::uint64_t length) {
  // Returning here also keeps a null `data` from ever being offset.
  if (length == 0) return;
  std::size_t j = (count[0] >> 3) & 63;
  // The bit count is kept modulo 2^64, as the length field of the padding is.
  std::uint64_t bits = (std::uint64_t{count[1]} << 32) | count[0];
  bits += length << 3;
  count[0] = static_cast<std::uint32_t>(bits);
  count[1] = static_cast<std::uint32_t>(bits >> 32);

  if (j > 0 && j + length >= 64) {
    const std::size_t fill = 64 - j;
    std::memcpy(buffer + j, data, fill);
    compress(state, buffer, 1);
    data += fill;
    length -= fill;
    j = 0;
  }
  if (j == 0 && length >= 64) {
    // Whole blocks go straight from the caller's data, in one call.
    const std::size_t whole = static_cast<std::size_t>(length / 64);
    compress(state, data, whole);
    data += 64 * whole;
    length -= 64 * std::uint64_t{whole};
  }
  std::memcpy(buffer + j, data, static_cast<std::size_t>(length));
}

bool Sha1Hasher::HashFile(const char* path) {
  if (path == nullptr) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  // std::streamoff is 64-bit on every platform we build for, unlike C's long.
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 0 || !file) return false;

  std::uint8_t piece[kFilePiece];
  std::uint64_t left = static_cast<std::uint64_t>(size);
  while (left > 0) {
    const std::size_t want = left < kFilePiece ? static_cast<std::size_t>(left) : kFilePiece;
    file.read(reinterpret_cast<char*>(piece), static_cast<std::streamsize>(want));
    const std::streamsize got = file.gcount();
    // Hash what did arrive, never the stale rest of the buffer.
    Update(piece, static_cast<std::uint64_t>(got));
    if (static_cast<std::size_t>(got) != want) return false;
    left -= want;
  }
  return true;
}

void Sha1Hasher::Final() {
  std::uint8_t lengthField[8];
  for (int i = 0; i < 4; ++i) {
    lengthField[i] = static_cast<std::uint8_t>(count[1] >> (24 - 8 * i));
    lengthField[4 + i] = static_cast<std::uint8_t>(count[0] >> (24 - 8 * i));
  }
  // 0x80, then zeros up to 56 mod 64 bytes, then the length: at most two Updates here.
  static constexpr std::uint8_t padding[64] = {0x80};
  const std::size_t used = (count[0] >> 3) & 63;
  const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
  Update(padding, padLength);
  Update(lengthField, 8);
  for (int i = 0; i < 20; ++i) {
    digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
  // The chaining value and buffer could help reconstruct the message; clear them.
  std::memset(buffer, 0, sizeof buffer);
  std::memset(state, 0, sizeof state);
  std::memset(count, 0, sizeof count);
  std::memset(lengthField, 0, sizeof lengthField);
}

namespace {

constexpr std::uint32_t kInitialState[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476,
                                            0xc3d2e1f0};

// How many blocks end a message of `length` bytes: its last length mod 64 bytes and the
// padding, one block or, when the 0x80 byte and the length field do not fit beside them, two.
std::size_t EndBlockCount(std::uint64_t length) { return length % 64 < 56 ? 1 : 2; }

// Writes to `end` the blocks that end a message of `length` bytes whose last length mod 64
// bytes are at `rest` (not read when there are none): those bytes, 0x80, zeros, then the
// length in bits, big-endian.
void EndBlocks(const std::uint8_t* rest, std::uint64_t length, std::uint8_t (&end)[128]) {
  const std::size_t restLength = static_cast<std::size_t>(length % 64);
  const std::size_t blocks = EndBlockCount(length);
  if (restLength > 0) std::memcpy(end, rest, restLength);
  std::memset(end + restLength, 0, 64 * blocks - restLength);
  end[restLength] = 0x80;
  const std::uint64_t bits = length << 3;
  for (int i = 0; i < 8; ++i) end[64 * blocks - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Overwrites `count` bytes in a way the compiler may not drop as a dead store.
void Clear(void* bytes, std::size_t count) {
  volatile std::uint8_t* target = static_cast<std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < count; ++i) target[i] = 0;
}

void PutDigest(const std::uint32_t state[5], std::uint8_t* digest) {
  for (int i = 0; i < 20; ++i) {
    digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  }
}

}  // namespace

void Sha1EachPiece(const std::uint8_t* data, std::size_t length, std::size_t count,
                   std::uint8_t* digests) {
  const sha1::Compressor compress = sha1::ActiveCompressor();
  const sha1::LanesCompressor lanes = sha1::InstructionLanesCompressor(dispatch::Active());
  const std::size_t whole = length / 64;
  std::uint32_t states[sha1::kLanes][5];
  std::uint8_t ends[sha1::kLanes][128];
  // Pieces of whole blocks all end in the same blocks, which hold no byte of theirs.
  const bool sharedEnd = length % 64 == 0;
  const std::size_t endBlocks = EndBlockCount(length);
  if (sharedEnd) EndBlocks(data, length, ends[0]);
  std::size_t piece = 0;
  if (lanes != nullptr) {
    for (; count - piece >= sha1::kLanes; piece += sha1::kLanes) {
      const std::uint8_t* blocks[sha1::kLanes];
      for (int lane = 0; lane < sha1::kLanes; ++lane) {
        std::memcpy(states[lane], kInitialState, sizeof kInitialState);
        blocks[lane] = data + (piece + lane) * length;
        if (!sharedEnd) EndBlocks(blocks[lane] + 64 * whole, length, ends[lane]);
      }
      lanes(states, blocks, whole);
      for (int lane = 0; lane < sha1::kLanes; ++lane) blocks[lane] = ends[sharedEnd ? 0 : lane];
      lanes(states, blocks, endBlocks);
      for (int lane = 0; lane < sha1::kLanes; ++lane) {
        PutDigest(states[lane], digests + 20 * (piece + lane));
      }
    }
  }
  for (; piece < count; ++piece) {
    const std::uint8_t* message = data + piece * length;
    std::memcpy(states[0], kInitialState, sizeof kInitialState);
    compress(states[0], message, whole);
    if (!sharedEnd) EndBlocks(message + 64 * whole, length, ends[0]);
    compress(states[0], ends[0], endBlocks);
    PutDigest(states[0], digests + 20 * piece);
  }
  // As Final does: no message bytes or chaining values left behind.
  Clear(states, sizeof states);
  Clear(ends, sizeof ends);
}

void Sha1Hasher::ReportHash(std::string& text, std::uint8_t reportType) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (reportType == HexReport) {
    for (int i = 0; i < 20; ++i) {
      if (i > 0) text += ' ';
      text += kHex[digest[i] >> 4];
      text += kHex[digest[i] & 15];
    }
  } else if (reportType == DecimalReport) {
    for (int i = 0; i < 20; ++i) {
      if (i > 0) text += ' ';
      text += std::to_string(digest[i]);
    }
  } else {
    text = "Error: Unknown report type!";
  }
}

void Sha1Hasher::GetHash(std::uint8_t* dest) const { std::memcpy(dest, digest, sizeof digest); }

}  // namespace velador
