#pragma once

// Pieces shared by the container operations (internal to this library).

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "crypto/aes_cipher.h"
#include "crypto/sha1_hasher.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"

namespace velador {

template <class Work>
Failure Encapsulator::Produce(Work&& work) {
  Failure failure = Failure::kWrite;
  try {
    InputFile input(paths.input);
    ResultFile result(paths.result);
    work(input, result);
    result.Commit();
    return Failure::kNone;
  } catch (const InputFailure&) {
    failure = Failure::kRead;
  } catch (const OutputFailure&) {
    failure = Failure::kWrite;
  } catch (const std::exception&) {
    // Out of memory, say: the result was not completed, which is what the user must know.
    failure = Failure::kWrite;
  }
  tableWriter.reset();
  return failure;
}

// Writes the header of a container of `type` for the content of `input`. The size field has
// 32 bits; a file that grew past it since it was checked is not read.
inline void WriteHeader(ResultFile& result, ContainerType type, const InputFile& input) {
  if (input.Size() > layout::kMaxContentSize) throw InputFailure{};
  const layout::HeaderBytes header = layout::EncodeHeader(type, input.Size());
  result.Write(header.data(), header.size());
}

// Where the parts of the container `input` lie; InputFailure when it is too short for `type`.
inline layout::Regions ReadRegions(InputFile& input, ContainerType type) {
  std::uint8_t header[layout::kHeaderLength] = {};
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(input.Size(), sizeof header));
  input.ReadAt(0, header, count);
  auto regions = layout::LocateRegions(type, input.Size(), layout::DecodeHeader(header, count).contentSize);
  if (!regions) throw InputFailure{};
  return *regions;
}

// Hands `length` bytes of `input`, from `offset` on, to visit(data, count) in chunks of
// kChunkLength bytes (the last one shorter). `visit` may change the bytes it is given.
template <class Visit>
void StreamRange(InputFile& input, std::uint64_t offset, std::uint64_t length, Visit&& visit) {
  std::vector<std::uint8_t> chunk(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkLength)));
  while (length > 0) {
    std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkLength));
    input.ReadAt(offset, chunk.data(), count);
    visit(chunk.data(), count);
    offset += count;
    length -= count;
  }
}

// Hands the body to be encapsulated (the name block, then the whole content of `input`) to
// visit(data, count) in chunks of kChunkLength bytes, the last one shorter. Every chunk but the
// last is a whole number of cipher blocks and of hash units.
template <class Visit>
void StreamBody(const layout::NameBlock& nameBlock, InputFile& input, Visit&& visit) {
  std::vector<std::uint8_t> chunk(kChunkLength);
  std::memcpy(chunk.data(), nameBlock.data(), nameBlock.size());
  std::size_t filled = nameBlock.size();
  const std::uint64_t contentSize = input.Size();
  std::uint64_t offset = 0;
  while (true) {
    std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(contentSize - offset, kChunkLength - filled));
    input.ReadAt(offset, chunk.data() + filled, count);
    offset += count;
    filled += count;
    bool last = offset == contentSize;
    if (filled == kChunkLength || last) {
      visit(chunk.data(), filled);
      filled = 0;
    }
    if (last) return;
  }
}

// A cipher for one container: AES-128 under `key`, CBC from an all-zero chain.
inline AesCipher ContainerCipher(const Key& key) {
  AesCipher cipher;
  cipher.MakeKey(key.data(), zeroChain, 16, 16);
  return cipher;
}

inline DigestTail TailOf(const Sha1Hasher& hasher) {
  DigestTail tail;
  std::copy_n(hasher.digest + table::kDigestTailOffset, tail.size(), tail.begin());
  return tail;
}

inline DigestTail DigestTailOf(const std::uint8_t* data, std::size_t count) {
  Sha1Hasher hasher;
  hasher.Update(data, count);
  hasher.Final();
  return TailOf(hasher);
}

// Takes a stored body in order: its first 272 bytes into `name`, the rest into `result`.
class BodySink {
 public:
  BodySink(layout::NameBlock& name, ResultFile& result) : name_(name), result_(result) {}

  void operator()(const std::uint8_t* data, std::size_t count) {
    std::size_t head = 0;
    if (taken_ < name_.size()) {
      head = std::min(count, name_.size() - static_cast<std::size_t>(taken_));
      std::memcpy(name_.data() + taken_, data, head);
    }
    result_.Write(data + head, count - head);
    taken_ += count;
  }

 private:
  layout::NameBlock& name_;
  ResultFile& result_;
  std::uint64_t taken_ = 0;
};

// Restores a body stored enciphered from offset 11: its first `regions.encipheredLength` bytes
// deciphered under `key`, then the clear tail, all handed to `sink` in order.
inline void RestoreEncipheredBody(InputFile& input, const Key& key,
                                  const layout::Regions& regions, BodySink& sink) {
  AesCipher cipher = ContainerCipher(key);
  StreamRange(input, layout::kHeaderLength, regions.encipheredLength,
              [&](std::uint8_t* data, std::size_t count) {
                cipher.Decrypt(data, data, count, CBC);
                sink(data, count);
              });
  StreamRange(input, layout::kHeaderLength + regions.encipheredLength,
              regions.bodyLength - regions.encipheredLength, sink);
}

}  // namespace velador
